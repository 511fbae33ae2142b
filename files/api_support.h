// What every function of the C interface shares: the reason written to the
// caller's `why`, and the guard that turns any exception into a status.
#ifndef QUARNELO_FILES_API_SUPPORT_H
#define QUARNELO_FILES_API_SUPPORT_H

#include <cstdint>
#include <new>
#include <string>

#include "quarnelo_files.h"

namespace qnf {

// `text` into why[0 ... capacity - 1], cut to fit and terminated; nothing
// when there is no room.
void write_why(char *why, uint64_t capacity, const std::string &text) noexcept;

// True when `a_count` doubles at `a` and `b_count` at `b` share a byte.
inline bool overlaps(const double *a, uint64_t a_count, const double *b, uint64_t b_count) noexcept {
    if (a == nullptr || b == nullptr || a_count == 0 || b_count == 0) return false;
    const auto a0 = reinterpret_cast<uintptr_t>(a), b0 = reinterpret_cast<uintptr_t>(b);
    return a0 < b0 + b_count * sizeof(double) && b0 < a0 + a_count * sizeof(double);
}

// Runs `body` (which returns a qnf_status and may write `error`), turning
// an exception into QN_STATUS_ALLOCATION_FAILED, and writes the reason of a
// failure (an empty text on success) to `why`.
template <class Body>
qnf_status guarded(char *why, uint64_t capacity, Body body) noexcept {
    qnf_status status = QN_STATUS_ALLOCATION_FAILED;
    std::string error;
    try {
        status = body(error);
    } catch (const std::bad_alloc &) {
        status = QN_STATUS_ALLOCATION_FAILED;
        error.clear();
    } catch (...) {
        status = QN_STATUS_ALLOCATION_FAILED;
        error.clear();
    }
    if (status != QN_STATUS_SUCCESS && error.empty()) {
        write_why(why, capacity, qnf_status_string(status));
    } else {
        write_why(why, capacity, status == QN_STATUS_SUCCESS ? std::string() : error);
    }
    return status;
}

}  // namespace qnf

#endif

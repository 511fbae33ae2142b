// Argument checks shared by every export, and the overflow-checked size
// product that every allocation size goes through.
#ifndef QN_BASE_CHECKS_H
#define QN_BASE_CHECKS_H

#include <cfloat>
#include <cmath>
#include <cstdint>
#include <initializer_list>

#include "quarnelo.h"

// True for every finite double, zero and subnormals included; false for NaN
// and both infinities (a NaN fails every comparison).
inline bool qn_is_finite(double x) noexcept { return std::fabs(x) <= DBL_MAX; }

// True for the two sound fields the library knows. Negative values, seen as
// unsigned, are large and so refused too.
inline bool qn_check_sound_field(qn_sound_field field) noexcept {
    return static_cast<uint32_t>(field) < 2u;
}

// Every size of the library stays below 2^60 elements, so that any later
// product with a small element size fits in 64 bits.
inline constexpr uint64_t qn_max_count = (uint64_t{1} << 60) - 1;

// The largest |sample| of `count` samples (0 for none) into *peak; false,
// with *peak untouched, at the first sample that is NaN or infinite. The
// samples are scanned in order, so the answer does not depend on where a
// block of them was cut.
bool qn_samples_peak(const double *samples, uint64_t count, double *peak) noexcept;

// Validates a signal: pointer, length, rate, size bound, then every sample
// from index 0 upwards. The first failing test decides.
// With `peak`, the largest |sample| is also written there on success, from
// the same pass over the samples.
qn_status qn_check_signal(const double *samples, uint64_t count, int32_t sample_rate,
                          double *peak = nullptr) noexcept;

// True when the `a_count` doubles at `a` and the `b_count` doubles at `b`
// share a byte. Exports that write their results as they go compare each
// output with the input (and with each other) before they write anything,
// and refuse overlapping buffers. Addresses are compared as integers, which
// is defined for any two pointers; an empty range overlaps nothing, and the
// counts are clamped so that the end of a range cannot wrap.
inline bool qn_overlaps(const void *a, uint64_t a_count, const void *b, uint64_t b_count) noexcept {
    if (a == nullptr || b == nullptr || a_count == 0 || b_count == 0) return false;
    const uint64_t a0 = reinterpret_cast<uintptr_t>(a), b0 = reinterpret_cast<uintptr_t>(b);
    const uint64_t a_room = UINT64_MAX - a0, b_room = UINT64_MAX - b0;
    const uint64_t a_bytes = a_count > a_room / sizeof(double) ? a_room : a_count * sizeof(double);
    const uint64_t b_bytes = b_count > b_room / sizeof(double) ? b_room : b_count * sizeof(double);
    return a0 < b0 + b_bytes && b0 < a0 + a_bytes;
}

// An array a call reads or writes: its start, and how many doubles of it
// the call touches (a frame count counts as one, a uint64_t being as wide as
// a double). Room the caller gives beyond that is no part of it.
struct qn_extent {
    const void *start;
    uint64_t count;
};

// True when any two of the extents share a byte: the test of the exports
// that write as they go and so take no array that shares memory with
// another.
inline bool qn_any_overlap(std::initializer_list<qn_extent> extents) noexcept {
    for (const qn_extent *a = extents.begin(); a != extents.end(); ++a) {
        for (const qn_extent *b = a + 1; b != extents.end(); ++b)
            if (qn_overlaps(a->start, a->count, b->start, b->count)) return true;
    }
    return false;
}

// a * b into *result when the exact product fits in 64 bits; false (and
// nothing written) on overflow or a null result pointer.
inline bool qn_mul_size(uint64_t a, uint64_t b, uint64_t *result) noexcept {
    if (result == nullptr) return false;
    uint64_t product = 0;
    if (__builtin_mul_overflow(a, b, &product)) return false;
    *result = product;
    return true;
}

#endif

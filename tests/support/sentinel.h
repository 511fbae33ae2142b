// The sentinel that proves an output untouched, for the tests and the fuzz
// targets alike (no test framework needed).
#ifndef QN_TESTS_SENTINEL_H
#define QN_TESTS_SENTINEL_H

#include <cstddef>
#include <cstring>
#include <vector>

namespace qn_test {

// A buffer filled with a sentinel bit pattern, to prove that a failing call
// wrote nothing.
inline constexpr double sentinel = -12345.678;

inline std::vector<double> sentinel_buffer(std::size_t n) { return std::vector<double>(n, sentinel); }

inline bool untouched(const std::vector<double> &v, std::size_t from = 0) {
    for (std::size_t i = from; i < v.size(); ++i)
        if (std::memcmp(&v[i], &sentinel, sizeof sentinel) != 0) return false;
    return true;
}

}  // namespace qn_test

#endif

// Comparison helpers shared by the test groups.
#ifndef QN_TESTS_EXPECT_H
#define QN_TESTS_EXPECT_H

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <vector>

namespace qn_test {

// |got - expected| <= rel * |expected| (or <= rel when expected is 0).
inline ::testing::AssertionResult near_relative(double got, double expected, double rel) {
    const double scale = expected == 0 ? 1.0 : std::fabs(expected);
    if (std::fabs(got - expected) <= rel * scale) return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "got " << ::testing::PrintToString(got) << ", expected "
                                         << ::testing::PrintToString(expected) << " within relative "
                                         << rel << " (difference "
                                         << std::fabs(got - expected) / scale << ")";
}

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

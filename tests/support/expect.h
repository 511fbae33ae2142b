// Comparison helpers shared by the test groups.
#ifndef QN_TESTS_EXPECT_H
#define QN_TESTS_EXPECT_H

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <vector>

#include "support/sentinel.h"

namespace qn_test {

// The same doubles, bit for bit (so -0 is not 0, and a NaN may equal itself).
inline bool same_bits(const std::vector<double> &a, const std::vector<double> &b) {
    return a.size() == b.size() && (a.empty() || std::memcmp(a.data(), b.data(), a.size() * sizeof(double)) == 0);
}

// |got - expected| <= rel * |expected| (or <= rel when expected is 0).
inline ::testing::AssertionResult near_relative(double got, double expected, double rel) {
    const double scale = expected == 0 ? 1.0 : std::fabs(expected);
    if (std::fabs(got - expected) <= rel * scale) return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "got " << ::testing::PrintToString(got) << ", expected "
                                         << ::testing::PrintToString(expected) << " within relative "
                                         << rel << " (difference "
                                         << std::fabs(got - expected) / scale << ")";
}

}  // namespace qn_test

#endif

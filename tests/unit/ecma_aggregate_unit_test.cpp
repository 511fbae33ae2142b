// The constants of the reductions over time, recomputed.
#include <gtest/gtest.h>

#include <cmath>

#include "ecma/aggregate.h"

TEST(EcmaAggregateConstants, PowerMeanExponentAndRoot) {
    // p = 1 / log10(2) and its root 1 / p = log10(2), each the double
    // nearest to it.
    EXPECT_EQ(qn_ecma_loudness_power, 1 / std::log10(2.0));
    EXPECT_EQ(qn_ecma_loudness_root, std::log10(2.0));
    EXPECT_NEAR(qn_ecma_loudness_power * qn_ecma_loudness_root, 1.0, 2e-16);
}

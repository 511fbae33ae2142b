// qn_loudness_level and qn_sharpness: check orders and untouched outputs.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <vector>

#include "quarnelo.h"
#include "support/expect.h"
#include "support/signals.h"

using qn_test::sentinel;

namespace {
constexpr double k_nan = std::numeric_limits<double>::quiet_NaN();
constexpr double k_inf = std::numeric_limits<double>::infinity();
}  // namespace

TEST(LoudnessLevelApi, CheckOrder) {
    struct Case {
        const char *what;
        double sone;
        bool null_out;
        qn_status expected;
    };
    const Case cases[] = {
        {"null out first", k_nan, true, QN_STATUS_NULL_POINTER},
        {"NaN", k_nan, false, QN_STATUS_NON_FINITE_INPUT},
        {"infinity", k_inf, false, QN_STATUS_NON_FINITE_INPUT},
        {"minus infinity", -k_inf, false, QN_STATUS_NON_FINITE_INPUT},
        {"negative", -1e-300, false, QN_STATUS_INVALID_ARGUMENT},
        {"negative zero is zero", -0.0, false, QN_STATUS_SUCCESS},
        {"largest double", std::numeric_limits<double>::max(), false, QN_STATUS_SUCCESS},
        {"smallest", std::numeric_limits<double>::denorm_min(), false, QN_STATUS_SUCCESS},
    };
    for (const Case &c : cases) {
        double phon = sentinel;
        EXPECT_EQ(qn_loudness_level(c.sone, c.null_out ? nullptr : &phon), c.expected) << c.what;
        if (c.expected == QN_STATUS_SUCCESS) {
            EXPECT_TRUE(std::isfinite(phon)) << c.what;
        } else {
            EXPECT_EQ(phon, sentinel) << c.what;
        }
    }
}

TEST(SharpnessApi, WeightingCheckOrderAndDinIsQnSharpnessDin) {
    std::vector<double> good(240, 1.0);
    auto nan_last = good;
    nan_last[239] = k_nan;
    double out = sentinel;
    struct Case {
        const char *what;
        const double *specific;
        uint64_t count;
        qn_sharpness_weighting weighting;
        double *sharpness;
        qn_status expected;
    };
    const Case cases[] = {
        {"null input", nullptr, 7, 9, &out, QN_STATUS_NULL_POINTER},
        {"null output", good.data(), 7, 9, nullptr, QN_STATUS_NULL_POINTER},
        {"count before weighting", good.data(), 241, 9, &out, QN_STATUS_INVALID_ARGUMENT},
        {"weighting 4", good.data(), 240, 4, &out, QN_STATUS_INVALID_ARGUMENT},
        {"weighting -1", good.data(), 240, -1, &out, QN_STATUS_INVALID_ARGUMENT},
        {"weighting before the values", nan_last.data(), 240, 4, &out, QN_STATUS_INVALID_ARGUMENT},
        {"NaN", nan_last.data(), 240, QN_SHARPNESS_AURES, &out, QN_STATUS_NON_FINITE_INPUT},
        {"valid", good.data(), 240, QN_SHARPNESS_FASTL, &out, QN_STATUS_SUCCESS},
    };
    for (const Case &c : cases) {
        out = sentinel;
        EXPECT_EQ(qn_sharpness(c.specific, c.count, c.weighting, c.sharpness), c.expected) << c.what;
        if (c.expected != QN_STATUS_SUCCESS) {
            EXPECT_EQ(out, sentinel) << c.what;
        }
    }

    // Every check and every result of qn_sharpness_din, bit for bit.
    auto noise = qn_test::uniform_values(240, 4);
    for (double &v : noise) v = std::fabs(v) * 3;
    auto negative = noise;
    negative[17] = -2;
    std::vector<double> zeros(240, 0.0);
    for (const std::vector<double> *p : {&good, &nan_last, &noise, &negative, &zeros}) {
        double a = sentinel, b = sentinel;
        EXPECT_EQ(qn_sharpness(p->data(), 240, QN_SHARPNESS_DIN, &a), qn_sharpness_din(p->data(), 240, &b));
        EXPECT_EQ(std::memcmp(&a, &b, sizeof a), 0);
    }
}

TEST(SharpnessApi, AuresFailsOnlyWhenThePatternsLoudnessOverflows) {
    std::vector<double> specific(240, 0.0);
    specific[0] = specific[239] = std::numeric_limits<double>::max();
    double s = sentinel;
    for (qn_sharpness_weighting w : {QN_SHARPNESS_DIN, QN_SHARPNESS_BISMARCK, QN_SHARPNESS_FASTL}) {
        ASSERT_EQ(qn_sharpness(specific.data(), 240, w, &s), QN_STATUS_SUCCESS) << w;
        EXPECT_TRUE(std::isfinite(s));
    }
    s = sentinel;
    EXPECT_EQ(qn_sharpness(specific.data(), 240, QN_SHARPNESS_AURES, &s), QN_STATUS_NUMERICAL_FAILURE);
    EXPECT_EQ(s, sentinel);
    specific.assign(240, 1e300);
    ASSERT_EQ(qn_sharpness(specific.data(), 240, QN_SHARPNESS_AURES, &s), QN_STATUS_SUCCESS);
    EXPECT_TRUE(std::isfinite(s));
    specific.assign(240, 0.0);
    specific[100] = std::numeric_limits<double>::denorm_min();
    ASSERT_EQ(qn_sharpness(specific.data(), 240, QN_SHARPNESS_AURES, &s), QN_STATUS_SUCCESS);
    EXPECT_TRUE(std::isfinite(s) && s > 0);
}

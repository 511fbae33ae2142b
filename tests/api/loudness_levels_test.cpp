// qn_loudness_from_levels: check order, capacities and what is written.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <vector>

#include "quarnelo.h"
#include "support/expect.h"

using qn_test::sentinel;
using qn_test::sentinel_buffer;
using qn_test::untouched;

namespace {
constexpr double k_nan = std::numeric_limits<double>::quiet_NaN();

std::vector<double> flat(double level) { return std::vector<double>(28, level); }
}  // namespace

TEST(LoudnessFromLevelsApi, CheckOrder) {
    const auto good = flat(60);
    auto high_low = flat(60);
    high_low[3] = 130;   // refused: above 120 dB below 315 Hz
    high_low[20] = k_nan;  // comes later, so does not decide
    auto nan_first = flat(60);
    nan_first[2] = k_nan;
    nan_first[5] = 130;
    double out = sentinel;
    std::vector<double> spec(240);
    struct Case {
        const char *what;
        const double *levels;
        uint64_t count;
        qn_sound_field field;
        double *loudness;
        double *specific;
        uint64_t capacity;
        qn_status expected;
    };
    const Case cases[] = {
        {"null levels", nullptr, 27, 2, &out, nullptr, 5, QN_STATUS_NULL_POINTER},
        {"null loudness", good.data(), 27, 2, nullptr, nullptr, 5, QN_STATUS_NULL_POINTER},
        {"count 27", good.data(), 27, 2, &out, nullptr, 5, QN_STATUS_INVALID_ARGUMENT},
        {"count 29", good.data(), 29, 0, &out, nullptr, 0, QN_STATUS_INVALID_ARGUMENT},
        {"count 0", good.data(), 0, 0, &out, nullptr, 0, QN_STATUS_INVALID_ARGUMENT},
        {"field 2 before capacity", good.data(), 28, 2, &out, nullptr, 5, QN_STATUS_INVALID_SOUND_FIELD},
        {"field -1", good.data(), 28, -1, &out, nullptr, 0, QN_STATUS_INVALID_SOUND_FIELD},
        {"null specific, capacity 240", good.data(), 28, 0, &out, nullptr, 240, QN_STATUS_OUTPUT_TOO_SMALL},
        {"capacity 239", good.data(), 28, 0, &out, spec.data(), 239, QN_STATUS_OUTPUT_TOO_SMALL},
        {"capacity 0 with pointer", good.data(), 28, 0, &out, spec.data(), 0, QN_STATUS_OUTPUT_TOO_SMALL},
        {"capacity before levels", high_low.data(), 28, 0, &out, spec.data(), 1, QN_STATUS_OUTPUT_TOO_SMALL},
        {"130 dB at 50 Hz before NaN", high_low.data(), 28, 0, &out, nullptr, 0, QN_STATUS_INVALID_ARGUMENT},
        {"NaN before 130 dB", nan_first.data(), 28, 0, &out, nullptr, 0, QN_STATUS_NON_FINITE_INPUT},
        {"valid, no pattern", good.data(), 28, 0, &out, nullptr, 0, QN_STATUS_SUCCESS},
        {"valid, pattern", good.data(), 28, 1, &out, spec.data(), 240, QN_STATUS_SUCCESS},
    };
    for (const Case &c : cases) {
        out = sentinel;
        EXPECT_EQ(qn_loudness_from_levels(c.levels, c.count, c.field, c.loudness, c.specific, c.capacity),
                  c.expected)
            << c.what;
        if (c.expected != QN_STATUS_SUCCESS) {
            EXPECT_EQ(out, sentinel) << c.what << ": loudness written";
        }
    }
}

TEST(LoudnessFromLevelsApi, NonFiniteLevelsInEveryBand) {
    for (double bad : {k_nan, std::numeric_limits<double>::infinity(), -std::numeric_limits<double>::infinity()}) {
        for (int band = 0; band < 28; ++band) {
            auto levels = flat(50);
            levels[band] = bad;
            double out = sentinel;
            auto spec = sentinel_buffer(240);
            EXPECT_EQ(qn_loudness_from_levels(levels.data(), 28, 0, &out, spec.data(), 240),
                      QN_STATUS_NON_FINITE_INPUT)
                << bad << " in band " << band;
            EXPECT_EQ(out, sentinel);
            EXPECT_TRUE(untouched(spec));
        }
    }
}

TEST(LoudnessFromLevelsApi, LowBandLimitIs120dB) {
    for (int band = 0; band < 28; ++band) {
        auto levels = flat(-100);
        levels[band] = 120.0;
        double out = 0;
        EXPECT_EQ(qn_loudness_from_levels(levels.data(), 28, 0, &out, nullptr, 0), QN_STATUS_SUCCESS)
            << "120 dB in band " << band;
        levels[band] = std::nextafter(120.0, 200.0);
        const qn_status expected = band <= 10 ? QN_STATUS_INVALID_ARGUMENT : QN_STATUS_SUCCESS;
        EXPECT_EQ(qn_loudness_from_levels(levels.data(), 28, 0, &out, nullptr, 0), expected)
            << "just above 120 dB in band " << band;
    }
    auto levels = flat(-100);
    levels[11] = 140;  // 315 Hz has no upper limit
    double out = 0;
    EXPECT_EQ(qn_loudness_from_levels(levels.data(), 28, 0, &out, nullptr, 0), QN_STATUS_SUCCESS);
    EXPECT_GT(out, 0);
}

TEST(LoudnessFromLevelsApi, WritesExactly240Values) {
    const auto levels = flat(60);
    auto spec = sentinel_buffer(1000);
    double out = 0;
    ASSERT_EQ(qn_loudness_from_levels(levels.data(), 28, 0, &out, spec.data(), spec.size()),
              QN_STATUS_SUCCESS);
    EXPECT_TRUE(untouched(spec, 240)) << "values from index 240 on are untouched";
    for (int k = 0; k < 240; ++k) EXPECT_GE(spec[k], 0.0) << k;
}

TEST(LoudnessFromLevelsApi, PatternDoesNotChangeTheTotal) {
    const auto levels = flat(70);
    double with = 0, without = 0;
    std::vector<double> spec(240);
    ASSERT_EQ(qn_loudness_from_levels(levels.data(), 28, 0, &with, spec.data(), 240), QN_STATUS_SUCCESS);
    ASSERT_EQ(qn_loudness_from_levels(levels.data(), 28, 0, &without, nullptr, 0), QN_STATUS_SUCCESS);
    EXPECT_EQ(with, without);
}

TEST(LoudnessFromLevelsApi, ExtremeFiniteLevelsAreRefusedOrFinite) {
    // Large finite levels above 315 Hz overflow 10^(L/10); that must surface
    // as a numerical failure, never as an infinite loudness.
    for (double level : {300.0, 3000.0, 1e300, -1e300}) {
        auto levels = flat(-100);
        levels[20] = level;
        double out = sentinel;
        const qn_status s = qn_loudness_from_levels(levels.data(), 28, 0, &out, nullptr, 0);
        EXPECT_TRUE(s == QN_STATUS_SUCCESS || s == QN_STATUS_NUMERICAL_FAILURE) << level;
        if (s == QN_STATUS_SUCCESS) {
            EXPECT_TRUE(std::isfinite(out)) << level;
        } else {
            EXPECT_EQ(out, sentinel);
        }
    }
}

// The loudness level against its formulas and the sharpness weightings
// against values computed by hand.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <vector>

#include "quarnelo.h"
#include "support/expect.h"
#include "support/signals.h"

using qn_test::near_relative;

namespace {

double phon_of(double sone) {
    double phon = -1;
    EXPECT_EQ(qn_loudness_level(sone, &phon), QN_STATUS_SUCCESS);
    return phon;
}

double sharpness_of(const std::vector<double> &specific, qn_sharpness_weighting w) {
    double s = -1;
    EXPECT_EQ(qn_sharpness(specific.data(), 240, w, &s), QN_STATUS_SUCCESS);
    return s;
}

std::vector<double> single(int index, double value) {
    std::vector<double> specific(240, 0.0);
    specific[index] = value;
    return specific;
}

}  // namespace

TEST(LoudnessLevel, TenPhonPerDoublingFromOneSone) {
    EXPECT_EQ(phon_of(1.0), 40.0);
    // 33.22 log10(2) is 10.0002 phon a doubling.
    for (int doublings = 1; doublings <= 6; ++doublings)
        EXPECT_NEAR(phon_of(std::ldexp(1.0, doublings)), 40.0 + 10.0002165 * doublings, 1e-6) << doublings;
    EXPECT_NEAR(phon_of(2.0), 50.0, 0.00022);
    // Below 1 sone: 40 (N + 0.0005)^0.35.
    EXPECT_TRUE(near_relative(phon_of(0.0), 2.7970452531811905, 1e-14));
    EXPECT_TRUE(near_relative(phon_of(0.5), 40 * std::pow(0.5005, 0.35), 1e-15));
    // The two formulas meet 0.007 phon apart at 1 sone: a step down where
    // the upper one takes over, and no other.
    const double below = phon_of(std::nextafter(1.0, 0.0));
    EXPECT_NEAR(below - phon_of(1.0), 0.0070, 0.0001);
    double previous = phon_of(0.0);
    for (double sone = 0.01; sone < 100; sone *= 1.01) {
        const double phon = phon_of(sone);
        if (!(sone > 1 && sone / 1.01 < 1)) {
            EXPECT_GT(phon, previous) << sone;
        }
        previous = phon;
    }
}

TEST(SharpnessWeightings, HandComputedValues) {
    struct Case {
        const char *what;
        std::vector<double> specific;
        double din, bismarck, fastl, aures;
    };
    const Case cases[] = {
        {"10 sone/Bark at 1 Bark", single(9, 10.0), 0.11, 0.11, 0.11, 0.2086504687964199},
        {"10 sone/Bark at 24 Bark", single(239, 10.0), 14.643534508538172, 10.555027938243601, 10.555830699600177,
         10.653677895730038},
        {"at 15 Bark", single(149, 1.0), 1.65, 1.65, 1.65, 2.2364856225234258},
        {"at 15.1 Bark", single(150, 1.0), 1.661, 1.6713909593469578, 1.661, 2.27505838386083},
        {"at 16 Bark", single(159, 1.0), 1.7831340279655299, 1.886966748105877, 1.76, 2.653569501444108},
        {"at 16.1 Bark: Fastl's step", single(160, 1.0), 1.8066720580043854, 1.9138356358058113,
         1.8340815194633218, 2.6993357259351605},
        {"1 sone/Bark everywhere", std::vector<double>(240, 1.0), 2.3246273699774567, 2.133901165995625,
         2.27699175250728, 3.8241677297212604},
        {"2 sone/Bark everywhere", std::vector<double>(240, 2.0), 2.3246273699774567, 2.133901165995625,
         2.27699175250728, 4.927690352092798},
    };
    for (const Case &c : cases) {
        EXPECT_TRUE(near_relative(sharpness_of(c.specific, QN_SHARPNESS_DIN), c.din, 1e-13)) << c.what;
        EXPECT_TRUE(near_relative(sharpness_of(c.specific, QN_SHARPNESS_BISMARCK), c.bismarck, 1e-13)) << c.what;
        EXPECT_TRUE(near_relative(sharpness_of(c.specific, QN_SHARPNESS_FASTL), c.fastl, 1e-13)) << c.what;
        EXPECT_TRUE(near_relative(sharpness_of(c.specific, QN_SHARPNESS_AURES), c.aures, 1e-13)) << c.what;
    }
}

TEST(SharpnessWeightings, AgreeWhereTheirWeightsAreOne) {
    // Up to 15 Bark every weighting but Aures' is 1, so a pattern with
    // nothing above 15 Bark has one sharpness, bit for bit.
    double loudness = 0;
    std::vector<double> specific(240);
    ASSERT_EQ(qn_loudness_stationary(qn_test::pink_noise(0.1, 48000, 2).data(), 48000, 48000, QN_SOUND_FIELD_FREE,
                                     &loudness, specific.data(), 240),
              QN_STATUS_SUCCESS);
    for (std::size_t k = 150; k < 240; ++k) specific[k] = 0;
    const double din = sharpness_of(specific, QN_SHARPNESS_DIN);
    for (qn_sharpness_weighting w : {QN_SHARPNESS_BISMARCK, QN_SHARPNESS_FASTL}) {
        const double s = sharpness_of(specific, w);
        EXPECT_EQ(std::memcmp(&s, &din, sizeof s), 0) << w;
    }
    // The scale of a pattern changes only Aures' sharpness.
    auto doubled = specific;
    for (double &v : doubled) v *= 2;
    for (qn_sharpness_weighting w : {QN_SHARPNESS_DIN, QN_SHARPNESS_BISMARCK, QN_SHARPNESS_FASTL})
        EXPECT_TRUE(near_relative(sharpness_of(doubled, w), sharpness_of(specific, w), 1e-14)) << w;
    EXPECT_GT(sharpness_of(doubled, QN_SHARPNESS_AURES), sharpness_of(specific, QN_SHARPNESS_AURES) * 1.05);
}

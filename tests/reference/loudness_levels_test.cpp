// Loudness from third-octave levels: the properties every pattern must have
// (the reference values are rows of cases.md).
#include <gtest/gtest.h>

#include <numeric>
#include <vector>

#include "quarnelo.h"

namespace {
struct Result {
    double loudness = 0;
    std::vector<double> specific = std::vector<double>(240);
};

Result loudness_of(const std::vector<double> &levels, qn_sound_field field) {
    Result r;
    EXPECT_EQ(qn_loudness_from_levels(levels.data(), 28, field, &r.loudness, r.specific.data(), 240),
              QN_STATUS_SUCCESS);
    return r;
}

std::vector<double> single_band(int band, double level) {
    std::vector<double> levels(28, -100.0);
    levels[band] = level;
    return levels;
}
}  // namespace

TEST(LoudnessFromLevelsReference, BelowThresholdIsExactlyZero) {
    for (double level : {-100.0, -20.0, -10.0}) {
        for (qn_sound_field field : {QN_SOUND_FIELD_FREE, QN_SOUND_FIELD_DIFFUSE}) {
            const Result r = loudness_of(std::vector<double>(28, level), field);
            EXPECT_EQ(r.loudness, 0.0) << level << " dB, field " << field;
            for (int k = 0; k < 240; ++k) ASSERT_EQ(r.specific[k], 0.0) << k;
        }
    }
}

TEST(LoudnessFromLevelsReference, DiffuseCorrectionActsPerBand) {
    // 1.6 kHz has no diffuse-field correction; 1 kHz has +3 dB.
    const auto at_1600 = single_band(18, 60.0);
    EXPECT_EQ(loudness_of(at_1600, QN_SOUND_FIELD_FREE).loudness,
              loudness_of(at_1600, QN_SOUND_FIELD_DIFFUSE).loudness);
    const auto at_1000 = single_band(16, 60.0);
    EXPECT_GT(loudness_of(at_1000, QN_SOUND_FIELD_DIFFUSE).loudness,
              loudness_of(at_1000, QN_SOUND_FIELD_FREE).loudness);
}

TEST(LoudnessFromLevelsReference, LoudnessGrowsWithLevelInEveryBand) {
    for (int band = 0; band < 28; ++band) {
        double previous = -1;
        for (double level = 20; level <= 120; level += 10) {
            const Result r = loudness_of(single_band(band, level), QN_SOUND_FIELD_FREE);
            EXPECT_GE(r.loudness, previous) << "band " << band << " at " << level << " dB";
            previous = r.loudness;
        }
        EXPECT_GT(previous, 0) << "band " << band << " is audible at 120 dB";
    }
}

TEST(LoudnessFromLevelsReference, TotalIsTheIntegralOfThePattern) {
    // The total integrates the piecewise-linear pattern exactly; the 0.1 Bark
    // samples approximate the same integral closely.
    const std::vector<std::vector<double>> spectra = {
        std::vector<double>(28, 60.0), single_band(16, 80.0), single_band(4, 90.0), single_band(27, 70.0)};
    for (const auto &levels : spectra) {
        const Result r = loudness_of(levels, QN_SOUND_FIELD_FREE);
        const double sum = std::accumulate(r.specific.begin(), r.specific.end(), 0.0) * 0.1;
        EXPECT_NEAR(sum, r.loudness, 0.02 * r.loudness + 1e-3);
    }
}

TEST(LoudnessFromLevelsReference, TenDecibelsDoubleTheLoudness) {
    // Each 10 dB above 40 dB roughly doubles the loudness of a 1 kHz tone
    // (40 dB being 1 sone: cases.md).
    const double at60 = loudness_of(single_band(16, 60.0), QN_SOUND_FIELD_FREE).loudness;
    const double at70 = loudness_of(single_band(16, 70.0), QN_SOUND_FIELD_FREE).loudness;
    EXPECT_NEAR(at70 / at60, 2.0, 0.2);
}

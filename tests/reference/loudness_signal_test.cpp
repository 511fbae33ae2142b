// Loudness and sharpness of signals: the properties the model must have
// (the reference values are rows of cases.md).
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <vector>

#include "loudness/filter_bank.h"
#include "quarnelo.h"
#include "support/expect.h"
#include "support/signals.h"

using qn_test::near_relative;

namespace {

struct stationary {
    double loudness = 0;
    std::vector<double> specific = std::vector<double>(240);
};

stationary stationary_of(const std::vector<double> &x, qn_sound_field field = QN_SOUND_FIELD_FREE) {
    stationary r;
    EXPECT_EQ(qn_loudness_stationary(x.data(), x.size(), 48000, field, &r.loudness, r.specific.data(), 240),
              QN_STATUS_SUCCESS);
    return r;
}

struct timed {
    std::vector<double> loudness, specific;
};

timed time_of(const std::vector<double> &x, qn_sound_field field = QN_SOUND_FIELD_FREE) {
    uint64_t frames = 0;
    EXPECT_EQ(qn_loudness_time_frame_count(x.size(), 48000, &frames), QN_STATUS_SUCCESS);
    timed r{std::vector<double>(frames), std::vector<double>(frames * 240)};
    uint64_t written = 0;
    EXPECT_EQ(qn_loudness_time(x.data(), x.size(), 48000, field, r.loudness.data(), frames, r.specific.data(),
                               r.specific.size(), &written),
              QN_STATUS_SUCCESS);
    EXPECT_EQ(written, frames);
    return r;
}

double sharpness_of(const double *specific) {
    double s = -1;
    EXPECT_EQ(qn_sharpness_din(specific, 240, &s), QN_STATUS_SUCCESS);
    return s;
}

}  // namespace

TEST(LoudnessTimeReference, DecayConstantsFollowFromTheTimeConstants) {
    const double ts = 0.005, tl = 0.015, tv = 0.075, dt = 1.0 / 48000;
    const double p = (tv + tl) / (tv * ts), q = 1 / (ts * tv);
    const double l1 = -p / 2 + std::sqrt(p * p / 4 - q), l2 = -p / 2 - std::sqrt(p * p / 4 - q);
    const double d = tv * (l1 - l2), e1 = std::exp(l1 * dt), e2 = std::exp(l2 * dt);
    EXPECT_TRUE(near_relative(((l1 * tv + 1) * e1 - (l2 * tv + 1) * e2) / d, 0.9952889868502801, 1e-12));
    EXPECT_TRUE(near_relative(-(l1 * tv + 1) * (l2 * tv + 1) * (e1 - e2) / d, 0.0005541688716910173, 1e-12));
    EXPECT_TRUE(near_relative((e1 - e2) / d, 0.00027708443584550837, 1e-12));
    EXPECT_TRUE(near_relative(((l1 * tv + 1) * e2 - (l2 * tv + 1) * e1) / d, 0.9997223378238083, 1e-12));
    EXPECT_TRUE(near_relative(std::exp(-1 / (48000 * 0.015)), 0.9986120751709083, 1e-12));
    EXPECT_TRUE(near_relative(std::exp(-1 / (48000 * 0.075)), 0.9997222607988971, 1e-12));
    EXPECT_TRUE(near_relative(std::exp(-1 / (48000 * 0.070)), 0.9997024252365363, 1e-12));
    EXPECT_TRUE(near_relative(1 - std::exp(-1 / (48000 * 0.070)), 0.0002975747634637038, 1e-12));
    EXPECT_TRUE(near_relative(std::exp(-1 / (48000 * 0.0035)), 0.9940652993697221, 1e-12));
    EXPECT_TRUE(near_relative(-std::log10(2e-5 * 2e-5), qn_level_offset, 1e-12));
}

TEST(LoudnessTimeReference, SilenceIsExactlyZero) {
    const timed r = time_of(std::vector<double>(48000, 0.0));
    ASSERT_EQ(r.loudness.size(), 500u);
    for (double v : r.loudness) ASSERT_EQ(v, 0.0);
    for (double v : r.specific) ASSERT_EQ(v, 0.0);
}

TEST(LoudnessTimeReference, SteadyToneApproachesStationaryLoudness) {
    for (double level : {40.0, 60.0, 80.0}) {
        const auto x = qn_test::sine(1000, qn_test::rms_for_level(level) * std::sqrt(2.0), 48000);
        const double steady = stationary_of(x).loudness;
        const timed r = time_of(x);
        // The last 200 ms, long after the 70 ms weighting has settled.
        for (std::size_t f = 400; f < r.loudness.size(); ++f)
            ASSERT_NEAR(r.loudness[f] / steady, 1.0, 0.05) << level << " dB, frame " << f;
    }
}

TEST(LoudnessTimeReference, OnsetRisesAndOffsetDecays) {
    // 300 ms of a 70 dB tone, then 200 ms of silence.
    auto x = qn_test::sine(1000, qn_test::rms_for_level(70) * std::sqrt(2.0), 14400);
    x.resize(24000, 0.0);
    const timed r = time_of(x);
    const double plateau = r.loudness[140];
    EXPECT_LT(r.loudness[2], 0.5 * plateau) << "4 ms after the onset";
    EXPECT_LT(r.loudness[25], 0.9 * plateau) << "50 ms after the onset, the 70 ms filter still rises";
    for (int f = 100; f < 149; ++f) EXPECT_NEAR(r.loudness[f] / plateau, 1.0, 0.05) << f;
    // 20 ms after the tone stops: still clearly audible, yet falling.
    EXPECT_GT(r.loudness[160], 0.05 * plateau);
    EXPECT_LT(r.loudness[160], plateau);
    double peak_after = 0;
    for (int k = 0; k < 240; ++k) peak_after = std::max(peak_after, r.specific[160 * 240 + k]);
    EXPECT_GT(peak_after, 0.0) << "specific loudness decays rather than dropping to 0";
    EXPECT_LT(r.loudness.back(), 0.1 * plateau) << "and has mostly died away 200 ms later";
}

TEST(LoudnessStationaryReference, SilenceLevelsAndZeroLoudness) {
    const std::vector<double> x(48000, 0.0);
    double levels[28];
    ASSERT_EQ(qn_third_octave_levels(x.data(), x.size(), 0, levels), QN_STATUS_SUCCESS);
    for (double l : levels) EXPECT_TRUE(near_relative(l, -26.020599913279625, 1e-12));
    const stationary r = stationary_of(x);
    EXPECT_EQ(r.loudness, 0.0);
    for (double v : r.specific) EXPECT_EQ(v, 0.0);
}

TEST(LoudnessStationaryReference, ToneEnergySitsInItsBand) {
    // A 40 dB tone at 1 kHz (2 mPa RMS).
    const auto x = qn_test::sine(1000, 2e-3 * std::sqrt(2.0), 48000);
    double levels[28];
    ASSERT_EQ(qn_third_octave_levels(x.data(), x.size(), 0, levels), QN_STATUS_SUCCESS);
    EXPECT_NEAR(levels[16], 40.0, 0.5);
    for (int b = 0; b < 28; ++b) {
        if (b == 16) continue;
        EXPECT_LT(levels[b], levels[16] - 3.0) << "band " << b;
    }
    // The filter skirts fall off with distance from the band.
    for (int b = 17; b < 27; ++b) EXPECT_GE(levels[b] + 1e-9, levels[b + 1]) << b;
    for (int b = 15; b > 0; --b) EXPECT_GE(levels[b] + 1e-9, levels[b - 1]) << b;
}

TEST(LoudnessStationaryReference, PinkNoiseInBothFields) {
    const auto x = qn_test::pink_noise(qn_test::rms_for_level(70), 96000, 11);
    const stationary free = stationary_of(x, QN_SOUND_FIELD_FREE);
    const stationary diffuse = stationary_of(x, QN_SOUND_FIELD_DIFFUSE);
    // Broadband noise at 70 dB is some tens of sone, a little more diffuse.
    EXPECT_GT(free.loudness, 15.0);
    EXPECT_LT(free.loudness, 60.0);
    EXPECT_GT(diffuse.loudness, free.loudness);
    EXPECT_LT(diffuse.loudness, 1.2 * free.loudness);
}

TEST(LoudnessStationaryReference, LoudnessGrowsWithLevel) {
    double previous = 0;
    for (double level = 30; level <= 100; level += 10) {
        const auto x = qn_test::sine(500, qn_test::rms_for_level(level) * std::sqrt(2.0), 24000);
        const double n = stationary_of(x).loudness;
        EXPECT_GT(n, previous) << level;
        previous = n;
    }
}

TEST(SharpnessReference, SingleBarkValuesWhateverTheirSize) {
    // The values of a single Bark of 1 sone/Bark are rows of cases.md.
    std::vector<double> specific(240, 0.0);
    EXPECT_EQ(sharpness_of(specific.data()), 0.0);
    for (int k : {9, 239}) {
        specific.assign(240, 0.0);
        specific[k] = 1.0;
        const double unit = sharpness_of(specific.data());
        for (double size : {1e-300, 1e-3, 7.5, 1e300}) {
            specific[k] = size;
            EXPECT_TRUE(near_relative(sharpness_of(specific.data()), unit, 1e-12)) << k << ", " << size;
        }
    }
}

TEST(SharpnessReference, WeightingStartsAbove15Point8Bark) {
    for (int k : {100, 150, 157}) {
        std::vector<double> specific(240, 0.0);
        specific[k] = 2.0;
        EXPECT_TRUE(near_relative(sharpness_of(specific.data()), 0.11 * (k + 1) * 0.1, 1e-12)) << k;
    }
    std::vector<double> specific(240, 0.0);
    specific[158] = 1.0;
    EXPECT_GT(sharpness_of(specific.data()), 0.11 * 15.9 * 1.0000001);
}

TEST(SharpnessReference, ScaleInvariantOnRealPatterns) {
    const auto x = qn_test::pink_noise(qn_test::rms_for_level(65), 48000, 5);
    const stationary r = stationary_of(x);
    const double s = sharpness_of(r.specific.data());
    EXPECT_GT(s, 1.0);
    EXPECT_LT(s, 3.0) << "pink noise is moderately sharp";
    for (double scale : {1e-300, 1e-100, 1e100, 1e300}) {
        std::vector<double> scaled = r.specific;
        for (double &v : scaled) v *= scale;
        EXPECT_TRUE(near_relative(sharpness_of(scaled.data()), s, 1e-12)) << scale;
    }
    // Higher content is sharper: a 4 kHz tone beats a 500 Hz tone.
    const double low = sharpness_of(stationary_of(qn_test::sine(500, 0.1, 24000)).specific.data());
    const double high = sharpness_of(stationary_of(qn_test::sine(4000, 0.1, 24000)).specific.data());
    EXPECT_GT(high, low);
}

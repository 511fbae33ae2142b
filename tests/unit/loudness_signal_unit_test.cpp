// The vectorised filter bank, decay and time-varying loudness against the
// straightforward scalar method, bit for bit, and the internal filter-bank
// checks.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>
#include <vector>

#include "loudness/filter_bank.h"
#include "loudness/loudness.h"
#include "loudness/loudness_time.h"
#include "loudness/third_octave_tables.h"
#include "loudness/zwicker_tables.h"
#include "support/reference_loudness.h"
#include "support/signals.h"
#include "support/simd_paths.h"

namespace {

bool same_bits(double a, double b) { return std::memcmp(&a, &b, sizeof a) == 0; }

std::vector<double> mixture(std::size_t n, uint64_t seed) {
    auto x = qn_test::pink_noise(0.2, n, seed);
    const auto tone = qn_test::am_tone(1000, 70, 1.0, 0.5, n);
    const auto low = qn_test::sine(63, 2.0, n);
    for (std::size_t i = 0; i < n; ++i) x[i] += tone[i] + low[i];
    return x;
}

}  // namespace

TEST(ThirdOctaveLevels, MatchesScalarBandByBand) {
    struct Case {
        std::size_t count;
        uint64_t skip;
    };
    // Lengths around the internal block size and skips inside and across blocks.
    const Case cases[] = {{256, 0},   {257, 255}, {4095, 0},     {4096, 100},  {4097, 4096},
                          {9000, 600}, {12000, 600}, {20000, 8191}, {8192, 4096}, {30001, 0}};
    for (qn_simd path : qn_test::simd_paths()) {
        for (const Case &c : cases) {
            const auto x = mixture(c.count, c.count);
            double levels[28];
            ASSERT_EQ(qn_third_octave_levels_with(path, x.data(), c.count, c.skip, levels), QN_STATUS_SUCCESS);
            const auto expected = qn_test::reference_third_octave_levels(x.data(), c.count, c.skip);
            ASSERT_EQ(expected.size(), 28u);
            for (int b = 0; b < 28; ++b)
                EXPECT_TRUE(same_bits(levels[b], expected[b]))
                    << qn_simd_name(path) << " count " << c.count << " skip " << c.skip
                    << " band " << b << ": " << levels[b] << " vs " << expected[b];
        }
    }
}

TEST(SmoothedBank, EveryVectorPathAgreesWithTheBaseline) {
    const auto x = mixture(5000, 9);
    qn_smoothed_bank baseline;
    qn_smoothed_bank_init(&baseline);
    for (std::size_t start = 0; start < x.size(); start += 24) {
        const std::size_t n = std::min<std::size_t>(24, x.size() - start);
        ASSERT_TRUE(qn_smoothed_bank_run_with(qn_simd::baseline, &baseline, x.data() + start, n));
    }
    for (qn_simd path : qn_test::simd_paths()) {
        qn_smoothed_bank bank;
        qn_smoothed_bank_init(&bank);
        for (std::size_t start = 0; start < x.size(); start += 24) {
            const std::size_t n = std::min<std::size_t>(24, x.size() - start);
            ASSERT_TRUE(qn_smoothed_bank_run_with(path, &bank, x.data() + start, n));
        }
        EXPECT_EQ(std::memcmp(&baseline, &bank, sizeof baseline), 0) << qn_simd_name(path) << ": states differ";
        std::vector<double> bad(30, 1e300);
        EXPECT_FALSE(qn_smoothed_bank_run_with(path, &bank, bad.data(), bad.size())) << qn_simd_name(path);
    }
}

TEST(ThirdOctaveLevels, CheckOrder) {
    std::vector<double> x(300, 0.1);
    double levels[28];
    for (double &l : levels) l = -1;
    EXPECT_EQ(qn_third_octave_levels(nullptr, 10, 20, levels), QN_STATUS_NULL_POINTER);
    EXPECT_EQ(qn_third_octave_levels(x.data(), 300, 0, nullptr), QN_STATUS_NULL_POINTER);
    EXPECT_EQ(qn_third_octave_levels(x.data(), 255, 300, levels), QN_STATUS_INPUT_TOO_SHORT);
    EXPECT_EQ(qn_third_octave_levels(x.data(), 256, 256, levels), QN_STATUS_INVALID_ARGUMENT);
    EXPECT_EQ(qn_third_octave_levels(x.data(), 300, 1000, levels), QN_STATUS_INVALID_ARGUMENT);
    for (double l : levels) EXPECT_EQ(l, -1) << "nothing written on failure";
    EXPECT_EQ(qn_third_octave_levels(x.data(), 256, 0, levels), QN_STATUS_SUCCESS);
}

TEST(ThirdOctaveLevels, SkipOfAllButOneIsThePowerOfTheLastOutput) {
    const auto x = mixture(1000, 3);
    double last[28];
    ASSERT_EQ(qn_third_octave_levels(x.data(), 1000, 999, last), QN_STATUS_SUCCESS);
    const auto expected = qn_test::reference_third_octave_levels(x.data(), 1000, 999);
    for (int b = 0; b < 28; ++b) EXPECT_TRUE(same_bits(last[b], expected[b])) << b;
}

TEST(ThirdOctaveLevels, OverflowingFilterIsANumericalFailure) {
    // Finite samples whose filtered power overflows.
    std::vector<double> x(5000);
    for (std::size_t i = 0; i < x.size(); ++i) x[i] = (i % 2 ? 1 : -1) * 1e300;
    double levels[28];
    EXPECT_EQ(qn_third_octave_levels(x.data(), x.size(), 0, levels), QN_STATUS_NUMERICAL_FAILURE);
    EXPECT_TRUE(qn_test::reference_third_octave_levels(x.data(), x.size(), 0).empty());
}

TEST(LoudnessDecay, VectorStepsMatchTheScalarStep) {
    // Inputs that rise, fall, hold and jump, so every branch is taken; the
    // time-varying result built on the vectorised decay must equal the
    // scalar method bit for bit.
    const std::size_t n = 96 * 40 + 17;
    std::vector<double> x(n);
    const auto burst = qn_test::sine(1500, 1.0, n);
    for (std::size_t i = 0; i < n; ++i) {
        const bool on = (i / 700) % 2 == 0 || (i % 1300) < 60;
        x[i] = on ? burst[i] * (1.0 + 0.5 * std::sin(i * 0.003)) : 0.0;
    }
    for (qn_sound_field field : {QN_SOUND_FIELD_FREE, QN_SOUND_FIELD_DIFFUSE}) {
        const auto ref = qn_test::reference_loudness_time(x.data(), n, field);
        ASSERT_EQ(ref.status, QN_STATUS_SUCCESS);
        const uint64_t frames = (n - 1) / 96 + 1;
        for (qn_simd path : qn_test::simd_paths()) {
            std::vector<double> loudness(frames), specific(frames * 240);
            ASSERT_TRUE(qn_loudness_time_compute(path, x.data(), n, field, frames, loudness.data(), specific.data()));
            for (uint64_t f = 0; f < frames; ++f) {
                ASSERT_TRUE(same_bits(loudness[f], ref.loudness[f]))
                    << qn_simd_name(path) << " field " << field << " frame " << f << ": " << loudness[f] << " vs "
                    << ref.loudness[f];
            }
            for (std::size_t k = 0; k < specific.size(); ++k)
                ASSERT_TRUE(same_bits(specific[k], ref.specific[k])) << qn_simd_name(path) << " value " << k;
        }
    }
}

TEST(LoudnessDecay, ScalarStepCases) {
    struct Case {
        double u, v, x;
        double u_expected, v_expected;
    };
    const double c1 = 0.9952889868502801, c2 = 0.0005541688716910173, c3 = 0.00027708443584550837,
                 c4 = 0.9997223378238083;
    const Case cases[] = {
        // Rising input: the output jumps, the second state creeps up.
        {0.0, 0.0, 1.0, 1.0, 1.0 + (0.0 - 1.0) * 0.9997222607988971},
        // Steady input above the second state.
        {2.0, 1.0, 2.0, 2.0, 2.0 + (1.0 - 2.0) * 0.9997222607988971},
        // Input at or below the second state while rising: both follow.
        {1.0, 3.0, 2.0, 2.0, 2.0},
        // Falling, output above the second state: coupled relaxation.
        {2.0, 1.0, 0.0, c1 * 2.0 + c2 * 1.0, c3 * 2.0 + c4 * 1.0},
        // Falling to an input that holds the output up.
        {2.0, 1.0, 1.999, 1.999, c3 * 2.0 + c4 * 1.0},
        // Falling, output not above the second state: plain release.
        {1.0, 1.0, 0.0, 0.9986120751709083, 0.9986120751709083},
        {1.0, 2.0, 0.999, 0.999, 0.999},
    };
    for (const Case &c : cases) {
        double u = c.u, v = c.v;
        const double out = qn_loudness_decay_step(&u, &v, c.x);
        EXPECT_EQ(out, u);
        EXPECT_EQ(u, c.u_expected) << c.u << " " << c.v << " " << c.x;
        EXPECT_EQ(v, c.v_expected) << c.u << " " << c.v << " " << c.x;
    }
}

TEST(SpecificLoudness, TotalOnlyVariantAgrees) {
    // The total without the pattern is the same number as with it.
    for (double level : {30.0, 50.0, 70.0, 90.0, 110.0}) {
        double levels[28], core[21], pattern[240];
        for (int b = 0; b < 28; ++b) levels[b] = level - 1.5 * std::abs(b - 14);
        qn_core_loudness(levels, QN_SOUND_FIELD_FREE, core);
        const double with = qn_specific_loudness(core, pattern);
        EXPECT_TRUE(same_bits(with, qn_total_loudness(core))) << level;
    }
}

TEST(SmoothedBank, CoefficientsFollowTheBandCentres) {
    qn_smoothed_bank bank;
    qn_smoothed_bank_init(&bank);
    for (int b = 0; b < 28; ++b) {
        const double fc = std::min(1000.0 * std::pow(10.0, (b - 16) / 10.0), 1000.0);
        const double tau = 2.0 / (3.0 * fc);
        EXPECT_NEAR(bank.a[b], std::exp(-1.0 / (48000.0 * tau)), 1e-15) << b;
        EXPECT_EQ(bank.b[b], 1.0 - bank.a[b]);
    }
    EXPECT_EQ(bank.a[16], bank.a[27]) << "limited to the 1 kHz time constant";
    EXPECT_GT(bank.a[15], bank.a[16]);
}

TEST(ZwickerTables, CoreFactorsAreTheirFormula) {
    for (int c = 0; c < 20; ++c) {
        const double formula = 0.0635 * std::pow(10.0, 0.025 * qn_zwicker::threshold_db[c]);
        EXPECT_NEAR(qn_zwicker::core_factor[c], formula, 1e-16 * formula) << "band " << c;
    }
}

TEST(ThirdOctaveBank, NoBandAmplifiesBeyondTheSafeBound) {
    // The time-varying analysis writes its frames as it goes for samples
    // within qn_loudness_time_safe_peak, on the grounds that no band's
    // impulse response sums to 1e11 in magnitude: the worst output is then
    // below 1e111, its square below 1e222, and every later quantity finite.
    using namespace qn_third_octave;
    for (int b = 0; b < band_count; ++b) {
        double w1[section_count] = {}, w2[section_count] = {}, sum = 0;
        for (int n = 0; n < 480000; ++n) {
            double u = n == 0 ? bands[b].gain : 0.0;
            for (int s = 0; s < section_count; ++s) {
                const double w = u - a1(b, s) * w1[s] - a2(b, s) * w2[s];
                const double beta = s == 0 ? 2.0 : s == 1 ? 0.0 : -2.0;
                u = w + beta * w1[s] + (s == 1 ? -w2[s] : w2[s]);
                w2[s] = w1[s];
                w1[s] = w;
            }
            sum += std::fabs(u);
        }
        EXPECT_LT(sum, 1e11 / 1e3) << "band " << b << ": a thousandfold margin";
    }
    EXPECT_EQ(qn_loudness_time_safe_peak, 1e100);
}

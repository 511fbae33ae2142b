// ECMA-418-2 loudness (its calibration and an analyser's values are rows of
// cases.md): its specific loudness against the power sum of tonal and noise
// parts, and the reductions over bands and time against their literal
// forms (tests/support/ecma_aggregate_literal.h); equal ears give one
// ear's results.
#include <gtest/gtest.h>

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "quarnelo.h"
#include "support/ecma_aggregate_literal.h"
#include "support/expect.h"
#include "support/signals.h"

namespace {

constexpr int bands = 53;

struct loudness_result {
    uint64_t frames = 0;
    std::vector<double> series, averaged = std::vector<double>(bands), specific;
    double value = 0;
};

loudness_result loudness_of(const std::vector<double> &x, qn_sound_field field = QN_SOUND_FIELD_FREE) {
    loudness_result r;
    EXPECT_EQ(qn_ecma_tonal_frame_count(x.size(), 48000, &r.frames), QN_STATUS_SUCCESS);
    r.series.resize(r.frames);
    r.specific.resize(bands * r.frames);
    EXPECT_EQ(qn_loudness_ecma(x.data(), x.size(), 48000, field, r.series.data(), r.series.size(),
                               r.averaged.data(), bands, &r.value, r.specific.data(), r.specific.size(), &r.frames),
              QN_STATUS_SUCCESS);
    return r;
}

std::vector<double> tone_at(double frequency, double level_db, std::size_t n) {
    return qn_test::sine(frequency, qn_test::rms_for_level(level_db) * std::sqrt(2.0), n);
}

// A carrier fully modulated at `rate`, of overall level `level_db`.
std::vector<double> modulated(double carrier, double rate, double level_db, std::size_t count) {
    const double carrier_peak = qn_test::rms_for_level(level_db) * std::sqrt(2.0) / std::sqrt(1.5);
    return qn_test::am_tone(carrier, rate, 1.0, 2 * carrier_peak, count);
}

bool same_bits(const std::vector<double> &a, const std::vector<double> &b) {
    return a.size() == b.size() && std::memcmp(a.data(), b.data(), a.size() * sizeof(double)) == 0;
}

bool same_bits(double a, double b) { return std::memcmp(&a, &b, sizeof a) == 0; }

// The largest tonal plus noise loudness over the bands of frame l.
double frame_largest(const double *tonal, const double *noise, uint64_t l) {
    double largest = 0;
    for (int z = 0; z < bands; ++z) largest = std::max(largest, tonal[l * bands + z] + noise[l * bands + z]);
    return largest;
}

}  // namespace

// Array 4 of the tonal analysis is the power sum of the tonal and weighted
// noise loudness; a band without one of the two parts has exactly the
// other.
TEST(EcmaLoudnessReference, SpecificLoudnessIsThePowerSumOfItsParts) {
    auto mixed = qn_test::pink_noise(qn_test::rms_for_level(55), 48000, 4);
    const auto tone = tone_at(2000, 65, mixed.size());
    for (std::size_t i = 0; i < mixed.size(); ++i) mixed[i] += tone[i];
    int tonal_only = 0, noise_only = 0, written_form = 0;
    for (const auto &x : {tone_at(1000, 60, 48000), mixed}) {
        uint64_t frames = 0;
        ASSERT_EQ(qn_ecma_tonal_frame_count(x.size(), 48000, &frames), QN_STATUS_SUCCESS);
        std::vector<double> out(265 * frames);
        ASSERT_EQ(qn_ecma_tonal_analysis(x.data(), x.size(), 48000, 0, out.data(), out.size(), &frames),
                  QN_STATUS_SUCCESS);
        const uint64_t plane = bands * frames;
        const double *tonal = out.data(), *noise = out.data() + plane, *total = out.data() + 4 * plane;
        const auto literal = qn_test::ecma_specific_loudness_literal(tonal, noise, frames);
        for (uint64_t i = 0; i < plane; ++i) {
            // In quiet frames the exponent grows without bound and the
            // powers of the written form underflow; the analysis scales by
            // the larger part first. Where they are normal doubles the two
            // agree, and everywhere the sum lies between the larger part
            // and 2^(1/e) times it.
            const double larger = std::max(tonal[i], 0.5331 * noise[i]);
            const double e = qn_test::ecma_loudness_exponent(frame_largest(tonal, noise, i / bands));
            ASSERT_GE(total[i] * (1 + 1e-15), larger) << "frame " << i / bands << " band " << i % bands;
            ASSERT_LE(total[i], std::pow(2.0, 1 / e) * larger * (1 + 1e-15)) << "frame " << i / bands;
            if (std::pow(larger, e) >= DBL_MIN) {
                ASSERT_TRUE(qn_test::near_relative(total[i], literal[i], 1e-13))
                    << "frame " << i / bands << " band " << i % bands;
                ++written_form;
            }
            if (tonal[i] == 0 && noise[i] > 0) {
                ASSERT_EQ(total[i], 0.5331 * noise[i]) << "frame " << i / bands << " band " << i % bands;
                ++noise_only;
            }
            if (noise[i] == 0 && tonal[i] > 0) {
                ASSERT_EQ(total[i], tonal[i]) << "frame " << i / bands << " band " << i % bands;
                ++tonal_only;
            }
        }
        // And the one-call loudness takes exactly this array.
        const auto r = loudness_of(x);
        EXPECT_TRUE(same_bits(r.specific, std::vector<double>(total, total + plane)));
    }
    EXPECT_GT(tonal_only, 0);
    EXPECT_GT(noise_only, 0);
    EXPECT_GT(written_form, 53 * 150);
    // Where the frame's largest band loudness is 0.6426 the exponent is 1
    // (the constants are given to four places), and the power sum a sum.
    EXPECT_NEAR(qn_test::ecma_loudness_exponent(0.6426), 1.0, 2e-5);
}

// Loudness of the analysis, and the averages and single values of
// roughness, against their literal forms.
TEST(EcmaLoudnessReference, ReductionsMatchTheirLiteralForms) {
    const auto x = modulated(1000, 70, 60, 2 * 48000);
    const auto r = loudness_of(x);
    const auto literal = qn_test::ecma_aggregate_literal(QN_ECMA_LOUDNESS, r.specific);
    EXPECT_TRUE(same_bits(r.series, literal.series));
    for (int z = 0; z < bands; ++z) EXPECT_TRUE(qn_test::near_relative(r.averaged[z], literal.averaged[z], 1e-14)) << z;
    EXPECT_TRUE(qn_test::near_relative(r.value, literal.value, 1e-14));

    for (auto y : {x, qn_test::pink_noise(qn_test::rms_for_level(65), 3 * 48000, 7)}) {
        uint64_t frames = 0;
        ASSERT_EQ(qn_ecma_roughness_frame_count(y.size(), 48000, &frames), QN_STATUS_SUCCESS);
        std::vector<double> specific(bands * frames), series(frames), averaged(bands);
        ASSERT_EQ(qn_roughness_ecma(y.data(), y.size(), 48000, 0, specific.data(), specific.size(), &frames),
                  QN_STATUS_SUCCESS);
        double value = 0;
        ASSERT_EQ(qn_ecma_aggregate(QN_ECMA_ROUGHNESS, specific.data(), frames, series.data(), frames,
                                    averaged.data(), bands, &value),
                  QN_STATUS_SUCCESS);
        const auto lit = qn_test::ecma_aggregate_literal(QN_ECMA_ROUGHNESS, specific);
        EXPECT_TRUE(same_bits(series, lit.series));
        EXPECT_TRUE(same_bits(averaged, lit.averaged));
        EXPECT_TRUE(same_bits(value, lit.value)) << value << " vs " << lit.value;
    }
}

// Two equal ears are one ear: the combination gives back its specific
// values, and so the same reductions, bit for bit.
TEST(EcmaLoudnessReference, EqualEarsGiveTheOneEarResult) {
    const auto x = modulated(1000, 70, 60, 48000);
    const auto one = loudness_of(x);
    std::vector<double> both(one.specific.size()), series(one.frames), averaged(bands);
    ASSERT_EQ(qn_ecma_binaural(one.specific.data(), one.specific.data(), both.size(), both.data(), both.size()),
              QN_STATUS_SUCCESS);
    EXPECT_TRUE(same_bits(both, one.specific));
    double value = 0;
    ASSERT_EQ(qn_ecma_aggregate(QN_ECMA_LOUDNESS, both.data(), one.frames, series.data(), series.size(),
                                averaged.data(), bands, &value),
              QN_STATUS_SUCCESS);
    EXPECT_TRUE(same_bits(series, one.series));
    EXPECT_TRUE(same_bits(averaged, one.averaged));
    EXPECT_TRUE(same_bits(value, one.value));

    // Different ears: the combined loudness lies between the two.
    const auto louder = loudness_of(modulated(1000, 70, 66, 48000));
    ASSERT_EQ(qn_ecma_binaural(one.specific.data(), louder.specific.data(), both.size(), both.data(), both.size()),
              QN_STATUS_SUCCESS);
    ASSERT_EQ(qn_ecma_aggregate(QN_ECMA_LOUDNESS, both.data(), one.frames, series.data(), series.size(),
                                averaged.data(), bands, &value),
              QN_STATUS_SUCCESS);
    EXPECT_GT(value, one.value);
    EXPECT_LT(value, louder.value);
}

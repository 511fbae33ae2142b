// Aures tonality: the weights behind its calibration tones (whose values are
// rows of cases.md), the behaviour users rely on, and the literal
// computation of the method.
#include <gtest/gtest.h>

#include <cmath>
#include <numbers>
#include <vector>

#include "quarnelo.h"
#include "support/aures_literal.h"
#include "support/expect.h"
#include "support/signals.h"

namespace {

std::vector<double> tonality_of(const std::vector<double> &x, qn_sound_field field = QN_SOUND_FIELD_FREE) {
    uint64_t frames = 0;
    EXPECT_EQ(qn_tonality_frame_count(x.size(), 48000, &frames), QN_STATUS_SUCCESS);
    std::vector<double> t(frames);
    uint64_t written = 0;
    EXPECT_EQ(qn_tonality_aures(x.data(), x.size(), 48000, field, t.data(), t.size(), &written), QN_STATUS_SUCCESS);
    EXPECT_EQ(written, frames);
    return t;
}

double mean(const std::vector<double> &v) {
    double s = 0;
    for (double x : v) s += x;
    return s / static_cast<double>(v.size());
}

// A sine of the given SPL (RMS level in dB re 20 uPa).
std::vector<double> tone(double hz, double level_db, std::size_t n) {
    return qn_test::sine(hz, qn_test::rms_for_level(level_db) * std::sqrt(2.0), n);
}

// `count` equal harmonics of `f0`, each at `level_db`, with phases that
// keep the sum from peaking.
std::vector<double> harmonic_complex(double f0, int count, double level_db, std::size_t n) {
    std::vector<double> x(n, 0.0);
    const double a = qn_test::rms_for_level(level_db) * std::sqrt(2.0);
    for (int h = 1; h <= count; ++h) {
        const double phase = std::numbers::pi * h * h / count;
        for (std::size_t i = 0; i < n; ++i)
            x[i] += a * std::sin(2 * std::numbers::pi * f0 * h * static_cast<double>(i) / 48000.0 + phase);
    }
    return x;
}

// Gaussian noise band-limited to centre +- width / 2 (Hz) by summing
// sines of random phase on a 1 Hz grid, scaled to `level_db`.
std::vector<double> noise_band(double centre, double width, double level_db, std::size_t n, uint64_t seed) {
    const auto phases = qn_test::white_noise(1.0, 100000, seed);
    std::vector<double> x(n, 0.0);
    int k = 0;
    for (double f = std::ceil(centre - width / 2); f <= centre + width / 2; f += 1.0, ++k) {
        const double phase = std::numbers::pi * phases[static_cast<std::size_t>(k)];
        for (std::size_t i = 0; i < n; ++i)
            x[i] += std::sin(2 * std::numbers::pi * f * static_cast<double>(i) / 48000.0 + phase);
    }
    double power = 0;
    for (double v : x) power += v * v;
    const double scale = qn_test::rms_for_level(level_db) / std::sqrt(power / static_cast<double>(n));
    for (double &v : x) v *= scale;
    return x;
}

std::vector<double> plus(std::vector<double> a, const std::vector<double> &b) {
    for (std::size_t i = 0; i < a.size(); ++i) a[i] += b[i];
    return a;
}

}  // namespace

TEST(TonalityAuresReference, SilenceIsZeroInEveryFrame) {
    const auto t = tonality_of(std::vector<double>(30000, 0.0));
    ASSERT_EQ(t.size(), 4u);
    for (double v : t) EXPECT_EQ(v, 0.0);
}

TEST(TonalityAuresReference, OneKilohertzAtSixtyDecibels) {
    // Its tonality, 1 in every frame, is a row of cases.md. Here: one
    // narrow band (its record: AuresComponents.NarrowBandOfASine) and
    // nothing else, its level, masking and weights.
    const auto x = tone(1000, 60, 12000);
    int32_t code = 0;
    std::vector<qn_test::aures_frame_detail> d;
    qn_test::aures_literal(x.data(), 12000, QN_SOUND_FIELD_FREE, &code, &d);
    ASSERT_EQ(code, 1);
    const auto &f = d[0];
    EXPECT_NEAR(f.level[250], 60.0, 0.01);
    EXPECT_NEAR(f.level[249], 60.0 + 20 * std::log10(0.5), 0.01) << "the Hann window's first side bin";
    EXPECT_TRUE(f.peaks.empty()) << "bin 250 lies in the narrow band's range";
    ASSERT_EQ(f.frequency.size(), 1u);
    EXPECT_NEAR(f.component_level[0], 60.0, 0.01) << "less the window's noise correction";
    EXPECT_EQ(f.band[0], -1) << "the centre is not a bin frequency";
    EXPECT_NEAR(f.excess[0], 56.63, 0.01);
    EXPECT_GT(f.frame_loudness, 3.0) << "a frame of narrow bands only still has its loudness measured";
    EXPECT_EQ(f.loudness_weight, 1.0) << "the residual is inaudible";
    EXPECT_NEAR(f.tonal_weight, 0.7077, 0.0001);
}

TEST(TonalityAuresReference, ThreeKilohertzAtSixtyDecibels) {
    // Its tonality, 0.870, is a row of cases.md.
    const auto x = tone(3000, 60, 12000);
    int32_t code = 0;
    std::vector<qn_test::aures_frame_detail> d;
    qn_test::aures_literal(x.data(), 12000, QN_SOUND_FIELD_FREE, &code, &d);
    ASSERT_EQ(code, 1);
    ASSERT_EQ(d[0].frequency.size(), 1u);
    // The narrow band is no wider than the window makes a line (w1 = 1);
    // the frequency weighting 1 / sqrt(1 + 0.2 (f/700 + 700/f)^2) and the
    // SPL-excess weighting 1 - exp(-dL / 15) enter with power 1.
    const double f = d[0].frequency[0];
    EXPECT_NEAR(f, 3000, 0.05);
    EXPECT_LE(d[0].bandwidth[0], d[0].window_bandwidth[0]);
    const double w2 = 1 / std::sqrt(1 + 0.2 * std::pow(f / 700 + 700 / f, 2));
    EXPECT_NEAR(w2, 0.4435, 0.0001);
    EXPECT_NEAR(d[0].excess[0], 64.57, 0.01) << "the threshold in quiet is negative at 3 kHz";
    const double w3 = 1 - std::exp(d[0].excess[0] / -15);
    EXPECT_NEAR(w3, 0.9865, 0.0001);
    EXPECT_NEAR(d[0].tonal_weight, 0.4375, 0.0001);
    EXPECT_TRUE(qn_test::near_relative(d[0].tonal_weight, w2 * w3, 1e-13));
}

TEST(TonalityAuresReference, HarmonicComplexIsFortyTonalPeaks) {
    const auto x = harmonic_complex(110, 40, 60, 12000);
    int32_t code = 0;
    std::vector<qn_test::aures_frame_detail> d;
    const auto literal = qn_test::aures_literal(x.data(), 12000, QN_SOUND_FIELD_FREE, &code, &d);
    ASSERT_EQ(code, 1);
    const auto &f = d[0];
    EXPECT_TRUE(f.records.empty()) << "every region fails the critical-band contrast";
    ASSERT_EQ(f.peaks.size(), 40u);
    for (int h = 1; h <= 40; ++h) {
        const int peak = f.peaks[static_cast<std::size_t>(h - 1)];
        const double bw = f.peak_bandwidths[static_cast<std::size_t>(h - 1)];
        if (h % 2 == 0) {
            EXPECT_EQ(peak, 55 * h / 2) << "harmonic " << h;
            EXPECT_NEAR(bw, 3.987, 0.001) << "harmonic " << h << " on a bin";
        } else {
            EXPECT_TRUE(peak == 55 * h / 2 || peak == 55 * h / 2 + 1) << "harmonic " << h << " at bin " << peak;
            EXPECT_NEAR(bw, 5.72, 0.01) << "harmonic " << h << " between two bins";
        }
        EXPECT_EQ(f.band[static_cast<std::size_t>(h - 1)], peak - 5) << "a tonal peak masks from its own bin";
    }
    EXPECT_EQ(tonality_of(x), literal);
}

TEST(TonalityAuresReference, FrameCountsAndFrameStarts) {
    // Frames start every 6000 samples: a tone in samples 12000 ... 23999
    // fills frame 2, half of frame 1 and nothing of frame 0.
    auto x = tone(1000, 60, 24000);
    for (std::size_t i = 0; i < 12000; ++i) x[i] = 0;
    const auto t = tonality_of(x);
    ASSERT_EQ(t.size(), 3u);
    EXPECT_EQ(t[0], 0.0);
    EXPECT_GT(t[1], 0.1);
    EXPECT_LT(t[1], 0.9);
    EXPECT_NEAR(t[2], 1.0, 0.002);
    EXPECT_EQ(tonality_of(std::vector<double>(17999, 0.0)).size(), 1u);
    EXPECT_EQ(tonality_of(std::vector<double>(18000, 0.0)).size(), 2u);
}

TEST(TonalityAuresReference, EngineAgreesWithTheLiteralMethodBitForBit) {
    struct Case {
        const char *what;
        std::vector<double> x;
    };
    std::vector<Case> cases;
    cases.push_back({"1 kHz tone", tone(1000, 60, 18000)});
    cases.push_back({"tone in pink noise",
                     plus(tone(700, 65, 18000), qn_test::pink_noise(qn_test::rms_for_level(55), 18000, 3))});
    cases.push_back({"harmonic complex", harmonic_complex(110, 40, 60, 12000)});
    cases.push_back({"narrow noise band", noise_band(2000, 40, 60, 18000, 5)});
    cases.push_back({"white noise", qn_test::white_noise(qn_test::rms_for_level(60), 18000, 9)});
    cases.push_back({"low tone", tone(60, 70, 12000)});
    cases.push_back({"two tones and noise", plus(plus(tone(440, 60, 12000), tone(3520, 50, 12000)),
                                                 qn_test::white_noise(qn_test::rms_for_level(40), 12000, 2))});
    cases.push_back({"30 close lines", harmonic_complex(97, 30, 50, 12000)});
    for (const Case &c : cases) {
        for (qn_sound_field field : {QN_SOUND_FIELD_FREE, QN_SOUND_FIELD_DIFFUSE}) {
            int32_t code = 0;
            const auto literal = qn_test::aures_literal(c.x.data(), static_cast<int32_t>(c.x.size()), field, &code);
            ASSERT_GT(code, 0) << c.what;
            const auto fast = tonality_of(c.x, field);
            ASSERT_EQ(fast.size(), literal.size()) << c.what;
            for (std::size_t k = 0; k < fast.size(); ++k)
                EXPECT_EQ(fast[k], literal[k]) << c.what << ", field " << field << ", frame " << k;
        }
    }
}

TEST(TonalityAuresReference, ToneIsMoreTonalThanANoiseBandAndWidthLowersIt) {
    const double pure = mean(tonality_of(tone(2000, 60, 30000)));
    double previous = pure;
    for (double width : {10.0, 50.0, 200.0}) {
        const double band = mean(tonality_of(noise_band(2000, width, 60, 30000, 11)));
        EXPECT_LT(band, previous) << width << " Hz wide";
        previous = band;
    }
}

TEST(TonalityAuresReference, BroadbandNoiseIsNearZero) {
    EXPECT_LT(mean(tonality_of(qn_test::white_noise(qn_test::rms_for_level(60), 48000, 4))), 0.1);
    EXPECT_LT(mean(tonality_of(qn_test::pink_noise(qn_test::rms_for_level(60), 48000, 4))), 0.1);
}

TEST(TonalityAuresReference, NoiseAddedToAToneLowersIt) {
    const auto t = tone(1000, 60, 30000);
    double previous = mean(tonality_of(t));
    for (double noise_db : {30.0, 45.0, 60.0}) {
        const auto noise = qn_test::pink_noise(qn_test::rms_for_level(noise_db), 30000, 6);
        const double noisy = mean(tonality_of(plus(t, noise)));
        EXPECT_LT(noisy, previous) << "pink noise at " << noise_db << " dB";
        previous = noisy;
    }
}

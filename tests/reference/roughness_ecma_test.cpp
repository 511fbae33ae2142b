// ECMA-418-2 roughness against the method computed literally
// (tests/support/ecma_rough_literal.h): bit for bit where the engine does the
// same arithmetic, within 1e-9 where it reorganises the transforms. Its
// calibration, 1 asper, is a row of cases.md.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "ecma/roughness.h"
#include "quarnelo.h"
#include "support/ecma_rough_literal.h"
#include "support/expect.h"
#include "support/signals.h"
#include "support/simd_paths.h"

namespace {

constexpr int bands = 53;

struct named_signal {
    std::string name;
    std::vector<double> samples;
};

// A carrier fully modulated at `rate`, of overall level `level_db`; the
// carrier alone is 1.76 dB below (the sidebands carry a third of the power).
std::vector<double> modulated(double carrier, double rate, double level_db, std::size_t count) {
    const double carrier_peak = qn_test::rms_for_level(level_db) * std::sqrt(2.0) / std::sqrt(1.5);
    return qn_test::am_tone(carrier, rate, 1.0, 2 * carrier_peak, count);
}

std::vector<named_signal> comparison_signals() {
    std::vector<named_signal> s;
    s.push_back({"AM 1 kHz at 70 Hz, 60 dB", modulated(1000, 70, 60, 96000)});
    s.push_back({"AM 4 kHz at 30 Hz, 70 dB, not a whole number of hops", modulated(4000, 30, 70, 50001)});
    s.push_back({"AM 250 Hz at 120 Hz, 80 dB, a whole number of hops", modulated(250, 120, 80, 40960)});
    s.push_back({"pink noise, 65 dB", qn_test::pink_noise(qn_test::rms_for_level(65), 48000, 7)});
    s.push_back({"silence", std::vector<double>(20000, 0.0)});
    auto midway = modulated(2000, 50, 60, 72000);
    std::fill(midway.begin(), midway.begin() + 36000, 0.0);
    s.push_back({"AM tone switched on midway", midway});
    return s;
}

std::vector<double> engine(const std::vector<double> &x, qn_sound_field field, qn_simd path,
                           qn_ecma_rough_transforms transforms, qn_status *status) {
    std::vector<double> out(bands * qn_ecma_rough_frames(x.size()));
    *status = qn_ecma_rough_run(x.data(), x.size(), field, out.data(), path, transforms);
    return out;
}

bool same_bits(double a, double b) { return std::memcmp(&a, &b, sizeof a) == 0; }

TEST(EcmaRoughnessReference, EngineMatchesTheLiteralMethod) {
    for (const named_signal &s : comparison_signals()) {
        for (qn_sound_field field : {QN_SOUND_FIELD_FREE, QN_SOUND_FIELD_DIFFUSE}) {
            if (field == QN_SOUND_FIELD_DIFFUSE && s.name.rfind("AM 1 kHz", 0) != 0) continue;
            const auto literal = qn_test::ecma_rough_literal(s.samples, field);
            ASSERT_EQ(literal.status, QN_STATUS_SUCCESS) << s.name;
            std::vector<double> first_path;
            for (qn_simd path : qn_test::simd_paths()) {
                const std::string what = s.name + (field ? ", diffuse" : ", free") + ", " + qn_simd_name(path);
                qn_status status;
                // The same transforms: the chunking changes no bit.
                const auto same = engine(s.samples, field, path, qn_ecma_rough_transforms::literal, &status);
                ASSERT_EQ(status, QN_STATUS_SUCCESS) << what;
                ASSERT_EQ(same.size(), literal.roughness.size());
                for (std::size_t i = 0; i < same.size(); ++i)
                    ASSERT_TRUE(same_bits(same[i], literal.roughness[i]))
                        << what << ": frame " << i / bands << " band " << i % bands << ": " << same[i] << " vs "
                        << literal.roughness[i];
                // The reorganised transforms: within 1e-9 relative or 1e-12 absolute.
                const auto fast = engine(s.samples, field, path, qn_ecma_rough_transforms::fast, &status);
                ASSERT_EQ(status, QN_STATUS_SUCCESS) << what;
                for (std::size_t i = 0; i < fast.size(); ++i) {
                    const double expected = literal.roughness[i];
                    const double difference = std::fabs(fast[i] - expected);
                    ASSERT_TRUE(difference <= 1e-12 || difference <= 1e-9 * std::fabs(expected))
                        << what << ": frame " << i / bands << " band " << i % bands << ": " << fast[i] << " vs "
                        << expected;
                }
                // The same bits on every vector path.
                if (first_path.empty()) first_path = fast;
                for (std::size_t i = 0; i < fast.size(); ++i)
                    ASSERT_TRUE(same_bits(fast[i], first_path[i]))
                        << what << ": frame " << i / bands << " band " << i % bands << ": " << fast[i] << " vs "
                        << first_path[i] << " on the first path";
            }
        }
    }
}

TEST(EcmaRoughnessReference, SilenceAndTheFirstFrame) {
    for (const named_signal &s : comparison_signals()) {
        std::vector<double> out(bands * qn_ecma_rough_frames(s.samples.size()));
        uint64_t frames = 0;
        ASSERT_EQ(qn_roughness_ecma(s.samples.data(), s.samples.size(), 48000, QN_SOUND_FIELD_FREE, out.data(),
                                    out.size(), &frames),
                  QN_STATUS_SUCCESS)
            << s.name;
        ASSERT_EQ(frames * bands, out.size());
        bool any = false;
        for (std::size_t i = 0; i < out.size(); ++i) {
            ASSERT_TRUE(std::isfinite(out[i]) && out[i] >= 0) << s.name << " " << i;
            if (i < bands) {
                EXPECT_EQ(out[i], 0.0) << s.name << ": frame 0, band " << i;
            }
            any = any || out[i] > 0;
        }
        EXPECT_EQ(any, s.name != "silence") << s.name;
    }
}

// Total roughness of a frame: 0.5 Bark times the sum over the bands.
std::vector<double> totals(const std::vector<double> &specific) {
    std::vector<double> r(specific.size() / bands, 0.0);
    for (std::size_t k = 0; k < r.size(); ++k) {
        for (int b = 0; b < bands; ++b) r[k] += specific[k * bands + b];
        r[k] *= 0.5;
    }
    return r;
}

TEST(EcmaRoughnessReference, FastSlowAndNoModulationAreLessRough) {
    // Beside the calibration tone (1 asper at 70 Hz: cases.md), fast and
    // slow modulation are less rough; the same tone unmodulated is hardly
    // rough at all.
    std::vector<double> out(bands * qn_ecma_rough_frames(96000));
    uint64_t frames = 0;
    for (double rate : {10.0, 300.0}) {
        const auto y = modulated(1000, rate, 60, 96000);
        ASSERT_EQ(qn_roughness_ecma(y.data(), y.size(), 48000, QN_SOUND_FIELD_FREE, out.data(), out.size(), &frames),
                  QN_STATUS_SUCCESS);
        EXPECT_LT(totals(out).back(), 0.5) << rate << " Hz";
    }
    const auto tone = qn_test::sine(1000, qn_test::rms_for_level(60) * std::sqrt(2.0), 96000);
    ASSERT_EQ(qn_roughness_ecma(tone.data(), tone.size(), 48000, QN_SOUND_FIELD_FREE, out.data(), out.size(), &frames),
              QN_STATUS_SUCCESS);
    EXPECT_LT(totals(out).back(), 0.1);
}

TEST(EcmaRoughnessReference, FallsWithItsDecayConstant) {
    // A rough tone followed by a second of silence: once the interpolated
    // roughness is 0, each frame keeps exp(-0.04) of the one before.
    auto x = modulated(1000, 70, 60, 96000);
    x.resize(96000 + 48000, 0.0);
    std::vector<double> out(bands * qn_ecma_rough_frames(x.size()));
    uint64_t frames = 0;
    ASSERT_EQ(qn_roughness_ecma(x.data(), x.size(), 48000, QN_SOUND_FIELD_FREE, out.data(), out.size(), &frames),
              QN_STATUS_SUCCESS);
    const auto literal = qn_test::ecma_rough_literal(x, QN_SOUND_FIELD_FREE);
    int checked = 0;
    for (uint64_t k = 1; k < frames; ++k) {
        for (int b = 0; b < bands; ++b) {
            if (literal.interpolated[k * bands + b] != 0 || out[(k - 1) * bands + b] < 1e-6) continue;
            EXPECT_TRUE(qn_test::near_relative(out[k * bands + b] / out[(k - 1) * bands + b], std::exp(-0.04), 1e-9))
                << "frame " << k << " band " << b;
            ++checked;
        }
    }
    EXPECT_GT(checked, 100);
}

}  // namespace

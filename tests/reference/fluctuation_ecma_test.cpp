// ECMA-418-2 fluctuation strength against the method computed literally
// (tests/support/ecma_fluct_literal.h: bit for bit where the engine does the
// same arithmetic, within 1e-9 where it reorganises the envelope's
// transforms), against its calibration, and against what listeners expect
// of slow modulation.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "ecma/fluctuation.h"
#include "quarnelo.h"
#include "support/ecma_fluct_literal.h"
#include "support/expect.h"
#include "support/signals.h"
#include "support/simd_paths.h"

namespace {

constexpr int bands = 53;
constexpr uint64_t settled = 36;  // frames before 0.72 s are left out of the single values

// A 1 kHz carrier modulated at `rate` with depth `depth`, of overall level
// `level_db` (full modulation puts the carrier 1.76 dB below it).
std::vector<double> modulated(double rate, double depth, double level_db, std::size_t count,
                              double carrier_hz = 1000) {
    const double peak = qn_test::rms_for_level(level_db) * std::sqrt(2.0) / std::sqrt(1 + depth * depth / 2);
    return qn_test::am_tone(carrier_hz, rate, depth, (1 + depth) * peak, count);
}

// White noise through a resonator at 1 kHz (about 50 Hz wide), 60 dB SPL;
// optionally fully modulated at 4 Hz (same level).
std::vector<double> noise_band(std::size_t count, bool modulated_at_4hz) {
    auto x = qn_test::white_noise(1.0, count, 3);
    const double r = 0.995, c = 2 * r * std::cos(2 * M_PI * 1000 / 48000.0);
    double y1 = 0, y2 = 0, power = 0;
    for (double &v : x) {
        const double y = v + c * y1 - r * r * y2;
        y2 = y1;
        y1 = y;
        v = y;
        power += y * y;
    }
    const double gain = qn_test::rms_for_level(60) / std::sqrt(power / count);
    for (std::size_t i = 0; i < count; ++i) {
        x[i] *= gain;
        if (modulated_at_4hz) x[i] *= (1 + std::sin(2 * M_PI * 4 * i / 48000.0)) / std::sqrt(1.5);
    }
    return x;
}

std::vector<double> analyse(const std::vector<double> &x, qn_sound_field field = QN_SOUND_FIELD_FREE) {
    uint64_t frames = 0;
    std::vector<double> out(bands * (x.size() / 960 + 1));
    EXPECT_EQ(qn_fluctuation_ecma(x.data(), x.size(), 48000, field, out.data(), out.size(), &frames),
              QN_STATUS_SUCCESS);
    EXPECT_EQ(frames * bands, out.size());
    return out;
}

// Time-dependent fluctuation strength: 0.5 Bark times the sum over the bands.
std::vector<double> totals(const std::vector<double> &specific) {
    std::vector<double> r(specific.size() / bands, 0.0);
    for (std::size_t k = 0; k < r.size(); ++k) {
        for (int b = 0; b < bands; ++b) r[k] += specific[k * bands + b];
        r[k] *= 0.5;
    }
    return r;
}

// The single value: the 90th percentile of the time-dependent values from
// frame 36 on, between order statistics (h = 0.9 (M - 1) of M sorted values).
double single_value(const std::vector<double> &specific) {
    const auto all = totals(specific);
    std::vector<double> v(all.begin() + settled, all.end());
    std::sort(v.begin(), v.end());
    const double h = 0.9 * static_cast<double>(v.size() - 1);
    const std::size_t low = static_cast<std::size_t>(h);
    const std::size_t high = std::min(low + 1, v.size() - 1);
    return v[low] + (h - static_cast<double>(low)) * (v[high] - v[low]);
}

// Single values of the signals of the behaviour tests, made once.
double single_value_of(const std::string &name) {
    static std::map<std::string, double> made;
    const auto found = made.find(name);
    if (found != made.end()) return found->second;
    constexpr std::size_t eight_seconds = 8 * 48000;
    std::vector<double> x;
    if (name == "noise band") x = noise_band(eight_seconds, false);
    else if (name == "noise band at 4 Hz") x = noise_band(eight_seconds, true);
    else if (name.rfind("depth ", 0) == 0) x = modulated(4, std::stod(name.substr(6)), 60, eight_seconds);
    else x = modulated(std::stod(name), 1.0, 60, eight_seconds);
    return made[name] = single_value(analyse(x));
}

bool same_bits(double a, double b) { return std::memcmp(&a, &b, sizeof a) == 0; }

struct named_signal {
    std::string name;
    std::vector<double> samples;
};

TEST(EcmaFluctuationReference, EngineMatchesTheLiteralMethod) {
    std::vector<named_signal> signals;
    signals.push_back({"AM 1 kHz at 4 Hz, 60 dB", modulated(4, 1.0, 60, 120000)});
    signals.push_back({"AM 4 kHz at 8 Hz, 70 dB, no last block of its own", modulated(8, 1.0, 70, 6 * 16384, 4000)});
    signals.push_back({"pink noise, 65 dB", qn_test::pink_noise(qn_test::rms_for_level(65), 90001, 7)});
    signals.push_back({"silence", std::vector<double>(70000, 0.0)});
    auto midway = modulated(3, 1.0, 60, 130000, 2000);
    std::fill(midway.begin(), midway.begin() + 70000, 0.0);
    signals.push_back({"AM tone switched on midway", midway});
    for (const named_signal &s : signals) {
        for (qn_sound_field field : {QN_SOUND_FIELD_FREE, QN_SOUND_FIELD_DIFFUSE}) {
            if (field == QN_SOUND_FIELD_DIFFUSE && s.name.rfind("AM 1 kHz", 0) != 0) continue;
            const auto literal = qn_test::ecma_fluct_literal(s.samples, field);
            ASSERT_EQ(literal.status, QN_STATUS_SUCCESS) << s.name;
            const bool moves = std::any_of(literal.fluctuation.begin(), literal.fluctuation.end(),
                                           [](double v) { return v > 0; });
            EXPECT_EQ(moves, s.name != "silence") << s.name;
            for (qn_simd path : qn_test::simd_paths()) {
                const std::string what = s.name + (field ? ", diffuse" : ", free") + ", " + qn_simd_name(path);
                std::vector<double> out(literal.fluctuation.size());
                // The same transforms: the chunking changes no bit.
                ASSERT_EQ(qn_ecma_fluct_run(s.samples.data(), s.samples.size(), field, out.data(), path,
                                            qn_ecma_fluct_transforms::literal),
                          QN_STATUS_SUCCESS)
                    << what;
                for (std::size_t i = 0; i < out.size(); ++i)
                    ASSERT_TRUE(same_bits(out[i], literal.fluctuation[i]))
                        << what << ": frame " << i / bands << " band " << i % bands << ": " << out[i] << " vs "
                        << literal.fluctuation[i];
                // The envelopes from the segments' folds: within 1e-9
                // relative or 1e-12 absolute.
                ASSERT_EQ(qn_ecma_fluct_run(s.samples.data(), s.samples.size(), field, out.data(), path,
                                            qn_ecma_fluct_transforms::fast),
                          QN_STATUS_SUCCESS)
                    << what;
                for (std::size_t i = 0; i < out.size(); ++i) {
                    const double expected = literal.fluctuation[i], difference = std::fabs(out[i] - expected);
                    ASSERT_TRUE(difference <= 1e-12 || difference <= 1e-9 * std::fabs(expected))
                        << what << ": frame " << i / bands << " band " << i % bands << ": " << out[i] << " vs "
                        << expected;
                }
            }
        }
    }
}

TEST(EcmaFluctuationReference, OneVacilCalibration) {
    // 1 kHz at 60 dB SPL, fully modulated at 4 Hz, 10 s in the free field:
    // 1 vacil within 1 %, its specific values in bands 12 ... 24 only, about
    // 0.39 at 9 Bark when averaged from 0.72 s on.
    const auto out = analyse(modulated(4, 1.0, 60, 480000));
    ASSERT_EQ(out.size(), 501u * bands);
    EXPECT_TRUE(qn_test::near_relative(single_value(out), 1.0, 0.01));
    for (int b = 0; b < bands; ++b) {
        double mean = 0;
        for (uint64_t k = settled; k < 501; ++k) mean += out[k * bands + b];
        mean /= static_cast<double>(501 - settled);
        if (b < 12 || b > 24) {
            EXPECT_EQ(mean, 0.0) << "band " << b;
        } else {
            EXPECT_GT(mean, 0.0) << "band " << b;
        }
        if (b == 17) {
            EXPECT_NEAR(mean, 0.39, 0.01);
        }
    }
    for (int b = 0; b < bands; ++b) EXPECT_EQ(out[b], 0.0) << "frame 0 starts from rest, band " << b;
}

TEST(EcmaFluctuationReference, SteadySoundsDoNotFluctuate) {
    for (const auto &x : {modulated(4, 0.0, 60, 200000), std::vector<double>(200000, 0.0)}) {
        const auto out = analyse(x);
        EXPECT_TRUE(std::all_of(out.begin(), out.end(), [](double v) { return v == 0; }));
    }
}

TEST(EcmaFluctuationReference, RateOfModulation) {
    // At 60 dB the single value rises from 0.5 Hz to a maximum between 2 and
    // 8 Hz and has fallen by 32 Hz; rates off the grid of candidate rates
    // (3 and 8 Hz) lie between their neighbours.
    const std::vector<double> rates = {0.5, 1, 2, 3, 4, 6, 8, 16, 32};
    std::vector<double> f;
    for (double r : rates) f.push_back(single_value_of(std::to_string(r)));
    const auto top = std::max_element(f.begin(), f.end()) - f.begin();
    EXPECT_GE(rates[top], 2.0);
    EXPECT_LE(rates[top], 8.0);
    for (std::size_t i = 0; i + 1 < rates.size(); ++i) {
        if (static_cast<long>(i) < top) {
            EXPECT_LT(f[i], f[i + 1]) << rates[i] << " Hz";
        } else {
            EXPECT_GT(f[i], f[i + 1]) << rates[i] << " Hz";
        }
    }
    EXPECT_GT(f[0], 0.05);
    EXPECT_LT(f.back(), 0.1 * f[top]);
}

TEST(EcmaFluctuationReference, DepthAndNoise) {
    // A deeper modulation fluctuates more; a noise band modulated at 4 Hz
    // clearly more than the same band unmodulated (whose own envelope
    // wanders).
    double previous = -1;
    for (const char *depth : {"depth 0.25", "depth 0.5", "depth 1.0"}) {
        const double f = single_value_of(depth);
        EXPECT_GT(f, previous) << depth;
        previous = f;
    }
    EXPECT_GT(single_value_of("noise band at 4 Hz"), 3 * single_value_of("noise band"));
}

// Two equal ears are one ear: the combination gives back its specific
// values, and so the same reductions, bit for bit; two different ears give
// a single value between theirs.
TEST(EcmaFluctuationReference, EqualEarsGiveTheOneEarResult) {
    const std::size_t count = 3 * 48000;
    const auto left = analyse(modulated(4, 1.0, 60, count)), right = analyse(modulated(4, 0.5, 60, count));
    const uint64_t frames = left.size() / bands;
    struct reduced {
        std::vector<double> series, averaged;
        double value = 0;
    };
    const auto reduce = [&](const std::vector<double> &specific) {
        reduced r{std::vector<double>(frames), std::vector<double>(bands), 0};
        EXPECT_EQ(qn_ecma_aggregate(QN_ECMA_FLUCTUATION, specific.data(), frames, r.series.data(), frames,
                                    r.averaged.data(), bands, &r.value),
                  QN_STATUS_SUCCESS);
        return r;
    };
    const auto bits = [](const std::vector<double> &a, const std::vector<double> &b) {
        return a.size() == b.size() && std::memcmp(a.data(), b.data(), a.size() * sizeof(double)) == 0;
    };
    std::vector<double> both(left.size());
    ASSERT_EQ(qn_ecma_binaural(left.data(), left.data(), both.size(), both.data(), both.size()), QN_STATUS_SUCCESS);
    EXPECT_TRUE(bits(both, left));
    const reduced one = reduce(left), two = reduce(both);
    EXPECT_TRUE(bits(two.series, one.series));
    EXPECT_TRUE(bits(two.averaged, one.averaged));
    EXPECT_TRUE(same_bits(two.value, one.value));

    ASSERT_EQ(qn_ecma_binaural(left.data(), right.data(), both.size(), both.data(), both.size()), QN_STATUS_SUCCESS);
    const double combined = reduce(both).value, shallower = reduce(right).value;
    EXPECT_GT(combined, shallower);
    EXPECT_LT(combined, one.value);
}

}  // namespace

// Daniel & Weber roughness: its known behaviour and the literal computation
// of the method (the calibration is a row of cases.md).
#include <gtest/gtest.h>

#include <cmath>
#include <numbers>
#include <vector>

#include "quarnelo.h"
#include "support/dw_literal.h"
#include "support/expect.h"
#include "support/signals.h"

namespace {

std::vector<double> roughness_of(const std::vector<double> &x) {
    uint64_t frames = 0;
    EXPECT_EQ(qn_roughness_frame_count(x.size(), 48000, &frames), QN_STATUS_SUCCESS);
    std::vector<double> r(frames);
    uint64_t written = 0;
    EXPECT_EQ(qn_roughness_dw(x.data(), x.size(), 48000, r.data(), r.size(), &written), QN_STATUS_SUCCESS);
    EXPECT_EQ(written, frames);
    return r;
}

// A carrier of the given level (RMS of the unmodulated carrier),
// sinusoidally amplitude-modulated with depth m.
std::vector<double> am(double carrier_hz, double modulation_hz, double m, double level_db, std::size_t n) {
    const double a = qn_test::rms_for_level(level_db) * std::sqrt(2.0);
    std::vector<double> x(n);
    for (std::size_t i = 0; i < n; ++i) {
        const double t = static_cast<double>(i) / 48000.0;
        x[i] = a * (1.0 + m * std::sin(2 * std::numbers::pi * modulation_hz * t)) *
               std::sin(2 * std::numbers::pi * carrier_hz * t);
    }
    return x;
}

double mean_after_first(const std::vector<double> &r) {
    double s = 0;
    for (std::size_t f = 1; f < r.size(); ++f) s += r[f];
    return s / static_cast<double>(r.size() - 1);
}

}  // namespace

TEST(RoughnessDwReference, SilenceGivesZeros) {
    const auto r = roughness_of(std::vector<double>(30000, 0.0));
    ASSERT_EQ(r.size(), 5u);
    for (double v : r) EXPECT_EQ(v, 0.0);
}

TEST(RoughnessDwReference, ModulationFrequencyAndDepth) {
    // Roughness peaks near 70 Hz modulation and falls towards slow and fast
    // modulation; it grows with the modulation depth; a steady tone is
    // hardly rough.
    const double at70 = mean_after_first(roughness_of(am(1000, 70, 1.0, 60, 24000)));
    const double at10 = mean_after_first(roughness_of(am(1000, 10, 1.0, 60, 24000)));
    const double at300 = mean_after_first(roughness_of(am(1000, 300, 1.0, 60, 24000)));
    EXPECT_GT(at70, 2 * at10);
    EXPECT_GT(at70, 2 * at300);
    const double half = mean_after_first(roughness_of(am(1000, 70, 0.5, 60, 24000)));
    EXPECT_LT(half, at70);
    EXPECT_GT(half, 0.05 * at70);
    const double steady = mean_after_first(roughness_of(am(1000, 70, 0.0, 60, 24000)));
    EXPECT_LT(steady, 0.05);
}

TEST(RoughnessDwReference, LouderIsRougher) {
    const double soft = mean_after_first(roughness_of(am(1000, 70, 1.0, 40, 24000)));
    const double loud = mean_after_first(roughness_of(am(1000, 70, 1.0, 80, 24000)));
    EXPECT_GT(loud, soft);
}

TEST(RoughnessDwReference, EngineAgreesWithTheLiteralMethod) {
    struct Case {
        const char *what;
        std::vector<double> x;
    };
    std::vector<Case> cases;
    cases.push_back({"calibration tone", am(1000, 70, 1.0, 60, 14400)});
    cases.push_back({"low AM tone", am(125, 30, 0.8, 70, 9600)});
    cases.push_back({"high AM tone", am(8000, 90, 1.0, 75, 9600)});
    {
        auto x = qn_test::pink_noise(qn_test::rms_for_level(65), 14400, 7);
        const auto tone = am(2000, 50, 1.0, 60, 14400);
        for (std::size_t i = 0; i < x.size(); ++i) x[i] += tone[i];
        cases.push_back({"tone over pink noise", x});
    }
    cases.push_back({"white noise", qn_test::white_noise(qn_test::rms_for_level(70), 9600, 3)});
    // Neighbouring channels far apart in level, and channels excited by a
    // single line (a constant envelope) beside modulated ones.
    {
        auto x = am(100, 40, 1.0, 100, 9600);
        const auto soft = am(15000, 70, 1.0, 30, 9600);
        for (std::size_t i = 0; i < x.size(); ++i) x[i] += soft[i];
        cases.push_back({"loud low AM tone beside a soft high one", x});
    }
    cases.push_back({"20 Hz tone at 120 dB", am(20, 70, 0.0, 120, 9600)});
    cases.push_back({"steady tone off the bins", am(1003, 70, 0.0, 80, 9600)});
    for (const Case &c : cases) {
        int32_t code = 0;
        const auto literal = qn_test::dw_literal(c.x.data(), static_cast<int32_t>(c.x.size()), &code);
        ASSERT_GT(code, 0) << c.what;
        const auto fast = roughness_of(c.x);
        ASSERT_EQ(fast.size(), literal.size()) << c.what;
        for (std::size_t f = 0; f < fast.size(); ++f) {
            const double tolerance = std::max(1e-9 * std::fabs(literal[f]), 1e-12);
            EXPECT_NEAR(fast[f], literal[f], tolerance) << c.what << ", frame " << f;
        }
    }
}

TEST(RoughnessDwReference, ToneOnABinHasFiveComponents) {
    // 60 dB at exactly 1 kHz (bin 200): the Blackman window's three cosines
    // spread it over bins 198 ... 202 only.
    std::vector<double> x(9600);
    for (int i = 0; i < 9600; ++i) x[i] = std::sqrt(2.0) * 2e-5 * 1000 * std::sin(2 * std::numbers::pi * 1000 * i / 48000.0);
    int32_t code = 0;
    std::vector<qn_test::dw_frame_detail> details;
    qn_test::dw_literal(x.data(), 9600, &code, &details);
    ASSERT_EQ(code, 1);
    const auto &d = details[0];
    ASSERT_EQ(d.components, (std::vector<int>{198, 199, 200, 201, 202}));
    EXPECT_NEAR(d.levels[2], 60.0, 1e-9);
    EXPECT_NEAR(d.levels[1], 60 + 20 * std::log10(0.25 / 0.42), 1e-9);
    EXPECT_NEAR(d.levels[3], 60 + 20 * std::log10(0.25 / 0.42), 1e-9);
    EXPECT_NEAR(d.levels[0], 60 + 20 * std::log10(0.04 / 0.42), 1e-9);
    EXPECT_NEAR(d.levels[4], 60 + 20 * std::log10(0.04 / 0.42), 1e-9);
}

TEST(RoughnessDwReference, CorrelationOfIdenticalAndOppositeEnvelopes) {
    // In a steady AM tone neighbouring channels share their envelope: the
    // correlation of channels two apart around the carrier is near 1, and
    // the product stays non-negative whatever its sign.
    const auto x = am(1000, 70, 1.0, 60, 9600);
    int32_t code = 0;
    std::vector<qn_test::dw_frame_detail> details;
    qn_test::dw_literal(x.data(), 9600, &code, &details);
    ASSERT_EQ(code, 1);
    const auto &d = details[0];
    // Channels 16 and 18 (pair 16) straddle the 8.5 Bark carrier.
    EXPECT_GT(d.correlation[15], 0.95);
    for (double m : d.depth) {
        EXPECT_GE(m, 0.0);
        EXPECT_LE(m, 1.0);
    }
    EXPECT_GE(d.roughness, 0.0);
}

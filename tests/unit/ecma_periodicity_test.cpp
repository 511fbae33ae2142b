// The periodicity spectrum's peak: the pruned search against the full
// 16384-point transform, on windows of every length the tonality uses and
// of every kind an autocorrelation gives (tones, noise, both, clamped at 0,
// constant).
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <vector>

#include "ecma/periodicity.h"
#include "ecma/tonality.h"
#include "fft/fft.h"
#include "support/signals.h"
#include "support/simd_paths.h"

namespace {

// The powers of all 8193 bins of the window less its mean, placed at `first`.
std::vector<double> full_powers(const std::vector<double> &values, uint32_t first) {
    std::vector<double> x(16384, 0.0);
    double mean = 0;
    for (double v : values) mean += v / static_cast<double>(values.size());
    for (std::size_t j = 0; j < values.size(); ++j) x[first + j] = values[j] - mean;
    qn_fft_rplan_ptr plan(qn_fft_rplan_make(16384));
    EXPECT_TRUE(qn_fft_rforward(plan.get(), x.data(), 1.0));
    std::vector<double> p(8193);
    p[0] = x[0] * x[0];
    for (int k = 1; k < 8192; ++k) p[k] = x[2 * k - 1] * x[2 * k - 1] + x[2 * k] * x[2 * k];
    p[8192] = x[16383] * x[16383];
    return p;
}

struct window_case {
    std::string what;
    uint32_t first;
    std::vector<double> values;
};

std::vector<window_case> windows() {
    std::vector<window_case> cases;
    const uint32_t lengths[] = {49, 61, 104, 180, 315, 468, 514, 672, 726, 1045, 2044};
    uint64_t seed = 1;
    for (uint32_t m : lengths) {
        const uint32_t first = m < 500 ? 95 : 283;
        const auto noise = qn_test::white_noise(1.0, m, seed++);
        for (double f : {0.0113, 0.04271, 0.1, 0.2381, 0.4999}) {
            std::vector<double> tone(m), mixed(m), clamped(m);
            for (uint32_t j = 0; j < m; ++j) {
                // A decaying cosine like the normalised autocorrelation of a
                // tone in a band, with noise, and clamped at 0 like it.
                tone[j] = 0.7 * std::cos(2 * M_PI * f * (first + j)) * std::exp(-0.001 * j);
                mixed[j] = tone[j] + 0.3 * noise[j];
                clamped[j] = 0.9 * std::max(std::min(mixed[j], 1.0), 0.0);
            }
            const std::string at = std::to_string(m) + " lags, frequency " + std::to_string(f);
            cases.push_back({"tone, " + at, first, tone});
            cases.push_back({"tone in noise, " + at, first, mixed});
            cases.push_back({"clamped, " + at, first, clamped});
        }
        cases.push_back({"noise, " + std::to_string(m), first, noise});
        std::vector<double> two(m);
        for (uint32_t j = 0; j < m; ++j)
            two[j] = std::cos(2 * M_PI * 0.05 * j) + std::cos(2 * M_PI * 0.3 * j + 1.0);
        cases.push_back({"two equal tones, " + std::to_string(m), first, two});
        cases.push_back({"constant, " + std::to_string(m), first, std::vector<double>(m, 0.25)});
        std::vector<double> spike(m, 0.0);
        spike[m / 2] = 1.0;
        cases.push_back({"one lag, " + std::to_string(m), first, spike});
    }
    return cases;
}

}  // namespace

TEST(EcmaPeriodicity, CoarseGrids) {
    EXPECT_EQ(qn_ecma_periodicity_coarse_length(49), 512u);   // 6 * 48 = 288
    EXPECT_EQ(qn_ecma_periodicity_coarse_length(11), 64u);
    EXPECT_EQ(qn_ecma_periodicity_coarse_length(468), 4096u);  // band 25
    EXPECT_EQ(qn_ecma_periodicity_coarse_length(683), 4096u);  // 6 * 682 = 4092
    EXPECT_EQ(qn_ecma_periodicity_coarse_length(684), 0u);
    EXPECT_EQ(qn_ecma_periodicity_coarse_length(2044), 0u);
}

// The pruned search finds the bin of the full transform, with its power
// within rounding; where two bins' powers lie within rounding of each other
// either may win, and the test says so.
TEST(EcmaPeriodicity, PrunedSearchFindsTheBinOfTheFullTransform) {
    const auto cases = windows();
    for (qn_simd path : qn_test::simd_paths()) {
        qn_ecma_periodicity p{};
        ASSERT_TRUE(qn_ecma_periodicity_init(&p, path));
        int near_ties = 0;
        for (const window_case &c : cases) {
            const auto all = full_powers(c.values, c.first);
            double full_power = 0, power = 0;
            uint32_t full_bin = 0, bin = 0;
            ASSERT_TRUE(qn_ecma_periodicity_peak_full(&p, c.values.data(), c.first,
                                                      static_cast<uint32_t>(c.values.size()), &full_power, &full_bin));
            ASSERT_TRUE(qn_ecma_periodicity_peak(&p, c.values.data(), c.first, static_cast<uint32_t>(c.values.size()),
                                                 &power, &bin));
            EXPECT_EQ(full_power, all[full_bin]) << c.what;
            EXPECT_NEAR(power, full_power, 1e-12 * full_power) << c.what;
            if (bin != full_bin) {
                ++near_ties;
                std::printf("near tie, %s: bins %u and %u, powers %.17g and %.17g\n", c.what.c_str(), bin, full_bin,
                            all[bin], full_power);
                EXPECT_NEAR(all[bin], full_power, 1e-12 * full_power) << c.what;
            }
        }
        EXPECT_LE(near_ties, 2) << qn_simd_name(path);
    }
}

TEST(EcmaPeriodicity, PathsGiveTheSameBits) {
    const auto cases = windows();
    std::vector<std::vector<double>> results;
    for (qn_simd path : qn_test::simd_paths()) {
        qn_ecma_periodicity p{};
        ASSERT_TRUE(qn_ecma_periodicity_init(&p, path));
        std::vector<double> r;
        for (const window_case &c : cases) {
            double power = 0;
            uint32_t bin = 0;
            ASSERT_TRUE(qn_ecma_periodicity_peak(&p, c.values.data(), c.first, static_cast<uint32_t>(c.values.size()),
                                                 &power, &bin));
            r.push_back(power);
            r.push_back(bin);
        }
        results.push_back(r);
    }
    for (std::size_t i = 1; i < results.size(); ++i) EXPECT_EQ(results[i], results[0]);
}

TEST(EcmaPeriodicity, HugeWindowsFailLikeTheFullTransform) {
    std::vector<double> huge(100);
    for (std::size_t j = 0; j < huge.size(); ++j) huge[j] = (j % 2 ? 1e300 : -1e300);
    qn_ecma_periodicity p{};
    ASSERT_TRUE(qn_ecma_periodicity_init(&p, qn_simd_best()));
    double power = 0;
    uint32_t bin = 0;
    EXPECT_FALSE(qn_ecma_periodicity_peak(&p, huge.data(), 95, 100, &power, &bin));
    EXPECT_FALSE(qn_ecma_periodicity_peak_full(&p, huge.data(), 95, 100, &power, &bin));
}

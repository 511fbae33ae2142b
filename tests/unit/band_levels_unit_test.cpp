// The band-level run on every vector path against the plain band-by-band
// filters: every interval and the whole-signal levels, bit for bit.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <vector>

#include "loudness/band_levels.h"
#include "loudness/filter_bank.h"
#include "quarnelo.h"
#include "support/reference_loudness.h"
#include "support/signals.h"
#include "support/simd_paths.h"

namespace {

bool same_bits(double a, double b) { return std::memcmp(&a, &b, sizeof a) == 0; }

}  // namespace

TEST(BandLevels, EveryPathGivesTheScalarIntervalsAndTheStationaryLevels) {
    const auto x = qn_test::busy_with_gap(30001, 3);
    const uint64_t steps[] = {1, 7, 64, 480, 4096, 4800, 10000, 40000};
    for (qn_simd path : qn_test::simd_paths()) {
        double stationary[28];
        ASSERT_EQ(qn_third_octave_levels_with(path, x.data(), x.size(), 0, stationary), QN_STATUS_SUCCESS);
        for (uint64_t step : steps) {
            const auto expected = qn_test::reference_band_level_series(x.data(), x.size(), step);
            qn_band_level_state state;
            qn_band_level_start(&state, step, path);
            std::vector<double> series(expected.size());
            // In uneven runs, so that runs end inside and at the end of intervals.
            uint64_t at = 0, points = 0;
            for (uint64_t len = 1; at < x.size(); len = len * 5 + 3) {
                const uint64_t n = std::min<uint64_t>(len, x.size() - at);
                const uint64_t completes = qn_band_level_points_in(state, n);
                ASSERT_TRUE(qn_band_level_run(&state, x.data() + at, n, series.data() + points * 28));
                points += completes;
                at += n;
            }
            ASSERT_EQ(points, x.size() / step);
            for (std::size_t i = 0; i < series.size(); ++i)
                ASSERT_TRUE(same_bits(series[i], expected[i]))
                    << qn_simd_name(path) << " step " << step << " interval " << i / 28 << " band " << i % 28;
            double whole[28];
            ASSERT_TRUE(qn_band_level_results(state, whole));
            for (int b = 0; b < 28; ++b)
                EXPECT_TRUE(same_bits(whole[b], stationary[b])) << qn_simd_name(path) << " step " << step << " band " << b;
        }
        // A bank whose sums overflow says so.
        qn_band_level_state state;
        qn_band_level_start(&state, 480, path);
        std::vector<double> wild(1000);
        for (std::size_t i = 0; i < wild.size(); ++i) wild[i] = (i % 2 ? 1 : -1) * 1e300;
        EXPECT_FALSE(qn_band_level_run(&state, wild.data(), wild.size(), nullptr)) << qn_simd_name(path);
    }
}

// The weighting filters' design against the analogue curves, the bound the
// sound-level exports rely on, and the block-wise analysis against its plain
// whole-signal version.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <vector>

#include "levels/sound_levels.h"
#include "levels/weighting.h"
#include "quarnelo.h"
#include "support/signals.h"
#include "support/sound_levels_literal.h"

namespace {

// The analogue weightings normalised to 0 dB at 1 kHz.
double analogue_db(qn_weighting w, double f) {
    const auto raw = [w](double hz) {
        const double f_2 = hz * hz, f1 = qn_weighting_f1, f4 = qn_weighting_f4;
        double r = f4 * f4 * f_2 / ((f_2 + f1 * f1) * (f_2 + f4 * f4));
        if (w == qn_weighting::a) r *= f_2 / std::sqrt((f_2 + qn_weighting_f2 * qn_weighting_f2) *
                                                      (f_2 + qn_weighting_f3 * qn_weighting_f3));
        return r;
    };
    return 20 * std::log10(raw(f) / raw(1000));
}

}  // namespace

TEST(WeightingDesign, FollowsTheAnalogueCurvesFrom10HzTo20kHz) {
    const qn_weighting_filters filters = qn_weighting_design();
    for (qn_weighting w : {qn_weighting::a, qn_weighting::c}) {
        EXPECT_NEAR(qn_weighting_magnitude(filters, w, 1000.0), 1.0, 1e-14);
        double worst = 0;
        for (double f = 10; f <= 20000; f *= 1.002)
            worst = std::max(worst, std::fabs(20 * std::log10(qn_weighting_magnitude(filters, w, f)) - analogue_db(w, f)));
        EXPECT_LT(worst, 0.08) << (w == qn_weighting::a ? "A" : "C");
    }
    // The time weightings' feedback is exp(-1 / (tau fs)).
    EXPECT_EQ(qn_sound_level_fast_feedback, std::exp(-1.0 / (0.125 * 48000)));
    EXPECT_EQ(qn_sound_level_slow_feedback, std::exp(-1.0 / 48000));
}

TEST(WeightingDesign, NoSectionAmplifiesBeyondTheSafeBound) {
    // The exports write their series as they go for samples within
    // qn_sound_level_safe_peak, on the grounds that the impulse response up
    // to every section's output sums below 30 in magnitude.
    const qn_weighting_filters f = qn_weighting_design();
    double x1 = 0, s1 = 0, s2_1 = 0, s2_2 = 0, u1 = 0, u2 = 0, s3 = 0, s4 = 0;
    double sums[6] = {};
    for (int n = 0; n < 480000; ++n) {
        const double x = n == 0 ? 1.0 : 0.0;
        const double a = f.f1.pole * s1 + f.f1.gain * (x - x1);
        const double b = f.f1.pole * s2_1 + f.f1.gain * (a - s1);
        const double u = (((f.f4.b0 * b + f.f4.b1 * s2_1) + f.f4.b2 * s2_2) - f.f4.a2 * u2) - f.f4.a1 * u1;
        const double c = f.f2.pole * s3 + f.f2.gain * (u - u1);
        const double d = f.f3.pole * s4 + f.f3.gain * (c - s3);
        x1 = x, s1 = a, s2_2 = s2_1, s2_1 = b, u2 = u1, u1 = u, s3 = c, s4 = d;
        const double outputs[6] = {a, b, u * f.c_gain, c, d, d * f.a_gain};
        for (int k = 0; k < 6; ++k) sums[k] += std::fabs(outputs[k]);
    }
    for (int k = 0; k < 6; ++k) EXPECT_LT(sums[k], 30.0) << "section output " << k;
    EXPECT_EQ(qn_sound_level_safe_peak, 1e100);
}

TEST(SoundLevels, AgreeWithThePlainWholeSignalMethod) {
    const std::size_t lengths[] = {1, 479, 480, 481, 47999, 48000, 48001, 130000};
    for (std::size_t n : lengths) {
        const auto x = qn_test::busy_with_gap(n, n);
        const auto literal = qn_test::sound_levels_literal(x);
        uint64_t points = 0;
        ASSERT_EQ(qn_sound_level_point_count(n, 48000, &points), QN_STATUS_SUCCESS);
        ASSERT_EQ(points, literal.laf.size()) << n;
        std::vector<double> levels(QN_SOUND_LEVELS), laf(points), las(points);
        ASSERT_EQ(qn_sound_levels(x.data(), n, 48000, levels.data(), levels.size(), laf.data(), points, las.data(),
                                  points, &points),
                  QN_STATUS_SUCCESS);
        // The filters and sums agree bit for bit; the level formulas differ
        // in their last digits.
        for (int i = 0; i < QN_SOUND_LEVELS; ++i)
            EXPECT_NEAR(levels[i], literal.levels[i], 1e-10) << n << " samples, level " << i;
        for (uint64_t j = 0; j < points; ++j) {
            EXPECT_NEAR(laf[j], literal.laf[j], 1e-10) << n << " samples, LAF point " << j;
            EXPECT_NEAR(las[j], literal.las[j], 1e-10) << n << " samples, LAS point " << j;
        }
    }
}

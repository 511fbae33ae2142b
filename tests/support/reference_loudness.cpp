#include "support/reference_loudness.h"

#include <cmath>

#include "base/checks.h"
#include "loudness/filter_bank.h"
#include "loudness/loudness.h"
#include "loudness/third_octave_tables.h"

namespace qn_test {

namespace {
using namespace qn_third_octave;

struct band_filter {
    int band;
    double w1[3] = {0, 0, 0}, w2[3] = {0, 0, 0};

    // The general section form with b = (1, 2, 1), (1, 0, -1), (1, -2, 1).
    double step(double x) {
        static constexpr double b[3][3] = {{1, 2, 1}, {1, 0, -1}, {1, -2, 1}};
        double u = bands[band].gain * x;
        for (int s = 0; s < 3; ++s) {
            const double w = u - a1(band, s) * w1[s] - a2(band, s) * w2[s];
            u = b[s][0] * w + b[s][1] * w1[s] + b[s][2] * w2[s];
            w2[s] = w1[s];
            w1[s] = w;
        }
        return u;
    }
};
}  // namespace

std::vector<double> reference_third_octave_levels(const double *x, uint64_t count, uint64_t skip) {
    std::vector<double> levels(28);
    for (int b = 0; b < 28; ++b) {
        band_filter f{b};
        double sum = 0;
        for (uint64_t n = 0; n < count; ++n) {
            const double y = f.step(x[n]);
            if (n >= skip) sum += y * y;
            if (!qn_is_finite(sum)) return {};
        }
        levels[b] = sum / static_cast<double>(count - skip);
    }
    // The level formula is the library's own, checked against the C
    // library elsewhere; the band powers are what this compares.
    qn_levels_of_powers(levels.data(), levels.data());
    return levels;
}

std::vector<double> reference_band_level_series(const double *x, uint64_t count, uint64_t step) {
    const uint64_t intervals = count / step;
    std::vector<double> powers(intervals * 28);
    for (int b = 0; b < 28; ++b) {
        band_filter f{b};
        double sum = 0;
        for (uint64_t n = 0; n < intervals * step; ++n) {
            const double y = f.step(x[n]);
            sum += y * y;
            if ((n + 1) % step == 0) {
                powers[(n / step) * 28 + b] = sum / static_cast<double>(step);
                sum = 0;
            }
        }
    }
    for (uint64_t k = 0; k < intervals; ++k) qn_levels_of_powers(&powers[k * 28], &powers[k * 28]);
    return powers;
}

time_result reference_loudness_time(const double *x, uint64_t count, qn_sound_field field) {
    time_result r;
    const uint64_t frames = (count - 1) / 96 + 1;
    r.loudness.assign(frames, 0.0);
    r.specific.assign(frames * 240, 0.0);

    band_filter filters[28] = {{0},  {1},  {2},  {3},  {4},  {5},  {6},  {7},  {8},  {9},
                               {10}, {11}, {12}, {13}, {14}, {15}, {16}, {17}, {18}, {19},
                               {20}, {21}, {22}, {23}, {24}, {25}, {26}, {27}};
    double a[28], s1[28] = {}, s2[28] = {}, s3[28] = {};
    for (int b = 0; b < 28; ++b) {
        const double fc = std::fmin(1000.0 * std::pow(10.0, (b - 16) / 10.0), 1000.0);
        a[b] = std::exp(-1.0 / (48000.0 * 2.0 / (3.0 * fc)));
    }
    double u[21] = {}, v[21] = {}, previous[21] = {};
    double slow = 0, fast = 0, previous_total = 0;
    auto weight = [&](double in) {
        slow = 0.9997024252365363 * slow + 0.0002975747634637038 * in;
        fast = 0.9940652993697221 * fast + 0.0059347006302779 * in;
    };
    auto fail = [&] {
        r.status = QN_STATUS_NUMERICAL_FAILURE;
        r.loudness.clear();
        r.specific.clear();
        return r;
    };

    for (uint64_t n = 0; n < count; ++n) {
        for (int b = 0; b < 28; ++b) {
            const double y = filters[b].step(x[n]);
            const double y2 = y * y;
            if (!qn_is_finite(y2)) return fail();
            s1[b] = a[b] * s1[b] + (1 - a[b]) * y2;
            s2[b] = a[b] * s2[b] + (1 - a[b]) * s1[b];
            s3[b] = a[b] * s3[b] + (1 - a[b]) * s2[b];
        }
        if (n % 24 != 0) continue;
        double levels[28], core[21], decayed[21], pattern[240];
        qn_levels_of_powers(s3, levels);
        qn_core_loudness(levels, field, core);
        for (int k = 0; k < 21; ++k) {
            if (!qn_is_finite(core[k])) return fail();
            if (n == 0) {
                decayed[k] = qn_loudness_decay_step(&u[k], &v[k], core[k]);
            } else {
                for (int j = 1; j <= 23; ++j)
                    qn_loudness_decay_step(&u[k], &v[k], previous[k] + (j / 24.0) * (core[k] - previous[k]));
                decayed[k] = qn_loudness_decay_step(&u[k], &v[k], core[k]);
            }
            previous[k] = core[k];
        }
        const double total = qn_specific_loudness(decayed, pattern);
        if (n == 0) {
            weight(total);
        } else {
            for (int j = 1; j <= 23; ++j) weight(previous_total + (total - previous_total) * (j / 24.0));
            weight(total);
        }
        if (!qn_is_finite(total) || !qn_is_finite(fast) || !qn_is_finite(slow)) return fail();
        previous_total = total;
        if (n % 96 == 0) {
            const uint64_t f = n / 96;
            r.loudness[f] = 0.53 * slow + 0.47 * fast;
            for (int k = 0; k < 240; ++k) r.specific[f * 240 + k] = pattern[k];
        }
    }
    return r;
}

}  // namespace qn_test

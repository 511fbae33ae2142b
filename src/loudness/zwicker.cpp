// Core loudness and specific-loudness pattern of the Zwicker model.
#include <cmath>

#include "base/axes.h"
#include "base/simd.h"
#include "loudness/loudness.h"
#include "loudness/vector_math.h"
#include "loudness/zwicker_tables.h"

using namespace qn_zwicker;

void qn_core_loudness(const double *levels, qn_sound_field field, double *core) noexcept {
    // The powers of ten and the logarithms go through the vector kernels in
    // three batches; every path gives the same bits, so the fastest is used.
    const qn_simd path = qn_simd_best();

    // Low-frequency correction: each band below 315 Hz is weighted by the
    // row of the level range it falls in; the weight depends on the level
    // because equal-loudness contours flatten as the level rises.
    double intensity[low_band_count];
    for (int i = 0; i < low_band_count; ++i) {
        int j = 0;
        while (j < level_range_count - 1 && levels[i] > range_limit_db[j] - low_weight_db[j][i]) ++j;
        intensity[i] = (levels[i] + low_weight_db[j][i]) * 0.1;
    }
    qn_exp10_n(path, intensity, intensity, low_band_count);

    // The three lowest critical bands gather 6, 3 and 2 third-octave bands.
    double group_db[3] = {
        intensity[0] + intensity[1] + intensity[2] + intensity[3] + intensity[4] + intensity[5],
        intensity[6] + intensity[7] + intensity[8],
        intensity[9] + intensity[10],
    };
    const bool silent[3] = {!(group_db[0] > 0), !(group_db[1] > 0), !(group_db[2] > 0)};
    qn_log10_n(path, group_db, group_db, 3);

    const bool diffuse = field == QN_SOUND_FIELD_DIFFUSE;
    double excitation[level_band_count], power[level_band_count];
    for (int c = 0; c < level_band_count; ++c) {
        double e = c < 3 ? (silent[c] ? -120.0 : 10.0 * group_db[c]) : levels[c + 8];
        e -= transmission_db[c];
        if (diffuse) e += diffuse_db[c];
        excitation[c] = e;
        power[c] = (e - band_correction_db[c] - threshold_db[c]) * 0.1;
    }
    qn_exp10_n(path, power, power, level_band_count);
    for (int c = 0; c < level_band_count; ++c) power[c] = 0.25 * power[c] + 0.75;
    qn_root4_n(path, power, power, level_band_count);
    for (int c = 0; c < level_band_count; ++c) {
        double value = 0;
        if (excitation[c] > threshold_db[c]) {
            value = core_factor[c] * (power[c] - 1.0);
            if (value < 0) value = 0;
        }
        core[c] = value;
    }
    core[level_band_count] = 0;

    // The lowest band is over-estimated at low loudness; this factor tames it.
    const double k = 0.4 + 0.32 * std::pow(core[0], 0.2);
    if (k <= 1) core[0] *= k;
}

namespace {

// The pattern is a chain of segments (z1, n1) -> (z2, n2): flat where a
// band's core loudness lifts it, falling along the level-dependent upper
// flank where it lies below the preceding band. The total integrates the
// segments, so it needs no samples; WithPattern also writes the 240 samples.
template <bool WithPattern>
double specific_loudness(const double *core, double *specific) noexcept {
    constexpr int points = static_cast<int>(qn_bark_point_count);
    double z1 = 0, n1 = 0, total = 0;
    int k = 0;
    for (int c = 0; c < qn_core_band_count; ++c) {
        const double upper = upper_limit_bark[c];
        const int column = c < 1 ? 0 : (c - 1 > 7 ? 7 : c - 1);
        const double value = core[c];
        while (z1 < upper - 1e-12) {
            double z2, n2, start;
            if (value >= n1) {
                z2 = upper;
                n2 = value;
                start = value;
            } else {
                int r = loudness_range_count - 1;
                for (int rr = 0; rr < loudness_range_count - 1; ++rr) {
                    if (n1 > loudness_range[rr] + 1e-12) {
                        r = rr;
                        break;
                    }
                }
                const double slope = upper_slope[r][column];
                const double floor_value = value > loudness_range[r] ? value : loudness_range[r];
                const double z_end = z1 + (n1 - floor_value) / slope;
                if (upper < z_end) {
                    z2 = upper;
                    n2 = n1 - (upper - z1) * slope;
                } else {
                    z2 = z_end;
                    n2 = floor_value;
                }
                start = n1;
            }
            if constexpr (WithPattern) {
                // A point within 1e-10 of the segment end belongs to this segment.
                while (k < points) {
                    const double zk = static_cast<double>(k + 1) * 0.1;
                    if (!(zk <= z2 + 1e-10)) break;
                    const double sample = z2 > z1 ? start + (zk - z1) / (z2 - z1) * (n2 - start) : n2;
                    specific[k] = sample < 0 ? 0 : sample;
                    ++k;
                }
            }
            total += (z2 - z1) * (n2 + start) * 0.5;
            z1 = z2;
            n1 = n2;
        }
    }
    if constexpr (WithPattern) {
        for (; k < points; ++k) specific[k] = 0;
    }
    return total;
}

}  // namespace

double qn_specific_loudness(const double *core, double *specific) noexcept {
    return specific_loudness<true>(core, specific);
}

double qn_total_loudness(const double *core) noexcept { return specific_loudness<false>(core, nullptr); }

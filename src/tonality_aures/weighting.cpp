// SPL excess after Terhardt and the Aures weighting.
#include "tonality_aures/weighting.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "base/checks.h"
#include "tonality_aures/components.h"

namespace {

// 1 / 0.29, as the weighting has always written it.
constexpr double kappa = 3.4482758620689657;

// Threshold in quiet (dB SPL) at v kHz; 130 dB for a frequency of 0 or less.
double threshold_in_quiet(double v) {
    if (!(v > 0)) return 130.0;
    const double d = v - 3.3;
    return 3.64 * std::pow(v, -0.8) - 6.5 * std::exp(-0.6 * (d * d)) + 0.001 * std::pow(v, 4.0);
}

}  // namespace

int32_t qn_aures_spl_excess(const qn_aures_masking &masking, const double *frequency, const double *rate,
                            const double *level, const int32_t *band, int32_t n, double *excess) noexcept {
    for (int32_t i = 0; i < n; ++i) {
        const double zi = rate[i];
        const double lo = zi - 0.5, hi = zi + 0.5;

        // Residual noise in the component's critical band, without the
        // component's own bins.
        int32_t first = 0, last = -1;
        qn_aures_rate_run(masking.rate, masking.count, masking.rate_rises, lo, hi, &first, &last);
        double noise = 0;
        for (int32_t j = first; j <= last; ++j) {
            if (!(lo <= masking.rate[j] && masking.rate[j] <= hi)) continue;
            if (band[i] >= 0 && j >= band[i] - 2 && j <= band[i] + 2) continue;
            noise += masking.power[j];
        }

        // The other components, as amplitudes: those before it in the list
        // along their upper slope (level dependent), those after it along
        // the lower slope of 27 dB per Bark.
        double below = 1e-99;
        for (int32_t j = 0; j < i; ++j) {
            const double slope = 24.0 + 230.0 / frequency[j] - 0.2 * level[j];
            below += std::pow(10.0, (level[j] - (zi - rate[j]) * slope) / 20.0);
        }
        double above = 1e-99;
        for (int32_t j = i + 1; j < n; ++j) above += std::pow(10.0, (level[j] - 27.0 * (rate[j] - zi)) / 20.0);

        const double quiet = std::pow(10.0, threshold_in_quiet(frequency[i] / 1000.0) / 10.0);
        const double amplitude = below + above;
        const double masking_power = n == 1 ? noise + quiet : noise + amplitude * amplitude + quiet;
        const double d = level[i] - 10.0 * std::log10(masking_power);
        if (!qn_is_finite(d)) return qn_aures_step_failed;
        excess[i] = std::max(d, 0.0);
    }
    return 0;
}

double qn_aures_tonal_weight(const double *frequency, const double *bandwidth, const double *excess,
                             const double *window_bandwidth, int32_t n) noexcept {
    const double nan = std::numeric_limits<double>::quiet_NaN();
    double sum = 0;
    for (int32_t i = 0; i < n; ++i) {
        const double f = frequency[i], B = bandwidth[i], dL = excess[i], Bw = window_bandwidth[i];
        if (!qn_is_finite(f) || !qn_is_finite(B) || !qn_is_finite(dL) || Bw < 0 || !qn_is_finite(Bw)) return nan;
        if (f <= 0 || B <= 0 || dL <= 0) continue;

        // Only the bandwidth beyond the window's own widens the component.
        const double h = 0.5 * std::sqrt(std::max(B * B - Bw * Bw, 0.0));
        const double dz = qn_aures_bark(f + h) - qn_aures_bark(f - h);
        const double w1 = 0.13 / (dz + 0.13);
        const double g = f / 700.0 + 700.0 / f;
        const double w2 = 1.0 / std::sqrt(1.0 + 0.2 * (g * g));
        const double w3 = 1.0 - std::exp(dL / -15.0);
        const double r2 = std::pow(w2, 0.29), r3 = std::pow(w3, 0.29);
        if (!qn_is_finite(w1) || !qn_is_finite(r2) || !qn_is_finite(r3) || w1 < 0 || r2 < 0 || r3 < 0) return nan;
        const double term = std::pow(r2, kappa) * std::pow(r3, kappa) * std::pow(w1, kappa);
        sum += term * term;
    }
    return std::sqrt(sum);
}

double qn_aures_loudness_weight(double frame_loudness, double residual_loudness) noexcept {
    return frame_loudness > 1e-99 ? 1.0 - residual_loudness / frame_loudness : 0.0;
}

double qn_aures_tonality(double tonal_weight, double loudness_weight) noexcept {
    return 1.1055 * std::pow(tonal_weight, 0.29) * std::pow(loudness_weight, 0.79);
}

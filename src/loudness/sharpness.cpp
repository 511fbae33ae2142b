// Sharpness of a specific-loudness pattern after DIN 45692, von Bismarck,
// Fastl and Aures: the same weighted first moment of the pattern over the
// critical-band rate, with each one's weighting of the high bands.
#include <cmath>

#include "base/axes.h"
#include "base/checks.h"

namespace {

// The weighting g(z) at z Bark. Aures' weighting also depends on the
// pattern's loudness, through `aures_factor` = N / ln(0.05 N + 1).
double weighting(qn_sharpness_weighting which, double z, double aures_factor) {
    switch (which) {
    case QN_SHARPNESS_BISMARCK: return z <= 15.0 ? 1.0 : 0.2 * std::exp(0.308 * (z - 15.0)) + 0.8;
    // Not continuous at 16 Bark: 0.066 exp(0.171 * 16) is 1.018.
    case QN_SHARPNESS_FASTL: return z <= 16.0 ? 1.0 : 0.066 * std::exp(0.171 * z);
    case QN_SHARPNESS_AURES: return 0.078 * std::exp(0.171 * z) / z * aures_factor;
    default: return z <= 15.8 ? 1.0 : 0.85 + 0.15 * std::exp(0.42 * (z - 15.8));
    }
}

qn_status weighted_sharpness(const double *specific, uint64_t count, qn_sharpness_weighting which, double *sharpness) {
    if (specific == nullptr || sharpness == nullptr) return QN_STATUS_NULL_POINTER;
    if (count != qn_bark_point_count) return QN_STATUS_INVALID_ARGUMENT;
    if (static_cast<uint32_t>(which) > QN_SHARPNESS_AURES) return QN_STATUS_INVALID_ARGUMENT;
    double peak = 0, sum = 0;
    for (std::size_t k = 0; k < qn_bark_point_count; ++k) {
        const double v = specific[k];
        if (!qn_is_finite(v)) return QN_STATUS_NON_FINITE_INPUT;
        if (v < 0) return QN_STATUS_INVALID_ARGUMENT;
        if (v > peak) peak = v;
        sum += v;
    }
    if (peak == 0) {
        *sharpness = 0;
        return QN_STATUS_SUCCESS;
    }
    // The pattern's loudness, N = 0.1 sum N', integrated as the moments below
    // are. N / ln(0.05 N + 1) tends to 20 as N falls: below 2e-14 sone it is
    // 20 to the last digit, and taking it so keeps a pattern whose loudness
    // underflows from dividing 0 by 0.
    double aures_factor = 0;
    if (which == QN_SHARPNESS_AURES) {
        const double loudness = 0.1 * sum;
        aures_factor = loudness < 2e-14 ? 20.0 : loudness / std::log1p(0.05 * loudness);
    }

    // Dividing by the peak keeps both sums between 1 and 240 whatever the
    // scale of the pattern; the factor cancels, as does the 0.1 Bark width.
    double numerator = 0, denominator = 0;
    for (int k = 1; k <= static_cast<int>(qn_bark_point_count); ++k) {
        const double z = k * 0.1;
        const double w = specific[k - 1] / peak;
        // The weighting lifts the contribution of the highest bands.
        const double g = weighting(which, z, aures_factor);
        denominator += w;
        numerator += z * (w * g);
    }
    if (denominator <= 0) return QN_STATUS_NUMERICAL_FAILURE;
    const double s = (numerator * 0.11) / denominator;
    if (s < 0 || !qn_is_finite(s)) return QN_STATUS_NUMERICAL_FAILURE;
    *sharpness = s;
    return QN_STATUS_SUCCESS;
}

}  // namespace

extern "C" {

QN_API qn_status qn_sharpness_din(const double *specific, uint64_t count, double *sharpness) {
    return weighted_sharpness(specific, count, QN_SHARPNESS_DIN, sharpness);
}

QN_API qn_status qn_sharpness(const double *specific, uint64_t count, qn_sharpness_weighting weighting,
                              double *sharpness) {
    return weighted_sharpness(specific, count, weighting, sharpness);
}

}  // extern "C"

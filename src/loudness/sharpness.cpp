// Sharpness after DIN 45692 of a specific-loudness pattern.
#include <cmath>

#include "base/axes.h"
#include "base/checks.h"

extern "C" QN_API qn_status qn_sharpness_din(const double *specific, uint64_t count, double *sharpness) {
    if (specific == nullptr || sharpness == nullptr) return QN_STATUS_NULL_POINTER;
    if (count != qn_bark_point_count) return QN_STATUS_INVALID_ARGUMENT;
    double peak = 0;
    for (std::size_t k = 0; k < qn_bark_point_count; ++k) {
        const double v = specific[k];
        if (!qn_is_finite(v)) return QN_STATUS_NON_FINITE_INPUT;
        if (v < 0) return QN_STATUS_INVALID_ARGUMENT;
        if (v > peak) peak = v;
    }
    if (peak == 0) {
        *sharpness = 0;
        return QN_STATUS_SUCCESS;
    }

    // Dividing by the peak keeps both sums between 1 and 240 whatever the
    // scale of the pattern; the factor cancels, as does the 0.1 Bark width.
    double numerator = 0, denominator = 0;
    for (int k = 1; k <= static_cast<int>(qn_bark_point_count); ++k) {
        const double z = k * 0.1;
        const double w = specific[k - 1] / peak;
        // The weighting lifts the contribution of the highest bands.
        const double g = z <= 15.8 ? 1.0 : 0.85 + 0.15 * std::exp(0.42 * (z - 15.8));
        denominator += w;
        numerator += z * (w * g);
    }
    if (denominator <= 0) return QN_STATUS_NUMERICAL_FAILURE;
    const double s = (numerator * 0.11) / denominator;
    if (s < 0 || !qn_is_finite(s)) return QN_STATUS_NUMERICAL_FAILURE;
    *sharpness = s;
    return QN_STATUS_SUCCESS;
}

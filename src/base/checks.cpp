#include "base/checks.h"

qn_status qn_check_signal(const double *samples, uint64_t count, int32_t sample_rate,
                          double *peak) noexcept {
    if (samples == nullptr) return QN_STATUS_NULL_POINTER;
    if (count == 0) return QN_STATUS_INPUT_TOO_SHORT;
    if (sample_rate != QN_SAMPLE_RATE) return QN_STATUS_INVALID_SAMPLE_RATE;
    if (count > qn_max_count) return QN_STATUS_SIZE_OVERFLOW;
    double largest = 0;
    if (!qn_samples_peak(samples, count, &largest)) return QN_STATUS_NON_FINITE_INPUT;
    if (peak != nullptr) *peak = largest;
    return QN_STATUS_SUCCESS;
}

bool qn_samples_peak(const double *samples, uint64_t count, double *peak) noexcept {
    // Scanned in order so that the answer is the same whatever the length;
    // the fabs-compare loop vectorises, and a NaN fails the compare.
    double largest = 0;
    for (uint64_t i = 0; i < count; ++i) {
        const double magnitude = std::fabs(samples[i]);
        if (!(magnitude <= DBL_MAX)) return false;
        largest = magnitude > largest ? magnitude : largest;
    }
    *peak = largest;
    return true;
}

#include "base/checks.h"

qn_status qn_check_signal(const double *samples, uint64_t count, int32_t sample_rate,
                          double *peak) noexcept {
    if (samples == nullptr) return QN_STATUS_NULL_POINTER;
    if (count == 0) return QN_STATUS_INPUT_TOO_SHORT;
    if (sample_rate != QN_SAMPLE_RATE) return QN_STATUS_INVALID_SAMPLE_RATE;
    if (count > qn_max_count) return QN_STATUS_SIZE_OVERFLOW;
    // Scanned in order so that the status is the same whatever the length;
    // the fabs-compare loop vectorises, and a NaN fails the compare.
    double largest = 0;
    for (uint64_t i = 0; i < count; ++i) {
        const double magnitude = std::fabs(samples[i]);
        if (!(magnitude <= DBL_MAX)) return QN_STATUS_NON_FINITE_INPUT;
        largest = magnitude > largest ? magnitude : largest;
    }
    if (peak != nullptr) *peak = largest;
    return QN_STATUS_SUCCESS;
}

#include "framed/framed.h"

#include <cstring>

#include "base/alloc.h"
#include "base/checks.h"

qn_status qn_framed_geometry(const qn_framed_metric &metric, uint64_t sample_count, int32_t sample_rate,
                             uint64_t *frame_count) noexcept {
    if (sample_rate != QN_SAMPLE_RATE) return QN_STATUS_INVALID_SAMPLE_RATE;
    if (sample_count > qn_framed_max_samples) return QN_STATUS_SIZE_OVERFLOW;
    if (sample_count < metric.length) return QN_STATUS_INPUT_TOO_SHORT;
    // Within the bound, n - length fits 32 bits.
    *frame_count = static_cast<uint32_t>(sample_count - metric.length) / metric.hop + 1;
    return QN_STATUS_SUCCESS;
}

qn_status qn_framed_frame_count(const qn_framed_metric &metric, uint64_t sample_count, int32_t sample_rate,
                                uint64_t *frame_count) noexcept {
    if (frame_count == nullptr) return QN_STATUS_NULL_POINTER;
    return qn_framed_geometry(metric, sample_count, sample_rate, frame_count);
}

qn_status qn_framed_analysis(const qn_framed_metric &metric, const double *samples, uint64_t sample_count,
                             int32_t sample_rate, qn_sound_field field, double *out, uint64_t capacity,
                             uint64_t *frame_count) noexcept {
    if (samples == nullptr || out == nullptr || frame_count == nullptr) return QN_STATUS_NULL_POINTER;
    uint64_t count = 0;
    const qn_status geometry = qn_framed_geometry(metric, sample_count, sample_rate, &count);
    if (geometry != QN_STATUS_SUCCESS) return geometry;
    if (metric.takes_sound_field && !qn_check_sound_field(field)) return QN_STATUS_INVALID_SOUND_FIELD;
    if (count > capacity) {
        // The only failure that writes: a caller may pass capacity 0 to learn the size.
        *frame_count = count;
        return QN_STATUS_OUTPUT_TOO_SMALL;
    }
    // The series is copied out after the last sample is read, so it may lie
    // over the samples, as may the frame count; but the count is written
    // after the series and would overwrite a value of it.
    if (qn_overlaps(out, count, frame_count, 1)) return QN_STATUS_INVALID_ARGUMENT;
    const qn_status signal = qn_check_signal(samples, sample_count, sample_rate);
    if (signal != QN_STATUS_SUCCESS) return signal;
    uint64_t bytes = 0;
    if (!qn_mul_size(count, sizeof(double), &bytes)) return QN_STATUS_SIZE_OVERFLOW;
    qn_heap_array<double> scratch = qn_alloc_array<double>(count);
    if (scratch == nullptr) return QN_STATUS_ALLOCATION_FAILED;

    const qn_status run = metric.run(samples, static_cast<int32_t>(sample_count),
                                     metric.takes_sound_field ? field : QN_SOUND_FIELD_FREE, scratch.get(),
                                     static_cast<int32_t>(count));
    if (run != QN_STATUS_SUCCESS) return run;
    for (uint64_t k = 0; k < count; ++k) {
        if (!qn_is_finite(scratch[k]) || scratch[k] < 0) return QN_STATUS_NUMERICAL_FAILURE;
    }
    std::memcpy(out, scratch.get(), static_cast<std::size_t>(bytes));
    *frame_count = count;
    return QN_STATUS_SUCCESS;
}

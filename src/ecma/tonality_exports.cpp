// The exports of ECMA-418-2 tonality: the frame count and the analysis,
// with their checks in order.
#include "ecma/tonality.h"
#include "frame/checks.h"

extern "C" {

QN_API qn_status qn_ecma_tonal_frame_count(uint64_t sample_count, int32_t sample_rate, uint64_t *frame_count) {
    if (frame_count == nullptr) return QN_STATUS_NULL_POINTER;
    *frame_count = 0;
    if (sample_rate != QN_SAMPLE_RATE) return QN_STATUS_INVALID_SAMPLE_RATE;
    if (sample_count < qn_ecma_tonal_min_samples) return QN_STATUS_INPUT_TOO_SHORT;
    if (sample_count > qn_ecma_tonal_max_samples) return QN_STATUS_SIZE_OVERFLOW;
    *frame_count = qn_ecma_tonal_frames(sample_count);
    return QN_STATUS_SUCCESS;
}

QN_API qn_status qn_ecma_tonal_analysis(const double *samples, uint64_t sample_count, int32_t sample_rate,
                                        qn_sound_field field, double *out, uint64_t capacity,
                                        uint64_t *frame_count) {
    if (frame_count == nullptr) return QN_STATUS_NULL_POINTER;
    *frame_count = 0;
    if (sample_rate != QN_SAMPLE_RATE) return QN_STATUS_INVALID_SAMPLE_RATE;
    if (!qn_check_sound_field(field)) return QN_STATUS_INVALID_SOUND_FIELD;
    if (out == nullptr) return QN_STATUS_NULL_POINTER;
    if (sample_count < qn_ecma_tonal_min_samples) return QN_STATUS_INPUT_TOO_SHORT;
    if (sample_count > qn_ecma_tonal_max_samples) return QN_STATUS_SIZE_OVERFLOW;
    const uint64_t frames = qn_ecma_tonal_frames(sample_count);
    // From here on the frame count keeps V, so that a caller can size the
    // array and call again, and knows the layout of partial results.
    *frame_count = frames;
    if (capacity / qn_ecma_tonal_values_per_frame < frames) return QN_STATUS_OUTPUT_TOO_SMALL;
    return qn_ecma_tonal_run(samples, sample_count, field, out, frames);
}

}  // extern "C"

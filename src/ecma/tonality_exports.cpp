// The exports of ECMA-418-2 tonality: the frame count and the analysis,
// with their checks in order.
#include "ecma/tonality.h"
#include "ecma/exports_common.h"

namespace {

uint64_t tonal_frames(uint64_t n) { return qn_ecma_tonal_frames(n); }

constexpr qn_ecma_geometry tonality_geometry = {qn_ecma_tonal_min_samples, qn_ecma_tonal_max_samples,
                                                qn_ecma_tonal_values_per_frame, tonal_frames};

}  // namespace

extern "C" {

QN_API qn_status qn_ecma_tonal_frame_count(uint64_t sample_count, int32_t sample_rate, uint64_t *frame_count) {
    return qn_ecma_frame_count(tonality_geometry, sample_count, sample_rate, frame_count);
}

QN_API qn_status qn_ecma_tonal_analysis(const double *samples, uint64_t sample_count, int32_t sample_rate,
                                        qn_sound_field field, double *out, uint64_t capacity,
                                        uint64_t *frame_count) {
    uint64_t frames = 0;
    const qn_status checked = qn_ecma_analysis_checks(tonality_geometry, sample_count, sample_rate, field, out,
                                                      capacity, frame_count, &frames);
    if (checked != QN_STATUS_SUCCESS) return checked;
    const qn_status arrays = qn_ecma_array_checks(tonality_geometry, samples, sample_count, out, frames, frame_count);
    if (arrays != QN_STATUS_SUCCESS) return arrays;
    return qn_ecma_tonal_run(samples, sample_count, field, out, frames);
}

}  // extern "C"

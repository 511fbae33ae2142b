// qn_ecma_fluctuation_frame_count and qn_fluctuation_ecma: the checks in
// their documented order, then the engine.
#include "ecma/exports_common.h"
#include "ecma/fluctuation.h"

namespace {

uint64_t fluct_frames(uint64_t n) { return qn_ecma_fluct_frames(n); }

constexpr qn_ecma_geometry fluctuation_geometry = {qn_ecma_fluct_min_samples, qn_ecma_fluct_max_samples, 53,
                                                   fluct_frames};

}  // namespace

extern "C" {

QN_API qn_status qn_ecma_fluctuation_frame_count(uint64_t sample_count, int32_t sample_rate, uint64_t *frame_count) {
    return qn_ecma_frame_count(fluctuation_geometry, sample_count, sample_rate, frame_count);
}

QN_API qn_status qn_fluctuation_ecma(const double *samples, uint64_t sample_count, int32_t sample_rate,
                                     qn_sound_field sound_field, double *out, uint64_t capacity,
                                     uint64_t *frame_count) {
    uint64_t frames = 0;
    const qn_status checked = qn_ecma_analysis_checks(fluctuation_geometry, sample_count, sample_rate, sound_field,
                                                      out, capacity, frame_count, &frames);
    if (checked != QN_STATUS_SUCCESS) return checked;
    // The output is written while the samples are still being read.
    if (qn_overlaps(out, 53 * frames, samples, sample_count)) return QN_STATUS_INVALID_ARGUMENT;
    return qn_ecma_fluct_run(samples, sample_count, sound_field, out);
}

}  // extern "C"

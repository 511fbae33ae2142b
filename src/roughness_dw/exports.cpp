// The exports of Daniel & Weber roughness: its frame geometry and engine as
// a metric of the framed-analysis driver.
#include "framed/framed.h"
#include "roughness_dw/dw_engine.h"

namespace {

qn_status run_roughness(const double *samples, int32_t n, qn_sound_field, double *out, int32_t frames) noexcept {
    int32_t frames_after = frames;
    const int32_t result = qn_roughness_dw_core(samples, n, out, &frames_after, 48000.0);
    if (result == qn_dw_allocation_failed) return QN_STATUS_ALLOCATION_FAILED;
    return qn_framed_engine_status(result, frames_after, frames);
}

// 200 ms frames, 100 ms apart; no sound field.
constexpr qn_framed_metric roughness_metric = {QN_ROUGHNESS_DW_FRAME_LENGTH, QN_ROUGHNESS_DW_HOP, false, run_roughness};

}  // namespace

extern "C" {

QN_API qn_status qn_roughness_frame_count(uint64_t sample_count, int32_t sample_rate, uint64_t *frame_count) {
    return qn_framed_frame_count(roughness_metric, sample_count, sample_rate, frame_count);
}

QN_API qn_status qn_roughness_dw(const double *samples, uint64_t sample_count, int32_t sample_rate, double *out,
                                 uint64_t capacity, uint64_t *frame_count) {
    return qn_framed_analysis(roughness_metric, samples, sample_count, sample_rate, QN_SOUND_FIELD_FREE, out,
                              capacity, frame_count);
}

}  // extern "C"

// The exports of Aures tonality: its frame geometry and engine as a metric
// of the framed-analysis driver.
#include "tonality_aures/exports.h"

#include "framed/framed.h"
#include "tonality_aures/engine.h"

qn_status qn_tonality_aures_status(int32_t result, int32_t frames_after, int32_t frames) noexcept {
    if (result == qn_aures_allocation_failed || result == qn_aures_plan_failed) return QN_STATUS_ALLOCATION_FAILED;
    return qn_framed_engine_status(result, frames_after, frames);
}

namespace {

qn_status run_tonality(const double *samples, int32_t n, qn_sound_field field, double *out, int32_t frames) noexcept {
    int32_t frames_after = frames;
    const int32_t result =
        qn_tonality_aures_core(samples, n, static_cast<uint32_t>(field), out, qn_aures_sample_rate, &frames_after);
    return qn_tonality_aures_status(result, frames_after, frames);
}

// 250 ms frames, 125 ms apart; the sound field goes to the loudness model.
constexpr qn_framed_metric tonality_metric = {qn_aures_frame_length, qn_aures_hop, true, run_tonality};

}  // namespace

extern "C" {

QN_API qn_status qn_tonality_frame_count(uint64_t sample_count, int32_t sample_rate, uint64_t *frame_count) {
    return qn_framed_frame_count(tonality_metric, sample_count, sample_rate, frame_count);
}

QN_API qn_status qn_tonality_aures(const double *samples, uint64_t sample_count, int32_t sample_rate,
                                   qn_sound_field field, double *out, uint64_t capacity, uint64_t *frame_count) {
    return qn_framed_analysis(tonality_metric, samples, sample_count, sample_rate, field, out, capacity,
                              frame_count);
}

}  // extern "C"

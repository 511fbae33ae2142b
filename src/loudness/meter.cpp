// The loudness meter: the time-varying method run block by block on a
// caller-owned handle, with the power sums of the stationary method beside
// it. A meter holds only the method's running state (a few kilobytes);
// each block's frames go straight to the caller, so its memory does not
// grow with what has been added.
#include <cstring>

#include "base/alloc.h"
#include "base/axes.h"
#include "base/checks.h"
#include "loudness/filter_bank.h"
#include "loudness/loudness_time.h"

struct qn_loudness_meter {
    qn_loudness_time_state state;
};

extern "C" {

QN_API qn_status qn_loudness_meter_create(int32_t sample_rate, qn_sound_field field, qn_loudness_meter **meter) {
    if (meter == nullptr) return QN_STATUS_NULL_POINTER;
    *meter = nullptr;
    if (sample_rate != QN_SAMPLE_RATE) return QN_STATUS_INVALID_SAMPLE_RATE;
    if (!qn_check_sound_field(field)) return QN_STATUS_INVALID_SOUND_FIELD;
    qn_object_ptr<qn_loudness_meter> made = qn_make_object<qn_loudness_meter>();
    if (made == nullptr) return QN_STATUS_ALLOCATION_FAILED;
    qn_loudness_time_start(&made->state, field, qn_simd_best(), true);
    *meter = made.release();
    return QN_STATUS_SUCCESS;
}

QN_API void qn_loudness_meter_destroy(qn_loudness_meter *meter) { qn_free_object(meter); }

QN_API qn_status qn_loudness_meter_frame_count(const qn_loudness_meter *meter, uint64_t sample_count,
                                               uint64_t *frame_count) {
    if (meter == nullptr || frame_count == nullptr) return QN_STATUS_NULL_POINTER;
    if (sample_count > qn_max_count - meter->state.samples) return QN_STATUS_SIZE_OVERFLOW;
    *frame_count = qn_loudness_time_frames_in(meter->state, sample_count);
    return QN_STATUS_SUCCESS;
}

QN_API qn_status qn_loudness_meter_add(qn_loudness_meter *meter, const double *samples, uint64_t sample_count,
                                       double *loudness, uint64_t loudness_capacity, double *specific,
                                       uint64_t specific_capacity, uint64_t *frame_count) {
    if (meter == nullptr || frame_count == nullptr) return QN_STATUS_NULL_POINTER;
    *frame_count = 0;
    if (samples == nullptr && sample_count != 0) return QN_STATUS_NULL_POINTER;
    // Everything added stays below 2^60 samples, like any signal.
    if (sample_count > qn_max_count - meter->state.samples) return QN_STATUS_SIZE_OVERFLOW;
    const uint64_t frames = qn_loudness_time_frames_in(meter->state, sample_count);
    uint64_t specific_values = 0;
    if (!qn_mul_size(frames, qn_bark_point_count, &specific_values)) return QN_STATUS_SIZE_OVERFLOW;
    if (loudness_capacity < frames || (specific != nullptr && specific_capacity < specific_values)) {
        *frame_count = frames;
        return QN_STATUS_OUTPUT_TOO_SMALL;
    }
    if (loudness == nullptr && frames != 0) return QN_STATUS_NULL_POINTER;
    // Frames go to the caller as the block runs, ahead of samples not yet
    // read: no array may share memory with another.
    if (qn_any_overlap({{samples, sample_count},
                        {loudness, frames},
                        {specific, specific == nullptr ? 0 : specific_values},
                        {frame_count, 1}}))
        return QN_STATUS_INVALID_ARGUMENT;
    for (uint64_t i = 0; i < sample_count; ++i) {
        if (!qn_is_finite(samples[i])) return QN_STATUS_NON_FINITE_INPUT;
    }
    if (sample_count == 0) return QN_STATUS_SUCCESS;

    // A numerical failure halfway leaves the meter as it was before the block.
    const qn_loudness_time_state before = meter->state;
    if (!qn_loudness_time_run(&meter->state, samples, sample_count, loudness, specific)) {
        meter->state = before;
        return QN_STATUS_NUMERICAL_FAILURE;
    }
    *frame_count = frames;
    return QN_STATUS_SUCCESS;
}

QN_API qn_status qn_loudness_meter_stationary(const qn_loudness_meter *meter, double *loudness, double *specific,
                                              uint64_t specific_capacity) {
    if (meter == nullptr || loudness == nullptr) return QN_STATUS_NULL_POINTER;
    if (specific == nullptr ? specific_capacity != 0 : specific_capacity < qn_bark_point_count)
        return QN_STATUS_OUTPUT_TOO_SMALL;
    if (qn_loudness_outputs_overlap(loudness, specific)) return QN_STATUS_INVALID_ARGUMENT;
    if (meter->state.samples < 256) return QN_STATUS_INPUT_TOO_SHORT;
    double levels[qn_third_octave_band_count];
    if (!qn_levels_of_power_sums(meter->state.bank.power, meter->state.samples, levels))
        return QN_STATUS_NUMERICAL_FAILURE;
    return qn_loudness_from_levels(levels, qn_third_octave_band_count, meter->state.field, loudness, specific,
                                   specific_capacity);
}

}  // extern "C"

// The sound-level exports: the analysis of a whole signal and the meter. Both
// run qn_sound_level_run, the meter block by block on its handle, so their
// results agree bit for bit.
#include <algorithm>
#include <cmath>

#include "base/alloc.h"
#include "base/checks.h"
#include "levels/sound_levels.h"

struct qn_sound_level_meter {
    qn_sound_level_state state;
    double peak = 0;  // the largest |sample| added so far
};

namespace {

// Every computing export's shortest signal and size bound, in the order of
// the checks: rate, size, empty signal.
qn_status sound_level_geometry(uint64_t sample_count, int32_t sample_rate, uint64_t *points) {
    if (sample_rate != QN_SAMPLE_RATE) return QN_STATUS_INVALID_SAMPLE_RATE;
    if (sample_count > qn_max_count) return QN_STATUS_SIZE_OVERFLOW;
    if (sample_count == 0) return QN_STATUS_INPUT_TOO_SHORT;
    *points = (sample_count - 1) / qn_sound_level_step;
    return QN_STATUS_SUCCESS;
}

// True when the series run into the samples, into the levels or into each
// other, over the parts that would be written.
bool outputs_overlap(const double *samples, uint64_t count, const double *levels, uint64_t level_count,
                     const double *laf, const double *las, uint64_t points) {
    const uint64_t laf_count = laf == nullptr ? 0 : points, las_count = las == nullptr ? 0 : points;
    return qn_overlaps(samples, count, levels, level_count) || qn_overlaps(samples, count, laf, laf_count) ||
           qn_overlaps(samples, count, las, las_count) || qn_overlaps(levels, level_count, laf, laf_count) ||
           qn_overlaps(levels, level_count, las, las_count) || qn_overlaps(laf, laf_count, las, las_count);
}

// Runs finite samples on with nothing written on failure. A run whose
// samples, and all samples run before it, lie within the peak that cannot
// fail goes straight on; otherwise a first run on a copy of the state finds
// out, so that the series are written only by a run that succeeds.
bool run_checked(qn_sound_level_state *state, const double *x, uint64_t count, double peak, double *laf,
                 double *las) {
    if (peak > qn_sound_level_safe_peak) {
        qn_sound_level_state trial = *state;
        if (!qn_sound_level_run(&trial, x, count, nullptr, nullptr)) return false;
    }
    return qn_sound_level_run(state, x, count, laf, las);
}

}  // namespace

extern "C" {

QN_API qn_status qn_sound_level_point_count(uint64_t sample_count, int32_t sample_rate, uint64_t *point_count) {
    if (point_count == nullptr) return QN_STATUS_NULL_POINTER;
    return sound_level_geometry(sample_count, sample_rate, point_count);
}

QN_API qn_status qn_sound_levels(const double *samples, uint64_t sample_count, int32_t sample_rate, double *levels,
                                 uint64_t levels_capacity, double *laf, uint64_t laf_capacity, double *las,
                                 uint64_t las_capacity, uint64_t *point_count) {
    if (point_count == nullptr) return QN_STATUS_NULL_POINTER;
    *point_count = 0;
    uint64_t points = 0;
    const qn_status geometry = sound_level_geometry(sample_count, sample_rate, &points);
    if (geometry != QN_STATUS_SUCCESS) return geometry;
    if (levels == nullptr) return QN_STATUS_NULL_POINTER;
    if (levels_capacity < QN_SOUND_LEVELS || (laf != nullptr && laf_capacity < points) ||
        (las != nullptr && las_capacity < points)) {
        *point_count = points;
        return QN_STATUS_OUTPUT_TOO_SMALL;
    }
    if (outputs_overlap(samples, sample_count, levels, QN_SOUND_LEVELS, laf, las, points))
        return QN_STATUS_INVALID_ARGUMENT;
    double peak = 0;
    const qn_status signal = qn_check_signal(samples, sample_count, sample_rate, &peak);
    if (signal != QN_STATUS_SUCCESS) return signal;

    qn_sound_level_state state;
    qn_sound_level_start(&state);
    if (!run_checked(&state, samples, sample_count, peak, laf, las)) return QN_STATUS_NUMERICAL_FAILURE;
    qn_sound_level_results(state, levels);
    *point_count = points;
    return QN_STATUS_SUCCESS;
}

QN_API qn_status qn_sound_level_meter_create(int32_t sample_rate, qn_sound_level_meter **meter) {
    if (meter == nullptr) return QN_STATUS_NULL_POINTER;
    *meter = nullptr;
    if (sample_rate != QN_SAMPLE_RATE) return QN_STATUS_INVALID_SAMPLE_RATE;
    qn_object_ptr<qn_sound_level_meter> made = qn_make_object<qn_sound_level_meter>();
    if (made == nullptr) return QN_STATUS_ALLOCATION_FAILED;
    qn_sound_level_start(&made->state);
    *meter = made.release();
    return QN_STATUS_SUCCESS;
}

QN_API void qn_sound_level_meter_destroy(qn_sound_level_meter *meter) { qn_free_object(meter); }

QN_API qn_status qn_sound_level_meter_point_count(const qn_sound_level_meter *meter, uint64_t sample_count,
                                                  uint64_t *point_count) {
    if (meter == nullptr || point_count == nullptr) return QN_STATUS_NULL_POINTER;
    if (sample_count > qn_max_count - meter->state.samples) return QN_STATUS_SIZE_OVERFLOW;
    *point_count = qn_sound_level_points_in(meter->state, sample_count);
    return QN_STATUS_SUCCESS;
}

QN_API qn_status qn_sound_level_meter_add(qn_sound_level_meter *meter, const double *samples, uint64_t sample_count,
                                          double *laf, uint64_t laf_capacity, double *las, uint64_t las_capacity,
                                          uint64_t *point_count) {
    if (meter == nullptr || point_count == nullptr) return QN_STATUS_NULL_POINTER;
    *point_count = 0;
    if (samples == nullptr && sample_count != 0) return QN_STATUS_NULL_POINTER;
    // Everything added stays below 2^60 samples, like any signal.
    if (sample_count > qn_max_count - meter->state.samples) return QN_STATUS_SIZE_OVERFLOW;
    const uint64_t points = qn_sound_level_points_in(meter->state, sample_count);
    if ((laf != nullptr && laf_capacity < points) || (las != nullptr && las_capacity < points)) {
        *point_count = points;
        return QN_STATUS_OUTPUT_TOO_SMALL;
    }
    if (outputs_overlap(samples, sample_count, nullptr, 0, laf, las, points)) return QN_STATUS_INVALID_ARGUMENT;
    double peak = 0;
    if (!qn_samples_peak(samples, sample_count, &peak)) return QN_STATUS_NON_FINITE_INPUT;
    if (sample_count == 0) return QN_STATUS_SUCCESS;
    peak = std::max(peak, meter->peak);
    if (!run_checked(&meter->state, samples, sample_count, peak, laf, las)) return QN_STATUS_NUMERICAL_FAILURE;
    meter->peak = peak;
    *point_count = points;
    return QN_STATUS_SUCCESS;
}

QN_API qn_status qn_sound_level_meter_levels(const qn_sound_level_meter *meter, double *levels,
                                             uint64_t levels_capacity) {
    if (meter == nullptr || levels == nullptr) return QN_STATUS_NULL_POINTER;
    if (levels_capacity < QN_SOUND_LEVELS) return QN_STATUS_OUTPUT_TOO_SMALL;
    if (meter->state.samples == 0) return QN_STATUS_INPUT_TOO_SHORT;
    qn_sound_level_results(meter->state, levels);
    return QN_STATUS_SUCCESS;
}

}  // extern "C"

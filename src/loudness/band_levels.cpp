// Third-octave band levels: the filter bank of the stationary loudness run
// on over blocks, with the power sums from sample 0 (the stationary
// method's levels) and the power of every whole interval of the caller's
// step. The one-call analysis and the meter both run qn_band_level_run.
#include "loudness/band_levels.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "base/alloc.h"
#include "base/axes.h"
#include "base/checks.h"
#include "loudness/loudness_time.h"

void qn_band_level_start(qn_band_level_state *state, uint64_t step, qn_simd path) noexcept {
    *state = qn_band_level_state{};
    std::memset(&state->bank, 0, sizeof state->bank);
    state->step = step;
    state->path = path;
}

uint64_t qn_band_level_points_in(const qn_band_level_state &state, uint64_t count) noexcept {
    return (state.samples + count) / state.step - state.samples / state.step;
}

bool qn_band_level_run(qn_band_level_state *state, const double *x, uint64_t count, double *series) noexcept {
    qn_band_level_state &s = *state;
    uint64_t done = 0, points = 0;
    while (done < count) {
        const uint64_t len = std::min(s.step - s.samples % s.step, count - done);
        if (!qn_band_power_run_with(s.path, &s.bank, x + done, static_cast<std::size_t>(len))) return false;
        done += len;
        s.samples += len;
        if (s.samples % s.step != 0) break;  // the run ends inside an interval
        double levels[qn_third_octave_band_count];
        if (!qn_levels_of_power_sums(s.bank.interval, s.step, levels)) return false;
        if (series != nullptr) std::memcpy(series + points * qn_third_octave_band_count, levels, sizeof levels);
        std::memset(s.bank.interval, 0, sizeof s.bank.interval);
        ++points;
    }
    return true;
}

bool qn_band_level_results(const qn_band_level_state &state, double *levels) noexcept {
    return qn_levels_of_power_sums(state.bank.total, state.samples, levels);
}

struct qn_band_level_meter {
    qn_band_level_state state;
    double peak = 0;  // the largest |sample| added so far
};

namespace {

// The checks the point count and the analysis share, in their order: rate,
// step, size bound, shortest signal.
qn_status band_level_geometry(uint64_t sample_count, int32_t sample_rate, uint64_t step, uint64_t *points) {
    if (sample_rate != QN_SAMPLE_RATE) return QN_STATUS_INVALID_SAMPLE_RATE;
    if (step == 0 || step > qn_max_count) return QN_STATUS_INVALID_ARGUMENT;
    if (sample_count > qn_max_count) return QN_STATUS_SIZE_OVERFLOW;
    if (sample_count < QN_LOUDNESS_MIN_SAMPLES) return QN_STATUS_INPUT_TOO_SHORT;
    *points = sample_count / step;
    return QN_STATUS_SUCCESS;
}

// Runs finite samples on with nothing written on failure. Samples that, with
// all samples run before them, lie within the peak that cannot fail go
// straight on; otherwise a first run on a copy of the state finds out, so
// that the series is written only by a run that succeeds.
bool run_checked(qn_band_level_state *state, const double *x, uint64_t count, double peak, double *series) {
    if (peak > qn_loudness_time_safe_peak) {
        qn_band_level_state trial = *state;
        if (!qn_band_level_run(&trial, x, count, nullptr)) return false;
    }
    return qn_band_level_run(state, x, count, series);
}

}  // namespace

extern "C" {

QN_API qn_status qn_band_level_point_count(uint64_t sample_count, int32_t sample_rate, uint64_t step,
                                           uint64_t *point_count) {
    if (point_count == nullptr) return QN_STATUS_NULL_POINTER;
    return band_level_geometry(sample_count, sample_rate, step, point_count);
}

QN_API qn_status qn_band_levels(const double *samples, uint64_t sample_count, int32_t sample_rate, uint64_t step,
                                double *levels, uint64_t levels_capacity, double *series, uint64_t series_capacity,
                                uint64_t *point_count) {
    if (point_count == nullptr) return QN_STATUS_NULL_POINTER;
    *point_count = 0;
    uint64_t points = 0, series_values = 0;
    const qn_status geometry = band_level_geometry(sample_count, sample_rate, step, &points);
    if (geometry != QN_STATUS_SUCCESS) return geometry;
    if (levels == nullptr) return QN_STATUS_NULL_POINTER;
    if (!qn_mul_size(points, qn_third_octave_band_count, &series_values)) return QN_STATUS_SIZE_OVERFLOW;
    if (levels_capacity < qn_third_octave_band_count || (series != nullptr && series_capacity < series_values)) {
        *point_count = points;
        return QN_STATUS_OUTPUT_TOO_SMALL;
    }
    const uint64_t written = series == nullptr ? 0 : series_values;
    if (qn_overlaps(samples, sample_count, levels, qn_third_octave_band_count) ||
        qn_overlaps(samples, sample_count, series, written) ||
        qn_overlaps(levels, qn_third_octave_band_count, series, written))
        return QN_STATUS_INVALID_ARGUMENT;
    double peak = 0;
    const qn_status signal = qn_check_signal(samples, sample_count, sample_rate, &peak);
    if (signal != QN_STATUS_SUCCESS) return signal;

    qn_band_level_state state;
    qn_band_level_start(&state, step, qn_simd_best());
    double whole[qn_third_octave_band_count];
    if (!run_checked(&state, samples, sample_count, peak, series) || !qn_band_level_results(state, whole))
        return QN_STATUS_NUMERICAL_FAILURE;  // cannot happen: the run's sums are finite
    std::memcpy(levels, whole, sizeof whole);
    *point_count = points;
    return QN_STATUS_SUCCESS;
}

QN_API qn_status qn_band_level_meter_create(int32_t sample_rate, uint64_t step, qn_band_level_meter **meter) {
    if (meter == nullptr) return QN_STATUS_NULL_POINTER;
    *meter = nullptr;
    if (sample_rate != QN_SAMPLE_RATE) return QN_STATUS_INVALID_SAMPLE_RATE;
    if (step == 0 || step > qn_max_count) return QN_STATUS_INVALID_ARGUMENT;
    qn_object_ptr<qn_band_level_meter> made = qn_make_object<qn_band_level_meter>();
    if (made == nullptr) return QN_STATUS_ALLOCATION_FAILED;
    qn_band_level_start(&made->state, step, qn_simd_best());
    *meter = made.release();
    return QN_STATUS_SUCCESS;
}

QN_API void qn_band_level_meter_destroy(qn_band_level_meter *meter) { qn_free_object(meter); }

QN_API qn_status qn_band_level_meter_point_count(const qn_band_level_meter *meter, uint64_t sample_count,
                                                 uint64_t *point_count) {
    if (meter == nullptr || point_count == nullptr) return QN_STATUS_NULL_POINTER;
    if (sample_count > qn_max_count - meter->state.samples) return QN_STATUS_SIZE_OVERFLOW;
    *point_count = qn_band_level_points_in(meter->state, sample_count);
    return QN_STATUS_SUCCESS;
}

QN_API qn_status qn_band_level_meter_add(qn_band_level_meter *meter, const double *samples, uint64_t sample_count,
                                         double *series, uint64_t series_capacity, uint64_t *point_count) {
    if (meter == nullptr || point_count == nullptr) return QN_STATUS_NULL_POINTER;
    *point_count = 0;
    if (samples == nullptr && sample_count != 0) return QN_STATUS_NULL_POINTER;
    // Everything added stays below 2^60 samples, like any signal.
    if (sample_count > qn_max_count - meter->state.samples) return QN_STATUS_SIZE_OVERFLOW;
    const uint64_t points = qn_band_level_points_in(meter->state, sample_count);
    uint64_t series_values = 0;
    if (!qn_mul_size(points, qn_third_octave_band_count, &series_values)) return QN_STATUS_SIZE_OVERFLOW;
    if (series != nullptr && series_capacity < series_values) {
        *point_count = points;
        return QN_STATUS_OUTPUT_TOO_SMALL;
    }
    if (qn_overlaps(samples, sample_count, series, series == nullptr ? 0 : series_values))
        return QN_STATUS_INVALID_ARGUMENT;
    double peak = 0;
    if (!qn_samples_peak(samples, sample_count, &peak)) return QN_STATUS_NON_FINITE_INPUT;
    if (sample_count == 0) return QN_STATUS_SUCCESS;
    peak = std::max(peak, meter->peak);
    if (!run_checked(&meter->state, samples, sample_count, peak, series)) return QN_STATUS_NUMERICAL_FAILURE;
    meter->peak = peak;
    *point_count = points;
    return QN_STATUS_SUCCESS;
}

QN_API qn_status qn_band_level_meter_levels(const qn_band_level_meter *meter, double *levels,
                                            uint64_t levels_capacity) {
    if (meter == nullptr || levels == nullptr) return QN_STATUS_NULL_POINTER;
    if (levels_capacity < qn_third_octave_band_count) return QN_STATUS_OUTPUT_TOO_SMALL;
    if (meter->state.samples < QN_LOUDNESS_MIN_SAMPLES) return QN_STATUS_INPUT_TOO_SHORT;
    double whole[qn_third_octave_band_count];
    if (!qn_band_level_results(meter->state, whole)) return QN_STATUS_NUMERICAL_FAILURE;  // cannot happen
    std::memcpy(levels, whole, sizeof whole);
    return QN_STATUS_SUCCESS;
}

}  // extern "C"

// The reductions over bands and time as exports: in one call, from a kept
// series, and piece by piece on an accumulator. Each checks in its
// documented order, then runs the running sums of aggregate.h, so that the
// three give the same bits.
#include "base/alloc.h"
#include "base/checks.h"
#include "ecma/aggregate.h"

struct qn_ecma_accumulator {
    qn_ecma_sums sums;
};

namespace {

constexpr uint64_t bands = qn_ecma_aggregate_bands;

// Frames of 53 values whose count stays below 2^60 values.
constexpr uint64_t max_frames = qn_max_count / bands;

}  // namespace

extern "C" {

QN_API qn_status qn_ecma_aggregate(qn_ecma_metric metric, const double *specific, uint64_t frame_count,
                                   double *series, uint64_t series_capacity, double *averaged,
                                   uint64_t averaged_capacity, double *value) {
    if (specific == nullptr || series == nullptr || averaged == nullptr || value == nullptr)
        return QN_STATUS_NULL_POINTER;
    qn_ecma_rule rule{};
    if (!qn_ecma_rule_of(metric, &rule)) return QN_STATUS_INVALID_ARGUMENT;
    if (frame_count > max_frames) return QN_STATUS_SIZE_OVERFLOW;
    if (frame_count <= rule.first_frame) return QN_STATUS_INPUT_TOO_SHORT;
    if (series_capacity < frame_count || averaged_capacity < bands) return QN_STATUS_OUTPUT_TOO_SMALL;
    const uint64_t values = frame_count * bands;
    if (qn_overlaps(series, frame_count, specific, values) || qn_overlaps(averaged, bands, specific, values) ||
        qn_overlaps(value, 1, specific, values) || qn_overlaps(series, frame_count, averaged, bands) ||
        qn_overlaps(series, frame_count, value, 1) || qn_overlaps(averaged, bands, value, 1))
        return QN_STATUS_INVALID_ARGUMENT;
    const qn_status checked = qn_ecma_check_values(specific, values);
    if (checked != QN_STATUS_SUCCESS) return checked;

    return qn_ecma_reduce(rule, specific, frame_count, series, averaged, value) ? QN_STATUS_SUCCESS
                                                                               : QN_STATUS_NUMERICAL_FAILURE;
}

QN_API qn_status qn_ecma_single_value(qn_ecma_metric metric, const double *series, uint64_t frame_count,
                                      double *value) {
    if (series == nullptr || value == nullptr) return QN_STATUS_NULL_POINTER;
    qn_ecma_rule rule{};
    if (!qn_ecma_rule_of(metric, &rule)) return QN_STATUS_INVALID_ARGUMENT;
    if (frame_count > qn_max_count) return QN_STATUS_SIZE_OVERFLOW;
    if (frame_count <= rule.first_frame) return QN_STATUS_INPUT_TOO_SHORT;
    if (qn_overlaps(value, 1, series, frame_count)) return QN_STATUS_INVALID_ARGUMENT;
    const qn_status checked = qn_ecma_check_values(series, frame_count);
    if (checked != QN_STATUS_SUCCESS) return checked;
    const double single = qn_ecma_series_single_value(rule, series, frame_count);
    if (!qn_is_finite(single)) return QN_STATUS_NUMERICAL_FAILURE;
    *value = single;
    return QN_STATUS_SUCCESS;
}

QN_API qn_status qn_ecma_accumulator_create(qn_ecma_metric metric, qn_ecma_accumulator **accumulator) {
    if (accumulator == nullptr) return QN_STATUS_NULL_POINTER;
    *accumulator = nullptr;
    qn_ecma_rule rule{};
    if (!qn_ecma_rule_of(metric, &rule)) return QN_STATUS_INVALID_ARGUMENT;
    qn_object_ptr<qn_ecma_accumulator> made = qn_make_object<qn_ecma_accumulator>();
    if (made == nullptr) return QN_STATUS_ALLOCATION_FAILED;
    qn_ecma_sums_start(&made->sums, rule);
    *accumulator = made.release();
    return QN_STATUS_SUCCESS;
}

QN_API void qn_ecma_accumulator_destroy(qn_ecma_accumulator *accumulator) { qn_free_object(accumulator); }

QN_API qn_status qn_ecma_accumulator_add(qn_ecma_accumulator *accumulator, const double *specific,
                                         uint64_t frame_count, double *series, uint64_t series_capacity) {
    if (accumulator == nullptr) return QN_STATUS_NULL_POINTER;
    if (specific == nullptr && frame_count != 0) return QN_STATUS_NULL_POINTER;
    // All frames added stay below 2^60, like any count of the library.
    if (frame_count > max_frames || frame_count > qn_max_count - accumulator->sums.frames)
        return QN_STATUS_SIZE_OVERFLOW;
    if (series == nullptr ? series_capacity != 0 : series_capacity < frame_count)
        return QN_STATUS_OUTPUT_TOO_SMALL;
    const uint64_t values = frame_count * bands;
    if (qn_overlaps(series, frame_count, specific, values)) return QN_STATUS_INVALID_ARGUMENT;
    const qn_status checked = qn_ecma_check_values(specific, values);
    if (checked != QN_STATUS_SUCCESS) return checked;

    // The sums change only when the whole piece has been added.
    qn_ecma_sums sums = accumulator->sums;
    if (!qn_ecma_sums_add(&sums, specific, frame_count)) return QN_STATUS_NUMERICAL_FAILURE;
    accumulator->sums = sums;
    if (series != nullptr) qn_ecma_frame_values(specific, frame_count, series);
    return QN_STATUS_SUCCESS;
}

QN_API qn_status qn_ecma_accumulator_result(const qn_ecma_accumulator *accumulator, double *averaged,
                                            uint64_t averaged_capacity, double *value) {
    if (accumulator == nullptr || averaged == nullptr) return QN_STATUS_NULL_POINTER;
    if (averaged_capacity < bands) return QN_STATUS_OUTPUT_TOO_SMALL;
    const qn_ecma_sums &sums = accumulator->sums;
    if (value != nullptr && (!sums.rule.power_mean || qn_overlaps(value, 1, averaged, bands)))
        return QN_STATUS_INVALID_ARGUMENT;
    if (sums.frames <= sums.rule.first_frame) return QN_STATUS_INPUT_TOO_SHORT;
    qn_ecma_sums_result(sums, averaged, value);
    return QN_STATUS_SUCCESS;
}

}  // extern "C"

// How the hearing model's loudness, roughness and fluctuation strength
// reduce their specific values (frames x 53 bands) to a time-dependent
// value per frame, averaged specific values per band and a single value:
// the rules of each metric, written once, and the running sums that let a
// caller feed the frames in any pieces with memory that does not grow with
// their number. The one-call exports run the same sums, so every way of
// computing gives the same bits.
#ifndef QN_ECMA_AGGREGATE_H
#define QN_ECMA_AGGREGATE_H

#include <cstdint>

#include "quarnelo.h"

inline constexpr int qn_ecma_aggregate_bands = QN_ECMA_BANDS;

// Loudness is averaged as a power mean of exponent 1 / log10(2): the mean
// of N'^p, then its root, the power log10(2).
inline constexpr double qn_ecma_loudness_power = 3.321928094887362;  // 1 / log10(2)
inline constexpr double qn_ecma_loudness_root = 0.3010299956639812;  // log10(2)

// The percentile of the roughness and fluctuation single values.
inline constexpr double qn_ecma_single_value_fraction = 0.9;

struct qn_ecma_rule {
    uint64_t first_frame;  // the first frame of the averages
    bool power_mean;       // loudness; else arithmetic means and a percentile
};

// The rule of one metric flag; false for anything but loudness, roughness
// and fluctuation strength alone.
bool qn_ecma_rule_of(qn_ecma_metric metric, qn_ecma_rule *rule) noexcept;

// Finite and not negative, from index 0 on: QN_STATUS_SUCCESS, else the
// status of the first value that is not.
qn_status qn_ecma_check_values(const double *values, uint64_t count) noexcept;

// The running sums of one metric over the frames added so far.
struct qn_ecma_sums {
    qn_ecma_rule rule;
    uint64_t frames;                      // frames added
    double band[qn_ecma_aggregate_bands]; // sum over averaged frames of X' (or X'^p)
    double total;                         // sum over averaged frames of X(l)^p (loudness)
};

void qn_ecma_sums_start(qn_ecma_sums *sums, qn_ecma_rule rule) noexcept;

// The time-dependent value of one frame: half the sum of its 53 values,
// added in band order.
double qn_ecma_frame_value(const double *frame) noexcept;

// The time-dependent values of `frames` frames into `series`.
void qn_ecma_frame_values(const double *specific, uint64_t frames, double *series) noexcept;

// Adds `frames` frames of checked values (53 each, frame-major). False when
// a sum, a power or a time-dependent value is not finite; the sums are then
// unusable and the caller keeps its copy of them instead.
bool qn_ecma_sums_add(qn_ecma_sums *sums, const double *specific, uint64_t frames) noexcept;

// The averaged specific values (53) and, for loudness, the single value
// (`value` may be null). Needs more frames than the rule's first frame.
void qn_ecma_sums_result(const qn_ecma_sums &sums, double *averaged, double *value) noexcept;

// All three results of `frames` frames of checked values in one pass of
// the running sums: their time-dependent values into `series`, the
// averaged specific values (53) and the single value. False, with nothing
// written, when a sum or a power is not finite; nothing fails after that.
bool qn_ecma_reduce(qn_ecma_rule rule, const double *specific, uint64_t frames, double *series, double *averaged,
                    double *value) noexcept;

// The single value of a series of checked time-dependent values, frame 0
// first, with more frames than the rule's first frame: the power mean or
// the percentile from the first frame on. NaN when a power sum overflows.
double qn_ecma_series_single_value(qn_ecma_rule rule, const double *series, uint64_t frames) noexcept;

// The `fraction` quantile of `count` (>= 1) finite values that are not
// negative, by linear interpolation between order statistics: with the
// values sorted ascending x_0 ... x_(count-1), h = fraction (count - 1) and
// i = floor(h), x_i + (h - i) (x_(i+1) - x_i) (x_i for the last i). The
// values are read, not moved: each order statistic is found by eight
// passes over them, a byte of its bit pattern at a time.
double qn_ecma_percentile(const double *values, uint64_t count, double fraction) noexcept;

#endif

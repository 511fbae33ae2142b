// The reductions of the hearing model's specific values over bands and
// time: rules, running sums and the percentile.
#include "ecma/aggregate.h"

#include <cmath>
#include <cstring>

#include "base/checks.h"

namespace {

constexpr int bands = qn_ecma_aggregate_bands;

// The bit pattern of a value that is not negative: for such doubles the
// patterns, read as unsigned integers, are in the order of the values.
// Adding 0.0 turns -0.0 into +0.0, so that the two zeros are one value.
inline uint64_t order_key(double x) {
    const double positive = x + 0.0;
    uint64_t key = 0;
    std::memcpy(&key, &positive, sizeof key);
    return key;
}

inline double of_key(uint64_t key) {
    double x = 0;
    std::memcpy(&x, &key, sizeof x);
    return x;
}

// The k-th smallest (from 0) of `count` values that are not negative, by
// selection on the bit patterns, most significant byte first: each pass
// counts the values that share the bytes chosen so far by their next byte
// and picks the byte under which the k-th lies. No copy, no reordering.
double kth_smallest(const double *values, uint64_t count, uint64_t k) {
    uint64_t prefix = 0, mask = 0;
    for (int shift = 56; shift >= 0; shift -= 8) {
        uint64_t histogram[256] = {};
        for (uint64_t i = 0; i < count; ++i) {
            const uint64_t key = order_key(values[i]);
            if ((key & mask) == prefix) ++histogram[(key >> shift) & 255u];
        }
        uint64_t digit = 0;
        while (k >= histogram[digit]) k -= histogram[digit++];
        prefix |= digit << shift;
        mask |= uint64_t{255} << shift;
    }
    return of_key(prefix);
}

}  // namespace

bool qn_ecma_rule_of(qn_ecma_metric metric, qn_ecma_rule *rule) noexcept {
    switch (metric) {
    case QN_ECMA_LOUDNESS: *rule = {QN_ECMA_LOUDNESS_FIRST_FRAME, true}; return true;
    case QN_ECMA_ROUGHNESS: *rule = {QN_ECMA_ROUGHNESS_FIRST_FRAME, false}; return true;
    case QN_ECMA_FLUCTUATION: *rule = {QN_ECMA_FLUCTUATION_FIRST_FRAME, false}; return true;
    default: return false;
    }
}

qn_status qn_ecma_check_values(const double *values, uint64_t count) noexcept {
    for (uint64_t i = 0; i < count; ++i) {
        if (!qn_is_finite(values[i])) return QN_STATUS_NON_FINITE_INPUT;
        if (values[i] < 0) return QN_STATUS_INVALID_ARGUMENT;
    }
    return QN_STATUS_SUCCESS;
}

void qn_ecma_sums_start(qn_ecma_sums *sums, qn_ecma_rule rule) noexcept {
    sums->rule = rule;
    sums->frames = 0;
    for (double &b : sums->band) b = 0;
    sums->total = 0;
}

double qn_ecma_frame_value(const double *frame) noexcept {
    double sum = 0;
    for (int b = 0; b < bands; ++b) sum += frame[b];
    return 0.5 * sum;
}

void qn_ecma_frame_values(const double *specific, uint64_t frames, double *series) noexcept {
    for (uint64_t k = 0; k < frames; ++k) series[k] = qn_ecma_frame_value(specific + bands * k);
}

bool qn_ecma_sums_add(qn_ecma_sums *sums, const double *specific, uint64_t frames) noexcept {
    for (uint64_t k = 0; k < frames; ++k, ++sums->frames) {
        const double *frame = specific + bands * k;
        const double value = qn_ecma_frame_value(frame);
        if (!qn_is_finite(value)) return false;
        if (sums->frames < sums->rule.first_frame) continue;
        if (sums->rule.power_mean) {
            for (int b = 0; b < bands; ++b) sums->band[b] += std::pow(frame[b], qn_ecma_loudness_power);
            sums->total += std::pow(value, qn_ecma_loudness_power);
        } else {
            for (int b = 0; b < bands; ++b) sums->band[b] += frame[b];
        }
    }
    // Every term is finite and not negative, so a sum that overflowed is
    // infinite from then on.
    for (double b : sums->band)
        if (!qn_is_finite(b)) return false;
    return qn_is_finite(sums->total);
}

void qn_ecma_sums_result(const qn_ecma_sums &sums, double *averaged, double *value) noexcept {
    const auto frames = static_cast<double>(sums.frames - sums.rule.first_frame);
    for (int b = 0; b < bands; ++b) {
        const double mean = sums.band[b] / frames;
        averaged[b] = sums.rule.power_mean ? std::pow(mean, qn_ecma_loudness_root) : mean;
    }
    if (value != nullptr && sums.rule.power_mean) *value = std::pow(sums.total / frames, qn_ecma_loudness_root);
}

bool qn_ecma_reduce(qn_ecma_rule rule, const double *specific, uint64_t frames, double *series, double *averaged,
                    double *value) noexcept {
    qn_ecma_sums sums;
    qn_ecma_sums_start(&sums, rule);
    if (!qn_ecma_sums_add(&sums, specific, frames)) return false;
    // Every frame's value is finite now, and so is a percentile or a power
    // mean of finite values.
    qn_ecma_sums_result(sums, averaged, value);
    qn_ecma_frame_values(specific, frames, series);
    if (!rule.power_mean) *value = qn_ecma_series_single_value(rule, series, frames);
    return true;
}

double qn_ecma_series_single_value(qn_ecma_rule rule, const double *series, uint64_t frames) noexcept {
    const double *averaged = series + rule.first_frame;
    const uint64_t count = frames - rule.first_frame;
    if (!rule.power_mean) return qn_ecma_percentile(averaged, count, qn_ecma_single_value_fraction);
    // The sum in frame order, as the running sums add it.
    double total = 0;
    for (uint64_t l = 0; l < count; ++l) total += std::pow(averaged[l], qn_ecma_loudness_power);
    if (!qn_is_finite(total)) return NAN;
    return std::pow(total / static_cast<double>(count), qn_ecma_loudness_root);
}

double qn_ecma_percentile(const double *values, uint64_t count, double fraction) noexcept {
    const double h = fraction * static_cast<double>(count - 1);
    const double below = std::floor(h);
    const auto i = static_cast<uint64_t>(below);
    const double low = kth_smallest(values, count, i);
    if (i + 1 >= count) return low;
    const double high = kth_smallest(values, count, i + 1);
    return low + (h - below) * (high - low);
}

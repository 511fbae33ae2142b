// The C interface: version, statuses, options, the metric table and the
// statistics.
#include <algorithm>
#include <cmath>
#include <cstring>
#include <memory>
#include <span>

#include "api_support.h"
#include "metrics.h"
#include "options.h"
#include "statistics.h"

namespace qnf {

void write_why(char *why, uint64_t capacity, const std::string &text) noexcept {
    if (why == nullptr || capacity == 0) return;
    const std::size_t n = text.size() < capacity - 1 ? text.size() : static_cast<std::size_t>(capacity - 1);
    std::memcpy(why, text.data(), n);
    why[n] = '\0';
}

}  // namespace qnf

using namespace qnf;

namespace {

// The single values of each metric with its own percentiles: the names
// qnf_metric_quantity hands out, made once.
const std::vector<std::vector<quantity_name>> &default_quantities() {
    static const std::vector<std::vector<quantity_name>> table = [] {
        std::vector<std::vector<quantity_name>> t;
        for (const metric &m : metric_table()) t.push_back(quoted_names(m, m.statistics.default_percentiles));
        return t;
    }();
    return table;
}

uint64_t default_quantity_count(const metric &m) {
    // As quoted_names() counts them: a loudness is followed by its level.
    uint64_t n = 0;
    for (const quantity &q : m.quantities)
        n += (q.kind == statistic::percentiles ? m.statistics.default_percentiles.size() : 1) * (q.with_level ? 2 : 1);
    return n;
}

}  // namespace

extern "C" {

QNF_API int32_t qnf_abi_version(void) { return QNF_ABI_VERSION; }

QNF_API const char *qnf_version_string(void) { return QUARNELO_FILES_VERSION; }

QNF_API const char *qnf_status_string(qnf_status status) {
    switch (status) {
    case QNF_STATUS_INVALID_OPTION: return "invalid option";
    case QNF_STATUS_UNREADABLE: return "the file cannot be read";
    case QNF_STATUS_TRUNCATED: return "the file is truncated";
    case QNF_STATUS_UNSUPPORTED: return "the audio is not supported";
    case QNF_STATUS_MEMORY_LIMIT: return "more memory needed than allowed";
    default: return qn_status_string(status);
    }
}

QNF_API qnf_status qnf_options_create(qnf_options **options) {
    if (options == nullptr) return QN_STATUS_NULL_POINTER;
    *options = nullptr;
    try {
        *options = new qnf_options();
        return QN_STATUS_SUCCESS;
    } catch (...) {
        return QN_STATUS_ALLOCATION_FAILED;
    }
}

QNF_API void qnf_options_destroy(qnf_options *options) { delete options; }

QNF_API qnf_status qnf_options_set(qnf_options *options, const char *name, const char *value, char *why,
                                   uint64_t why_capacity) {
    return guarded(why, why_capacity, [&](std::string &error) -> qnf_status {
        if (options == nullptr || name == nullptr || value == nullptr) return QN_STATUS_NULL_POINTER;
        return set_option(*options, name, value, error);
    });
}

QNF_API uint64_t qnf_options_quantity_count(const qnf_options *options, uint64_t index) {
    if (options == nullptr || index >= options->quantities.size()) return 0;
    return options->quantities[static_cast<std::size_t>(index)].size();
}

QNF_API qnf_status qnf_options_quantity(const qnf_options *options, uint64_t index, uint64_t quantity,
                                        const char **name, const char **unit) {
    if (options == nullptr || name == nullptr || unit == nullptr) return QN_STATUS_NULL_POINTER;
    if (index >= options->quantities.size() ||
        quantity >= options->quantities[static_cast<std::size_t>(index)].size())
        return QN_STATUS_INVALID_ARGUMENT;
    const quantity_name &q = options->quantities[static_cast<std::size_t>(index)][static_cast<std::size_t>(quantity)];
    *name = q.name.c_str();
    *unit = q.unit.c_str();
    return QN_STATUS_SUCCESS;
}

QNF_API uint64_t qnf_metric_count(void) { return metric_table().size(); }

QNF_API qnf_status qnf_metric_describe(uint64_t index, qnf_metric_info *info) {
    if (info == nullptr) return QN_STATUS_NULL_POINTER;
    const auto &table = metric_table();
    if (index >= table.size()) return QN_STATUS_INVALID_ARGUMENT;
    const metric &m = table[static_cast<std::size_t>(index)];
    *info = {m.name,        m.description, m.title, m.min_samples,          m.frame_length,
             m.hop,         m.first_time,  m.uses_field ? 1 : 0, default_quantity_count(m), m.series.size(),
             m.in_default_set ? 1 : 0};
    return QN_STATUS_SUCCESS;
}

QNF_API qnf_status qnf_metric_quantity(uint64_t index, uint64_t quantity, const char **name, const char **unit) {
    if (name == nullptr || unit == nullptr) return QN_STATUS_NULL_POINTER;
    const auto &metrics = metric_table();
    if (index >= metrics.size() || quantity >= default_quantity_count(metrics[static_cast<std::size_t>(index)]))
        return QN_STATUS_INVALID_ARGUMENT;
    try {
        const quantity_name &q = default_quantities()[static_cast<std::size_t>(index)][static_cast<std::size_t>(quantity)];
        *name = q.name.c_str();
        *unit = q.unit.c_str();
        return QN_STATUS_SUCCESS;
    } catch (...) {
        return QN_STATUS_ALLOCATION_FAILED;
    }
}

QNF_API qnf_status qnf_metric_series_info(uint64_t index, uint64_t series, const char **name, const char **unit,
                                          const char **axes) {
    if (name == nullptr || unit == nullptr || axes == nullptr) return QN_STATUS_NULL_POINTER;
    const auto &table = metric_table();
    if (index >= table.size() || series >= table[static_cast<std::size_t>(index)].series.size())
        return QN_STATUS_INVALID_ARGUMENT;
    const series_info &s = table[static_cast<std::size_t>(index)].series[static_cast<std::size_t>(series)];
    *name = s.name;
    *unit = s.unit;
    *axes = s.axes;
    return QN_STATUS_SUCCESS;
}

QNF_API qnf_status qnf_frame_statistics(const double *values, const double *loudness, uint64_t count,
                                        const double *percents, uint64_t percent_count, double *out,
                                        uint64_t out_capacity) {
    if ((values == nullptr && count > 0) || (percents == nullptr && percent_count > 0) || out == nullptr)
        return QN_STATUS_NULL_POINTER;
    if (percent_count > out_capacity || out_capacity - percent_count < 3) return QN_STATUS_OUTPUT_TOO_SMALL;
    for (uint64_t i = 0; i < percent_count; ++i)
        if (!(percents[i] >= 0.0 && percents[i] <= 100.0)) return QN_STATUS_INVALID_ARGUMENT;
    for (uint64_t i = 0; i < count; ++i)
        if (std::isnan(values[i]) || (loudness != nullptr && std::isnan(loudness[i]))) return QN_STATUS_NON_FINITE_INPUT;
    try {
        const auto n = static_cast<std::size_t>(count);
        const frame_summary s = summarise_frames(
            std::span<const double>(values, n), loudness == nullptr ? std::span<const double>() : std::span<const double>(loudness, n),
            std::span<const double>(percents, static_cast<std::size_t>(percent_count)));
        out[0] = s.mean;
        out[1] = s.max;
        out[2] = s.min;
        std::copy(s.percentiles.begin(), s.percentiles.end(), out + 3);
        return QN_STATUS_SUCCESS;
    } catch (...) {
        return QN_STATUS_ALLOCATION_FAILED;
    }
}

QNF_API qnf_status qnf_tonality_ecma_summary(const double *tonality, uint64_t count, double hop_seconds,
                                             double *value, double *max, uint64_t *frame) {
    if ((tonality == nullptr && count > 0) || value == nullptr || max == nullptr || frame == nullptr)
        return QN_STATUS_NULL_POINTER;
    if (!(hop_seconds > 0.0 && std::isfinite(hop_seconds))) return QN_STATUS_INVALID_ARGUMENT;
    for (uint64_t i = 0; i < count; ++i)
        if (!std::isfinite(tonality[i])) return QN_STATUS_NON_FINITE_INPUT;
    const tonality_summary s =
        summarise_tonality(std::span<const double>(tonality, static_cast<std::size_t>(count)), hop_seconds);
    *value = s.value;
    *max = s.max;
    *frame = s.frame;
    return QN_STATUS_SUCCESS;
}

QNF_API qnf_status qnf_exceeded(const double *values, uint64_t count, double percent, double *result) {
    if (result == nullptr || (values == nullptr && count > 0)) return QN_STATUS_NULL_POINTER;
    if (!(percent >= 0.0 && percent <= 100.0)) return QN_STATUS_INVALID_ARGUMENT;
    for (uint64_t i = 0; i < count; ++i)
        if (std::isnan(values[i])) return QN_STATUS_NON_FINITE_INPUT;
    try {
        *result = exceeded_percent(std::span<const double>(values, static_cast<std::size_t>(count)), percent);
        return QN_STATUS_SUCCESS;
    } catch (...) {
        return QN_STATUS_ALLOCATION_FAILED;
    }
}

}  // extern "C"

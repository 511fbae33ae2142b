// The C interface: version, statuses, options, the metric table and the
// statistics.
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

QNF_API uint64_t qnf_metric_count(void) { return metric_table().size(); }

QNF_API qnf_status qnf_metric_describe(uint64_t index, qnf_metric_info *info) {
    if (info == nullptr) return QN_STATUS_NULL_POINTER;
    const auto &table = metric_table();
    if (index >= table.size()) return QN_STATUS_INVALID_ARGUMENT;
    const metric &m = table[static_cast<std::size_t>(index)];
    *info = {m.name,        m.description, m.title, m.min_samples,          m.frame_length,
             m.hop,         m.first_time,  m.uses_field ? 1 : 0, m.quantities.size(), m.series.size()};
    return QN_STATUS_SUCCESS;
}

QNF_API qnf_status qnf_metric_quantity(uint64_t index, uint64_t quantity, const char **name, const char **unit) {
    if (name == nullptr || unit == nullptr) return QN_STATUS_NULL_POINTER;
    const auto &table = metric_table();
    if (index >= table.size() || quantity >= table[static_cast<std::size_t>(index)].quantities.size())
        return QN_STATUS_INVALID_ARGUMENT;
    const qnf::quantity &q = table[static_cast<std::size_t>(index)].quantities[static_cast<std::size_t>(quantity)];
    *name = q.name;
    *unit = q.unit;
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

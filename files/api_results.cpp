// The C interface's analyses and the tree of their results.
#include <algorithm>
#include <cstring>
#include <memory>
#include <vector>

#include "api_support.h"
#include "batch.h"
#include "options.h"
#include "results.h"
#include "series_file.h"

bool qnf_channel_result::failed() const {
    if (!error.empty()) return true;
    for (const qnf_metric_result &m : metrics)
        if (!m.error.empty()) return true;
    return false;
}

bool qnf_file_result::failed() const {
    if (!error.empty() || !series_error.empty()) return true;
    for (const qnf_channel_result &c : channels)
        if (c.failed()) return true;
    for (const qnf_channel_result &c : binaural)
        if (c.failed()) return true;
    return false;
}

namespace {

const char *text_or_null(const std::string &s) { return s.empty() ? nullptr : s.c_str(); }

template <class T>
const T *at(const std::vector<T> &v, uint64_t i) {
    return i < v.size() ? &v[static_cast<std::size_t>(i)] : nullptr;
}

}  // namespace

using namespace qnf;

extern "C" {

QNF_API qnf_status qnf_analyze_files(const char *const *paths, uint64_t path_count, const qnf_options *options,
                                     qnf_event_fn events, void *user, qnf_results **results, char *why,
                                     uint64_t why_capacity) {
    bool null = (paths == nullptr && path_count > 0) || options == nullptr || results == nullptr;
    for (uint64_t i = 0; !null && i < path_count; ++i) null = paths[i] == nullptr;
    if (null) {
        write_why(why, why_capacity, qnf_status_string(QN_STATUS_NULL_POINTER));
        return QN_STATUS_NULL_POINTER;
    }
    *results = nullptr;
    return guarded(why, why_capacity, [&](std::string &error) -> qnf_status {
        std::vector<std::string> files(paths, paths + path_count);
        if (std::count(files.begin(), files.end(), "-") > 1) {
            error = "standard input ('-') can be read once only";
            return QNF_STATUS_INVALID_OPTION;
        }
        memory_budget budget(options->max_memory);
        analysis_options a;
        if (const qnf_status s = resolve_options(*options, budget, a, error); s != QN_STATUS_SUCCESS) return s;
        auto r = std::make_unique<qnf_results>();
        r->files = analyse_files(files, a, options->jobs, budget, {events, user});
        *results = r.release();
        return QN_STATUS_SUCCESS;
    });
}

QNF_API qnf_status qnf_analyze_signal(const double *samples, uint64_t frame_count, int32_t channel_count,
                                      int32_t sample_rate, const char *name, const qnf_options *options,
                                      qnf_results **results, char *why, uint64_t why_capacity) {
    if ((samples == nullptr && frame_count > 0) || name == nullptr || options == nullptr || results == nullptr) {
        write_why(why, why_capacity, qnf_status_string(QN_STATUS_NULL_POINTER));
        return QN_STATUS_NULL_POINTER;
    }
    *results = nullptr;
    return guarded(why, why_capacity, [&](std::string &error) -> qnf_status {
        if (channel_count < 1 || channel_count > 1024) {
            error = "a signal has 1 ... 1024 channels, not " + std::to_string(channel_count);
            return QN_STATUS_INVALID_ARGUMENT;
        }
        memory_budget budget(options->max_memory);
        analysis_options a;
        if (const qnf_status s = resolve_options(*options, budget, a, error); s != QN_STATUS_SUCCESS) return s;
        auto r = std::make_unique<qnf_results>();
        r->files.push_back(analyse_signal(samples, frame_count, channel_count, sample_rate, name, a, options->jobs));
        *results = r.release();
        return QN_STATUS_SUCCESS;
    });
}

QNF_API void qnf_results_destroy(qnf_results *results) { delete results; }

QNF_API uint64_t qnf_results_file_count(const qnf_results *results) {
    return results == nullptr ? 0 : results->files.size();
}
QNF_API const qnf_file_result *qnf_results_file(const qnf_results *results, uint64_t index) {
    return results == nullptr ? nullptr : at(results->files, index);
}

QNF_API const char *qnf_file_path(const qnf_file_result *file) { return file == nullptr ? nullptr : file->path.c_str(); }
QNF_API const char *qnf_file_error(const qnf_file_result *file) {
    return file == nullptr ? nullptr : text_or_null(file->error);
}
QNF_API qnf_status qnf_file_status(const qnf_file_result *file) {
    return file == nullptr ? QN_STATUS_NULL_POINTER : file->status;
}
QNF_API qnf_status qnf_file_format(const qnf_file_result *file, qnf_format *format) {
    if (file == nullptr || format == nullptr) return QN_STATUS_NULL_POINTER;
    *format = file->format;
    return QN_STATUS_SUCCESS;
}
QNF_API double qnf_file_duration(const qnf_file_result *file) { return file == nullptr ? 0.0 : file->duration_s; }
QNF_API double qnf_file_start(const qnf_file_result *file) { return file == nullptr ? 0.0 : file->start_s; }
QNF_API const char *qnf_file_calibration(const qnf_file_result *file) {
    return file == nullptr ? nullptr : file->calibration.c_str();
}
QNF_API const char *qnf_file_series_file(const qnf_file_result *file) {
    return file == nullptr ? nullptr : text_or_null(file->series_file);
}
QNF_API const char *qnf_file_series_error(const qnf_file_result *file) {
    return file == nullptr ? nullptr : text_or_null(file->series_error);
}
QNF_API uint64_t qnf_file_channel_count(const qnf_file_result *file) {
    return file == nullptr ? 0 : file->channels.size();
}
QNF_API const qnf_channel_result *qnf_file_channel(const qnf_file_result *file, uint64_t index) {
    return file == nullptr ? nullptr : at(file->channels, index);
}

QNF_API const qnf_channel_result *qnf_file_binaural(const qnf_file_result *file) {
    return file == nullptr ? nullptr : at(file->binaural, 0);
}

QNF_API int32_t qnf_channel_number(const qnf_channel_result *channel) {
    return channel == nullptr ? 0 : channel->channel;
}
QNF_API const char *qnf_channel_calibration(const qnf_channel_result *channel) {
    return channel == nullptr ? nullptr : channel->calibration.c_str();
}
QNF_API const char *qnf_channel_error(const qnf_channel_result *channel) {
    return channel == nullptr ? nullptr : text_or_null(channel->error);
}
QNF_API uint64_t qnf_channel_metric_count(const qnf_channel_result *channel) {
    return channel == nullptr ? 0 : channel->metrics.size();
}
QNF_API const qnf_metric_result *qnf_channel_metric(const qnf_channel_result *channel, uint64_t index) {
    return channel == nullptr ? nullptr : at(channel->metrics, index);
}

QNF_API const char *qnf_metric_name(const qnf_metric_result *metric) {
    return metric == nullptr ? nullptr : metric->name.c_str();
}
QNF_API const char *qnf_metric_error(const qnf_metric_result *metric) {
    return metric == nullptr ? nullptr : text_or_null(metric->error);
}
QNF_API uint64_t qnf_metric_value_count(const qnf_metric_result *metric) {
    return metric == nullptr ? 0 : metric->values.size();
}
QNF_API qnf_status qnf_metric_value(const qnf_metric_result *metric, uint64_t index, const char **name, double *value,
                                    const char **unit) {
    if (metric == nullptr) return QN_STATUS_NULL_POINTER;
    const single_value *v = at(metric->values, index);
    if (v == nullptr) return QN_STATUS_INVALID_ARGUMENT;
    if (name != nullptr) *name = v->name.c_str();
    if (value != nullptr) *value = v->value;
    if (unit != nullptr) *unit = v->unit.c_str();
    return QN_STATUS_SUCCESS;
}
QNF_API uint64_t qnf_metric_series_count(const qnf_metric_result *metric) {
    return metric == nullptr ? 0 : metric->series_list.size();
}
QNF_API const qnf_series *qnf_metric_series(const qnf_metric_result *metric, uint64_t index) {
    return metric == nullptr ? nullptr : at(metric->series_list, index);
}

QNF_API const char *qnf_series_name(const qnf_series *series) {
    return series == nullptr ? nullptr : series->name.c_str();
}
QNF_API const char *qnf_series_unit(const qnf_series *series) {
    return series == nullptr ? nullptr : series->unit.c_str();
}
QNF_API const char *qnf_series_variable(const qnf_series *series) {
    return series == nullptr ? nullptr : series->variable.c_str();
}
QNF_API uint64_t qnf_series_axis_count(const qnf_series *series) {
    return series == nullptr ? 0 : series->axes.size();
}
QNF_API qnf_status qnf_series_axis(const qnf_series *series, uint64_t index, const char **name, const char **unit,
                                   uint64_t *count, double *first, double *step, const double **points) {
    if (series == nullptr) return QN_STATUS_NULL_POINTER;
    const axis *a = at(series->axes, index);
    if (a == nullptr) return QN_STATUS_INVALID_ARGUMENT;
    if (name != nullptr) *name = a->name.c_str();
    if (unit != nullptr) *unit = a->unit.c_str();
    if (count != nullptr) *count = a->size();
    if (first != nullptr) *first = a->values.empty() ? a->first : a->values.front();
    if (step != nullptr) *step = a->values.empty() ? a->step : 0.0;
    if (points != nullptr) *points = a->values.empty() ? nullptr : a->values.data();
    return QN_STATUS_SUCCESS;
}
QNF_API const char *qnf_series_axis_dimension(const qnf_series *series, uint64_t index) {
    const axis *a = series == nullptr ? nullptr : at(series->axes, index);
    return a == nullptr ? nullptr : a->dimension.c_str();
}
QNF_API uint64_t qnf_series_axis_coordinate_count(const qnf_series *series, uint64_t index) {
    const axis *a = series == nullptr ? nullptr : at(series->axes, index);
    return a == nullptr ? 0 : a->coordinates.size();
}
QNF_API qnf_status qnf_series_axis_coordinate(const qnf_series *series, uint64_t index, uint64_t coordinate,
                                              const char **name, const char **unit, const double **points) {
    if (series == nullptr) return QN_STATUS_NULL_POINTER;
    const axis *a = at(series->axes, index);
    const qnf::coordinate *c = a == nullptr ? nullptr : at(a->coordinates, coordinate);
    if (c == nullptr) return QN_STATUS_INVALID_ARGUMENT;
    if (name != nullptr) *name = c->name.c_str();
    if (unit != nullptr) *unit = c->unit.c_str();
    if (points != nullptr) *points = c->values.data();
    return QN_STATUS_SUCCESS;
}
QNF_API qnf_status qnf_series_axis_points(const qnf_series *series, uint64_t index, uint64_t offset, double *out,
                                          uint64_t count) {
    if (series == nullptr || out == nullptr) return QN_STATUS_NULL_POINTER;
    const axis *a = at(series->axes, index);
    if (a == nullptr || offset > a->size() || count > a->size() - offset) return QN_STATUS_INVALID_ARGUMENT;
    for (uint64_t i = 0; i < count; ++i) out[i] = a->at(offset + i);
    return QN_STATUS_SUCCESS;
}
QNF_API uint64_t qnf_series_value_count(const qnf_series *series) {
    return series == nullptr ? 0 : series->values.size();
}
QNF_API qnf_status qnf_series_values(const qnf_series *series, uint64_t offset, double *out, uint64_t count) {
    if (series == nullptr || out == nullptr) return QN_STATUS_NULL_POINTER;
    const uint64_t size = series->values.size();
    if (offset > size || count > size - offset) return QN_STATUS_INVALID_ARGUMENT;
    try {
        if (series->values.read(offset, std::span<double>(out, static_cast<std::size_t>(count))))
            return QN_STATUS_SUCCESS;
        return QNF_STATUS_UNREADABLE;
    } catch (...) {
        return QNF_STATUS_UNREADABLE;
    }
}

QNF_API qnf_status qnf_series_file_name(const char *const *paths, uint64_t path_count, uint64_t index, char *name,
                                        uint64_t name_capacity) {
    bool null = paths == nullptr || (name == nullptr && name_capacity > 0);
    for (uint64_t i = 0; !null && i < path_count; ++i) null = paths[i] == nullptr;
    if (null) return QN_STATUS_NULL_POINTER;
    if (index >= path_count) return QN_STATUS_INVALID_ARGUMENT;
    try {
        const std::string found = series_file_names(std::vector<std::string>(paths, paths + index + 1)).back();
        if (found.size() >= name_capacity) return QN_STATUS_OUTPUT_TOO_SMALL;
        std::memcpy(name, found.c_str(), found.size() + 1);
        return QN_STATUS_SUCCESS;
    } catch (...) {
        return QN_STATUS_ALLOCATION_FAILED;
    }
}

}  // extern "C"

#include "report.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <nlohmann/json.hpp>
#include <stdexcept>

#include "json_text.h"

namespace qcli {

namespace {

std::string number(double v, const char *format = "%.6g") {
    char text[64];
    std::snprintf(text, sizeof text, format, v);
    return text;
}

// Walking the tree of results.
template <class F>
void each_file(const qnf_results &r, F f) {
    for (uint64_t i = 0; i < qnf_results_file_count(&r); ++i) f(*qnf_results_file(&r, i));
}
template <class F>
void each_channel(const qnf_file_result &file, F f) {
    for (uint64_t i = 0; i < qnf_file_channel_count(&file); ++i) f(*qnf_file_channel(&file, i));
}
// The channels, then the binaural result of a head recording (channel
// number 0) when the file has one.
template <class F>
void each_channel_and_binaural(const qnf_file_result &file, F f) {
    each_channel(file, f);
    if (const qnf_channel_result *b = qnf_file_binaural(&file)) f(*b);
}
// "1", "2", ... or "binaural".
std::string channel_label(const qnf_channel_result &c) {
    const int number = qnf_channel_number(&c);
    return number == 0 ? "binaural" : std::to_string(number);
}
template <class F>
void each_metric(const qnf_channel_result &channel, F f) {
    for (uint64_t i = 0; i < qnf_channel_metric_count(&channel); ++i) f(*qnf_channel_metric(&channel, i));
}
template <class F>
void each_value(const qnf_metric_result &metric, F f) {
    for (uint64_t i = 0; i < qnf_metric_value_count(&metric); ++i) {
        const char *name = nullptr, *unit = nullptr;
        double value = 0;
        if (qnf_metric_value(&metric, i, &name, &value, &unit) == QN_STATUS_SUCCESS) f(name, value, unit);
    }
}

struct axis_view {
    std::string name, unit;
    uint64_t count = 0;
};

axis_view axis_of(const qnf_series &s, uint64_t a) {
    const char *name = nullptr, *unit = nullptr;
    uint64_t count = 0;
    qnf_series_axis(&s, a, &name, &unit, &count, nullptr, nullptr, nullptr);
    return {name != nullptr ? name : "", unit != nullptr ? unit : "", count};
}

// Calls `f` with the series' values (or an axis' points) in chunks, reading
// them from where the results keep them.
template <class F>
void each_chunk(const qnf_series &s, int axis, F f) {
    constexpr uint64_t chunk = 65536;
    const uint64_t total = axis < 0 ? qnf_series_value_count(&s) : axis_of(s, static_cast<uint64_t>(axis)).count;
    std::vector<double> buffer;
    for (uint64_t at = 0; at < total; at += chunk) {
        const uint64_t n = std::min(chunk, total - at);
        buffer.resize(static_cast<std::size_t>(n));
        const qnf_status status = axis < 0 ? qnf_series_values(&s, at, buffer.data(), n)
                                           : qnf_series_axis_points(&s, static_cast<uint64_t>(axis), at, buffer.data(), n);
        if (status != QN_STATUS_SUCCESS) throw std::runtime_error("the series cannot be read back");
        for (double v : buffer) f(v);
    }
}

// The long arrays of a document (series values, axis points) are written
// from where they are kept when the writer comes to them.
class json_arrays {
public:
    nlohmann::json values(const qnf_series &s, std::size_t row) { return add({&s, -1, row}); }
    nlohmann::json points(const qnf_series &s, int axis) { return add({&s, axis, 0}); }
    void write(std::ostream &out, uint64_t id, int depth) const {
        const entry &e = arrays_.at(static_cast<std::size_t>(id));
        json_number_array array(out, depth, e.row);
        each_chunk(*e.series, e.axis, [&](double v) { array.add(v); });
        array.finish();
    }

private:
    struct entry {
        const qnf_series *series;
        int axis;  // -1: the values
        std::size_t row;
    };
    nlohmann::json add(const entry &e) {
        arrays_.push_back(e);
        return nlohmann::json::binary(std::vector<std::uint8_t>{}, arrays_.size() - 1);
    }
    std::vector<entry> arrays_;
};

nlohmann::json series_json(const qnf_series &s, json_arrays &arrays) {
    nlohmann::json j;
    j["unit"] = qnf_series_unit(&s);
    const uint64_t axes = qnf_series_axis_count(&s);
    for (uint64_t a = 0; a < axes; ++a) {
        const axis_view v = axis_of(s, a);
        j["axes"].push_back({{"name", v.name}, {"unit", v.unit}, {"values", arrays.points(s, static_cast<int>(a))}});
    }
    j["values"] = arrays.values(s, axes == 2 ? static_cast<std::size_t>(axis_of(s, 1).count) : 0);
    return j;
}

nlohmann::json metric_json(const qnf_metric_result &m, bool with_series, json_arrays &arrays) {
    nlohmann::json j = nlohmann::json::object();
    each_value(m, [&](const char *name, double value, const char *unit) {
        j[name] = {{"value", value}, {"unit", unit}};
    });
    if (with_series) {
        nlohmann::json s = nlohmann::json::object();
        for (uint64_t i = 0; i < qnf_metric_series_count(&m); ++i) {
            const qnf_series &x = *qnf_metric_series(&m, i);
            s[qnf_series_name(&x)] = series_json(x, arrays);
        }
        j["series"] = std::move(s);
    }
    return j;
}

void write_with_arrays(std::ostream &out, const nlohmann::json &doc, const json_arrays &arrays) {
    write_json_document(out, doc, [&](std::ostream &o, uint64_t id, int depth) { arrays.write(o, id, depth); });
}

std::string csv_field(const std::string &s) {
    if (s.find_first_of(",\"\r\n") == std::string::npos) return s;
    std::string q = "\"";
    for (char c : s) q += c == '"' ? std::string("\"\"") : std::string(1, c);
    return q + "\"";
}

void csv_value_row(std::ostream &out, const std::string &prefix, const std::string &metric, const std::string &name,
                   double value, const std::string &unit) {
    out << prefix << csv_field(metric) << ',' << name << ",,,," << number(value, "%.17g") << ',' << unit << '\n';
}

// A number of a CSV table: the shortest text that reads back as the same
// double; "-inf" for the level of silence (as Python and pandas read it),
// empty when there is none.
std::string csv_number(double v) {
    if (std::isinf(v)) return v < 0 ? "-inf" : "inf";
    std::string text;
    append_json_number(text, v);
    return text == "null" ? std::string() : text;
}

// The index of a metric in the file layer's table.
uint64_t metric_index(const std::string &name) {
    for (uint64_t i = 0; i < qnf_metric_count(); ++i) {
        qnf_metric_info m{};
        if (qnf_metric_describe(i, &m) == QN_STATUS_SUCCESS && name == m.name) return i;
    }
    return UINT64_MAX;
}

const qnf_metric_result *metric_named(const qnf_channel_result &c, const std::string &name) {
    for (uint64_t i = 0; i < qnf_channel_metric_count(&c); ++i)
        if (name == qnf_metric_name(qnf_channel_metric(&c, i))) return qnf_channel_metric(&c, i);
    return nullptr;
}

// Every failure of a channel (and of its file's series file), as the
// error column gives them: "metric: reason", joined by "; ".
std::string channel_errors(const qnf_file_result &f, const qnf_channel_result &c) {
    std::string text;
    const auto add = [&](const std::string &what, const char *reason) {
        if (reason != nullptr) text += (text.empty() ? "" : "; ") + what + ": " + reason;
    };
    add("input", qnf_channel_error(&c));
    each_metric(c, [&](const qnf_metric_result &m) { add(qnf_metric_name(&m), qnf_metric_error(&m)); });
    if (const char *e = qnf_file_series_error(&f)) text += (text.empty() ? "" : "; ") + std::string(e);
    return text;
}

// The metrics' series with a value per frame ("time"), the columns of the
// metric's table of series.
std::vector<std::string> time_series_of(const std::string &metric) {
    std::vector<std::string> names;
    const uint64_t index = metric_index(metric);
    qnf_metric_info info{};
    if (qnf_metric_describe(index, &info) != QN_STATUS_SUCCESS) return names;
    for (uint64_t k = 0; k < info.series_count; ++k) {
        const char *name = nullptr, *unit = nullptr, *axes = nullptr;
        if (qnf_metric_series_info(index, k, &name, &unit, &axes) == QN_STATUS_SUCCESS && std::string(axes) == "time")
            names.emplace_back(name);
    }
    return names;
}

const qnf_series *series_named(const qnf_metric_result &m, const std::string &name) {
    for (uint64_t i = 0; i < qnf_metric_series_count(&m); ++i)
        if (name == qnf_series_name(qnf_metric_series(&m, i))) return qnf_metric_series(&m, i);
    return nullptr;
}

}  // namespace

bool report_failures(const qnf_results &results) {
    bool any = false;
    each_file(results, [&](const qnf_file_result &f) {
        const char *path = qnf_file_path(&f);
        if (const char *error = qnf_file_error(&f)) {
            std::fprintf(stderr, "quarnelo: %s: %s\n", path, error);
            any = true;
        }
        if (const char *error = qnf_file_series_error(&f)) {
            std::fprintf(stderr, "quarnelo: %s: %s\n", path, error);
            any = true;
        }
        each_channel_and_binaural(f, [&](const qnf_channel_result &c) {
            const std::string where =
                qnf_channel_number(&c) == 0 ? std::string("binaural") : "channel " + channel_label(c);
            if (const char *error = qnf_channel_error(&c)) {
                std::fprintf(stderr, "quarnelo: %s: %s: input: %s\n", path, where.c_str(), error);
                any = true;
            }
            each_metric(c, [&](const qnf_metric_result &m) {
                if (const char *error = qnf_metric_error(&m)) {
                    std::fprintf(stderr, "quarnelo: %s: %s: %s: %s\n", path, where.c_str(), qnf_metric_name(&m),
                                 error);
                    any = true;
                }
            });
        });
    });
    return any;
}

void write_json(std::ostream &out, const qnf_results &results, const report_options &options) {
    json_arrays arrays;
    nlohmann::json doc;
    doc["tool"] = "quarnelo";
    doc["library_version"] = qn_version_string();
    doc["field"] = options.field;
    doc["sharpness_weighting"] = options.sharpness_weighting;
    // JSON has no infinity: a level of silence (-inf dB) is written null.
    doc["files"] = nlohmann::json::array();
    each_file(results, [&](const qnf_file_result &f) {
        nlohmann::json jf;
        jf["file"] = qnf_file_path(&f);
        if (const char *error = qnf_file_error(&f)) {
            jf["error"] = error;
            doc["files"].push_back(std::move(jf));
            return;
        }
        qnf_format format{};
        qnf_file_format(&f, &format);
        jf["sample_rate"] = format.sample_rate;
        jf["resampled_to_48k"] = format.resampled != 0;
        jf["channels"] = format.channels;
        jf["start_s"] = qnf_file_start(&f);
        jf["duration_s"] = qnf_file_duration(&f);
        if (const char *path = qnf_file_series_file(&f)) jf["series_file"] = path;
        if (const char *error = qnf_file_series_error(&f)) jf["series_error"] = error;
        const auto channel_json = [&](const qnf_channel_result &c) {
            nlohmann::json jc;
            if (qnf_channel_number(&c) != 0) jc["channel"] = qnf_channel_number(&c);
            jc["calibration"] = qnf_channel_calibration(&c);
            jc["metrics"] = nlohmann::json::object();
            jc["errors"] = nlohmann::json::array();
            if (const char *error = qnf_channel_error(&c)) jc["errors"].push_back({{"metric", "input"}, {"error", error}});
            each_metric(c, [&](const qnf_metric_result &m) {
                if (const char *error = qnf_metric_error(&m))
                    jc["errors"].push_back({{"metric", qnf_metric_name(&m)}, {"error", error}});
                else
                    jc["metrics"][qnf_metric_name(&m)] = metric_json(m, options.series, arrays);
            });
            return jc;
        };
        jf["results"] = nlohmann::json::array();
        each_channel(f, [&](const qnf_channel_result &c) { jf["results"].push_back(channel_json(c)); });
        // The two ears of a head recording combined, beside the channels.
        if (const qnf_channel_result *b = qnf_file_binaural(&f)) jf["binaural"] = channel_json(*b);
        doc["files"].push_back(std::move(jf));
    });
    write_with_arrays(out, doc, arrays);
}

void write_csv(std::ostream &out, const qnf_results &results, const report_options &options) {
    // The columns of every selected metric's single values, with the
    // percentiles asked for.
    std::vector<std::pair<std::string, std::string>> columns;  // metric, quantity
    out << "file,channel,sample_rate,duration_s,calibration";
    for (const std::string &metric : options.metrics) {
        const uint64_t index = metric_index(metric);
        for (uint64_t q = 0; q < qnf_options_quantity_count(options.options, index); ++q) {
            const char *name = nullptr, *unit = nullptr;
            if (qnf_options_quantity(options.options, index, q, &name, &unit) != QN_STATUS_SUCCESS) continue;
            columns.emplace_back(metric, name);
            out << ',' << csv_field(metric + "." + name);
        }
    }
    out << ",error\n";
    each_file(results, [&](const qnf_file_result &f) {
        const std::string file = csv_field(qnf_file_path(&f));
        if (const char *error = qnf_file_error(&f)) {
            out << file << ",,,,";
            for (std::size_t i = 0; i < columns.size(); ++i) out << ',';
            out << ',' << csv_field(error) << '\n';
            return;
        }
        qnf_format format{};
        qnf_file_format(&f, &format);
        each_channel_and_binaural(f, [&](const qnf_channel_result &c) {
            out << file << ',' << channel_label(c) << ',' << format.sample_rate << ','
                << csv_number(qnf_file_duration(&f)) << ',' << csv_field(qnf_channel_calibration(&c));
            for (const auto &[metric, quantity] : columns) {
                out << ',';
                const qnf_metric_result *m = metric_named(c, metric);
                if (m == nullptr) continue;
                each_value(*m, [&](const char *name, double value, const char *) {
                    if (quantity == name) out << csv_number(value);
                });
            }
            out << ',' << csv_field(channel_errors(f, c)) << '\n';
        });
    });
}

bool has_series_table(const std::string &metric) { return !time_series_of(metric).empty(); }

void write_series_table(std::ostream &out, const qnf_results &results, const std::string &metric) {
    const std::vector<std::string> names = time_series_of(metric);
    out << "file,channel,time_s";
    for (const std::string &n : names) out << ',' << csv_field(n);
    out << ",error\n";
    const std::string empty_values(names.size(), ',');
    each_file(results, [&](const qnf_file_result &f) {
        const std::string file = csv_field(qnf_file_path(&f));
        if (const char *error = qnf_file_error(&f)) {
            out << file << ",," << empty_values << ',' << csv_field(error) << '\n';
            return;
        }
        each_channel_and_binaural(f, [&](const qnf_channel_result &c) {
            const qnf_metric_result *m = metric_named(c, metric);
            if (m == nullptr && qnf_channel_number(&c) == 0) return;  // a metric with no binaural value
            const std::string channel = channel_label(c);
            const char *error = qnf_channel_error(&c);
            if (error == nullptr && m != nullptr) error = qnf_metric_error(m);
            std::vector<const qnf_series *> series;
            for (const std::string &n : names) series.push_back(m == nullptr ? nullptr : series_named(*m, n));
            if (error != nullptr || series.empty() || series[0] == nullptr) {
                const std::string reason =
                    error != nullptr ? std::string(error) : m == nullptr ? "not analysed" : "no series kept";
                out << file << ',' << channel << ',' << empty_values << ',' << csv_field(reason) << '\n';
                return;
            }
            // The series of one metric share its frames: read side by side
            // a block of frames at a time.
            constexpr uint64_t block = 65536;
            const uint64_t frames = qnf_series_value_count(series[0]);
            std::vector<double> times(static_cast<std::size_t>(block));
            std::vector<std::vector<double>> values(series.size(), std::vector<double>(static_cast<std::size_t>(block)));
            std::string line;
            for (uint64_t at = 0; at < frames; at += block) {
                const uint64_t n = std::min(block, frames - at);
                if (qnf_series_axis_points(series[0], 0, at, times.data(), n) != QN_STATUS_SUCCESS)
                    throw std::runtime_error("the series cannot be read back");
                for (std::size_t k = 0; k < series.size(); ++k)
                    if (series[k] == nullptr || qnf_series_values(series[k], at, values[k].data(), n) != QN_STATUS_SUCCESS)
                        throw std::runtime_error("the series cannot be read back");
                for (uint64_t i = 0; i < n; ++i) {
                    line = file + ',' + channel + ',' + csv_number(times[static_cast<std::size_t>(i)]);
                    for (std::size_t k = 0; k < series.size(); ++k)
                        line += ',' + csv_number(values[k][static_cast<std::size_t>(i)]);
                    line += ",\n";
                    out << line;
                }
            }
        });
    });
}

void write_table(std::ostream &out, const qnf_results &results, const report_options &options) {
    each_file(results, [&](const qnf_file_result &f) {
        if (qnf_file_error(&f) != nullptr) return;  // reported on stderr
        qnf_format format{};
        qnf_file_format(&f, &format);
        out << qnf_file_path(&f) << "  " << format.sample_rate << " Hz"
            << (format.resampled != 0 ? " (resampled to 48000 Hz)" : "") << ", " << format.channels
            << (format.channels == 1 ? " channel, " : " channels, ") << number(qnf_file_duration(&f), "%.3f")
            << " s, " << options.field << " field"
            << (options.sharpness_weighting == "din" ? "" : ", sharpness weighting " + options.sharpness_weighting)
            << '\n';
        each_channel_and_binaural(f, [&](const qnf_channel_result &c) {
            if (qnf_channel_number(&c) == 0)
                out << "  binaural (the two channels as the ears of a head recording)\n";
            else
                out << "  channel " << qnf_channel_number(&c) << "   calibration: " << qnf_channel_calibration(&c) << '\n';
            each_metric(c, [&](const qnf_metric_result &m) {
                bool first = true;
                each_value(m, [&](const char *name, double value, const char *unit) {
                    char line[256];
                    std::snprintf(line, sizeof line, "    %-14s %-20s %12s %s\n", first ? qnf_metric_name(&m) : "",
                                  name, number(value, "%.4f").c_str(), unit);
                    out << line;
                    first = false;
                });
            });
            if (const char *error = qnf_channel_error(&c)) out << "    input: failed: " << error << '\n';
            each_metric(c, [&](const qnf_metric_result &m) {
                if (const char *error = qnf_metric_error(&m))
                    out << "    " << qnf_metric_name(&m) << ": failed: " << error << '\n';
            });
        });
        if (const char *path = qnf_file_series_file(&f)) out << "  series: " << path << '\n';
        if (options.series) out << "  (series: use --format json or csv, or --series-dir)\n";
        out << '\n';
    });
}

void write_levels(std::ostream &out, output_format format, const std::vector<level_value> &values,
                  const std::vector<level_series> &series, const std::string &field, bool with_series) {
    if (format == output_format::json) {
        nlohmann::json doc = {{"tool", "quarnelo"}, {"library_version", qn_version_string()}, {"field", field}};
        nlohmann::json j = nlohmann::json::object();
        for (const level_value &v : values) j[v.name] = {{"value", v.value}, {"unit", v.unit}};
        if (with_series) {
            nlohmann::json s = nlohmann::json::object();
            for (const level_series &x : series)
                s[x.name] = {{"unit", x.unit},
                             {"axes", {{{"name", x.axis}, {"unit", x.axis_unit}, {"values", x.points}}}},
                             {"values", x.values}};
            j["series"] = std::move(s);
        }
        doc["levels"] = std::move(j);
        write_json_document(out, doc);
    } else if (format == output_format::csv) {
        out << "metric,quantity,axis,axis_unit,axis2,value,unit\n";
        for (const level_value &v : values) csv_value_row(out, "", "levels", v.name, v.value, v.unit);
        if (with_series)
            for (const level_series &x : series)
                for (std::size_t i = 0; i < x.values.size(); ++i)
                    out << "levels," << x.name << ',' << x.axis << '=' << number(x.points[i], "%.17g") << ','
                        << x.axis_unit << ",," << number(x.values[i], "%.17g") << ',' << x.unit << '\n';
    } else {
        out << "third-octave levels, " << field << " field\n";
        for (const level_value &v : values) {
            char line[256];
            std::snprintf(line, sizeof line, "  %-20s %12s %s\n", v.name.c_str(), number(v.value, "%.4f").c_str(),
                          v.unit.c_str());
            out << line;
        }
    }
}

}  // namespace qcli

#include "report.h"

#include <cstdint>
#include <cstdio>
#include <span>
#include <nlohmann/json.hpp>

#include "json_text.h"

namespace qcli {

bool file_report::failed() const {
    if (!error.empty()) return true;
    for (const auto &c : results)
        if (!c.errors.empty()) return true;
    return false;
}

namespace {

std::string number(double v, const char *format = "%.6g") {
    char text[64];
    std::snprintf(text, sizeof text, format, v);
    return text;
}

// The long arrays of a document (series values, frame times) are written
// from where they are kept when the writer comes to them.
class json_arrays {
public:
    nlohmann::json values(const value_list &v, std::size_t row) {
        arrays_.push_back({&v, nullptr, row});
        return placeholder();
    }
    nlohmann::json points(const axis &a) {
        if (!a.values.empty()) return a.values;
        arrays_.push_back({nullptr, &a, 0});
        return placeholder();
    }
    void write(std::ostream &out, uint64_t id, int depth) const {
        const entry &e = arrays_.at(static_cast<std::size_t>(id));
        json_number_array array(out, depth, e.row);
        if (e.values != nullptr) {
            e.values->for_each_chunk([&](std::span<const double> chunk) {
                for (double v : chunk) array.add(v);
            });
        } else {
            for (uint64_t i = 0; i < e.grid->size(); ++i) array.add(e.grid->at(i));
        }
        array.finish();
    }

private:
    struct entry {
        const value_list *values;
        const axis *grid;
        std::size_t row;
    };
    nlohmann::json placeholder() const { return nlohmann::json::binary(std::vector<std::uint8_t>{}, arrays_.size() - 1); }
    std::vector<entry> arrays_;
};

nlohmann::json series_json(const series &s, json_arrays &arrays) {
    nlohmann::json j;
    j["unit"] = s.unit;
    for (const axis &a : s.axes)
        j["axes"].push_back({{"name", a.name}, {"unit", a.unit}, {"values", arrays.points(a)}});
    j["values"] = arrays.values(s.values, s.axes.size() == 2 ? static_cast<std::size_t>(s.axes[1].size()) : 0);
    return j;
}

nlohmann::json result_json(const metric_result &r, bool with_series, json_arrays &arrays) {
    nlohmann::json j = nlohmann::json::object();
    for (const single_value &v : r.values) j[v.name] = {{"value", v.value}, {"unit", v.unit}};
    if (with_series) {
        nlohmann::json s = nlohmann::json::object();
        for (const series &x : r.series_list) s[x.name] = series_json(x, arrays);
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

// One row per value: single values with empty axis columns, series values
// with their position on each axis.
void csv_rows(std::ostream &out, const std::string &prefix, const std::string &metric, const metric_result &r,
              bool with_series) {
    for (const single_value &v : r.values)
        out << prefix << csv_field(metric) << ',' << v.name << ",,,," << number(v.value, "%.17g") << ',' << v.unit
            << '\n';
    if (!with_series) return;
    for (const series &s : r.series_list) {
        const uint64_t inner = s.axes.size() == 2 ? s.axes[1].size() : 1;
        uint64_t i = 0;
        s.values.for_each_chunk([&](std::span<const double> chunk) {
            for (double v : chunk) {
                const double a0 = s.axes[0].at(s.axes.size() == 2 ? i / inner : i);
                out << prefix << csv_field(metric) << ',' << s.name << ',' << s.axes[0].name << '='
                    << number(a0, "%.17g") << ',' << s.axes[0].unit << ',';
                if (s.axes.size() == 2) out << s.axes[1].name << '=' << number(s.axes[1].at(i % inner), "%.17g");
                out << ',' << number(v, "%.17g") << ',' << s.unit << '\n';
                ++i;
            }
        });
    }
}

constexpr const char *csv_header = "file,channel,calibration,metric,quantity,axis,axis_unit,axis2,value,unit\n";

}  // namespace

void write_json(std::ostream &out, const std::vector<file_report> &files, const report_options &options) {
    json_arrays arrays;
    nlohmann::json doc;
    doc["tool"] = "quarnelo";
    doc["library_version"] = qn_version_string();
    doc["field"] = options.field;
    doc["files"] = nlohmann::json::array();
    for (const file_report &f : files) {
        nlohmann::json jf;
        jf["file"] = f.path;
        if (!f.error.empty()) {
            jf["error"] = f.error;
            doc["files"].push_back(std::move(jf));
            continue;
        }
        jf["sample_rate"] = f.sample_rate;
        jf["resampled_to_48k"] = f.resampled;
        jf["channels"] = f.channels;
        jf["duration_s"] = f.duration_s;
        jf["results"] = nlohmann::json::array();
        for (const channel_report &c : f.results) {
            nlohmann::json jc;
            jc["channel"] = c.channel;
            jc["calibration"] = c.calibration;
            jc["metrics"] = nlohmann::json::object();
            for (const auto &[name, r] : c.metrics) jc["metrics"][name] = result_json(r, options.series, arrays);
            jc["errors"] = nlohmann::json::array();
            for (const auto &[name, reason] : c.errors) jc["errors"].push_back({{"metric", name}, {"error", reason}});
            jf["results"].push_back(std::move(jc));
        }
        doc["files"].push_back(std::move(jf));
    }
    write_with_arrays(out, doc, arrays);
}

void write_csv(std::ostream &out, const std::vector<file_report> &files, const report_options &options) {
    out << csv_header;
    for (const file_report &f : files) {
        if (!f.error.empty()) continue;  // reported on stderr
        for (const channel_report &c : f.results) {
            const std::string prefix = csv_field(f.path) + ',' + std::to_string(c.channel) + ',' +
                                       csv_field(c.calibration) + ',';
            for (const auto &[name, r] : c.metrics) csv_rows(out, prefix, name, r, options.series);
        }
    }
}

void write_table(std::ostream &out, const std::vector<file_report> &files, const report_options &options) {
    for (const file_report &f : files) {
        if (!f.error.empty()) continue;  // reported on stderr
        out << f.path << "  " << f.sample_rate << " Hz" << (f.resampled ? " (resampled to 48000 Hz)" : "") << ", "
            << f.channels << (f.channels == 1 ? " channel, " : " channels, ") << number(f.duration_s, "%.3f")
            << " s, " << options.field << " field\n";
        for (const channel_report &c : f.results) {
            out << "  channel " << c.channel << "   calibration: " << c.calibration << '\n';
            for (const auto &[name, r] : c.metrics) {
                bool first = true;
                for (const single_value &v : r.values) {
                    char line[256];
                    std::snprintf(line, sizeof line, "    %-14s %-20s %12s %s\n", first ? name.c_str() : "",
                                  v.name.c_str(), number(v.value, "%.4f").c_str(), v.unit.c_str());
                    out << line;
                    first = false;
                }
            }
            for (const auto &[name, reason] : c.errors) out << "    " << name << ": failed: " << reason << '\n';
        }
        if (options.series) out << "  (series: use --format json or csv)\n";
        out << '\n';
    }
}

void write_levels(std::ostream &out, output_format format, const metric_result &result, const std::string &field,
                  bool with_series) {
    if (format == output_format::json) {
        json_arrays arrays;
        nlohmann::json doc = {{"tool", "quarnelo"}, {"library_version", qn_version_string()}, {"field", field}};
        doc["levels"] = result_json(result, with_series, arrays);
        write_with_arrays(out, doc, arrays);
    } else if (format == output_format::csv) {
        out << "metric,quantity,axis,axis_unit,axis2,value,unit\n";
        csv_rows(out, "", "levels", result, with_series);
    } else {
        out << "third-octave levels, " << field << " field\n";
        for (const single_value &v : result.values) {
            char line[256];
            std::snprintf(line, sizeof line, "  %-20s %12s %s\n", v.name.c_str(), number(v.value, "%.4f").c_str(),
                          v.unit.c_str());
            out << line;
        }
    }
}

}  // namespace qcli

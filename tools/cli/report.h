// The results of an analysis (libquarnelo_files' tree) in the tool's three
// forms: a table for the terminal, JSON and CSV.
#ifndef QUARNELO_CLI_REPORT_H
#define QUARNELO_CLI_REPORT_H

#include <ostream>
#include <string>
#include <vector>

#include "quarnelo_files.h"

namespace qcli {

enum class output_format { table, json, csv };

struct report_options {
    std::string field;  // "free" or "diffuse"
    bool series = false;
    const qnf_options *options = nullptr;  // of the run: the single values' names
    std::vector<std::string> metrics;      // selected, in order
    std::string sharpness_weighting = "din";
};

void write_table(std::ostream &out, const qnf_results &results, const report_options &options);
void write_json(std::ostream &out, const qnf_results &results, const report_options &options);
// One row per file and channel (one for a file that could not be read):
// file, channel, sample_rate, duration_s, calibration, a column per single
// value ("loudness-time.n5") and error, the layout of the Python batch.
void write_csv(std::ostream &out, const qnf_results &results, const report_options &options);

// The tidy table of a metric's series with a value per frame: file,
// channel, time_s, a column per series, error; a row per frame, and one
// per file or channel that has none with the reason. A metric without such
// series has none.
bool has_series_table(const std::string &metric);
void write_series_table(std::ostream &out, const qnf_results &results, const std::string &metric);

// One line per failure on standard error, naming the file and the reason;
// true when there was one.
bool report_failures(const qnf_results &results);

// A single value of the `levels` command: name, value, unit.
struct level_value {
    std::string name;
    double value;
    std::string unit;
};
// A series of the `levels` command: values over one axis of points.
struct level_series {
    std::string name, unit, axis, axis_unit;
    std::vector<double> points, values;
};

// The `levels` command's result in the same three forms.
void write_levels(std::ostream &out, output_format format, const std::vector<level_value> &values,
                  const std::vector<level_series> &series, const std::string &field, bool with_series);

}  // namespace qcli

#endif

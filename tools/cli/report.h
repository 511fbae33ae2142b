// The results of an analysis, and their table, JSON and CSV forms.
#ifndef QUARNELO_CLI_REPORT_H
#define QUARNELO_CLI_REPORT_H

#include <ostream>
#include <string>
#include <utility>
#include <vector>

#include "metrics.h"

namespace qcli {

struct channel_report {
    int channel = 0;  // from 1
    std::string calibration;
    std::vector<std::pair<std::string, metric_result>> metrics;  // by metric name
    std::vector<std::pair<std::string, std::string>> errors;     // metric, reason
};

struct file_report {
    std::string path;
    std::string error;  // the file could not be analysed at all
    int sample_rate = 0;
    int channels = 0;
    double duration_s = 0;
    bool resampled = false;
    std::vector<channel_report> results;

    bool failed() const;
};

enum class output_format { table, json, csv };

struct report_options {
    std::string field;  // "free" or "diffuse"
    bool series = false;
};

void write_table(std::ostream &out, const std::vector<file_report> &files, const report_options &options);
void write_json(std::ostream &out, const std::vector<file_report> &files, const report_options &options);
void write_csv(std::ostream &out, const std::vector<file_report> &files, const report_options &options);

// The `levels` command's result in the same three forms.
void write_levels(std::ostream &out, output_format format, const metric_result &result, const std::string &field,
                  bool series);

}  // namespace qcli

#endif

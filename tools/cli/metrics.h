// The metrics the tool reports: one descriptor per metric, with the single
// values users quote and, on request, the series behind them. Adding a
// metric is one entry in metric_table() and its analysis in
// channel_analysis.cpp.
#ifndef QUARNELO_CLI_METRICS_H
#define QUARNELO_CLI_METRICS_H

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "quarnelo.h"
#include "series_store.h"

namespace qcli {

struct single_value {
    std::string name;
    double value;
    std::string unit;
};

struct axis {
    std::string name;  // "time", "rate", "frequency"
    std::string unit;  // "s", "Bark", "Hz"
    std::vector<double> values;  // the points; empty for a grid
    // A grid of `count` points first + i * step: the times of a series'
    // frames, which take no memory however long the series.
    uint64_t count = 0;
    double first = 0, step = 0;

    uint64_t size() const { return values.empty() ? count : values.size(); }
    double at(uint64_t i) const {
        return values.empty() ? first + static_cast<double>(i) * step : values[static_cast<std::size_t>(i)];
    }
};

// The times of `frames` frames, the first at `first` seconds.
axis time_axis(uint64_t frames, double first, double step);

// Values over one or two axes, row-major (the last axis varies fastest).
struct series {
    std::string name;
    std::string unit;
    std::vector<axis> axes;
    value_list values;
};

struct metric_result {
    std::vector<single_value> values;
    std::vector<series> series_list;
};

enum class metric_kind { loudness, loudness_time, sharpness, roughness_dw, tonality_aures, tonality_ecma, roughness_ecma };

struct metric {
    metric_kind kind;
    const char *name;         // as given to --metrics
    const char *description;  // for --help
    uint64_t min_samples;     // at 48 kHz
    bool uses_field;
    // What the metric holds, for the estimate that admits a file before it
    // is read: whether it analyses the channel whole (the ECMA-418-2
    // metrics, which hold every sample at 48 kHz), and the bytes per sample
    // at 48 kHz it holds besides (its outputs over the whole channel).
    bool whole_channel = false;
    double bytes_per_sample = 0;
};

const std::vector<metric> &metric_table();

// The 240 points of the critical-band-rate axis, Bark.
std::vector<double> bark_axis_values();

// The largest specific loudness and its critical-band rate.
void add_pattern_values(const std::vector<double> &specific, metric_result &out);
const metric *find_metric(const std::string &name);

// Single values and patterns of 28 third-octave levels (the `levels` command).
bool levels_result(const std::vector<double> &levels, qn_sound_field field, bool with_series, metric_result &out,
                   std::string &error);

// "input is too short" and the like, with the metric's name.
std::string status_message(const char *metric, qn_status status);

// The same for the stationary loudness (of a signal or of levels), naming
// the cause of its one refusal of a level.
std::string stationary_status_message(qn_status status);

}  // namespace qcli

#endif

// The metrics a file can be analysed with: one descriptor per metric, data
// that every front end reads (the C interface hands it out), with the
// single values users quote and the series behind them. Adding a metric is
// one entry in metric_table() and its results in the analysis of its
// family.
#ifndef QUARNELO_FILES_METRICS_H
#define QUARNELO_FILES_METRICS_H

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "quarnelo.h"
#include "results.h"

namespace qnf {

// The analyses that run over a channel's blocks; a metric belongs to one,
// and metrics of one family share its work.
enum class family {
    loudness_meter,  // ISO 532-1 through the loudness meter: stationary, time-varying, sharpness
    framed,          // framed windows of whole frames: Daniel & Weber roughness, Aures tonality
    ecma,            // the ECMA-418-2 hearing model over the whole channel
};

// Which metric: each family's analysis gives the results of its members.
enum class metric_id { loudness, loudness_time, sharpness, roughness_dw, tonality_aures, tonality_ecma, roughness_ecma };

struct quantity {
    const char *name;
    const char *unit;
};

// A series a metric keeps with option "series": its quantity, unit and
// axes, space-separated ("time", "time rate", "rate").
struct series_info {
    const char *name;
    const char *unit;
    const char *axes;
};

struct metric {
    metric_id id;
    family group;
    const char *name;         // as given to option "metrics"
    const char *description;  // for help texts
    const char *title;        // for plots and reports
    uint64_t min_samples;     // at 48 kHz
    uint64_t frame_length;    // 0 when not framed
    uint64_t hop;
    double first_time;        // s, of frame 0 in its series
    bool uses_field;
    std::span<const quantity> quantities;  // single values, in order
    std::span<const series_info> series;   // series, in order
    // What the metric holds, for the estimate that admits a file before it
    // is read: whether it analyses the channel whole (the ECMA-418-2
    // metrics, which hold every sample at 48 kHz), and the bytes per sample
    // at 48 kHz it holds besides (its outputs over the whole channel).
    bool whole_channel = false;
    double bytes_per_sample = 0;
};

const std::vector<metric> &metric_table();
const metric *find_metric(const std::string &name);

// The 240 points of the critical-band-rate axis, Bark, and the 53 auditory
// bands' rates of ECMA-418-2, 0.5 ... 26.5 Bark.
std::vector<double> bark_axis_values();
std::vector<double> ecma_band_rates();

// The largest specific loudness and its critical-band rate.
void add_pattern_values(const std::vector<double> &specific, metric_result &out);

// "input is too short" and the like, with the metric's name.
std::string status_message(const char *metric, qn_status status);

// The same for the stationary loudness, naming the cause of its one
// refusal of a level.
std::string stationary_status_message(qn_status status);

}  // namespace qnf

#endif

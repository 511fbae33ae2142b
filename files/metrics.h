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
    ecma,            // the ECMA-418-2 hearing model, one stream per channel for all its metrics
    levels,          // the sound level meter and the third-octave band-level meter
};

// Which metric: each family's analysis gives the results of its members.
enum class metric_id {
    loudness,
    loudness_time,
    sharpness,
    roughness_dw,
    tonality_aures,
    tonality_ecma,
    loudness_ecma,
    roughness_ecma,
    fluctuation_ecma,
    spl,
    band_levels,
};

// What a single value is: one the metric's analysis computes by its own
// rule, or a statistic over the frames of its statistics series
// (statistics.h), the same for every metric.
enum class statistic {
    own,
    mean,         // summed in frame order
    max,
    min,
    percentiles,  // the percentiles asked for, each a value: "n5", "n10"
};

struct quantity {
    const char *name;  // for percentiles, none: the names are the symbol and the percent
    const char *unit;
    statistic kind = statistic::own;
    // An ISO 532-1 loudness in sone: each value is followed by its loudness
    // level in phon, named after it with "_level" ("n5" "n5_level").
    bool with_level = false;
};

// A series a metric keeps with option "series": its quantity, unit and
// axes, space-separated: "time" (a value per frame), "bark" (the 240
// points of the critical-band rate), "band" (the 53 auditory bands of
// ECMA-418-2), "third_octave" (the 28 third-octave bands of ISO 532-1),
// "time bark", "time band", "time third_octave".
struct series_info {
    const char *name;
    const char *unit;
    const char *axes;
};

// The statistics over frames of a metric with a time series: from which
// series, how its percentiles are named, whether silent frames count as 0,
// and which percentiles it gives when none are asked for.
struct frame_statistics_info {
    int series = -1;               // index into metric::series; -1: no statistics
    const char *symbol = nullptr;  // percentile names: "n" gives n5, n10
    // Frames whose total loudness is below the silent floor count as 0
    // (statistics.h): the analysis hands each frame's loudness with its value.
    bool silent_floor = false;
    std::span<const double> default_percentiles = {};
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
    // Single values, in order; a `percentiles` entry stands for the
    // percentiles asked for (quoted_names()).
    std::span<const quantity> quantities;
    std::span<const series_info> series;  // series, in order
    frame_statistics_info statistics{};
    // ECMA-418-2: the metric's flag in the hearing model's stream, and
    // whether the two ears of a head recording combine into one value
    // (binaural): per frame and band, then reduced as one ear's values.
    qn_ecma_metric ecma = 0;
    bool binaural = false;
    // What the metric holds beyond its family's fixed working set, for the
    // estimate that admits a file before it is read: bytes per sample at
    // 48 kHz, whatever the options (the time-dependent values a percentile
    // single value is taken from).
    double bytes_per_sample = 0;
    // Whether it runs when no metrics are named. Fluctuation strength does
    // not: it needs 1.37 s, and the clips of a default run are often
    // shorter.
    bool in_default_set = true;
};

// The band levels' default interval: 100 ms at 48 kHz (option "band-step").
inline constexpr uint64_t default_band_step = 4800;

const std::vector<metric> &metric_table();
const metric *find_metric(const std::string &name);
const metric &metric_of(metric_id id);

// The 240 points of the critical-band-rate axis, Bark, and the 53 auditory
// bands' rates of ECMA-418-2, 0.5 ... 26.5 Bark.
std::vector<double> bark_axis_values();
std::vector<double> ecma_band_rates();

// The pattern axes of the series, as results carry them: "bark" (240
// points, named "rate" in Bark) and "band" (53 bands, named "rate" in Bark,
// with each band's centre frequency in Hz as a further coordinate).
axis bark_axis();
axis band_axis();

// The 28 third-octave bands of the ISO 532-1 filter bank, named
// "frequency" in Hz (their nominal centres, 25 ... 12500), on the dimension
// "third_octave".
axis third_octave_axis();

// The times of a metric's `frames` frames: frame k at first_time + k hop /
// 48000 s, on the dimension "<metric>.time".
axis time_axis(const metric &m, uint64_t frames);

// Completes a series of metric `m` as the results carry it: its variable
// name ("loudness-time.specific_loudness"), each axis' dimension and
// further coordinates after the descriptor's axes, and its times moved by
// `start_s`, where the analysed stretch begins in the file.
void complete_series(const metric &m, series &s, double start_s);

// The name of the percentile `percent` of a metric: its symbol and the
// percent, shortest ("n5", "n2.5", "n99.9").
std::string percentile_name(const metric &m, double percent);

// The single values of a metric with these percentiles, in order: names
// and units ("max" "sone", "n5" "sone", ...).
struct quantity_name {
    std::string name;
    std::string unit;
    statistic kind;
    double percent = 0;  // of a percentile
    bool level = false;  // the loudness level in phon of the value before it
};
std::vector<quantity_name> quoted_names(const metric &m, std::span<const double> percentiles);

// The largest specific loudness and its critical-band rate.
void add_pattern_values(const std::vector<double> &specific, metric_result &out);

// "input is too short" and the like, with the metric's name.
std::string status_message(const char *metric, qn_status status);

// The same for the stationary loudness, naming the cause of its one
// refusal of a level.
std::string stationary_status_message(qn_status status);

}  // namespace qnf

#endif

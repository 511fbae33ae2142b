// The metrics the tool reports: one descriptor per metric, with the single
// values users quote and, on request, the series behind them. Adding a
// metric is one function and one entry in metric_table().
#ifndef QUARNELO_CLI_METRICS_H
#define QUARNELO_CLI_METRICS_H

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "quarnelo.h"

namespace qcli {

struct single_value {
    std::string name;
    double value;
    std::string unit;
};

struct axis {
    std::string name;  // "time", "rate", "frequency"
    std::string unit;  // "s", "Bark", "Hz"
    std::vector<double> values;
};

// Values over one or two axes, row-major (the last axis varies fastest).
struct series {
    std::string name;
    std::string unit;
    std::vector<axis> axes;
    std::vector<double> values;
};

struct metric_result {
    std::vector<single_value> values;
    std::vector<series> series_list;
};

// The analyses of one channel, computed once and shared by the metrics that
// need them.
class channel_context {
public:
    channel_context(const double *samples, uint64_t count, qn_sound_field field)
        : samples_(samples), count_(count), field_(field) {}

    const double *samples() const { return samples_; }
    uint64_t count() const { return count_; }
    qn_sound_field field() const { return field_; }

    struct stationary {
        double loudness = 0;
        std::vector<double> specific = std::vector<double>(240);
    };
    struct time_varying {
        std::vector<double> loudness;  // one per 2 ms frame
        std::vector<double> specific;  // 240 per frame
    };
    // Null with a message when the library refuses.
    const stationary *stationary_loudness(std::string &error);
    const time_varying *time_varying_loudness(std::string &error);

private:
    const double *samples_;
    uint64_t count_;
    qn_sound_field field_;
    std::optional<stationary> stationary_;
    std::optional<time_varying> time_;
    std::string stationary_error_, time_error_;
};

struct metric {
    const char *name;         // as given to --metrics
    const char *description;  // for --help
    uint64_t min_samples;     // at 48 kHz
    bool uses_field;
    // Fills `out`; returns false with a reason.
    bool (*compute)(channel_context &ctx, bool with_series, metric_result &out, std::string &error);
};

const std::vector<metric> &metric_table();
const metric *find_metric(const std::string &name);

// The loudness exceeded `percent` % of the time: with the frame values
// sorted ascending, the value at rank ceil((1 - percent / 100) * F)
// (nearest rank, no interpolation), F the number of frames.
double exceeded_percent(std::vector<double> values, double percent);

// The single value of ECMA-418-2 roughness: the 90th percentile (nearest
// rank, as exceeded_percent(values, 10)) of the total roughness per frame
// over the frames at or after 0.3 s (frame 15 on, 50 frames per second),
// while the first frames still rise from the silent start.
inline constexpr std::size_t ecma_roughness_settling_frames = 15;
double ecma_roughness_single_value(const std::vector<double> &total);

// The single values of ECMA-418-2 tonality from its time-dependent
// tonality T(l), one value per frame, frame l standing for l * hop_seconds:
// `value` is the mean of T(l) over the frames at or after 0.3 s whose T(l)
// exceeds 0.02 (0 when none does); `max` the largest T(l) at or after
// 0.3 s (0 when there is none), and `frame` the first frame that has it.
// The first 0.3 s are left out because the model's smoothing starts from
// rest. The Python package's tonality_ecma_summary follows the same rule;
// both are held to one table of cases.
struct tonality_summary {
    double value = 0;
    double max = 0;
    std::size_t frame = 0;
};
tonality_summary summarise_tonality(const std::vector<double> &tonality, double hop_seconds);

// Single values and patterns of 28 third-octave levels (the `levels` command).
bool levels_result(const std::vector<double> &levels, qn_sound_field field, bool with_series, metric_result &out,
                   std::string &error);

// "input is too short" and the like, with the metric's name.
std::string status_message(const char *metric, qn_status status);

}  // namespace qcli

#endif

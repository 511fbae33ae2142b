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
    // What the metric holds at its peak, for the estimate that admits a file
    // before it is read: whether it uses the channel's time-varying loudness
    // (shared by the metrics that use it, time_varying_bytes_per_sample),
    // and the bytes per sample of the channel at 48 kHz it holds besides
    // (its outputs and the library's working memory).
    bool uses_loudness_time = false;
    double bytes_per_sample = 16;
};

// The time-varying loudness of a channel: 241 doubles per 96 samples, held
// twice while the library computes it (its working block and the copy).
inline constexpr double time_varying_bytes_per_sample = 2 * 241 * 8 / 96.0;

const std::vector<metric> &metric_table();
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

// Statistics over the frames of a time series, as every front end quotes
// them: the mean, maximum and minimum of every metric with a time series,
// the percentiles asked for (N5, N10), and the single values of the
// ECMA-418-2 metrics. The Python package calls these through the C
// interface; the table of cases in tests/data/statistics_cases.json holds
// them.
#ifndef QUARNELO_FILES_STATISTICS_H
#define QUARNELO_FILES_STATISTICS_H

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "metrics.h"
#include "results.h"

namespace qnf {

// A frame whose total loudness is below this, in sone, counts as silent in
// every statistic over frames: its loudness and its sharpness count as 0.
// 0.001 sone is about 4 phon, the threshold of hearing; what the temporal
// decay leaves after a sound ends (down to 1e-19 sone and less) lies far
// below it, and any sound worth measuring far above.
inline constexpr double silent_floor_sone = 1e-3;

inline bool is_silent_frame(double loudness) { return loudness < silent_floor_sone; }

// The value exceeded during `percent` % of the frames, by nearest rank: with
// the F values sorted ascending, the one at rank ceil((100 - percent) * F /
// 100) (computed in that order in doubles), kept within 1 ... F. No
// interpolation, so the result is always one of the values. N5 is
// exceeded_percent(loudness, 5). 0 for no values.
double exceeded_percent(std::span<const double> values, double percent);

// The same of values already sorted ascending.
double exceeded_percent_of_sorted(std::span<const double> sorted, double percent);

// What the statistics over frames cover: the frames from `skip_s` on (a
// settling time, from the start of the analysed audio), and the
// percentiles asked for (each metric's own when none are).
struct statistics_settings {
    double skip_s = 0;
    std::optional<std::vector<double>> percentiles;

    std::span<const double> percentiles_of(const metric &m) const {
        return percentiles ? std::span<const double>(*percentiles) : m.statistics.default_percentiles;
    }
};

// The statistics of a metric's frames, taken as the frames pass: the mean
// (one sum in frame order, divided by the count), maximum, minimum, and the
// percentiles by nearest rank (exceeded_percent), for which each counted
// frame's value is kept (8 bytes a frame, and only then). Frame k stands
// for the time first + k step s; it counts when that time is at or after
// the skip. With a silent floor, a frame whose loudness is silent counts
// as 0.
class frame_statistics {
public:
    frame_statistics() = default;  // nothing to count
    frame_statistics(std::span<const double> percents, bool silent_floor, double skip = 0, double first = 0,
                     double step = 0);
    // For metric `m`: its frame times, silent floor and the percentiles of
    // `settings`. `expected_frames` (0 when unknown) reserves the kept
    // values.
    frame_statistics(const metric &m, const statistics_settings &settings, uint64_t expected_frames = 0);

    // The next frame's value, and with a silent floor its loudness in sone.
    void add(double value, double loudness = 1.0);

    uint64_t counted() const { return counted_; }
    // After the last frame: the statistics of the counted frames (zeros
    // when none counted). Takes the kept values.
    frame_summary finish();

private:
    std::vector<double> percents_;
    bool floor_ = false;
    double skip_ = 0, first_ = 0, step_ = 0;
    uint64_t frame_ = 0, counted_ = 0;
    double sum_ = 0, max_ = 0, min_ = 0;
    std::vector<double> kept_;
};

// The statistics of a whole series at once, from frame 0: `loudness`
// (empty, or one value per frame) gives the silent frames.
frame_summary summarise_frames(std::span<const double> values, std::span<const double> loudness,
                               std::span<const double> percents);

// A metric's statistics into its result once its frames are in: false, with
// the reason in out.statistics_error, when no frame counted (the skip lies
// beyond the audio).
bool finish_statistics(frame_statistics &stats, const statistics_settings &settings, metric_result &out);

// The single values of metric `m` in the descriptor's order: its own from
// `result.values` (by name), the statistics from `result.statistics`.
std::vector<single_value> quoted_values(const metric &m, const statistics_settings &settings,
                                        const metric_result &result);

// The single value of ECMA-418-2 roughness from the total roughness of
// each frame: the standard's 90th percentile from frame 16 (0.32 s) on, as
// libquarnelo computes it (qn_ecma_single_value): QN_STATUS_SUCCESS, or
// its status (QN_STATUS_INPUT_TOO_SHORT for 16 frames or fewer).
qn_status ecma_roughness_value(std::span<const double> total, double &value);

// The single values of ECMA-418-2 tonality from its time-dependent
// tonality T(l), one value per frame, frame l standing for l * hop_seconds:
// `value` is the mean of T(l) over the frames at or after 0.3 s whose T(l)
// exceeds 0.02 (0 when none does), summed in frame order; `max` the largest
// T(l) at or after 0.3 s (0 when there is none), and `frame` the first frame
// that has it. The first 0.3 s are left out because the model's smoothing
// starts from rest.
struct tonality_summary {
    double value = 0;
    double max = 0;
    std::size_t frame = 0;
};
tonality_summary summarise_tonality(std::span<const double> tonality, double hop_seconds);

}  // namespace qnf

#endif

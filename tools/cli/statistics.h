// Statistics over the frames of a time series, as the tool quotes them (N5,
// N10, means over frames). The Python package computes the same quantities
// in quarnelo/_statistics.py; both are held to the one table of cases in
// tests/data/statistics_cases.json.
#ifndef QUARNELO_CLI_STATISTICS_H
#define QUARNELO_CLI_STATISTICS_H

#include <span>
#include <vector>

namespace qcli {

// A frame whose total loudness is below this, in sone, counts as silent in
// every statistic over frames: its loudness and its sharpness count as 0.
// 0.001 sone is about 4 phon, the threshold of hearing; what the temporal
// decay leaves after a sound ends (down to 1e-19 sone and less) lies far
// below it, and any sound worth measuring far above.
inline constexpr double silent_floor_sone = 1e-3;

// values[f], or 0 where loudness[f] is below the silent floor. The spans
// have one element per frame.
std::vector<double> silence_floored(std::span<const double> values, std::span<const double> loudness);

// The value exceeded during `percent` % of the frames, by nearest rank: with
// the F values sorted ascending, the one at rank ceil((100 - percent) * F /
// 100) (computed in that order in doubles), kept within 1 ... F. No
// interpolation, so the result is always one of the values. N5 is
// exceeded_percent(loudness, 5). 0 for no values.
double exceeded_percent(std::span<const double> values, double percent);

// Arithmetic mean, summed in frame order (0 for no values), and largest
// value (0 for no values).
double mean_of(std::span<const double> values);
double max_of(std::span<const double> values);

// The single values of a time-varying loudness, silent frames counting 0.
struct loudness_statistics {
    double max, n5, n10, mean;  // sone
};
loudness_statistics loudness_over_frames(std::span<const double> loudness);

// The mean sharpness over frames, a silent frame (by its loudness) counting 0.
double sharpness_mean_over_frames(std::span<const double> sharpness, std::span<const double> loudness);

}  // namespace qcli

#endif

// Statistics over the frames of a time series, as the tool quotes them (N5,
// N10, means over frames). The Python package computes the same quantities
// in quarnelo/_statistics.py; both are held to the one table of cases in
// tests/data/statistics_cases.json.
#ifndef QUARNELO_FILES_STATISTICS_H
#define QUARNELO_FILES_STATISTICS_H

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace qnf {

// A frame whose total loudness is below this, in sone, counts as silent in
// every statistic over frames: its loudness and its sharpness count as 0.
// 0.001 sone is about 4 phon, the threshold of hearing; what the temporal
// decay leaves after a sound ends (down to 1e-19 sone and less) lies far
// below it, and any sound worth measuring far above.
inline constexpr double silent_floor_sone = 1e-3;

inline bool is_silent_frame(double loudness) { return loudness < silent_floor_sone; }

// values[f], or 0 where loudness[f] is below the silent floor. The spans
// have one element per frame.
std::vector<double> silence_floored(std::span<const double> values, std::span<const double> loudness);

// A mean over frames taken as the frames pass: the values added in frame
// order give mean_of of them, bit for bit (one sum, in that order, divided
// by the count).
class frame_mean {
public:
    void add(double value) {
        sum_ += value;
        ++count_;
    }
    // `value`, or 0 when the frame is silent by its loudness.
    void add_floored(double value, double loudness) { add(is_silent_frame(loudness) ? 0.0 : value); }
    double value() const { return count_ == 0 ? 0.0 : sum_ / static_cast<double>(count_); }

private:
    double sum_ = 0;
    uint64_t count_ = 0;
};

// The value exceeded during `percent` % of the frames, by nearest rank: with
// the F values sorted ascending, the one at rank ceil((100 - percent) * F /
// 100) (computed in that order in doubles), kept within 1 ... F. No
// interpolation, so the result is always one of the values. N5 is
// exceeded_percent(loudness, 5). 0 for no values.
double exceeded_percent(std::span<const double> values, double percent);

// The same of values already sorted ascending.
double exceeded_percent_of_sorted(std::span<const double> sorted, double percent);

// Arithmetic mean, summed in frame order (0 for no values), and largest
// value (0 for no values).
double mean_of(std::span<const double> values);
double max_of(std::span<const double> values);

// The single values of a time-varying loudness, silent frames counting 0.
struct loudness_statistics {
    double max, n5, n10, mean;  // sone
};
loudness_statistics loudness_over_frames(std::span<const double> loudness);

// The same, taking the frames' values over and using their memory (floored
// and sorted in place), so that a long recording's frames are held once.
loudness_statistics loudness_over_frames(std::vector<double> &&loudness);

// The mean sharpness over frames, a silent frame (by its loudness) counting 0.
double sharpness_mean_over_frames(std::span<const double> sharpness, std::span<const double> loudness);

// The single value of ECMA-418-2 roughness: the 90th percentile (nearest
// rank, exceeded_percent(values, 10)) of the total roughness per frame over
// the frames at or after 0.3 s (frame 15 on, 50 frames per second); the
// first frames still rise from the silent start.
inline constexpr std::size_t ecma_roughness_settling_frames = 15;
double ecma_roughness_value(std::span<const double> total);

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

#include "statistics.h"

#include <algorithm>
#include <cmath>

namespace qnf {

std::vector<double> silence_floored(std::span<const double> values, std::span<const double> loudness) {
    std::vector<double> out(values.begin(), values.end());
    for (std::size_t f = 0; f < out.size() && f < loudness.size(); ++f)
        if (is_silent_frame(loudness[f])) out[f] = 0.0;
    return out;
}

double exceeded_percent(std::span<const double> values, double percent) {
    std::vector<double> sorted(values.begin(), values.end());
    std::sort(sorted.begin(), sorted.end());
    return exceeded_percent_of_sorted(sorted, percent);
}

double exceeded_percent_of_sorted(std::span<const double> sorted, double percent) {
    if (sorted.empty()) return 0.0;
    const double frames = static_cast<double>(sorted.size());
    // (100 - p) * F is exact for whole percents, so the rank is exact too.
    const double rank = std::ceil((100.0 - percent) * frames / 100.0);
    const std::size_t index = !(rank > 1.0)     ? 0
                              : rank >= frames ? sorted.size() - 1
                                               : static_cast<std::size_t>(rank) - 1;
    return sorted[index];
}

double mean_of(std::span<const double> values) {
    frame_mean mean;
    for (double v : values) mean.add(v);
    return mean.value();
}

double max_of(std::span<const double> values) {
    return values.empty() ? 0.0 : *std::max_element(values.begin(), values.end());
}

loudness_statistics loudness_over_frames(std::span<const double> loudness) {
    return loudness_over_frames(std::vector<double>(loudness.begin(), loudness.end()));
}

loudness_statistics loudness_over_frames(std::vector<double> &&loudness) {
    std::vector<double> n = std::move(loudness);
    for (double &v : n)
        if (is_silent_frame(v)) v = 0.0;
    loudness_statistics s{};
    s.max = max_of(n);
    s.mean = mean_of(n);  // summed in frame order, before the sort
    std::sort(n.begin(), n.end());
    s.n5 = exceeded_percent_of_sorted(n, 5);
    s.n10 = exceeded_percent_of_sorted(n, 10);
    return s;
}

double sharpness_mean_over_frames(std::span<const double> sharpness, std::span<const double> loudness) {
    return mean_of(silence_floored(sharpness, loudness));
}

double ecma_roughness_value(std::span<const double> total) {
    const std::size_t skip = std::min(ecma_roughness_settling_frames, total.size());
    return exceeded_percent(total.subspan(skip), 10);
}

tonality_summary summarise_tonality(std::span<const double> tonality, double hop_seconds) {
    tonality_summary s;
    double sum = 0;
    std::size_t counted = 0;
    bool found = false;
    for (std::size_t l = 0; l < tonality.size(); ++l) {
        if (static_cast<double>(l) * hop_seconds < 0.3) continue;
        if (!found || tonality[l] > s.max) {
            s.max = tonality[l];
            s.frame = l;
            found = true;
        }
        if (tonality[l] > 0.02) {
            sum += tonality[l];
            ++counted;
        }
    }
    s.value = counted > 0 ? sum / static_cast<double>(counted) : 0.0;
    return s;
}

}  // namespace qnf

// Neighbours and lag windows of the tonality's output bands.
#include <cmath>

#include "ecma/front_end.h"
#include "ecma/tonality.h"

qn_ecma_neighbours qn_ecma_tonal_neighbours(uint32_t band) noexcept {
    // Band 0 has no band below it, band 1 one; from band 25 on the bands
    // are wide enough to stand alone.
    if (band < 2) return {band, 1};
    if (band <= 15) return {2, 2};
    if (band <= 24) return {1, 1};
    return {0, 0};
}

qn_ecma_lag_window qn_ecma_tonal_lag_window(uint32_t band) noexcept {
    const double width = qn_ecma_bandwidth_hz(band);
    // From half a period of the bandwidth (at least 2 ms) to four periods
    // (at least 1 ms further).
    const double shortest = 0.5 / width;
    const double start = shortest > 0.002 ? shortest : 0.002;
    const double longest = 4.0 / width;
    const double after_start = start + 0.001;
    const double stop = std::isnan(longest) || after_start > longest ? after_start : longest;
    const auto o = static_cast<uint32_t>(std::ceil(48000.0 * start));
    const auto e = static_cast<uint32_t>(std::floor(48000.0 * stop));
    return {o - 1, e - o + 1, e};
}

// The tables of the roughness engine that depend only on the frame length
// and the sample rate, prepared once per call: window, spectrum scale,
// critical-band rate, thresholds and transmission per bin, channel
// thresholds and weights, and the modulation weighting of each channel.
#ifndef QN_ROUGHNESS_DW_SETUP_H
#define QN_ROUGHNESS_DW_SETUP_H

#include <cstddef>
#include <cstdint>

#include "frame/alloc.h"
#include "roughness_dw/dw_tables.h"

// Linear interpolation in a table of points with rising x, on the first
// segment that contains x; x must lie within the table.
double qn_dw_lookup(const qn_dw_point *table, std::size_t count, double x) noexcept;

// Channels are numbered 1 ... 47 and correlations 1 ... 45, as in the model;
// arrays are zero-based. These are the only two places that map one to the
// other.
inline constexpr int qn_dw_channel_index(int channel) { return channel - 1; }
inline constexpr int qn_dw_correlation_index(int pair) { return pair - 1; }

// A modulation depth below this is the rounding noise of an envelope that
// is constant in exact arithmetic: real modulation between components that
// are both above the threshold in quiet is many orders of magnitude deeper.
inline constexpr double qn_dw_unmodulated_depth = 1e-12;

struct qn_dw_setup {
    int length = 0;  // N, samples per frame
    int hop = 0;     // N / 2
    int bin_lo = 0;  // lowest and highest analysed bins
    int bin_hi = 0;
    double fs = 0;
    double scale = 0;  // spectrum scale S

    qn_heap_array<double> window;     // N
    qn_heap_array<double> rate;       // critical-band rate per bin, Bark (N/2 + 1; analysed bins)
    qn_heap_array<double> threshold;  // threshold in quiet per bin, dB (N/2 + 1; analysed bins)
    qn_heap_array<double> transmission;  // linear gain per bin (N; 1 outside the analysed bins)

    double channel_threshold[qn_dw::channel_count] = {};  // dB, by channel index
    double lowest_channel_threshold = 0;                   // the least of them
    double channel_weight[qn_dw::channel_count] = {};     // g at the channel centre

    // Modulation weighting per channel: bins 0 ... weight_bins - 1 of each
    // row are stored (every bin above is 0), row-major by channel index.
    int weight_bins = 0;
    int channel_weight_end[qn_dw::channel_count] = {};  // K: bins 2 ... K - 1 are filled
    qn_heap_array<double> modulation_weight;           // channel_count x weight_bins
};

// Fills the setup for sample rate fs. False when memory is refused.
bool qn_dw_prepare(qn_dw_setup *setup, double fs) noexcept;

#endif

// The tables of the roughness engine that depend only on the frame length
// and the sample rate, prepared once per call: window, spectrum scale,
// critical-band rate, thresholds and transmission per bin, channel
// thresholds and weights, and the modulation weighting of each channel.
#ifndef QN_ROUGHNESS_DW_SETUP_H
#define QN_ROUGHNESS_DW_SETUP_H

#include <cstddef>
#include <cstdint>

#include "base/alloc.h"
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

// The per-bin tables run in whole vectors of up to this many bins: each is
// padded beyond the analysed bins with values that make no component.
inline constexpr int qn_dw_bin_block = 8;

struct qn_dw_setup {
    int length = 0;  // N, samples per frame
    int hop = 0;     // N / 2
    int bin_lo = 0;  // lowest and highest analysed bins
    int bin_hi = 0;
    int bin_end = 0;  // bin_hi + 1 rounded up to whole blocks: the bins the kernels run over
    double fs = 0;
    double scale = 0;  // spectrum scale S

    qn_heap_array<double> window;         // N
    qn_heap_array<double> scaled_window;  // N: window times S, applied to each frame
    // Per bin, bin_end entries (at least N/2 + 1); for the analysed bins:
    qn_heap_array<double> rate;       // critical-band rate z, Bark (0 outside)
    qn_heap_array<double> threshold;  // threshold in quiet, dB (+infinity outside: never a component)
    qn_heap_array<double> transmission;  // linear gain (N entries; 1 outside the analysed bins)
    // What the spread over the channels needs of each bin, so that no
    // frame computes it again:
    qn_heap_array<double> lower_ratio;  // 10^(-27 z / 20): the excitation ratio at 0 Bark
    qn_heap_array<double> slope_term;   // 230 / f (f in Hz) of the upper slope (0 outside)
    // Per block of qn_dw_bin_block bins (bin_end / qn_dw_bin_block of
    // them): the least and the greatest rate of its analysed bins, Bark.
    qn_heap_array<double> block_rate_low;
    qn_heap_array<double> block_rate_high;
    // 10^(27 (0.5 j) / 20) for channel j = 1 ... 47, by channel index: times
    // lower_ratio, a component's excitation ratio at channel j below it.
    double channel_gain[qn_dw::channel_count] = {};

    double channel_threshold[qn_dw::channel_count] = {};  // dB, by channel index
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

// The roughness engine's loops over bins and samples, on a chosen vector
// path: two lanes on any x86-64, four with AVX2, eight with AVX-512. Every
// lane does the arithmetic of its bin alone, with correctly rounded
// operations and no fused multiply-add, so every path gives the same bits.
// The loops over bins run in whole blocks of qn_dw_bin_block bins up to
// bin_end; the tables are padded so that the bins beyond the analysed ones
// never become components and contribute exact zeros.
#ifndef QN_ROUGHNESS_DW_KERNELS_H
#define QN_ROUGHNESS_DW_KERNELS_H

#include <cstddef>

#include "base/simd.h"

// The per-bin tables of the setup the kernels read (bin_end entries each).
struct qn_dw_bin_tables {
    int bin_end;
    const double *rate;          // z, Bark
    const double *threshold;     // threshold in quiet, dB (+infinity where no component may be)
    const double *transmission;  // linear ear gain
    const double *lower_ratio;   // 10^(-27 z / 20)
    const double *slope_term;    // 230 / f
};

// Level and slope that stand for "no component" in the block summaries:
// below every threshold, and steeper than any slope.
inline constexpr double qn_dw_no_level = -400.0;
inline constexpr double qn_dw_no_slope = -1000.0;

// The per-bin state of one frame (bin_end entries each). Bins that are not
// components have zero spectrum and amplitude.
struct qn_dw_frame_bins {
    double *re, *im;    // ear-weighted spectrum Y of the components
    double *amplitude;  // |Y|
    double *level;      // 20 log10 |Y|, dB (-400 for a zero bin)
    double *slope;      // upper slope s = min(0, 0.2 L - 230 / f - 24), dB per Bark
    // Per block of qn_dw_bin_block bins: the highest level and the least
    // steep slope of its components (qn_dw_no_level, qn_dw_no_slope
    // without any), which bound how far the block's components reach.
    double *block_level;
    double *block_slope;
};

// What the spread of the components over channel i needs of the channels
// whose excitation it takes: j = i - 1 for components below the channel
// (2 z <= i - 1), j = i + 1 (46 for channel 47) for those above it
// (2 z >= i + 1); the components in between are the channel's own.
struct qn_dw_row {
    double below;            // i - 1
    double above;            // i + 1
    double upper_rate;       // 0.5 (i - 1), Bark
    double upper_threshold;  // threshold of channel i - 1, dB (+infinity for channel 1)
    double lower_rate;       // 0.5 j of the channel above, Bark
    double lower_threshold;  // its threshold, dB
    double lower_gain;       // 10^(27 (0.5 j) / 20)
    int own_begin;           // the channel's own bins: the analysed bins from here ...
    int own_end;             // ... to before here (2 z between i - 1 and i + 1)
};

struct qn_dw_kernels {
    // out[j] = x[j] w[j], j < n.
    void (*window)(const double *x, const double *w, std::size_t n, double *out) noexcept;
    // From a spectrum holding bin k at spectrum[2k] (real) and [2k + 1]
    // (imaginary), for k < bin_end: the ear-weighted bins, their levels,
    // which are components (level above the threshold in quiet), their
    // upper slopes and the block summaries. False when the amplitude of an
    // analysed bin is not finite.
    bool (*components)(const double *spectrum, const qn_dw_bin_tables &tables,
                       const qn_dw_frame_bins &frame) noexcept;
    // The share phi[k] of the bins begin <= k < end (whole blocks) in
    // channel i; the bins that are not components get values that multiply
    // their zero spectrum. Returns the largest phi[k] |Y[k]| there: 0 when
    // no component reaches the channel.
    double (*spread)(const qn_dw_bin_tables &tables, const qn_dw_frame_bins &frame, const qn_dw_row &row, int begin,
                     int end, double *phi) noexcept;
    // The spectra of two channels a and b, b scaled by a power of two, as
    // the full complex spectrum z (interleaved, n bins and one spare) whose
    // backward transform is e_a + i e_b: bins begin <= k < end and their
    // mirror images n - k. Other bins are left as they are.
    void (*pair_spectrum)(const double *phi_a, const double *phi_b, double scale_b, const qn_dw_frame_bins &frame,
                          int begin, int end, std::size_t n, double *z) noexcept;
    // One channel's spectrum phi Y as spectrum[2k], [2k + 1], begin <= k < end.
    void (*channel_spectrum)(const double *phi, const qn_dw_frame_bins &frame, int begin, int end,
                             double *spectrum) noexcept;
    // x[j] = |x[j]|, j < n.
    void (*rectify)(double *x, std::size_t n) noexcept;
};

const qn_dw_kernels &qn_dw_kernels_for(qn_simd path) noexcept;

#endif

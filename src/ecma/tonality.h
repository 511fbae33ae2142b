// ECMA-418-2 tonality: the geometry of its band groups, blocks, lag windows
// and frames, written once for the frame-count query, the engine and the
// tests, and the engine itself.
#ifndef QN_ECMA_TONALITY_H
#define QN_ECMA_TONALITY_H

#include <cstdint>

#include "base/simd.h"
#include "quarnelo.h"

// The five output arrays, each frames x 53 (frame-major), one after the
// other: tonal loudness, noise loudness, tonal frequency, specific tonality,
// total specific loudness.
inline constexpr uint64_t qn_ecma_tonal_arrays = 5;
inline constexpr uint64_t qn_ecma_tonal_values_per_frame = 5 * 53;  // 265

// One output frame every 256 samples from the signal start.
inline constexpr uint64_t qn_ecma_tonal_frame_hop = 256;

// The shortest signal analysed, and the longest for which 265 frames' worth
// of doubles stays below 2^60.
inline constexpr uint64_t qn_ecma_tonal_min_samples = QN_ECMA_TONAL_MIN_SAMPLES;
inline constexpr uint64_t qn_ecma_tonal_max_samples = 1113765679922085632;

// The ear-filtered buffer: 8192 zeros, the signal, zeros up to a multiple
// of 2048, 8192 zeros.
inline constexpr uint64_t qn_ecma_tonal_lead = 8192;
inline constexpr uint64_t qn_ecma_tonal_multiple = 2048;

// Frames of a signal of n samples: ceil(n / 256) + 1.
inline constexpr uint64_t qn_ecma_tonal_frames(uint64_t n) { return ((n + 255) >> 8) + 1; }

// Bands are analysed in four groups with their own block length. A group
// filters two bands beyond its output bands on either side where the
// output bands average over neighbours.
struct qn_ecma_tonal_group {
    uint32_t first_output, last_output;      // output bands, inclusive
    uint32_t first_filtered, last_filtered;  // bands filtered, inclusive
    uint32_t block_length;                   // N samples; blocks every N / 4
    double snr_scale, snr_exponent;          // c_g and e_g of s_h = c_g / f_c^e_g
};

inline constexpr int qn_ecma_tonal_group_count = 4;

inline constexpr qn_ecma_tonal_group qn_ecma_tonal_groups[qn_ecma_tonal_group_count] = {
    // output    filtered  N      c_g     e_g
    {0, 2, 0, 4, 8192, 18.21, 0.36},
    {3, 15, 1, 17, 4096, 12.14, 0.36},
    {16, 24, 15, 25, 2048, 417.54, 0.71},
    {25, 52, 25, 52, 1024, 962.68, 0.69},
};

// Bands below 16 average their autocorrelation over three consecutive
// blocks as well as over neighbouring bands.
inline constexpr uint32_t qn_ecma_tonal_three_block_bands = 16;

// Neighbours averaged for output band h: h - below ... h + above.
struct qn_ecma_neighbours {
    uint32_t below, above;
};
qn_ecma_neighbours qn_ecma_tonal_neighbours(uint32_t band) noexcept;

// The lags searched for periodicity in band h: from 0.5 / bandwidth (at
// least 2 ms) to 4 / bandwidth (at least 1 ms further). In samples,
// o = ceil(48000 tau_s), e = floor(48000 tau_e); the window holds the
// autocorrelation at lag indices o - 1 ... e - 1, M = e - o + 1 of them.
struct qn_ecma_lag_window {
    uint32_t first;  // o - 1
    uint32_t count;  // M
    uint32_t end;    // e: lags stored for a group whose first output band this is
};
qn_ecma_lag_window qn_ecma_tonal_lag_window(uint32_t band) noexcept;

// The lags stored per block of group g (K_g): e of its first output band.
inline uint32_t qn_ecma_tonal_lag_count(int group) noexcept {
    return qn_ecma_tonal_lag_window(qn_ecma_tonal_groups[group].first_output).end;
}

// Runs the analysis over a signal the caller has checked (pointer aside,
// which the ear filter checks): n within the bounds above, a valid sound
// field, and room for 265 * frames doubles at `out`. Writes the output as
// it goes. The statuses are those of the ear filter's checks,
// QN_STATUS_ALLOCATION_FAILED and QN_STATUS_NUMERICAL_FAILURE.
qn_status qn_ecma_tonal_run(const double *samples, uint64_t n, qn_sound_field field, double *out,
                            uint64_t frames, qn_simd path = qn_simd_best()) noexcept;

#endif

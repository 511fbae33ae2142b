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

// The last block of every group ends where the padded signal ends: n
// rounded up to a multiple of 2048, and 8192 more, samples after the
// signal start.
inline constexpr uint64_t qn_ecma_tonal_padded_end(uint64_t n) {
    return (n + qn_ecma_tonal_multiple - 1) / qn_ecma_tonal_multiple * qn_ecma_tonal_multiple + qn_ecma_tonal_lead;
}

// ---------------------------------------------------------------------------
// Engine
//
// The analysis as a state that runs on while the band signals arrive
// (band_signals.h): each group takes its blocks as soon as the band signals
// reach their ends, and a frame is handed to the sink once every group has
// it. Where the signal ends is told at the end; until then the engine
// treats every block as one that has a block after it, which is true of
// every block that ends within the signal.
//
// The sink receives frame k as 265 values: the five arrays' values of the
// frame, array a of band b at index 53 a + b.

struct qn_ecma_tonal_engine;
struct qn_ecma_band_signals;
struct qn_ecma_frame_sink;

// Band signals must keep this many samples for the engine.
inline constexpr uint64_t qn_ecma_tonal_span = 8192;

// A new engine, or null when memory is refused. Released with
// qn_ecma_tonal_engine_free (null is ignored).
qn_ecma_tonal_engine *qn_ecma_tonal_engine_make(qn_simd path, const qn_ecma_frame_sink &sink) noexcept;
void qn_ecma_tonal_engine_free(qn_ecma_tonal_engine *engine) noexcept;

// Where the next block that the engine has not taken ends; UINT64_MAX when
// it has taken all of them.
uint64_t qn_ecma_tonal_next_block_end(const qn_ecma_tonal_engine &engine) noexcept;

// Takes every block that ends within the band signals, and hands on every
// frame that becomes complete. QN_STATUS_NUMERICAL_FAILURE when a value is
// not finite; the engine is then of no further use.
qn_status qn_ecma_tonal_advance(qn_ecma_tonal_engine *engine, const qn_ecma_band_signals &bands) noexcept;

// The signal has ended after n samples: from now on the engine knows its
// blocks and frames. The band signals must then run on over zeros to
// qn_ecma_tonal_padded_end(n), the engine advancing as they go.
void qn_ecma_tonal_set_end(qn_ecma_tonal_engine *engine, uint64_t n) noexcept;

// Frames handed on so far.
uint64_t qn_ecma_tonal_frames_done(const qn_ecma_tonal_engine &engine) noexcept;

// The most frames the engine can have handed on once the band signals
// reach position `end` before the signal's end is known: frame k needs the
// block of the shortest group that ends 256 (k + 1) samples in.
inline constexpr uint64_t qn_ecma_tonal_frames_by(uint64_t end) { return end / qn_ecma_tonal_frame_hop; }

// Runs the analysis over a signal the caller has checked (pointer aside,
// which is checked here with the samples): n within the bounds above, a
// valid sound field, and room for 265 * frames doubles at `out`. Writes the
// output as it goes. The statuses are those of the signal check (null
// signal, non-finite sample), QN_STATUS_ALLOCATION_FAILED and
// QN_STATUS_NUMERICAL_FAILURE.
qn_status qn_ecma_tonal_run(const double *samples, uint64_t n, qn_sound_field field, double *out,
                            uint64_t frames, qn_simd path = qn_simd_best()) noexcept;

#endif

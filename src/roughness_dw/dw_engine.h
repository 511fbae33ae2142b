// The Daniel & Weber roughness engine, entered once per analysis by the
// framed-analysis driver.
#ifndef QN_ROUGHNESS_DW_ENGINE_H
#define QN_ROUGHNESS_DW_ENGINE_H

#include <cstdint>

#include "base/simd.h"

// The engine's results other than a frame count.
inline constexpr int32_t qn_dw_capacity_too_small = -1;  // fewer frames of room than frames
inline constexpr int32_t qn_dw_allocation_failed = -2;   // a memory request, FFT plan or FFT execution failed
inline constexpr int32_t qn_dw_too_short = -3;           // fewer samples than one frame
inline constexpr int32_t qn_dw_non_finite = -5;          // a value that must be finite was not

// Roughness in asper of every frame (N = 0.2 fs samples, hop N / 2) of a
// signal of n samples. `frames` holds the capacity of `out` in frames on
// entry and the number of frames on return (written as soon as it is known).
// Returns that number, or one of the codes above. Every vector path gives
// the same bits; the plain form runs the fastest this processor has.
int32_t qn_roughness_dw_core_with(qn_simd path, const double *samples, int32_t n, double *out, int32_t *frames,
                                  double fs) noexcept;
int32_t qn_roughness_dw_core(const double *samples, int32_t n, double *out, int32_t *frames, double fs) noexcept;

struct qn_dw_setup;

// The share of a lone component at `bin` with `level` dB (after the ear's
// transmission) in each of the 47 channels, by channel index, as the engine
// spreads it on the given path: 1 in the one or two channels nearest to it,
// else its excitation at the channel's edge nearest to it relative to its
// own amplitude, 0 where that excitation is below the channel's threshold.
// False when memory is refused.
bool qn_dw_channel_factors(qn_simd path, const qn_dw_setup &setup, int bin, double level,
                           double *factors) noexcept;

// First sample of frame f, in 64-bit arithmetic so that it cannot overflow
// for any frame of a signal of up to 2^31 - 1 samples.
inline constexpr int64_t qn_dw_frame_start(int32_t frame, int64_t hop) { return int64_t{frame} * hop; }

#endif

// The periodicity spectrum of a lag window of an autocorrelation function:
// the window, less its mean, zero-padded to 16384 lags, is transformed, and
// the strongest of bins 0 ... 8192 gives the tonal component's power and
// frequency (2.9296875 Hz per bin).
//
// A window of M lags is a trigonometric polynomial of degree M - 1 in
// frequency, so its power P(theta) = |X(theta)|^2 is one of degree
// D = M - 1, sampled 16384 / M times more finely than it can vary. Short
// windows (the upper bands) are therefore searched without the full
// transform, with the same result:
//  1. X and its derivative on a coarse grid of N >= 6 D points (two real
//     transforms of length N; every coarse point is also a fine bin);
//  2. Bernstein's inequality bounds |P''| by D^2 max P, and max P by the
//     coarse maximum / (1 - (D pi / N)^2 / 2), so that near each coarse
//     point P(theta + delta) <= P + P' delta + D^2 max P delta^2 / 2;
//  3. only the fine bins whose bound reaches the best power found so far
//     are evaluated, directly (Horner's scheme on the window).
// The powers differ from those of the full transform by rounding only
// (some 1e-13 of the peak); the bin is the same unless two bins' powers lie
// within rounding of each other. Long windows, and windows so large that
// their power might overflow, take the full transform.
#ifndef QN_ECMA_PERIODICITY_H
#define QN_ECMA_PERIODICITY_H

#include <cstdint>

#include "ecma/tonal_kernels.h"
#include "fft/fft.h"
#include "base/alloc.h"
#include "base/simd.h"

inline constexpr uint32_t qn_ecma_periodicity_length = 16384;

// Coarse grids of 64 ... 4096 points; longer ones would cost as much as
// the full transform.
inline constexpr int qn_ecma_coarse_sizes = 7;
inline constexpr uint32_t qn_ecma_coarse_smallest = 64;
inline constexpr uint32_t qn_ecma_coarse_largest = 4096;

struct qn_ecma_periodicity {
    const qn_ecma_tonal_kernels *kernels;
    qn_fft_rplan_ptr plan;  // real transform of 16384
    qn_fft_rplan_ptr coarse[qn_ecma_coarse_sizes];
    qn_heap_array<double> buffer;     // 16384
    qn_heap_array<double> centred;    // the window less its mean
    qn_heap_array<double> spectrum;   // coarse transform of the window
    qn_heap_array<double> slope;      // coarse transform of j u_j
    qn_heap_array<double> unit;       // e^(-2 pi i k / 16384), k <= 8192: cos, then -sin
    qn_heap_array<double> bins;       // the bins evaluated at one coarse point: re, im, power
};

// The coarse grid used for a window of `count` lags, or 0 for the full
// transform.
uint32_t qn_ecma_periodicity_coarse_length(uint32_t count) noexcept;

// Makes the plans and buffers; false when memory is refused.
bool qn_ecma_periodicity_init(qn_ecma_periodicity *p, qn_simd path) noexcept;

// The window `values` (count M, 1 ... 16384 - first, the autocorrelation at
// lags first ... first + M - 1) less its mean, the mean taken as the sum of
// value / M in order; the largest power |X_k|^2, k = 0 ... 8192, of its
// 16384-point spectrum and its bin (the first of equal powers). False when
// the total power is not finite or a transform fails.
bool qn_ecma_periodicity_peak(qn_ecma_periodicity *p, const double *values, uint32_t first, uint32_t count,
                              double *power, uint32_t *bin) noexcept;

// The same through the full transform, as the method states it.
bool qn_ecma_periodicity_peak_full(qn_ecma_periodicity *p, const double *values, uint32_t first, uint32_t count,
                                   double *power, uint32_t *bin) noexcept;

#endif

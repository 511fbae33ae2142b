// The 28-band third-octave filter bank of the Zwicker loudness model, for
// the stationary method (band levels of a whole signal) and for the
// time-varying method (filtered and smoothed band powers, sample by sample).
#ifndef QN_LOUDNESS_FILTER_BANK_H
#define QN_LOUDNESS_FILTER_BANK_H

#include <cstddef>
#include <cstdint>

#include "base/axes.h"
#include "base/simd.h"
#include "quarnelo.h"

// Mean-square level 10 log10(p^2 + 1e-12) + 93.9794 dB re 20 uPa; the 1e-12
// keeps silence finite (about -26 dB).
inline constexpr double qn_level_offset = 9.397940008672037;  // -log10((20 uPa)^2)

// Band levels (dB) of a signal: the mean power of each filter output from
// sample `skip` on. Checks: null pointers QN_STATUS_NULL_POINTER, count
// below 256 QN_STATUS_INPUT_TOO_SHORT, skip not below count
// QN_STATUS_INVALID_ARGUMENT; a non-finite power sum
// QN_STATUS_NUMERICAL_FAILURE. The rate and the samples are the caller's to
// check. `levels` (28 doubles) is written only on success.
qn_status qn_third_octave_levels(const double *samples, uint64_t count, uint64_t skip,
                                 double *levels) noexcept;

// The loops on a chosen vector path (which must be available): baseline
// ones for any x86-64, fused ones of four and of eight bands with AVX2 and
// FMA and with AVX-512. All give the same bits;
// the functions without a path take qn_simd_best().
qn_status qn_third_octave_levels_with(qn_simd path, const double *samples, uint64_t count,
                                      uint64_t skip, double *levels) noexcept;

// Lanes of the bank's band-major arrays: the 28 bands and four idle lanes,
// so that vectors of two, four or eight bands tile them.
inline constexpr std::size_t qn_third_octave_lanes = 32;
static_assert(qn_third_octave_lanes >= qn_third_octave_band_count && qn_third_octave_lanes % 8 == 0);

// Running state of the filter bank with the three-stage power smoothing of
// the time-varying method, band-major so that neighbouring bands share a
// vector; the idle lanes stay 0. All zero is the state at rest.
struct qn_smoothed_bank {
    alignas(64) double w1[3][qn_third_octave_lanes];  // w[n-1] of sections 1-3
    alignas(64) double w2[3][qn_third_octave_lanes];  // w[n-2] of sections 1-3
    alignas(64) double s[3][qn_third_octave_lanes];   // smoothing stages 1-3
    alignas(64) double a[qn_third_octave_lanes];      // smoothing feedback
    alignas(64) double b[qn_third_octave_lanes];      // smoothing input, 1 - a
    // Sum of the squared outputs since the start, in sample order, when the
    // run is asked for it: the same sums, bit for bit, as the stationary
    // method forms from sample 0.
    alignas(64) double power[qn_third_octave_lanes];
};

// Resets the state and sets the per-band smoothing coefficients (time
// constant 2 / (3 fc), fc the exact band centre limited to 1 kHz).
void qn_smoothed_bank_init(qn_smoothed_bank *bank) noexcept;

// Runs `count` samples through the bank and the smoothing. False when the
// squared output of any band was not finite at any of those samples.
// With `power_sums`, the squared outputs are also added to bank->power.
bool qn_smoothed_bank_run(qn_smoothed_bank *bank, const double *samples, std::size_t count) noexcept;
bool qn_smoothed_bank_run_with(qn_simd path, qn_smoothed_bank *bank, const double *samples,
                               std::size_t count, bool power_sums = false) noexcept;

// Running state of the filter bank for band powers over consecutive
// intervals, band-major like qn_smoothed_bank; all zero is the state at rest.
// It lives in a meter's heap block, which has the heap's alignment only, so
// it asks for no more (the kernels load and store it unaligned, once a run).
struct qn_band_power_bank {
    double w1[3][qn_third_octave_lanes];  // w[n-1] of sections 1-3
    double w2[3][qn_third_octave_lanes];  // w[n-2] of sections 1-3
    // Sums of the squared outputs in sample order: since sample 0 (the
    // stationary method's sums, bit for bit), and since the current
    // interval began (the caller sets them to 0 when it does).
    double total[qn_third_octave_lanes];
    double interval[qn_third_octave_lanes];
};

// Runs `count` samples through the bank on a vector path (which must be
// available), adding to both sums. False when a sum is not finite.
bool qn_band_power_run_with(qn_simd path, qn_band_power_bank *bank, const double *samples,
                            std::size_t count) noexcept;

// Band levels (dB) of 28 mean-square band powers (Pa^2), 10 log10(p +
// 1e-12) + 93.98 dB. The logarithms come from the vector kernels, which
// agree with the C library's within 1e-15 relative on every path alike.
void qn_levels_of_powers(const double *powers, double *levels) noexcept;

// Band levels (dB) from power sums over `count` samples, as
// qn_third_octave_levels gives them. False when a sum is not finite.
bool qn_levels_of_power_sums(const double *sums, uint64_t count, double *levels) noexcept;

#endif

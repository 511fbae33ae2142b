// Sound levels after IEC 61672-1 as a state that runs on over any number of
// blocks: the one-call analysis and the meter are the same code, so a signal
// cut into blocks of any sizes gives the results of the whole signal bit for
// bit.
#ifndef QN_LEVELS_SOUND_LEVELS_H
#define QN_LEVELS_SOUND_LEVELS_H

#include <cstdint>

#include "levels/weighting.h"
#include "quarnelo.h"

inline constexpr uint64_t qn_sound_level_step = QN_SOUND_LEVEL_STEP;          // samples between points
inline constexpr uint64_t qn_sound_level_settling = QN_SOUND_LEVEL_SETTLING;  // before LAFmin counts

// Exponential time weighting at 48 kHz: the mean square follows the squared
// signal with time constant 125 ms (F) or 1 s (S), with feedback
// exp(-1 / (tau fs)) and input 1 minus that, so that a steady square is
// followed exactly.
inline constexpr double qn_sound_level_fast_feedback = 0.9998333472214507;  // exp(-1 / 6000)
inline constexpr double qn_sound_level_slow_feedback = 0.999979166883679;   // exp(-1 / 48000)

// Samples within +-1e100 Pa cannot make the method fail: each weighting
// amplifies by less than 30 in the sum of its impulse response (every
// first-order section by at most 2, the low-pass section by about 1.1, the
// gains by less than 1.3), so weighted samples stay below 3e101, their
// squares below 1e203 and their sums over 2^60 samples below 1e222.
inline constexpr double qn_sound_level_safe_peak = 1e100;

struct qn_sound_level_state {
    qn_weighting_filters filters;
    // Filter memories: the input and each section's output one sample back,
    // and the input of the low-pass section two samples back.
    double x1 = 0, f1a = 0, f1b = 0, f1b_2 = 0, low = 0, low_2 = 0, f2 = 0, f3 = 0;
    double fast = 0, slow = 0;               // time-weighted mean squares of A, Pa^2
    double sum_z = 0, sum_a = 0, sum_c = 0;  // sums of squares, Pa^2
    double fast_max = 0, slow_max = 0, fast_min = 0, c_peak = 0;
    uint64_t samples = 0;  // samples run so far
};

// The state at rest.
void qn_sound_level_start(qn_sound_level_state *state) noexcept;

// The number of series points that `count` more samples complete: point j
// is the time-weighted level at sample 480 (j + 1).
uint64_t qn_sound_level_points_in(const qn_sound_level_state &state, uint64_t count) noexcept;

// Runs `count` finite samples on. The LAF and LAS of every point the
// samples complete are written in order from index 0 to `laf` and `las`
// when these are not null. False when an intermediate value is not finite,
// after which the state is spoilt.
bool qn_sound_level_run(qn_sound_level_state *state, const double *x, uint64_t count, double *laf,
                        double *las) noexcept;

// The seven levels (QN_LEVEL_LZEQ ...) of everything run, dB; at least one
// sample must have been run.
void qn_sound_level_results(const qn_sound_level_state &state, double *levels) noexcept;

// A level in dB re 20 uPa of a mean square in Pa^2: -inf for 0.
double qn_sound_level_of(double mean_square) noexcept;

#endif

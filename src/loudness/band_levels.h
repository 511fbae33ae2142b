// Third-octave band levels of the loudness model's filter bank over a whole
// signal and over consecutive intervals, as a state that runs on over any
// number of blocks: the one-call analysis and the meter are the same code.
#ifndef QN_LOUDNESS_BAND_LEVELS_H
#define QN_LOUDNESS_BAND_LEVELS_H

#include <cstdint>

#include "base/simd.h"
#include "loudness/filter_bank.h"

struct qn_band_level_state {
    qn_band_power_bank bank;
    uint64_t step = 0;     // samples per interval
    uint64_t samples = 0;  // samples run so far
    qn_simd path = qn_simd::baseline;
};

// The state at rest for intervals of `step` samples (at least 1) on an
// available vector path.
void qn_band_level_start(qn_band_level_state *state, uint64_t step, qn_simd path) noexcept;

// The number of intervals that `count` more samples complete.
uint64_t qn_band_level_points_in(const qn_band_level_state &state, uint64_t count) noexcept;

// Runs `count` finite samples on. The 28 levels of every interval the
// samples complete are written in order from index 0 to `series` when it
// is not null. False when a band power is not finite, after which the
// state is spoilt.
bool qn_band_level_run(qn_band_level_state *state, const double *x, uint64_t count, double *series) noexcept;

// The 28 levels of everything run, as qn_third_octave_levels gives them
// for the whole signal. False when a band power is not finite.
bool qn_band_level_results(const qn_band_level_state &state, double *levels) noexcept;

#endif

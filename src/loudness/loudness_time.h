// The time-varying method as a state that runs on over any number of
// blocks: the analysis of a whole signal and the streaming meter are the
// same code, so a signal cut into blocks of any sizes gives the frames of
// the whole signal bit for bit.
#ifndef QN_LOUDNESS_LOUDNESS_TIME_H
#define QN_LOUDNESS_LOUDNESS_TIME_H

#include <cstdint>

#include "base/simd.h"
#include "loudness/filter_bank.h"
#include "loudness/loudness.h"
#include "quarnelo.h"

inline constexpr uint64_t qn_loudness_step_samples = 24;   // one loudness step per 0.5 ms
inline constexpr uint64_t qn_loudness_frame_samples = 96;  // one output frame per 2 ms

// The decay runs on all 21 core bands at once, several to a vector: 21
// bands and three idle lanes, so vectors of two, four or eight tile them.
inline constexpr int qn_decay_lanes = 24;
static_assert(qn_decay_lanes >= qn_core_band_count);

struct qn_loudness_time_state {
    qn_smoothed_bank bank;
    alignas(32) double decay_u[qn_decay_lanes];         // output states of the decay
    alignas(32) double decay_v[qn_decay_lanes];         // second states
    alignas(32) double decay_previous[qn_decay_lanes];  // core loudness of the last step
    double slow = 0, fast = 0, previous_total = 0;      // temporal weighting of the total
    uint64_t samples = 0;                               // samples run so far
    qn_sound_field field = QN_SOUND_FIELD_FREE;
    qn_simd path = qn_simd::baseline;
    bool power_sums = false;  // also sum the squared band outputs (bank.power)
};

// Signals whose samples all lie within +-1e100 Pa cannot make the method
// fail: every filter of the bank amplifies by less than 1e11 in the sum of
// its impulse response, so squared band outputs stay below 1e222 and their
// smoothed powers, levels (under 2500 dB), intensities (under 1e250), core
// and specific loudness and the weighting all stay finite. The analysis of
// such a signal may therefore write its frames as it goes.
inline constexpr double qn_loudness_time_safe_peak = 1e100;

// The state at rest for a (valid) sound field and an available vector path.
void qn_loudness_time_start(qn_loudness_time_state *state, qn_sound_field field, qn_simd path,
                            bool power_sums) noexcept;

// The first frame a run will complete, and the number of frames that
// `count` more samples complete: frame f belongs to sample 96 f.
uint64_t qn_loudness_time_next_frame(const qn_loudness_time_state &state) noexcept;
uint64_t qn_loudness_time_frames_in(const qn_loudness_time_state &state, uint64_t count) noexcept;

// Runs `count` finite samples on. Every frame the samples complete is
// written in order from index 0: its loudness to `loudness` and, when
// `specific` is not null, its 240-point pattern to `specific`. False on a
// numerical failure, after which the state is spoilt.
bool qn_loudness_time_run(qn_loudness_time_state *state, const double *x, uint64_t count, double *loudness,
                          double *specific) noexcept;

#endif

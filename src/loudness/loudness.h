// Internal steps of the Zwicker loudness model, shared by the stationary
// and time-varying methods and by the Aures tonality.
#ifndef QN_LOUDNESS_LOUDNESS_H
#define QN_LOUDNESS_LOUDNESS_H

#include <cstdint>

#include "base/axes.h"
#include "base/checks.h"
#include "base/simd.h"
#include "quarnelo.h"

inline constexpr int qn_core_band_count = 21;

// 28 third-octave levels (dB) to 21 core-loudness values (sone/Bark); the
// last is always 0. No checks: the caller validated levels and field.
void qn_core_loudness(const double *levels, qn_sound_field field, double *core) noexcept;

// 21 core-loudness values to the 240-point specific-loudness pattern
// (sone/Bark, 0.1 Bark apart). Returns its integral, the total loudness in
// sone, unrounded and unclamped.
double qn_specific_loudness(const double *core, double *specific) noexcept;

// The same total without the pattern: the integral needs only the segment
// ends, so this skips the 240 samples.
double qn_total_loudness(const double *core) noexcept;

// One step of the nonlinear temporal decay of one core band: `output` and
// `second` are the band's two decay states (0 at rest), `input` the core
// loudness; updates both states and returns the new output state.
double qn_loudness_decay_step(double *output, double *second, double input) noexcept;

// True when the total and the 240-point pattern of a stationary loudness
// share memory: the pattern, written after the total, would overwrite it.
// The levels (or samples) may share memory with either, being read in full
// before anything is written.
inline bool qn_loudness_outputs_overlap(const double *loudness, const double *specific) noexcept {
    return qn_overlaps(loudness, 1, specific, specific == nullptr ? 0 : qn_bark_point_count);
}

// The frame count of the time-varying method for a signal, with the tests
// the query and the analysis share, in their order: rate, size bound,
// empty signal. One frame every 96 samples from sample 0.
qn_status qn_loudness_time_geometry(uint64_t sample_count, int32_t sample_rate, uint64_t *frames) noexcept;

// The time-varying method over a validated signal on the chosen vector path
// (which must be available): `frames` loudness values into `loudness` and
// frames * 240 specific-loudness values into `specific`. False on a
// numerical failure.
bool qn_loudness_time_compute(qn_simd path, const double *x, uint64_t count, qn_sound_field field,
                              uint64_t frames, double *loudness, double *specific) noexcept;

#endif

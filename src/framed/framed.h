// The framed-analysis driver, shared by the metrics that deliver one value
// per analysis frame (Daniel & Weber roughness, Aures tonality). It
// validates the arguments in one fixed order, sizes the series, runs the
// metric's engine once over the whole signal and checks every value before
// the caller sees any of it: nothing is written on failure, except the
// frame count when the output is too small.
//
// A metric is a descriptor: its frame geometry, whether it takes a sound
// field, and a run function that calls its engine and turns the engine's own
// result codes into a status. The driver knows no engine.
#ifndef QN_FRAMED_FRAMED_H
#define QN_FRAMED_FRAMED_H

#include <cstdint>

#include "quarnelo.h"

struct qn_framed_metric {
    uint32_t length;         // samples per frame
    uint32_t hop;            // samples between frame starts
    bool takes_sound_field;  // whether the sound field is checked and passed on
    // Runs the engine over `n` validated samples into `out`, which has room
    // for exactly `frames` values (the count of the geometry). Success only
    // when the engine wrote exactly that many.
    qn_status (*run)(const double *samples, int32_t n, qn_sound_field field, double *out,
                     int32_t frames) noexcept;
};

// The engines count samples in signed 32 bits.
inline constexpr uint64_t qn_framed_max_samples = 2147483647;

// The number of frames of a signal, with the tests every framed call shares
// in their order: rate, the 32-bit bound, the frame length. Writes
// *frame_count only on success; the pointer must not be null.
qn_status qn_framed_geometry(const qn_framed_metric &metric, uint64_t sample_count, int32_t sample_rate,
                             uint64_t *frame_count) noexcept;

// The frame-count query of an export: a null pointer, then the geometry.
qn_status qn_framed_frame_count(const qn_framed_metric &metric, uint64_t sample_count, int32_t sample_rate,
                                uint64_t *frame_count) noexcept;

// The analysis of an export. Checks, in order: samples, out or frame_count
// null; the geometry; the sound field (when the metric takes one); the
// capacity (writes the frame count); the series and the frame count sharing
// memory; every sample finite; then the engine.
qn_status qn_framed_analysis(const qn_framed_metric &metric, const double *samples, uint64_t sample_count,
                             int32_t sample_rate, qn_sound_field field, double *out, uint64_t capacity,
                             uint64_t *frame_count) noexcept;

// The part of a run function's mapping that every engine shares: a
// negative result, a result other than the expected frame count, or an
// in/out frame count that changed is a numerical failure. Each run function
// first maps its own allocation codes.
inline qn_status qn_framed_engine_status(int32_t result, int32_t frames_after, int32_t frames) noexcept {
    if (result < 0 || result != frames || frames_after != frames) return QN_STATUS_NUMERICAL_FAILURE;
    return QN_STATUS_SUCCESS;
}

#endif

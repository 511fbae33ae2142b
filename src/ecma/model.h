// The hearing model run once for every ECMA-418-2 metric asked for: one
// ear filter and one bank of 53 auditory filters (band_signals.h) feed the
// engines of the metrics, each of which takes its blocks as the band
// signals reach their ends and hands its frames to its sink.
//
// The model runs the band signals from one block end to the next (of any
// engine), so that the rings need to hold only the longest block, and lets
// every engine take the blocks that end there. A signal is added in pieces
// of any sizes, and the one-shot analyses are the same model fed the whole
// signal at once: both give the same bits.
//
// An engine for a further metric joins by a sink in the setup, a member in
// the model, and a line in each of the model's loops (next block end,
// advance, end of the signal).
#ifndef QN_ECMA_MODEL_H
#define QN_ECMA_MODEL_H

#include <cstdint>

#include "base/simd.h"
#include "ecma/fluctuation.h"
#include "ecma/frame_sink.h"
#include "ecma/roughness.h"
#include "quarnelo.h"

struct qn_ecma_model;

struct qn_ecma_model_setup {
    qn_sound_field field;  // valid
    qn_simd path;
    qn_ecma_rough_transforms transforms;
    const qn_ecma_frame_sink *tonal;      // the tonal analysis' frames; null: no tonal analysis
    const qn_ecma_frame_sink *roughness;  // roughness frames; null: no roughness
    qn_ecma_fluct_transforms fluct_transforms;
    const qn_ecma_frame_sink *fluctuation;  // fluctuation frames; null: no fluctuation strength
};

// A model at rest. QN_STATUS_INVALID_ARGUMENT when the setup asks for no
// engine or for a vector path the processor lacks; QN_STATUS_ALLOCATION_FAILED
// when memory is refused. *model is null after a failure.
qn_status qn_ecma_model_make(const qn_ecma_model_setup &setup, qn_ecma_model **model) noexcept;

// Releases a model; null is ignored.
void qn_ecma_model_free(qn_ecma_model *model) noexcept;

// Runs `count` more samples of the signal, all finite, handing on every
// frame they complete. QN_STATUS_NUMERICAL_FAILURE when a value is not
// finite; the model is then of no further use.
qn_status qn_ecma_model_add(qn_ecma_model *model, const double *x, uint64_t count) noexcept;

// The signal has ended: hands on the remaining frames. The signal must be
// long enough for every engine (QN_STATUS_INPUT_TOO_SHORT otherwise, and
// nothing changes). QN_STATUS_NUMERICAL_FAILURE as qn_ecma_model_add.
qn_status qn_ecma_model_finish(qn_ecma_model *model) noexcept;

// Samples added so far.
uint64_t qn_ecma_model_samples(const qn_ecma_model &model) noexcept;

// A whole signal at once: the signal check at 48000 Hz (null signal,
// non-finite sample, whose statuses are returned), a model, the signal,
// its end. The statuses of qn_ecma_model_make, _add and _finish follow.
qn_status qn_ecma_model_run_whole(const double *samples, uint64_t n, const qn_ecma_model_setup &setup) noexcept;

// Frames placed in a caller's array as the one-shot exports lay them out:
// `arrays` arrays of frames x 53 values one after the other, each
// frame-major, taken from a frame's values from index 53 first_array on.
// Frames beyond `frames` are dropped (the model gives none).
struct qn_ecma_planar_output {
    double *out;
    uint64_t frames;
    uint64_t first_array;
    uint64_t arrays;
    uint64_t next;  // frames placed so far
};
void qn_ecma_planar_put(qn_ecma_planar_output &output, const double *values) noexcept;

#endif

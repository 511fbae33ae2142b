// The checks that the two ECMA-418-2 analyses and their frame-count queries
// share, in their documented order. Each metric gives its geometry: the
// shortest and the longest signal and the frames of a signal.
#ifndef QN_ECMA_EXPORTS_COMMON_H
#define QN_ECMA_EXPORTS_COMMON_H

#include <cstdint>

#include "base/checks.h"
#include "quarnelo.h"

struct qn_ecma_geometry {
    uint64_t min_samples;
    uint64_t max_samples;
    uint64_t values_per_frame;  // doubles of output per frame
    uint64_t (*frames)(uint64_t sample_count);
};

// The frame-count query: a null count, then 0 written; the rate; the
// shortest and the longest signal; then the count.
inline qn_status qn_ecma_frame_count(const qn_ecma_geometry &g, uint64_t sample_count, int32_t sample_rate,
                                     uint64_t *frame_count) noexcept {
    if (frame_count == nullptr) return QN_STATUS_NULL_POINTER;
    *frame_count = 0;
    if (sample_rate != QN_SAMPLE_RATE) return QN_STATUS_INVALID_SAMPLE_RATE;
    if (sample_count < g.min_samples) return QN_STATUS_INPUT_TOO_SHORT;
    if (sample_count > g.max_samples) return QN_STATUS_SIZE_OVERFLOW;
    *frame_count = g.frames(sample_count);
    return QN_STATUS_SUCCESS;
}

// The analysis up to its capacity: a null count, then 0 written; the rate
// and the sound field; a null output; the shortest and the longest signal;
// then V written, and the capacity. On success *frames is V. The signal
// itself is checked later, by the ear filter.
inline qn_status qn_ecma_analysis_checks(const qn_ecma_geometry &g, uint64_t sample_count, int32_t sample_rate,
                                         qn_sound_field field, const double *out, uint64_t capacity,
                                         uint64_t *frame_count, uint64_t *frames) noexcept {
    if (frame_count == nullptr) return QN_STATUS_NULL_POINTER;
    *frame_count = 0;
    if (sample_rate != QN_SAMPLE_RATE) return QN_STATUS_INVALID_SAMPLE_RATE;
    if (!qn_check_sound_field(field)) return QN_STATUS_INVALID_SOUND_FIELD;
    if (out == nullptr) return QN_STATUS_NULL_POINTER;
    if (sample_count < g.min_samples) return QN_STATUS_INPUT_TOO_SHORT;
    if (sample_count > g.max_samples) return QN_STATUS_SIZE_OVERFLOW;
    *frames = g.frames(sample_count);
    // From here on the frame count keeps V, so that a caller can size the
    // array and call again, and knows the layout of partial results.
    *frame_count = *frames;
    if (capacity / g.values_per_frame < *frames) return QN_STATUS_OUTPUT_TOO_SMALL;
    return QN_STATUS_SUCCESS;
}

// The arrays, once the sizes are known and before a sample is read: a null
// signal, then any two of the signal, the V frames' values of the output
// and the frame count sharing memory. The output is written as the analysis
// goes, ahead of samples not yet read, and the frame count holds V from the
// capacity check on; so no array may lie over another.
inline qn_status qn_ecma_array_checks(const qn_ecma_geometry &g, const double *samples, uint64_t sample_count,
                                      const double *out, uint64_t frames, const uint64_t *frame_count) noexcept {
    if (samples == nullptr) return QN_STATUS_NULL_POINTER;
    // Below the longest signal, V values per frame stay below 2^60.
    if (qn_any_overlap({{samples, sample_count}, {out, frames * g.values_per_frame}, {frame_count, 1}}))
        return QN_STATUS_INVALID_ARGUMENT;
    return QN_STATUS_SUCCESS;
}

#endif

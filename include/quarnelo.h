/*
 * quarnelo.h - libquarnelo, psychoacoustic sound-quality metrics.
 *
 * Copyright (c) 2026 The libquarnelo developers.
 * SPDX-License-Identifier: BSD-3-Clause
 *
 * This header is the manual of the library. It is valid C99 and C++.
 *
 * Conventions that hold for every function below:
 *
 *  - Signals are arrays of double-precision sound-pressure samples in pascal
 *    at exactly 48000 Hz; every other rate is refused. Signals are never
 *    modified.
 *  - Counts and capacities are uint64_t and counted in doubles (or in frames
 *    where a function says so). `*_count` is what the caller gives,
 *    `*_capacity` is the room the caller provides. A larger capacity is
 *    accepted; elements beyond what is written are left untouched.
 *  - Every computing function returns a qn_status. Arguments are checked in
 *    the documented order and the first failing check decides the status.
 *    On failure nothing is written, except where a function states otherwise
 *    (frame counts).
 *  - The library keeps no state between calls, starts no threads, prints
 *    nothing and never keeps a pointer after returning. Any function may be
 *    called from any number of threads at once, provided concurrent calls do
 *    not share output arrays.
 *  - All texts and constant arrays returned are static, owned by the
 *    library and never freed by the caller.
 */
#ifndef QUARNELO_H
#define QUARNELO_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* ------------------------------------------------------------------------
 * Export and attribute macros
 * ---------------------------------------------------------------------- */

#if defined(_WIN32) && defined(QUARNELO_SHARED_BUILD)
#  define QN_API __declspec(dllexport)
#elif defined(_WIN32) && defined(QUARNELO_SHARED)
#  define QN_API __declspec(dllimport)
#elif defined(__GNUC__) || defined(__clang__)
#  define QN_API __attribute__((visibility("default")))
#else
#  define QN_API
#endif

/* Status-returning functions warn when their result is ignored. Pointer
 * arguments are deliberately not marked nonnull: the library tests them. */
#if defined(__GNUC__) || defined(__clang__)
#  define QN_NODISCARD __attribute__((warn_unused_result))
#else
#  define QN_NODISCARD
#endif

/* ------------------------------------------------------------------------
 * Version
 *
 * The compile-time version of this header. qn_version_string() and
 * qn_abi_version() report the version of the library actually loaded.
 * ---------------------------------------------------------------------- */

#define QN_VERSION_MAJOR 0
#define QN_VERSION_MINOR 2
#define QN_VERSION_PATCH 2
#define QN_VERSION_STRING "0.2.2"
/* One number for comparisons: 10000 * major + 100 * minor + patch. */
#define QN_VERSION_NUMBER \
    (QN_VERSION_MAJOR * 10000 + QN_VERSION_MINOR * 100 + QN_VERSION_PATCH)
/* The ABI number; it is the major version of the shared library's soname
 * (libquarnelo.so.1). */
#define QN_ABI_VERSION 1

/* ------------------------------------------------------------------------
 * Statuses
 *
 * Frozen for ABI 1: the values and their messages never change.
 * ---------------------------------------------------------------------- */

typedef int32_t qn_status;

enum {
    QN_STATUS_SUCCESS = 0,             /* "success" */
    QN_STATUS_NULL_POINTER = 1,        /* "null pointer" */
    QN_STATUS_INVALID_ARGUMENT = 2,    /* "invalid argument" */
    QN_STATUS_INVALID_SAMPLE_RATE = 3, /* "invalid sample rate" */
    QN_STATUS_INVALID_SOUND_FIELD = 4, /* "invalid sound field" */
    QN_STATUS_NON_FINITE_INPUT = 5,    /* "input contains NaN or infinity" */
    QN_STATUS_INPUT_TOO_SHORT = 6,     /* "input is too short" */
    QN_STATUS_OUTPUT_TOO_SMALL = 7,    /* "output buffer is too small" */
    QN_STATUS_SIZE_OVERFLOW = 8,       /* "size calculation overflow" */
    QN_STATUS_ALLOCATION_FAILED = 9,   /* "memory allocation failed" */
    QN_STATUS_NUMERICAL_FAILURE = 10   /* "numerical calculation failed" */
};

/* ------------------------------------------------------------------------
 * Sound field
 *
 * The listening condition of the loudness functions. Any value other than
 * these two is refused with QN_STATUS_INVALID_SOUND_FIELD.
 * ---------------------------------------------------------------------- */

typedef int32_t qn_sound_field;

enum {
    QN_SOUND_FIELD_FREE = 0,   /* frontal free field */
    QN_SOUND_FIELD_DIFFUSE = 1 /* diffuse field: adds the diffuse-field
                                  correction of the loudness model */
};

/* The only sample rate the library accepts, in hertz. */
#define QN_SAMPLE_RATE 48000

/* Lengths of the fixed-size arrays. */
#define QN_THIRD_OCTAVE_BANDS 28 /* band levels, 25 Hz ... 12.5 kHz */
#define QN_BARK_POINTS 240       /* specific loudness, 0.1 ... 24 Bark */

/* ------------------------------------------------------------------------
 * Identification
 * ---------------------------------------------------------------------- */

/* The ABI number of the loaded library: always 1 for this major version.
 * Hosts that load the library at run time compare it with QN_ABI_VERSION. */
QN_API int32_t qn_abi_version(void);

/* The version of the loaded library as text: "0.2.2". Never null. */
QN_API const char *qn_version_string(void);

/* The message of a status, lower case without a final full stop, e.g.
 * qn_status_string(QN_STATUS_OUTPUT_TOO_SMALL) is
 * "output buffer is too small". Every value outside 0 ... 10, negative
 * values included, gives "unknown status". Never null. */
QN_API const char *qn_status_string(qn_status status);

/* ------------------------------------------------------------------------
 * Axes
 * ---------------------------------------------------------------------- */

/* The 28 nominal third-octave centre frequencies in hertz, ascending:
 * 25, 31.5, 40, ... 10000, 12500. Index 16 is 1000 Hz. These label the
 * band levels taken by qn_loudness_from_levels. Every call returns the same
 * pointer. */
QN_API const double *qn_third_octave_centres_hz(void);

/* The 240 critical-band rates in Bark that label every specific-loudness
 * array: index k holds the double nearest to (k + 1) / 10, that is 0.1,
 * 0.2, ... 24.0. Every call returns the same pointer. */
QN_API const double *qn_bark_axis(void);

/* ------------------------------------------------------------------------
 * Loudness (ISO 532-1, Zwicker method)
 * ---------------------------------------------------------------------- */

/* Stationary loudness from 28 third-octave band levels.
 *
 * levels          read: 28 band sound pressure levels in dB re 20 uPa, in
 *                 the order of qn_third_octave_centres_hz (25 Hz first).
 * level_count     must be 28.
 * field           QN_SOUND_FIELD_FREE or QN_SOUND_FIELD_DIFFUSE.
 * loudness        written: the total loudness in sone.
 * specific        written when not null: 240 values of specific loudness
 *                 in sone/Bark on qn_bark_axis; only the first 240
 *                 elements are touched. Pass null when not wanted.
 * specific_capacity
 *                 room at `specific` in doubles: 0 with a null pointer,
 *                 at least 240 otherwise.
 *
 * Checks, in order:
 *  1. levels or loudness null                      QN_STATUS_NULL_POINTER
 *  2. level_count is not 28                        QN_STATUS_INVALID_ARGUMENT
 *  3. field is neither 0 nor 1                     QN_STATUS_INVALID_SOUND_FIELD
 *  4. specific null with a non-zero capacity, or
 *     non-null with a capacity below 240           QN_STATUS_OUTPUT_TOO_SMALL
 *  5. the levels from index 0 to 27, each in turn:
 *     NaN or infinite                              QN_STATUS_NON_FINITE_INPUT
 *     above 120 dB in a band of 250 Hz or below
 *     (index 0 ... 10)                             QN_STATUS_INVALID_ARGUMENT
 *     Bands of 315 Hz and above have no upper limit.
 *  6. a non-finite intermediate result             QN_STATUS_NUMERICAL_FAILURE
 * Otherwise QN_STATUS_SUCCESS. On failure nothing is written. Uses no heap
 * memory. */
QN_API QN_NODISCARD qn_status qn_loudness_from_levels(
    const double *levels, uint64_t level_count, qn_sound_field field,
    double *loudness, double *specific, uint64_t specific_capacity);

/* Stationary loudness of a signal: the signal runs through the 28 third-
 * octave band filters of ISO 532-1 (filters starting from rest, no settling
 * time removed), the mean power of each band gives its level, and the levels
 * give loudness as in qn_loudness_from_levels.
 *
 * samples         read: sound pressure in Pa at 48000 Hz.
 * sample_count    number of samples; at least 256.
 * sample_rate     must be 48000.
 * field           QN_SOUND_FIELD_FREE or QN_SOUND_FIELD_DIFFUSE.
 * loudness        written: the total loudness in sone.
 * specific        written when not null: 240 values in sone/Bark on
 *                 qn_bark_axis. Pass null when not wanted.
 * specific_capacity
 *                 room at `specific`: 0 with a null pointer, else >= 240.
 *
 * Checks, in order:
 *  1. loudness null                                QN_STATUS_NULL_POINTER
 *  2. field is neither 0 nor 1                     QN_STATUS_INVALID_SOUND_FIELD
 *  3. specific null with a non-zero capacity, or
 *     non-null with a capacity below 240           QN_STATUS_OUTPUT_TOO_SMALL
 *  4. samples null                                 QN_STATUS_NULL_POINTER
 *     sample_count 0                               QN_STATUS_INPUT_TOO_SHORT
 *     sample_rate not 48000                        QN_STATUS_INVALID_SAMPLE_RATE
 *     sample_count above 2^60 - 1                  QN_STATUS_SIZE_OVERFLOW
 *     a NaN or infinite sample (first one decides) QN_STATUS_NON_FINITE_INPUT
 *  5. sample_count below 256                       QN_STATUS_INPUT_TOO_SHORT
 *     a band power that is not finite              QN_STATUS_NUMERICAL_FAILURE
 *  6. as qn_loudness_from_levels with the 28 band levels; in particular a
 *     band level above 120 dB at 250 Hz or below  QN_STATUS_INVALID_ARGUMENT
 *     (the method's low-frequency tables end at 120 dB; qn_loudness_time
 *     takes such signals)
 * Otherwise QN_STATUS_SUCCESS. On failure nothing is written. Uses no heap
 * memory; the filter bank works on blocks of the signal in a local buffer,
 * so a call needs about 17 KiB of stack. */
QN_API QN_NODISCARD qn_status qn_loudness_stationary(
    const double *samples, uint64_t sample_count, int32_t sample_rate, qn_sound_field field,
    double *loudness, double *specific, uint64_t specific_capacity);

/* Number of frames of qn_loudness_time for a signal: one frame every 96
 * samples (2 ms) from sample 0, (sample_count - 1) / 96 + 1 in all. Reads no
 * samples.
 *
 * Checks, in order: frame_count null QN_STATUS_NULL_POINTER; sample_rate not
 * 48000 QN_STATUS_INVALID_SAMPLE_RATE; sample_count above 2^60 - 1
 * QN_STATUS_SIZE_OVERFLOW; sample_count 0 QN_STATUS_INPUT_TOO_SHORT.
 * *frame_count is written only on success. */
QN_API QN_NODISCARD qn_status qn_loudness_time_frame_count(uint64_t sample_count,
                                                           int32_t sample_rate,
                                                           uint64_t *frame_count);

/* Time-varying loudness (ISO 532-1, method for arbitrary signals): the
 * third-octave filters at the full rate with smoothed band powers, a
 * loudness step every 0.5 ms with the nonlinear temporal decay of core
 * loudness, and the temporal weighting of the total. Frame f belongs to
 * sample 96 f (time f * 2 ms); the first frame is at sample 0. The method
 * starts from rest: the first frames show the filters settling.
 *
 * Unlike qn_loudness_stationary and qn_loudness_from_levels it sets no
 * limit on the band levels: a band at 250 Hz or below above 120 dB keeps
 * the low-frequency weights of the method's highest level range (above
 * 100 dB), which the method defines up to 120 dB only.
 *
 * samples         read: sound pressure in Pa at 48000 Hz.
 * sample_count    number of samples, at least 1.
 * sample_rate     must be 48000.
 * field           QN_SOUND_FIELD_FREE or QN_SOUND_FIELD_DIFFUSE.
 * loudness        written: F values in sone, the weighted total loudness of
 *                 each frame, F = (sample_count - 1) / 96 + 1
 *                 (qn_loudness_time_frame_count).
 * loudness_capacity  room at `loudness` in doubles, at least F.
 * specific        written: F * 240 values in sone/Bark, frame-major (frame f
 *                 at index 240 f), the instantaneous specific loudness of
 *                 each frame (after the decay, before the weighting, which
 *                 acts on the total only). Required.
 * specific_capacity  room at `specific` in doubles, at least F * 240.
 * frame_count     written: the number of frames, F, on success; F also
 *                 with QN_STATUS_OUTPUT_TOO_SMALL, so a first call with
 *                 small capacities learns the sizes; 0 after any other
 *                 failure.
 *
 * Checks, in order:
 *  1. frame_count null (nothing written)           QN_STATUS_NULL_POINTER
 *     then *frame_count is set to 0
 *  2. sample_rate not 48000                        QN_STATUS_INVALID_SAMPLE_RATE
 *  3. sample_count above 2^60 - 1                  QN_STATUS_SIZE_OVERFLOW
 *  4. sample_count 0                               QN_STATUS_INPUT_TOO_SHORT
 *  5. field is neither 0 nor 1                     QN_STATUS_INVALID_SOUND_FIELD
 *  6. loudness or specific null                    QN_STATUS_NULL_POINTER
 *  7. F * 241 doubles not below 2^60 elements, or
 *     their size in bytes overflows                QN_STATUS_SIZE_OVERFLOW
 *  8. loudness_capacity < F or
 *     specific_capacity < F * 240 (*frame_count = F) QN_STATUS_OUTPUT_TOO_SMALL
 *  9. samples null                                 QN_STATUS_NULL_POINTER
 *     a NaN or infinite sample                     QN_STATUS_NON_FINITE_INPUT
 * 10. no memory for F * 241 doubles of work        QN_STATUS_ALLOCATION_FAILED
 * 11. a non-finite intermediate result             QN_STATUS_NUMERICAL_FAILURE
 * Otherwise QN_STATUS_SUCCESS. Outputs are written only on success (beyond
 * F and F * 240 values nothing is touched). One heap block of F * 241
 * doubles is used during the call. */
QN_API QN_NODISCARD qn_status qn_loudness_time(
    const double *samples, uint64_t sample_count, int32_t sample_rate, qn_sound_field field,
    double *loudness, uint64_t loudness_capacity, double *specific, uint64_t specific_capacity,
    uint64_t *frame_count);

/* ------------------------------------------------------------------------
 * Sharpness (DIN 45692)
 * ---------------------------------------------------------------------- */

/* Sharpness in acum of a specific-loudness pattern of 240 values on
 * qn_bark_axis (sone/Bark), such as the output of qn_loudness_from_levels,
 * qn_loudness_stationary or one frame of qn_loudness_time. The result does
 * not depend on the scale of the pattern; an all-zero pattern has
 * sharpness 0.
 *
 * specific        read: 240 finite, non-negative values.
 * count           must be 240.
 * sharpness       written: the sharpness in acum.
 *
 * Checks, in order:
 *  1. specific or sharpness null                   QN_STATUS_NULL_POINTER
 *  2. count is not 240                             QN_STATUS_INVALID_ARGUMENT
 *  3. the values from index 0 to 239, each in turn:
 *     NaN or infinite                              QN_STATUS_NON_FINITE_INPUT
 *     below 0                                      QN_STATUS_INVALID_ARGUMENT
 *  4. a non-finite or negative result              QN_STATUS_NUMERICAL_FAILURE
 * Otherwise QN_STATUS_SUCCESS. On failure nothing is written. */
QN_API QN_NODISCARD qn_status qn_sharpness_din(const double *specific, uint64_t count,
                                               double *sharpness);

/* ------------------------------------------------------------------------
 * Roughness (Daniel & Weber)
 * ---------------------------------------------------------------------- */

/* Number of roughness frames of a signal: 200 ms frames (9600 samples)
 * every 100 ms (4800 samples), frame k covering samples 4800 k ...
 * 4800 k + 9599; samples after the last whole frame are not analysed.
 * (sample_count - 9600) / 4800 + 1 frames in all. Reads no samples.
 *
 * Checks, in order:
 *  1. frame_count null                             QN_STATUS_NULL_POINTER
 *  2. sample_rate not 48000                        QN_STATUS_INVALID_SAMPLE_RATE
 *  3. sample_count above 2147483647                QN_STATUS_SIZE_OVERFLOW
 *  4. sample_count below 9600                      QN_STATUS_INPUT_TOO_SHORT
 * *frame_count is written only on success. */
QN_API QN_NODISCARD qn_status qn_roughness_frame_count(uint64_t sample_count, int32_t sample_rate,
                                                       uint64_t *frame_count);

/* Roughness after Daniel & Weber (1997) in asper, one value per frame (see
 * qn_roughness_frame_count): the audible spectral components of each
 * windowed frame excite 47 overlapping critical-band channels; the band-pass
 * weighted envelope of each channel gives its modulation depth; depth,
 * the correlation with the channels two below and two above, and a weight
 * over the critical-band rate give the specific roughness, summed over the
 * channels. A 1 kHz tone of 60 dB, fully amplitude-modulated at 70 Hz, has
 * about 1 asper. Every value is finite and not negative.
 *
 * samples         read: sound pressure in Pa at 48000 Hz.
 * sample_count    number of samples: 9600 ... 2147483647.
 * sample_rate     must be 48000.
 * out             written: one value per frame, asper; only the first
 *                 *frame_count elements are touched.
 * capacity        room at `out` in doubles.
 * frame_count     written: the number of frames, on success and with
 *                 QN_STATUS_OUTPUT_TOO_SMALL (so capacity 0 asks for it).
 *
 * Checks, in order:
 *  1. samples, out or frame_count null             QN_STATUS_NULL_POINTER
 *  2. sample_rate not 48000                        QN_STATUS_INVALID_SAMPLE_RATE
 *  3. sample_count above 2147483647                QN_STATUS_SIZE_OVERFLOW
 *  4. sample_count below 9600                      QN_STATUS_INPUT_TOO_SHORT
 *  5. capacity below the number of frames          QN_STATUS_OUTPUT_TOO_SMALL
 *     (before any sample is read; *frame_count receives the number)
 *  6. a NaN or infinite sample                     QN_STATUS_NON_FINITE_INPUT
 *  7. no memory for the working arrays             QN_STATUS_ALLOCATION_FAILED
 *  8. a non-finite intermediate result             QN_STATUS_NUMERICAL_FAILURE
 * Otherwise QN_STATUS_SUCCESS. After any failure but 5, `out` and
 * *frame_count hold what they held before. Working memory does not grow
 * with the length of the signal, beyond one double per frame. */
QN_API QN_NODISCARD qn_status qn_roughness_dw(const double *samples, uint64_t sample_count,
                                              int32_t sample_rate, double *out, uint64_t capacity,
                                              uint64_t *frame_count);

#ifdef __cplusplus
} /* extern "C" */
#endif

#endif /* QUARNELO_H */

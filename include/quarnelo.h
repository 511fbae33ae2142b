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

/* Frame geometry and shortest signals, in samples at 48000 Hz. The frame-
 * count functions below apply them; hosts that size buffers or label times
 * take them from here. */
#define QN_LOUDNESS_MIN_SAMPLES 256          /* stationary loudness, sharpness */
#define QN_LOUDNESS_TIME_HOP 96              /* time-varying loudness: a frame every 2 ms */
#define QN_ROUGHNESS_DW_FRAME_LENGTH 9600    /* Daniel & Weber: 200 ms frames ... */
#define QN_ROUGHNESS_DW_HOP 4800             /* ... every 100 ms */
#define QN_TONALITY_AURES_FRAME_LENGTH 12000 /* Aures: 250 ms frames ... */
#define QN_TONALITY_AURES_HOP 6000           /* ... every 125 ms */
#define QN_ECMA_TONAL_MIN_SAMPLES 14592      /* ECMA-418-2 tonality (0.304 s) */
#define QN_ECMA_TONAL_HOP 256                /* ... a frame every 5.33 ms */
#define QN_ECMA_ROUGHNESS_MIN_SAMPLES 15360  /* ECMA-418-2 roughness (0.32 s) */
#define QN_ECMA_ROUGHNESS_HOP 960            /* ... a frame every 20 ms */

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
 * 10. no memory for F * 241 doubles of work
 *     (samples beyond +-1e100 Pa only)             QN_STATUS_ALLOCATION_FAILED
 * 11. a non-finite intermediate result             QN_STATUS_NUMERICAL_FAILURE
 * Otherwise QN_STATUS_SUCCESS. Outputs are written only on success (beyond
 * F and F * 240 values nothing is touched). A signal whose samples all lie
 * within +-1e100 Pa, as every sound pressure does, cannot fail once the
 * checks have passed: its frames are written as they are computed, and the
 * call allocates nothing. Beyond that the frames wait in one heap block of
 * F * 241 doubles until the end, so that a failure writes nothing. */
QN_API QN_NODISCARD qn_status qn_loudness_time(
    const double *samples, uint64_t sample_count, int32_t sample_rate, qn_sound_field field,
    double *loudness, uint64_t loudness_capacity, double *specific, uint64_t specific_capacity,
    uint64_t *frame_count);

/* ------------------------------------------------------------------------
 * Loudness meter: the time-varying loudness block by block
 *
 * A meter runs the method of qn_loudness_time on a signal that arrives in
 * blocks of any sizes (0 and 1 sample included): a live display, a plug-in,
 * or a recording of hours read a block at a time. The frames it delivers are
 * those qn_loudness_time gives for the concatenation of every block added,
 * bit for bit, whatever the block sizes; qn_loudness_meter_stationary gives
 * what qn_loudness_stationary gives for that concatenation. A meter holds
 * only the method's running state (a few kilobytes, whatever has been
 * added): each block's frames go straight to the caller's arrays.
 *
 * A meter is created and destroyed by the caller and is the only state of
 * the library that outlives a call. Distinct meters may be used from
 * distinct threads at once; one meter must not be used by two threads at
 * the same time.
 * ---------------------------------------------------------------------- */

typedef struct qn_loudness_meter qn_loudness_meter;

/* Creates a meter at rest for a sound field.
 *
 * sample_rate     must be 48000.
 * field           QN_SOUND_FIELD_FREE or QN_SOUND_FIELD_DIFFUSE.
 * meter           written: the new meter, to be released with
 *                 qn_loudness_meter_destroy; null after any failure.
 *
 * Checks, in order:
 *  1. meter null (nothing written)                 QN_STATUS_NULL_POINTER
 *     then *meter is set to null
 *  2. sample_rate not 48000                        QN_STATUS_INVALID_SAMPLE_RATE
 *  3. field is neither 0 nor 1                     QN_STATUS_INVALID_SOUND_FIELD
 *  4. no memory for the meter                      QN_STATUS_ALLOCATION_FAILED
 * Otherwise QN_STATUS_SUCCESS. */
QN_API QN_NODISCARD qn_status qn_loudness_meter_create(int32_t sample_rate, qn_sound_field field,
                                                       qn_loudness_meter **meter);

/* Releases a meter. A null meter is ignored. */
QN_API void qn_loudness_meter_destroy(qn_loudness_meter *meter);

/* The number of frames that a block of `sample_count` samples would
 * complete if it were added now: frame f belongs to sample 96 f of
 * everything added, and a block completes the frames whose sample it holds.
 *
 * Checks, in order: meter or frame_count null QN_STATUS_NULL_POINTER;
 * everything added with the block at 2^60 samples or more
 * QN_STATUS_SIZE_OVERFLOW. *frame_count is written only on success. */
QN_API QN_NODISCARD qn_status qn_loudness_meter_frame_count(const qn_loudness_meter *meter,
                                                            uint64_t sample_count,
                                                            uint64_t *frame_count);

/* Adds a block and delivers the frames it completes, in order, to the
 * caller's arrays (the first at index 0): F frames, as
 * qn_loudness_meter_frame_count tells beforehand.
 *
 * samples         read: sound pressure in Pa at 48000 Hz; may be null when
 *                 sample_count is 0.
 * sample_count    samples in the block, 0 or more.
 * loudness        written: F values in sone, the weighted total loudness of
 *                 each completed frame. May be null when F is 0.
 * loudness_capacity  room at `loudness` in doubles, at least F.
 * specific        written when not null: F * 240 values in sone/Bark,
 *                 frame-major, as qn_loudness_time. Pass null when not
 *                 wanted (the meter then skips the patterns).
 * specific_capacity  room at `specific`: at least F * 240 when not null.
 * frame_count     written: F on success; F also with
 *                 QN_STATUS_OUTPUT_TOO_SMALL; 0 after any other failure.
 *
 * Checks, in order:
 *  1. meter or frame_count null (nothing written)  QN_STATUS_NULL_POINTER
 *     then *frame_count is set to 0
 *  2. samples null with sample_count above 0       QN_STATUS_NULL_POINTER
 *  3. everything added with the block at 2^60
 *     samples or more                              QN_STATUS_SIZE_OVERFLOW
 *  4. loudness_capacity < F, or specific not null
 *     and specific_capacity < F * 240
 *     (*frame_count = F)                           QN_STATUS_OUTPUT_TOO_SMALL
 *  5. loudness null with F above 0                 QN_STATUS_NULL_POINTER
 *  6. a NaN or infinite sample                     QN_STATUS_NON_FINITE_INPUT
 *  7. a non-finite intermediate result             QN_STATUS_NUMERICAL_FAILURE
 * Otherwise QN_STATUS_SUCCESS. After any failure the meter is as it was
 * before the call, so the caller can go on with the next block; nothing is
 * written to the arrays, except after QN_STATUS_NUMERICAL_FAILURE, when
 * they may hold frames computed before the failure. */
QN_API QN_NODISCARD qn_status qn_loudness_meter_add(
    qn_loudness_meter *meter, const double *samples, uint64_t sample_count, double *loudness,
    uint64_t loudness_capacity, double *specific, uint64_t specific_capacity, uint64_t *frame_count);

/* The stationary loudness of everything added so far, as
 * qn_loudness_stationary gives it for the concatenation of the blocks
 * (with the meter's sound field).
 *
 * loudness        written: the total loudness in sone.
 * specific        written when not null: 240 values in sone/Bark on
 *                 qn_bark_axis. Pass null when not wanted.
 * specific_capacity  room at `specific`: 0 with a null pointer, else >= 240.
 *
 * Checks, in order:
 *  1. meter or loudness null                       QN_STATUS_NULL_POINTER
 *  2. specific null with a non-zero capacity, or
 *     non-null with a capacity below 240           QN_STATUS_OUTPUT_TOO_SMALL
 *  3. fewer than 256 samples added                 QN_STATUS_INPUT_TOO_SHORT
 *  4. a band power that is not finite              QN_STATUS_NUMERICAL_FAILURE
 *  5. as qn_loudness_from_levels with the 28 band levels; in particular a
 *     band level above 120 dB at 250 Hz or below  QN_STATUS_INVALID_ARGUMENT
 * Otherwise QN_STATUS_SUCCESS. On failure nothing is written. The meter is
 * not changed. */
QN_API QN_NODISCARD qn_status qn_loudness_meter_stationary(const qn_loudness_meter *meter,
                                                           double *loudness, double *specific,
                                                           uint64_t specific_capacity);

/* ------------------------------------------------------------------------
 * Loudness level (ISO 532-1)
 * ---------------------------------------------------------------------- */

/* The loudness level in phon of an ISO 532-1 loudness in sone (the
 * stationary loudness, a frame of the time-varying loudness, or a statistic
 * of those such as N5): 40 + 33.22 log10(N) for N >= 1 sone, so that 1 sone
 * is 40 phon and each doubling adds 10 phon (2 sone is 50.0002 phon), and
 * 40 (N + 0.0005)^0.35 below 1 sone, down to 2.797 phon at 0 sone. The two
 * formulas do not quite meet: the lower one reaches 40.007 phon at 1 sone,
 * so the level steps down by 0.007 phon where the upper one takes over.
 * Both are kept as the standard gives them.
 *
 * loudness        the loudness in sone, finite and not negative.
 * phon            written: the loudness level in phon, always finite.
 *
 * Checks, in order:
 *  1. phon null                                    QN_STATUS_NULL_POINTER
 *  2. loudness NaN or infinite                     QN_STATUS_NON_FINITE_INPUT
 *  3. loudness below 0                             QN_STATUS_INVALID_ARGUMENT
 * Otherwise QN_STATUS_SUCCESS. On failure nothing is written. */
QN_API QN_NODISCARD qn_status qn_loudness_level(double loudness, double *phon);

/* ------------------------------------------------------------------------
 * Third-octave band levels (the filter bank of ISO 532-1)
 *
 * The equivalent level of each of the 28 third-octave bands of the filter
 * bank that qn_loudness_stationary runs (25 Hz ... 12.5 kHz, in the order
 * of qn_third_octave_centres_hz), in dB re 20 uPa: over the whole signal,
 * and over consecutive intervals of a caller's `step` (100 ms, 4800
 * samples, is the usual choice). The filters start from rest at the first
 * sample and run on through the whole signal; the intervals only divide
 * the sums.
 *
 * The whole-signal levels are, bit for bit, the levels from which
 * qn_loudness_stationary computes its loudness: qn_loudness_from_levels of
 * them gives its loudness and pattern. As there, a band of mean square p2
 * (Pa^2) has the level 10 log10(p2 + 1e-12) + 93.98 dB: the 1e-12 keeps
 * silence finite, so a silent band reads -26.02 dB rather than -inf, and
 * it adds less than 0.011 dB to any band of 0 dB or more. Interval k covers
 * samples k step ... (k + 1) step - 1, and its levels are the same formula
 * over those samples; samples after the last whole interval count in the
 * whole-signal levels only. Series are interval-major: band b of interval
 * k is at series[28 k + b].
 *
 * Outputs may not share memory with the samples or with each other: such
 * a call is refused before anything is written.
 * ---------------------------------------------------------------------- */

/* Number of intervals of qn_band_levels for a signal: sample_count / step
 * (integer division). Reads no samples.
 *
 * Checks, in order:
 *  1. point_count null                             QN_STATUS_NULL_POINTER
 *  2. sample_rate not 48000                        QN_STATUS_INVALID_SAMPLE_RATE
 *  3. step 0 or above 2^60 - 1                     QN_STATUS_INVALID_ARGUMENT
 *  4. sample_count above 2^60 - 1                  QN_STATUS_SIZE_OVERFLOW
 *  5. sample_count below 256                       QN_STATUS_INPUT_TOO_SHORT
 * *point_count is written only on success. */
QN_API QN_NODISCARD qn_status qn_band_level_point_count(uint64_t sample_count, int32_t sample_rate,
                                                        uint64_t step, uint64_t *point_count);

/* Band levels of a signal, as a whole and per interval (see above).
 *
 * samples         read: sound pressure in Pa at 48000 Hz.
 * sample_count    number of samples, at least 256.
 * sample_rate     must be 48000.
 * step            samples per interval, 1 ... 2^60 - 1.
 * levels          written: the 28 band levels of the whole signal, dB.
 * levels_capacity  room at `levels` in doubles, at least 28; only the
 *                 first 28 are touched.
 * series          written when not null: the 28 levels of each of the
 *                 P = sample_count / step intervals (qn_band_level_point_count),
 *                 P * 28 values. Pass null when not wanted.
 * series_capacity  room at `series` in doubles: at least P * 28 when
 *                 `series` is not null.
 * point_count     written: P on success, and with
 *                 QN_STATUS_OUTPUT_TOO_SMALL; 0 after any other failure.
 *
 * Checks, in order:
 *  1. point_count null (nothing written)           QN_STATUS_NULL_POINTER
 *     then *point_count is set to 0
 *  2. sample_rate not 48000                        QN_STATUS_INVALID_SAMPLE_RATE
 *  3. step 0 or above 2^60 - 1                     QN_STATUS_INVALID_ARGUMENT
 *  4. sample_count above 2^60 - 1                  QN_STATUS_SIZE_OVERFLOW
 *  5. sample_count below 256                       QN_STATUS_INPUT_TOO_SHORT
 *  6. levels null                                  QN_STATUS_NULL_POINTER
 *  7. P * 28 beyond 64 bits                        QN_STATUS_SIZE_OVERFLOW
 *  8. levels_capacity below 28, or series not null
 *     and series_capacity below P * 28
 *     (*point_count = P)                           QN_STATUS_OUTPUT_TOO_SMALL
 *  9. the 28 levels or the P * 28 series values
 *     sharing memory with the samples or with
 *     each other                                   QN_STATUS_INVALID_ARGUMENT
 * 10. samples null                                 QN_STATUS_NULL_POINTER
 *     a NaN or infinite sample (first one decides) QN_STATUS_NON_FINITE_INPUT
 * 11. a band power that is not finite              QN_STATUS_NUMERICAL_FAILURE
 *     (samples far beyond any sound, above 1e100 Pa)
 * Otherwise QN_STATUS_SUCCESS. On failure nothing is written to `levels`
 * and `series`. Uses no heap memory (about 17 KiB of stack); a signal with
 * a sample beyond +-1e100 Pa is run twice, first to learn whether its band
 * powers stay finite, so that a failure writes nothing. */
QN_API QN_NODISCARD qn_status qn_band_levels(const double *samples, uint64_t sample_count,
                                             int32_t sample_rate, uint64_t step, double *levels,
                                             uint64_t levels_capacity, double *series,
                                             uint64_t series_capacity, uint64_t *point_count);

/* A band-level meter: qn_band_levels on a signal that arrives in blocks of
 * any sizes (0 and 1 sample included). The intervals it delivers and the
 * whole-signal levels it reads are those qn_band_levels gives for the
 * concatenation of every block added, bit for bit, whatever the block
 * sizes. It holds only the filter bank's running state (2 KiB): each
 * block's intervals go straight to the caller's array. Its filter bank runs
 * beside the one of a loudness meter fed the same blocks, at about a quarter
 * of the loudness meter's cost.
 *
 * A meter is created and destroyed by the caller and outlives the calls.
 * Distinct meters may be used from distinct threads at once; one meter must
 * not be used by two threads at the same time. */
typedef struct qn_band_level_meter qn_band_level_meter;

/* Creates a meter at rest for intervals of `step` samples.
 *
 * Checks, in order:
 *  1. meter null (nothing written)                 QN_STATUS_NULL_POINTER
 *     then *meter is set to null
 *  2. sample_rate not 48000                        QN_STATUS_INVALID_SAMPLE_RATE
 *  3. step 0 or above 2^60 - 1                     QN_STATUS_INVALID_ARGUMENT
 *  4. no memory for the meter                      QN_STATUS_ALLOCATION_FAILED
 * Otherwise QN_STATUS_SUCCESS, and *meter is to be released with
 * qn_band_level_meter_destroy. */
QN_API QN_NODISCARD qn_status qn_band_level_meter_create(int32_t sample_rate, uint64_t step,
                                                         qn_band_level_meter **meter);

/* Releases a meter. A null meter is ignored. */
QN_API void qn_band_level_meter_destroy(qn_band_level_meter *meter);

/* The number of intervals that a block of `sample_count` samples would
 * complete if it were added now: those whose last sample it holds.
 *
 * Checks, in order: meter or point_count null QN_STATUS_NULL_POINTER;
 * everything added with the block at 2^60 samples or more
 * QN_STATUS_SIZE_OVERFLOW. *point_count is written only on success. */
QN_API QN_NODISCARD qn_status qn_band_level_meter_point_count(const qn_band_level_meter *meter,
                                                              uint64_t sample_count,
                                                              uint64_t *point_count);

/* Adds a block and delivers the P intervals it completes, as
 * qn_band_level_meter_point_count tells beforehand, in order from index 0.
 *
 * samples         read: sound pressure in Pa at 48000 Hz; may be null when
 *                 sample_count is 0.
 * sample_count    samples in the block, 0 or more.
 * series          written when not null: P * 28 levels, interval-major.
 *                 Pass null when not wanted.
 * series_capacity  room at `series` in doubles: at least P * 28 when not null.
 * point_count     written: P on success; P also with
 *                 QN_STATUS_OUTPUT_TOO_SMALL; 0 after any other failure.
 *
 * Checks, in order:
 *  1. meter or point_count null (nothing written)  QN_STATUS_NULL_POINTER
 *     then *point_count is set to 0
 *  2. samples null with sample_count above 0       QN_STATUS_NULL_POINTER
 *  3. everything added with the block at 2^60
 *     samples or more, or P * 28 beyond 64 bits    QN_STATUS_SIZE_OVERFLOW
 *  4. series not null and series_capacity below
 *     P * 28 (*point_count = P)                    QN_STATUS_OUTPUT_TOO_SMALL
 *  5. the P * 28 series values sharing memory with
 *     the samples                                  QN_STATUS_INVALID_ARGUMENT
 *  6. a NaN or infinite sample                     QN_STATUS_NON_FINITE_INPUT
 *  7. a band power that is not finite              QN_STATUS_NUMERICAL_FAILURE
 * Otherwise QN_STATUS_SUCCESS. After any failure nothing is written and the
 * meter is as it was before the call, so the caller can go on with the
 * next block. Never allocates. */
QN_API QN_NODISCARD qn_status qn_band_level_meter_add(qn_band_level_meter *meter,
                                                      const double *samples, uint64_t sample_count,
                                                      double *series, uint64_t series_capacity,
                                                      uint64_t *point_count);

/* The 28 band levels of everything added so far, as qn_band_levels gives
 * them for the concatenation of the blocks (and so, bit for bit, the levels
 * of qn_loudness_stationary and of qn_loudness_meter_stationary for it).
 *
 * Checks, in order:
 *  1. meter or levels null                         QN_STATUS_NULL_POINTER
 *  2. levels_capacity below 28                     QN_STATUS_OUTPUT_TOO_SMALL
 *  3. fewer than 256 samples added                 QN_STATUS_INPUT_TOO_SHORT
 * Otherwise QN_STATUS_SUCCESS, with 28 levels written (only those). On
 * failure nothing is written. The meter is not changed. */
QN_API QN_NODISCARD qn_status qn_band_level_meter_levels(const qn_band_level_meter *meter,
                                                         double *levels, uint64_t levels_capacity);

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

/* The weightings g(z) of qn_sharpness over the critical-band rate z (Bark). */
typedef int32_t qn_sharpness_weighting;

enum {
    /* DIN 45692: 1 up to 15.8 Bark, 0.85 + 0.15 exp(0.42 (z - 15.8))
     * above; continuous. */
    QN_SHARPNESS_DIN = 0,
    /* von Bismarck: 1 up to 15 Bark, 0.2 exp(0.308 (z - 15)) + 0.8 above;
     * continuous. */
    QN_SHARPNESS_BISMARCK = 1,
    /* Fastl: 1 up to 16 Bark, 0.066 exp(0.171 z) above. Not continuous as
     * written: just above 16 Bark it is 1.018, not 1 (0.066 exp(2.736)). */
    QN_SHARPNESS_FASTL = 2,
    /* Aures: 0.078 exp(0.171 z) / z * N / ln(0.05 N + 1) at every z, with N
     * the loudness of the pattern in sone: it depends on the scale of the
     * pattern, unlike the others. */
    QN_SHARPNESS_AURES = 3
};

/* Sharpness in acum of a specific-loudness pattern of 240 values on
 * qn_bark_axis (sone/Bark), with a choice of weighting g:
 * S = 0.11 sum N'(z) g(z) z / sum N'(z) over the 240 points z = 0.1,
 * 0.2, ... 24 Bark, the integrals of N' g z and of N' over the critical-band
 * rate taken on the pattern's grid, as qn_sharpness_din takes them. Each
 * weighting's bound belongs to its lower part (g(15) = 1 for von Bismarck,
 * g(16) = 1 for Fastl). For QN_SHARPNESS_AURES, N = 0.1 sum N'(z) (sone),
 * and below 2e-14 sone N / ln(0.05 N + 1) is its limit, 20.
 * With QN_SHARPNESS_DIN the result is that of qn_sharpness_din, bit for
 * bit; a pattern with nothing above 15 Bark has the same sharpness with
 * DIN, von Bismarck and Fastl. An all-zero pattern has sharpness 0.
 *
 * specific        read: 240 finite, non-negative values.
 * count           must be 240.
 * weighting       one of QN_SHARPNESS_DIN ... QN_SHARPNESS_AURES.
 * sharpness       written: the sharpness in acum.
 *
 * Checks, in order:
 *  1. specific or sharpness null                   QN_STATUS_NULL_POINTER
 *  2. count is not 240                             QN_STATUS_INVALID_ARGUMENT
 *  3. weighting not one of the four                QN_STATUS_INVALID_ARGUMENT
 *  4. the values from index 0 to 239, each in turn:
 *     NaN or infinite                              QN_STATUS_NON_FINITE_INPUT
 *     below 0                                      QN_STATUS_INVALID_ARGUMENT
 *  5. a non-finite or negative result              QN_STATUS_NUMERICAL_FAILURE
 *     (Aures only: a pattern beyond about 1e306 sone/Bark, whose loudness
 *     overflows)
 * Otherwise QN_STATUS_SUCCESS. On failure nothing is written. */
QN_API QN_NODISCARD qn_status qn_sharpness(const double *specific, uint64_t count,
                                           qn_sharpness_weighting weighting, double *sharpness);

/* ------------------------------------------------------------------------
 * Sound levels (IEC 61672-1)
 *
 * What a class 1 sound level meter of IEC 61672-1 reads from the signal, in
 * dB re 20 uPa: the equivalent levels with frequency weighting Z (none), A
 * and C, the A-weighted level with time weighting F (125 ms) and S (1 s),
 * and the C-weighted peak. A 1 kHz sine of 1 Pa RMS reads 93.98 dB in every
 * weighting. Silence (samples of 0) gives -inf, for every level and every
 * point of the series: a documented result, not a failure. No level is
 * ever NaN or +inf.
 *
 * Frequency weighting. A and C are digital filters at 48 kHz designed from
 * the standard's analogue definition: zeros at 0 Hz (four for A, two for
 * C) and poles at f1 = 20.598997 Hz (double), f4 = 12194.217 Hz (double)
 * and, for A only, f2 = 107.65265 Hz and f3 = 737.86223 Hz. Each high-pass
 * pole (f1, f2, f3) is a first-order section with the matched pole
 * exp(-2 pi f / 48000), a zero at 0 Hz, and the analogue magnitude at
 * 24 kHz. The double low-pass pole f4, near the Nyquist frequency, is one
 * second-order section with the matched double pole and the two zeros that
 * give it the analogue magnitude at 0 Hz, 14 kHz and 19.5 kHz. Each
 * weighting is then scaled to exactly 0 dB at 1 kHz, the part of the
 * standard's A1000 and C1000; the digital gains come out 0.005 dB (A) and
 * 0.002 dB (C) below -A1000 = 2.000 dB and -C1000 = 0.062 dB. Between
 * 10 Hz and 20 kHz the weightings stay within 0.08 dB of the analogue
 * curves. Their deviations from the standard's table, in dB (designed minus
 * table; the table is rounded to 0.1 dB), at its nominal frequencies:
 *
 *   Hz      10  12.5    16    20    25  31.5    40    50    63    80
 *   A    -0.03 +0.03 +0.01 +0.05  0.00 -0.04 -0.03 -0.03  0.00 -0.01
 *   C    -0.03 -0.05 -0.03 -0.04 -0.01 -0.01  0.00  0.00 -0.02 -0.01
 *   Hz     100   125   160   200   250   315   400   500   630   800
 *   A    -0.04  0.00 +0.05 +0.03 -0.03 -0.01 -0.01 -0.03  0.00 -0.02
 *   C     0.00 +0.03 +0.01 -0.03  0.00 +0.02 +0.03 +0.03 +0.03 +0.02
 *   Hz      1k 1.25k  1.6k    2k  2.5k 3.15k    4k    5k  6.3k    8k
 *   A     0.00 -0.01 -0.02  0.00 -0.02 +0.01 -0.01 +0.08 +0.03 +0.05
 *   C     0.00 -0.03 +0.02 +0.04 +0.01 +0.01  0.00 +0.04 +0.05 +0.05
 *   Hz     10k 12.5k   16k   20k
 *   A    +0.07 +0.01 -0.05 +0.02
 *   C    +0.06 -0.01 -0.08 -0.01
 *
 * all well inside the class 1 tolerances (+-0.7 dB at 1 kHz, +-1 dB or
 * wider elsewhere). Z is the signal as it is.
 *
 * Time weighting. The squared A-weighted signal passes the exponential
 * average m[n] = k m[n-1] + (1 - k) a[n]^2 with k = exp(-1 / (48000 tau)),
 * tau = 0.125 s for F and 1 s for S, starting from 0 as if the signal were
 * preceded by silence. LAF and LAS are the levels of m. A steady sound's LAF
 * comes within 0.1 dB of its final value after 0.5 s, its LAS after 4 s.
 *
 * Results: the QN_SOUND_LEVELS values of `levels`, by index:
 *   QN_LEVEL_LZEQ    the equivalent level of the signal
 *   QN_LEVEL_LAEQ    ... of the A-weighted signal
 *   QN_LEVEL_LCEQ    ... of the C-weighted signal
 *   QN_LEVEL_LAFMAX  the largest LAF, over every sample
 *   QN_LEVEL_LASMAX  the largest LAS, over every sample
 *   QN_LEVEL_LAFMIN  the least LAF over every sample from 1 s on
 *                    (QN_SOUND_LEVEL_SETTLING samples), once the F level
 *                    has risen from rest; a signal of 1 s or less gives the
 *                    LAF of its last sample
 *   QN_LEVEL_LCPEAK  the level of the largest |C-weighted sample|,
 *                    20 log10(peak / 20 uPa). It is the peak of the samples
 *                    at 48 kHz, which lie close to the peak between them
 *                    below a few kHz (0.02 dB at 1 kHz) and may miss it
 *                    above (a single cycle of 8 kHz reads 2.6 ... 3.4 dB
 *                    above its steady C level as its phase varies; the
 *                    standard expects 3.4 dB, within 2.4 dB)
 * Series: LAF and LAS every 10 ms (QN_SOUND_LEVEL_STEP samples): point j is
 * the level at sample 480 (j + 1), that is (j + 1) x 10 ms after the first
 * sample, (sample_count - 1) / 480 points in all. The extremes are taken at
 * every sample, as meters take them, so LAFmax is at least the largest LAF
 * point and may be above it. The percentile levels (LAF5 ... LAF95) are
 * statistics of the LAF series, left to the caller; the points of the first
 * second still show the rise from rest.
 *
 * Outputs may not share memory with the samples or with each other: such
 * a call is refused before anything is written.
 * ---------------------------------------------------------------------- */

#define QN_SOUND_LEVELS 7             /* values of a `levels` array */
#define QN_SOUND_LEVEL_STEP 480       /* samples between series points: 10 ms */
#define QN_SOUND_LEVEL_SETTLING 48000 /* samples before LAFmin counts: 1 s */

enum {
    QN_LEVEL_LZEQ = 0,
    QN_LEVEL_LAEQ = 1,
    QN_LEVEL_LCEQ = 2,
    QN_LEVEL_LAFMAX = 3,
    QN_LEVEL_LASMAX = 4,
    QN_LEVEL_LAFMIN = 5,
    QN_LEVEL_LCPEAK = 6
};

/* Number of series points of qn_sound_levels for a signal:
 * (sample_count - 1) / 480. Reads no samples.
 *
 * Checks, in order:
 *  1. point_count null                             QN_STATUS_NULL_POINTER
 *  2. sample_rate not 48000                        QN_STATUS_INVALID_SAMPLE_RATE
 *  3. sample_count above 2^60 - 1                  QN_STATUS_SIZE_OVERFLOW
 *  4. sample_count 0                               QN_STATUS_INPUT_TOO_SHORT
 * *point_count is written only on success. */
QN_API QN_NODISCARD qn_status qn_sound_level_point_count(uint64_t sample_count, int32_t sample_rate,
                                                         uint64_t *point_count);

/* The sound levels of a signal (see above).
 *
 * samples         read: sound pressure in Pa at 48000 Hz.
 * sample_count    number of samples, at least 1.
 * sample_rate     must be 48000.
 * levels          written: the 7 levels, dB, indexed by QN_LEVEL_LZEQ ...
 * levels_capacity  room at `levels` in doubles, at least 7; only the first
 *                 7 are touched.
 * laf, las        written when not null: the P = (sample_count - 1) / 480
 *                 points of LAF and of LAS, dB. Pass null for a series not
 *                 wanted.
 * laf_capacity, las_capacity
 *                 room at `laf` and `las` in doubles: at least P for a
 *                 series that is not null.
 * point_count     written: P on success, and with
 *                 QN_STATUS_OUTPUT_TOO_SMALL; 0 after any other failure.
 *
 * Checks, in order:
 *  1. point_count null (nothing written)           QN_STATUS_NULL_POINTER
 *     then *point_count is set to 0
 *  2. sample_rate not 48000                        QN_STATUS_INVALID_SAMPLE_RATE
 *  3. sample_count above 2^60 - 1                  QN_STATUS_SIZE_OVERFLOW
 *  4. sample_count 0                               QN_STATUS_INPUT_TOO_SHORT
 *  5. levels null                                  QN_STATUS_NULL_POINTER
 *  6. levels_capacity below 7, or a series not null
 *     with its capacity below P (*point_count = P) QN_STATUS_OUTPUT_TOO_SMALL
 *  7. the 7 levels or the P points of a series
 *     sharing memory with the samples or with
 *     each other                                   QN_STATUS_INVALID_ARGUMENT
 *  8. samples null                                 QN_STATUS_NULL_POINTER
 *     a NaN or infinite sample (first one decides) QN_STATUS_NON_FINITE_INPUT
 *  9. a non-finite intermediate result             QN_STATUS_NUMERICAL_FAILURE
 *     (samples far beyond any sound, above 1e100 Pa)
 * Otherwise QN_STATUS_SUCCESS. On failure nothing is written to `levels`,
 * `laf` and `las`. Uses no heap memory; a signal with a sample beyond
 * +-1e100 Pa is run twice, first to learn whether it stays finite, so that
 * a failure writes nothing. */
QN_API QN_NODISCARD qn_status qn_sound_levels(const double *samples, uint64_t sample_count,
                                              int32_t sample_rate, double *levels,
                                              uint64_t levels_capacity, double *laf,
                                              uint64_t laf_capacity, double *las,
                                              uint64_t las_capacity, uint64_t *point_count);

/* A sound level meter: qn_sound_levels on a signal that arrives in blocks
 * of any sizes (0 and 1 sample included). The points it delivers and the
 * levels it reads are those qn_sound_levels gives for the concatenation of
 * every block added, bit for bit, whatever the block sizes. It holds only
 * the filters' and averages' running state (under 300 bytes): each block's
 * points go straight to the caller's arrays.
 *
 * A meter is created and destroyed by the caller and outlives the calls.
 * Distinct meters may be used from distinct threads at once; one meter must
 * not be used by two threads at the same time. */
typedef struct qn_sound_level_meter qn_sound_level_meter;

/* Creates a meter at rest.
 *
 * Checks, in order:
 *  1. meter null (nothing written)                 QN_STATUS_NULL_POINTER
 *     then *meter is set to null
 *  2. sample_rate not 48000                        QN_STATUS_INVALID_SAMPLE_RATE
 *  3. no memory for the meter                      QN_STATUS_ALLOCATION_FAILED
 * Otherwise QN_STATUS_SUCCESS, and *meter is to be released with
 * qn_sound_level_meter_destroy. */
QN_API QN_NODISCARD qn_status qn_sound_level_meter_create(int32_t sample_rate,
                                                          qn_sound_level_meter **meter);

/* Releases a meter. A null meter is ignored. */
QN_API void qn_sound_level_meter_destroy(qn_sound_level_meter *meter);

/* The number of points that a block of `sample_count` samples would
 * complete if it were added now: point j belongs to sample 480 (j + 1) of
 * everything added, and a block completes the points whose sample it holds.
 *
 * Checks, in order: meter or point_count null QN_STATUS_NULL_POINTER;
 * everything added with the block at 2^60 samples or more
 * QN_STATUS_SIZE_OVERFLOW. *point_count is written only on success. */
QN_API QN_NODISCARD qn_status qn_sound_level_meter_point_count(const qn_sound_level_meter *meter,
                                                               uint64_t sample_count,
                                                               uint64_t *point_count);

/* Adds a block and delivers the P points it completes, as
 * qn_sound_level_meter_point_count tells beforehand, in order from index 0.
 *
 * samples         read: sound pressure in Pa at 48000 Hz; may be null when
 *                 sample_count is 0.
 * sample_count    samples in the block, 0 or more.
 * laf, las        written when not null: P points of LAF and of LAS, dB.
 *                 Pass null for a series not wanted.
 * laf_capacity, las_capacity
 *                 room at `laf` and `las`: at least P for a series that is
 *                 not null.
 * point_count     written: P on success; P also with
 *                 QN_STATUS_OUTPUT_TOO_SMALL; 0 after any other failure.
 *
 * Checks, in order:
 *  1. meter or point_count null (nothing written)  QN_STATUS_NULL_POINTER
 *     then *point_count is set to 0
 *  2. samples null with sample_count above 0       QN_STATUS_NULL_POINTER
 *  3. everything added with the block at 2^60
 *     samples or more                              QN_STATUS_SIZE_OVERFLOW
 *  4. a series not null with its capacity below P
 *     (*point_count = P)                           QN_STATUS_OUTPUT_TOO_SMALL
 *  5. the P points of a series sharing memory
 *     with the samples or with the other series    QN_STATUS_INVALID_ARGUMENT
 *  6. a NaN or infinite sample                     QN_STATUS_NON_FINITE_INPUT
 *  7. a non-finite intermediate result             QN_STATUS_NUMERICAL_FAILURE
 * Otherwise QN_STATUS_SUCCESS. After any failure nothing is written and the
 * meter is as it was before the call, so the caller can go on with the
 * next block. Never allocates. */
QN_API QN_NODISCARD qn_status qn_sound_level_meter_add(qn_sound_level_meter *meter,
                                                       const double *samples, uint64_t sample_count,
                                                       double *laf, uint64_t laf_capacity,
                                                       double *las, uint64_t las_capacity,
                                                       uint64_t *point_count);

/* The 7 levels of everything added so far, as qn_sound_levels gives them
 * for the concatenation of the blocks.
 *
 * Checks, in order:
 *  1. meter or levels null                         QN_STATUS_NULL_POINTER
 *  2. levels_capacity below 7                      QN_STATUS_OUTPUT_TOO_SMALL
 *  3. no sample added                              QN_STATUS_INPUT_TOO_SHORT
 * Otherwise QN_STATUS_SUCCESS, with 7 levels written (only those). On
 * failure nothing is written. The meter is not changed. */
QN_API QN_NODISCARD qn_status qn_sound_level_meter_levels(const qn_sound_level_meter *meter,
                                                          double *levels, uint64_t levels_capacity);

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

/* ------------------------------------------------------------------------
 * Tonality (Aures, with Terhardt's tonal components)
 * ---------------------------------------------------------------------- */

/* Number of tonality frames of a signal: 250 ms frames (12000 samples)
 * every 125 ms (6000 samples), frame k covering samples 6000 k ...
 * 6000 k + 11999; samples after the last whole frame are not analysed.
 * (sample_count - 12000) / 6000 + 1 frames in all. Reads no samples.
 *
 * Checks, in order:
 *  1. frame_count null                             QN_STATUS_NULL_POINTER
 *  2. sample_rate not 48000                        QN_STATUS_INVALID_SAMPLE_RATE
 *  3. sample_count above 2147483647                QN_STATUS_SIZE_OVERFLOW
 *  4. sample_count below 12000                     QN_STATUS_INPUT_TOO_SHORT
 * *frame_count is written only on success. */
QN_API QN_NODISCARD qn_status qn_tonality_frame_count(uint64_t sample_count, int32_t sample_rate,
                                                      uint64_t *frame_count);

/* Tonality after Aures (1985), one value per frame (see
 * qn_tonality_frame_count), in tonality units (t.u.): 0 for a sound without
 * tonal components, about 1 for a steady 1 kHz tone of 60 dB. In each Hann-
 * windowed frame the tonal components are found after Terhardt: narrow
 * spectral regions (up to 20) that stand at least 7 dB above both
 * neighbouring critical bands, and single lines between 36 Hz and 5 kHz
 * that stand 7 dB above the bins 24 Hz and 36 Hz away. Each component is
 * weighted by its bandwidth, its frequency and its excess over what masks
 * it (the other components, the noise left in its critical band once the
 * components are removed, the threshold in quiet); the loudness of that
 * noise residual against the loudness of the frame weights the whole. So a
 * pure tone is more tonal than a narrow band of noise at the same level,
 * broadband noise is close to 0, and noise added to a tone lowers T.
 * Every value is finite and not negative.
 *
 * samples         read: sound pressure in Pa at 48000 Hz.
 * sample_count    number of samples: 12000 ... 2147483647.
 * sample_rate     must be 48000.
 * field           QN_SOUND_FIELD_FREE or QN_SOUND_FIELD_DIFFUSE: the sound
 *                 field of the loudness of frame and residual.
 * out             written: one value per frame; only the first
 *                 *frame_count elements are touched.
 * capacity        room at `out` in doubles.
 * frame_count     written: the number of frames, on success and with
 *                 QN_STATUS_OUTPUT_TOO_SMALL (so capacity 0 asks for it).
 *
 * Checks, in order:
 *  1. samples, out or frame_count null             QN_STATUS_NULL_POINTER
 *  2. sample_rate not 48000                        QN_STATUS_INVALID_SAMPLE_RATE
 *  3. sample_count above 2147483647                QN_STATUS_SIZE_OVERFLOW
 *  4. sample_count below 12000                     QN_STATUS_INPUT_TOO_SHORT
 *  5. field is neither 0 nor 1                     QN_STATUS_INVALID_SOUND_FIELD
 *  6. capacity below the number of frames          QN_STATUS_OUTPUT_TOO_SMALL
 *     (before any sample is read; *frame_count receives the number)
 *  7. a NaN or infinite sample                     QN_STATUS_NON_FINITE_INPUT
 *  8. no memory for the working arrays             QN_STATUS_ALLOCATION_FAILED
 *  9. a frame that cannot be rated                 QN_STATUS_NUMERICAL_FAILURE
 *     This is the answer for a very loud low-frequency sound: the loudness
 *     model stops at 120 dB in the third-octave bands of 250 Hz and below,
 *     so any frame with a tonal component whose windowed signal (or what
 *     remains of it without the components) exceeds 120 dB in one of those
 *     bands fails the whole call, as does a signal so strong that its
 *     spectrum overflows.
 * Otherwise QN_STATUS_SUCCESS. After any failure but 6, `out` and
 * *frame_count hold what they held before. Working memory is about
 * 1.7 MB whatever the length of the signal, beyond one double per frame. */
QN_API QN_NODISCARD qn_status qn_tonality_aures(const double *samples, uint64_t sample_count,
                                                int32_t sample_rate, qn_sound_field field, double *out,
                                                uint64_t capacity, uint64_t *frame_count);

/* ------------------------------------------------------------------------
 * Tonality (ECMA-418-2, hearing model of Sottek)
 * ---------------------------------------------------------------------- */

/* The ECMA-418-2 metrics of the hearing model, as flags: a set of them is
 * their sum (bitwise or). */
typedef int32_t qn_ecma_metric;

enum {
    QN_ECMA_TONALITY = 1,   /* tonality (and its specific loudness arrays) */
    QN_ECMA_LOUDNESS = 2,   /* loudness */
    QN_ECMA_ROUGHNESS = 4,  /* roughness */
    QN_ECMA_FLUCTUATION = 8 /* fluctuation strength */
};

/* The auditory bands of the ECMA-418-2 hearing model: band b (0 ... 52) is
 * centred at 0.5 (b + 1) Bark, that is at
 * 506.3590852904821 sinh(0.0809 (b + 1)) Hz (41 Hz ... 18.4 kHz). */
#define QN_ECMA_BANDS 53

/* Number of frames of qn_ecma_tonal_analysis for a signal: one frame every
 * 256 samples (5.33 ms), frame k standing for the instant 256 k samples
 * after the first sample, ceil(sample_count / 256) + 1 frames in all.
 * Reads no samples.
 *
 * Checks, in order:
 *  1. frame_count null                             QN_STATUS_NULL_POINTER
 *     then *frame_count is set to 0
 *  2. sample_rate not 48000                        QN_STATUS_INVALID_SAMPLE_RATE
 *  3. sample_count below 14592                     QN_STATUS_INPUT_TOO_SHORT
 *  4. sample_count above 1113765679922085632       QN_STATUS_SIZE_OVERFLOW
 * On success *frame_count is the number of frames. */
QN_API QN_NODISCARD qn_status qn_ecma_tonal_frame_count(uint64_t sample_count, int32_t sample_rate,
                                                        uint64_t *frame_count);

/* Tonality after ECMA-418-2 (Sottek's hearing model), resolved in time and
 * in the 53 auditory bands: the signal passes the outer and middle ear
 * filter and 53 auditory filters; blocks of each band (8192 samples in
 * bands 0-2, 4096 in 3-15, 2048 in 16-24, 1024 in 25-52, overlapping by
 * three quarters) give a specific loudness and an autocorrelation, whose
 * strongest periodicity gives the loudness and frequency of a tonal
 * component; a signal-to-noise weighting splits each band's loudness into
 * tonal and noise parts. A 1 kHz tone of 40 dB SPL has a specific tonality
 * of about 1 in its band once it is steady. The time-dependent tonality of
 * the standard is the largest specific tonality over the bands of a frame;
 * single values over time are left to the caller.
 *
 * samples         read: sound pressure in Pa at 48000 Hz.
 * sample_count    number of samples: 14592 (0.304 s) ... 1113765679922085632.
 * sample_rate     must be 48000.
 * field           QN_SOUND_FIELD_FREE or QN_SOUND_FIELD_DIFFUSE (the
 *                 diffuse field leaves out the free-field part of the ear
 *                 filter).
 * out             written: five arrays of V x 53 values one after the
 *                 other, V the number of frames (qn_ecma_tonal_frame_count),
 *                 each frame-major: value (k, b) of array a at
 *                 out[a * 53 V + 53 k + b] for frame k and band b.
 *                   a = 0  tonal specific loudness, sone/Bark
 *                   a = 1  noise specific loudness, sone/Bark
 *                   a = 2  frequency of the tonal component, Hz (a multiple
 *                          of 2.9296875 Hz at the instants of the band's
 *                          blocks, blended linearly between them)
 *                   a = 3  specific tonality, tonality units per Bark
 *                   a = 4  total specific loudness, sone/Bark
 *                 Frame k stands for the instant 256 k / 48000 s after the
 *                 first sample; the frame series start from rest, so frame
 *                 0 is 0 in arrays 0, 1, 3 and 4. Only the first 265 V
 *                 elements are touched.
 * capacity        room at `out` in doubles, at least 265 V.
 * frame_count     written: V, from check 5 on (also with
 *                 QN_STATUS_OUTPUT_TOO_SMALL, so a first call with capacity
 *                 0 learns it, and after any later failure); 0 after a
 *                 failure of checks 2 to 4.
 *
 * Checks, in order:
 *  1. frame_count null (nothing written)           QN_STATUS_NULL_POINTER
 *     then *frame_count is set to 0
 *  2. sample_rate not 48000                        QN_STATUS_INVALID_SAMPLE_RATE
 *     field is neither 0 nor 1                     QN_STATUS_INVALID_SOUND_FIELD
 *  3. out null                                     QN_STATUS_NULL_POINTER
 *  4. sample_count below 14592                     QN_STATUS_INPUT_TOO_SHORT
 *     sample_count above 1113765679922085632       QN_STATUS_SIZE_OVERFLOW
 *  5. *frame_count = V; capacity below 265 V       QN_STATUS_OUTPUT_TOO_SMALL
 *  6. samples null                                 QN_STATUS_NULL_POINTER
 *     a NaN or infinite sample (first one decides) QN_STATUS_NON_FINITE_INPUT
 *  7. no memory for the working arrays             QN_STATUS_ALLOCATION_FAILED
 *  8. a non-finite intermediate or output value    QN_STATUS_NUMERICAL_FAILURE
 * Otherwise QN_STATUS_SUCCESS, with every value finite and arrays 0, 1, 3
 * and 4 not negative. The output is written as the analysis proceeds: after
 * a failure of check 8 it may hold partial results, which are not to be
 * used; after checks 1 to 7 it is untouched. Working memory stays below
 * 16 MiB whatever the length of the signal. */
QN_API QN_NODISCARD qn_status qn_ecma_tonal_analysis(const double *samples, uint64_t sample_count,
                                                     int32_t sample_rate, qn_sound_field field,
                                                     double *out, uint64_t capacity,
                                                     uint64_t *frame_count);

/* ------------------------------------------------------------------------
 * Roughness (ECMA-418-2, hearing model of Sottek)
 * ---------------------------------------------------------------------- */

/* Number of frames of ECMA-418-2 roughness: one every 960 samples (20 ms,
 * 50 per second), frame k standing for the instant k / 50 s after the first
 * sample; sample_count / 960 + 1 frames in all (integer division). Reads no
 * samples.
 *
 * Checks, in order:
 *  1. frame_count null                             QN_STATUS_NULL_POINTER
 *  then 0 is written to *frame_count, and:
 *  2. sample_rate not 48000                        QN_STATUS_INVALID_SAMPLE_RATE
 *  3. sample_count below 15360                     QN_STATUS_INPUT_TOO_SHORT
 *  4. sample_count above 1152921504606830591       QN_STATUS_SIZE_OVERFLOW
 *     (2^60 - 16385)
 * On success *frame_count receives the number of frames. */
QN_API QN_NODISCARD qn_status qn_ecma_roughness_frame_count(uint64_t sample_count,
                                                            int32_t sample_rate,
                                                            uint64_t *frame_count);

/* Specific roughness after ECMA-418-2 in asper per Bark, for each of the 53
 * auditory bands (band b centred at 0.5 (b + 1) Bark) at 50 frames per
 * second (see qn_ecma_roughness_frame_count). The signal passes the outer
 * and middle ear filter and 53 auditory filters; every 4096 samples a block
 * of the last 16384 samples of each band gives its specific loudness and
 * the spectrum of its envelope (modulation rates up to 750 Hz in steps of
 * 2.93 Hz); the spectra are averaged over neighbouring bands and weighted
 * against their noise floor; the peaks of each band's spectrum and their
 * harmonic series give its raw roughness; raw roughness is interpolated to
 * the frames, compressed and smoothed (rise 62.5 ms, fall 500 ms). The
 * first block ends at the first sample, so frame 0 is 0 in every band.
 * Total roughness of a frame is 0.5 times the sum over its 53 bands; a 1
 * kHz tone of 60 dB SPL, fully amplitude-modulated at 70 Hz, has about 1
 * asper after the first 0.3 s. Every value is finite and not negative.
 *
 * samples         read: sound pressure in Pa at 48000 Hz.
 * sample_count    number of samples: at least 15360 (0.32 s).
 * sample_rate     must be 48000.
 * sound_field     QN_SOUND_FIELD_FREE or QN_SOUND_FIELD_DIFFUSE (the
 *                 diffuse field leaves out the free-field part of the ear
 *                 filter).
 * out             written: 53 * frames values, frame-major: element
 *                 53 k + b is band b at frame k, asper per Bark.
 * capacity        room at `out` in doubles; elements beyond 53 * frames
 *                 are left untouched.
 * frame_count     written: 0 first, then the number of frames once the
 *                 length is accepted (step 5).
 *
 * Checks, in order:
 *  1. frame_count null                             QN_STATUS_NULL_POINTER
 *  then 0 is written to *frame_count, and:
 *  2. sample_rate not 48000                        QN_STATUS_INVALID_SAMPLE_RATE
 *  3. sound_field neither 0 nor 1                  QN_STATUS_INVALID_SOUND_FIELD
 *  4. out null                                     QN_STATUS_NULL_POINTER
 *  5. sample_count below 15360                     QN_STATUS_INPUT_TOO_SHORT
 *     sample_count above 2^60 - 16385              QN_STATUS_SIZE_OVERFLOW
 *  then the number of frames is written to *frame_count and stays there
 *  whatever follows:
 *  6. capacity below 53 * frames                   QN_STATUS_OUTPUT_TOO_SMALL
 *  7. (sample_count / 4096 + 2) * 13621 reaching 2^60
 *                                                  QN_STATUS_SIZE_OVERFLOW
 *  8. samples null                                 QN_STATUS_NULL_POINTER
 *  9. a NaN or infinite sample                     QN_STATUS_NON_FINITE_INPUT
 * 10. no memory for the working arrays             QN_STATUS_ALLOCATION_FAILED
 * 11. a non-finite intermediate result             QN_STATUS_NUMERICAL_FAILURE
 * Otherwise QN_STATUS_SUCCESS. After failures 1 to 9 nothing is written to
 * `out`. The output is written frame by frame as the analysis proceeds, so
 * after failure 11 the first frames may hold values. Working memory is
 * about 7 MB whatever the length of the signal. */
QN_API QN_NODISCARD qn_status qn_roughness_ecma(const double *samples, uint64_t sample_count,
                                                int32_t sample_rate, qn_sound_field sound_field,
                                                double *out, uint64_t capacity,
                                                uint64_t *frame_count);

#ifdef __cplusplus
} /* extern "C" */
#endif

#endif /* QUARNELO_H */

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
 *  - Arrays that share memory: each computing function says which of its
 *    arrays may overlap (the signal with an output, or two outputs, a frame
 *    count being an output of one double's width); those give exactly what
 *    separate arrays give. Any other overlap is refused with
 *    QN_STATUS_INVALID_ARGUMENT at the check its list names, before a sample
 *    is read and before anything but a documented frame count is written.
 *    Only what a call touches is compared: the sample_count samples and, of
 *    each output, the values the call writes, not its whole capacity; room
 *    beyond them may lie over anything.
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
#define QN_ECMA_FLUCTUATION_MIN_SAMPLES 65537 /* ECMA-418-2 fluctuation strength (1.37 s) */
#define QN_ECMA_FLUCTUATION_HOP 960           /* ... a frame every 20 ms */

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
 * Shared memory: the levels may overlap loudness or specific (all 28 are
 * read before anything is written); loudness within the 240 values of
 * specific is refused (check 5).
 *
 * Checks, in order:
 *  1. levels or loudness null                      QN_STATUS_NULL_POINTER
 *  2. level_count is not 28                        QN_STATUS_INVALID_ARGUMENT
 *  3. field is neither 0 nor 1                     QN_STATUS_INVALID_SOUND_FIELD
 *  4. specific null with a non-zero capacity, or
 *     non-null with a capacity below 240           QN_STATUS_OUTPUT_TOO_SMALL
 *  5. loudness within the 240 values of specific   QN_STATUS_INVALID_ARGUMENT
 *  6. the levels from index 0 to 27, each in turn:
 *     NaN or infinite                              QN_STATUS_NON_FINITE_INPUT
 *     above 120 dB in a band of 250 Hz or below
 *     (index 0 ... 10)                             QN_STATUS_INVALID_ARGUMENT
 *     Bands of 315 Hz and above have no upper limit.
 *  7. a non-finite intermediate result             QN_STATUS_NUMERICAL_FAILURE
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
 * Shared memory: the samples may overlap loudness or specific (every
 * sample is read before anything is written); loudness within the 240
 * values of specific is refused (check 4).
 *
 * Checks, in order:
 *  1. loudness null                                QN_STATUS_NULL_POINTER
 *  2. field is neither 0 nor 1                     QN_STATUS_INVALID_SOUND_FIELD
 *  3. specific null with a non-zero capacity, or
 *     non-null with a capacity below 240           QN_STATUS_OUTPUT_TOO_SMALL
 *  4. loudness within the 240 values of specific   QN_STATUS_INVALID_ARGUMENT
 *  5. samples null                                 QN_STATUS_NULL_POINTER
 *     sample_count 0                               QN_STATUS_INPUT_TOO_SHORT
 *     sample_rate not 48000                        QN_STATUS_INVALID_SAMPLE_RATE
 *     sample_count above 2^60 - 1                  QN_STATUS_SIZE_OVERFLOW
 *     a NaN or infinite sample (first one decides) QN_STATUS_NON_FINITE_INPUT
 *  6. sample_count below 256                       QN_STATUS_INPUT_TOO_SHORT
 *     a band power that is not finite              QN_STATUS_NUMERICAL_FAILURE
 *  7. as qn_loudness_from_levels with the 28 band levels; in particular a
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
 * Shared memory: none. The frames are written as they are computed, ahead
 * of samples not yet read, so any two of the samples, the F values at
 * loudness, the F * 240 values at specific and *frame_count that overlap
 * are refused (check 10).
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
 * 10. two of samples, loudness, specific and
 *     frame_count overlapping (see above)          QN_STATUS_INVALID_ARGUMENT
 * 11. a NaN or infinite sample                     QN_STATUS_NON_FINITE_INPUT
 * 12. no memory for F * 241 doubles of work
 *     (samples beyond +-1e100 Pa only)             QN_STATUS_ALLOCATION_FAILED
 * 13. a non-finite intermediate result             QN_STATUS_NUMERICAL_FAILURE
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
 * Shared memory: none. The frames are written as the block runs, ahead of
 * samples not yet read, so any two of the sample_count samples, the F
 * values at loudness, the F * 240 values at specific (when not null) and
 * *frame_count that overlap are refused (check 6).
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
 *  6. two of samples, loudness, specific and
 *     frame_count overlapping (see above)          QN_STATUS_INVALID_ARGUMENT
 *  7. a NaN or infinite sample                     QN_STATUS_NON_FINITE_INPUT
 *  8. a non-finite intermediate result             QN_STATUS_NUMERICAL_FAILURE
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
 * Shared memory: loudness within the 240 values of specific is refused
 * (check 3).
 *
 * Checks, in order:
 *  1. meter or loudness null                       QN_STATUS_NULL_POINTER
 *  2. specific null with a non-zero capacity, or
 *     non-null with a capacity below 240           QN_STATUS_OUTPUT_TOO_SMALL
 *  3. loudness within the 240 values of specific   QN_STATUS_INVALID_ARGUMENT
 *  4. fewer than 256 samples added                 QN_STATUS_INPUT_TOO_SHORT
 *  5. a band power that is not finite              QN_STATUS_NUMERICAL_FAILURE
 *  6. as qn_loudness_from_levels with the 28 band levels; in particular a
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
 * Shared memory: sharpness may lie within specific (the pattern is read in
 * full before the result is written); there is nothing to refuse.
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
 * Shared memory: the samples may overlap out and frame_count (the series
 * is copied out once every sample has been read); *frame_count within the
 * values written to out is refused (check 6).
 *
 * Checks, in order:
 *  1. samples, out or frame_count null             QN_STATUS_NULL_POINTER
 *  2. sample_rate not 48000                        QN_STATUS_INVALID_SAMPLE_RATE
 *  3. sample_count above 2147483647                QN_STATUS_SIZE_OVERFLOW
 *  4. sample_count below 9600                      QN_STATUS_INPUT_TOO_SHORT
 *  5. capacity below the number of frames          QN_STATUS_OUTPUT_TOO_SMALL
 *     (before any sample is read; *frame_count receives the number)
 *  6. frame_count pointing into the values written
 *     to out (one per frame)                       QN_STATUS_INVALID_ARGUMENT
 *  7. a NaN or infinite sample                     QN_STATUS_NON_FINITE_INPUT
 *  8. no memory for the working arrays             QN_STATUS_ALLOCATION_FAILED
 *  9. a non-finite intermediate result             QN_STATUS_NUMERICAL_FAILURE
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
 * Shared memory: the samples may overlap out and frame_count (the series
 * is copied out once every sample has been read); *frame_count within the
 * values written to out is refused (check 7).
 *
 * Checks, in order:
 *  1. samples, out or frame_count null             QN_STATUS_NULL_POINTER
 *  2. sample_rate not 48000                        QN_STATUS_INVALID_SAMPLE_RATE
 *  3. sample_count above 2147483647                QN_STATUS_SIZE_OVERFLOW
 *  4. sample_count below 12000                     QN_STATUS_INPUT_TOO_SHORT
 *  5. field is neither 0 nor 1                     QN_STATUS_INVALID_SOUND_FIELD
 *  6. capacity below the number of frames          QN_STATUS_OUTPUT_TOO_SMALL
 *     (before any sample is read; *frame_count receives the number)
 *  7. frame_count pointing into the values written
 *     to out (one per frame)                       QN_STATUS_INVALID_ARGUMENT
 *  8. a NaN or infinite sample                     QN_STATUS_NON_FINITE_INPUT
 *  9. no memory for the working arrays             QN_STATUS_ALLOCATION_FAILED
 * 10. a frame that cannot be rated                 QN_STATUS_NUMERICAL_FAILURE
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
 * Shared memory: none. The output is written as the analysis proceeds,
 * ahead of samples not yet read, so any two of the samples, the 265 V
 * values of out and *frame_count that overlap are refused (check 7).
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
 *  7. two of samples, out and frame_count
 *     overlapping (see above)                      QN_STATUS_INVALID_ARGUMENT
 *  8. a NaN or infinite sample (first one decides) QN_STATUS_NON_FINITE_INPUT
 *  9. no memory for the working arrays             QN_STATUS_ALLOCATION_FAILED
 * 10. a non-finite intermediate or output value    QN_STATUS_NUMERICAL_FAILURE
 * Otherwise QN_STATUS_SUCCESS, with every value finite and arrays 0, 1, 3
 * and 4 not negative. The output is written as the analysis proceeds: after
 * a failure of check 10 it may hold partial results, which are not to be
 * used; after checks 1 to 9 it is untouched. Working memory stays below
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
 * qn_ecma_aggregate reduces the output to the total of every frame, the
 * averaged specific roughness and the single value (a 90th percentile).
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
 * Shared memory: none. The output is written frame by frame as the
 * analysis proceeds, ahead of samples not yet read, so any two of the
 * samples, the 53 * frames values of out and *frame_count that overlap are
 * refused (check 9).
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
 *  7. sample_count above 346697487913484288, where
 *     the modulation spectra of the analysis's
 *     ceil(sample_count / 4096) + 1 blocks, 13621
 *     values each, reach 2^60 values               QN_STATUS_SIZE_OVERFLOW
 *  8. samples null                                 QN_STATUS_NULL_POINTER
 *  9. two of samples, out and frame_count
 *     overlapping (see above)                      QN_STATUS_INVALID_ARGUMENT
 * 10. a NaN or infinite sample                     QN_STATUS_NON_FINITE_INPUT
 * 11. no memory for the working arrays             QN_STATUS_ALLOCATION_FAILED
 * 12. a non-finite intermediate result             QN_STATUS_NUMERICAL_FAILURE
 * Otherwise QN_STATUS_SUCCESS. After failures 1 to 10 nothing is written to
 * `out`. The output is written frame by frame as the analysis proceeds, so
 * after failure 12 the first frames may hold values. Working memory is
 * about 8 MB whatever the length of the signal. */
QN_API QN_NODISCARD qn_status qn_roughness_ecma(const double *samples, uint64_t sample_count,
                                                int32_t sample_rate, qn_sound_field sound_field,
                                                double *out, uint64_t capacity,
                                                uint64_t *frame_count);

/* ------------------------------------------------------------------------
 * Loudness (ECMA-418-2, hearing model of Sottek)
 * ---------------------------------------------------------------------- */

/* Loudness after ECMA-418-2 in sone_HMS, from a signal. The tonal analysis
 * of qn_ecma_tonal_analysis gives, per frame l (one every 256 samples) and
 * auditory band z, the specific loudness N'(l,z): its array 4, where the
 * tonal loudness and 0.5331 times the noise loudness are added as a power
 * sum, [N't^e + (0.5331 N'n)^e]^(1/e), with the exponent
 * e(l) = 0.2918 / (the frame's largest N't + N'n + 1e-12) + 0.5459. From
 * N'(l,z) this function reduces as the loudness rules of "Single values and
 * averages over time" below say:
 *   N(l)   the time-dependent loudness, 0.5 times the sum over the bands;
 *   N'(z)  the time-averaged specific loudness, a power mean over the
 *          frames from QN_ECMA_LOUDNESS_FIRST_FRAME (57) on;
 *   N      the single value, the same power mean of N(l). It is not half
 *          the sum of N'(z).
 * A 1 kHz tone of 40 dB SPL in the free field has N = 1 sone_HMS, and
 * N(l) = 1 once it is steady; its averaged specific loudness is 0.348
 * sone_HMS/Bark at 9 Bark (band 17). The values are those qn_ecma_aggregate
 * gives for QN_ECMA_LOUDNESS and the specific loudness, bit for bit.
 *
 * samples         read: sound pressure in Pa at 48000 Hz.
 * sample_count    number of samples: 14592 (0.304 s) ... 1113765679922085632.
 *                 Every such signal has V >= 58 frames, so at least one
 *                 frame enters the averages.
 * sample_rate     must be 48000.
 * field           QN_SOUND_FIELD_FREE or QN_SOUND_FIELD_DIFFUSE, as for
 *                 qn_ecma_tonal_analysis.
 * loudness        written: N(l), V values in sone_HMS, V the number of
 *                 frames (qn_ecma_tonal_frame_count); frame l stands for
 *                 the instant 256 l / 48000 s after the first sample.
 * loudness_capacity  room at `loudness` in doubles, at least V.
 * averaged        written when not null: N'(z), 53 values in
 *                 sone_HMS/Bark, band b at 0.5 (b + 1) Bark. Pass null
 *                 when not wanted.
 * averaged_capacity  room at `averaged`: 0 with a null pointer, else >= 53.
 * value           written: N in sone_HMS.
 * specific        written when not null: N'(l,z), V x 53 values in
 *                 sone_HMS/Bark, frame-major (53 l + b), the same as array 4
 *                 of qn_ecma_tonal_analysis. Pass null when not wanted.
 * specific_capacity  room at `specific`: 0 with a null pointer, else at
 *                 least 53 V.
 * frame_count     written: V from check 5 on (also with
 *                 QN_STATUS_OUTPUT_TOO_SMALL, so a first call with small
 *                 capacities learns it, and after any later failure); 0
 *                 after a failure of checks 2 to 4.
 *
 * Checks, in order:
 *  1. frame_count null (nothing written)           QN_STATUS_NULL_POINTER
 *     then *frame_count is set to 0
 *  2. sample_rate not 48000                        QN_STATUS_INVALID_SAMPLE_RATE
 *     field is neither 0 nor 1                     QN_STATUS_INVALID_SOUND_FIELD
 *  3. loudness or value null                       QN_STATUS_NULL_POINTER
 *  4. sample_count below 14592                     QN_STATUS_INPUT_TOO_SHORT
 *     sample_count above 1113765679922085632       QN_STATUS_SIZE_OVERFLOW
 *  5. *frame_count = V; loudness_capacity below V, or averaged or specific
 *     null with a non-zero capacity or not null
 *     with less than 53 or 53 V                    QN_STATUS_OUTPUT_TOO_SMALL
 *  6. two outputs share memory, or an output and
 *     the samples (the values written count)       QN_STATUS_INVALID_ARGUMENT
 *  7. samples null                                 QN_STATUS_NULL_POINTER
 *     a NaN or infinite sample (first one decides) QN_STATUS_NON_FINITE_INPUT
 *  8. no memory for the working arrays             QN_STATUS_ALLOCATION_FAILED
 *  9. a non-finite intermediate or output value    QN_STATUS_NUMERICAL_FAILURE
 * Otherwise QN_STATUS_SUCCESS, with every value finite and not negative.
 * After failures 1 to 8 nothing is written. The frames go to `loudness`
 * and `specific` as the analysis proceeds, so after failure 9 their first
 * frames may hold values; `averaged` and `value` are written only on
 * success. Working memory is that of the tonal analysis, below 16 MiB
 * whatever the length of the signal. */
QN_API QN_NODISCARD qn_status qn_loudness_ecma(const double *samples, uint64_t sample_count,
                                               int32_t sample_rate, qn_sound_field field,
                                               double *loudness, uint64_t loudness_capacity,
                                               double *averaged, uint64_t averaged_capacity,
                                               double *value, double *specific,
                                               uint64_t specific_capacity, uint64_t *frame_count);

/* ------------------------------------------------------------------------
 * Single values and averages over time (ECMA-418-2)
 *
 * Loudness, roughness and fluctuation strength of the hearing model reduce
 * their specific values X'(l,z) (frames l, bands z = 0 ... 52; arrays of 53
 * values per frame, frame-major) by the same steps:
 *
 *  - the time-dependent value X(l) = 0.5 times the sum over the 53 bands of
 *    X'(l,z), added in band order;
 *  - over the frames from the metric's first frame f on (the earlier ones
 *    hold the filters' transients), L = frames - f of them:
 *      loudness (frames every 256 samples, f = 57, 0.304 s): the averaged
 *        specific values are the power means
 *        X'(z) = [ (1/L) sum over l of X'(l,z)^p ]^(1/p), p = 1 / log10(2),
 *        and the single value is the same power mean of X(l);
 *      roughness (frames every 960 samples, f = 16, 0.32 s) and fluctuation
 *        strength (frames every 960 samples, f = 36, 0.72 s): the averaged
 *        specific values are the arithmetic means of X'(l,z) (for roughness
 *        this is the library's reading: the frames are the standard's, the
 *        kind of mean is not stated), and the single value is the 90th
 *        percentile of X(l) by linear interpolation between order
 *        statistics: with the L values sorted ascending, x_0 <= ... <=
 *        x_(L-1), h = 0.9 (L - 1) and i = floor(h), it is
 *        x_i + (h - i) (x_(i+1) - x_i), and x_i when i = L - 1. (The ISO
 *        532-1 percentiles of the front ends keep their nearest rank.)
 *
 * A series of f frames or fewer has no averages: QN_STATUS_INPUT_TOO_SHORT.
 * The results are the same bits whichever way they are computed: in one
 * call (qn_ecma_aggregate), piece by piece (an accumulator, with
 * qn_ecma_single_value for the percentiles), or within qn_loudness_ecma.
 * Tonality has no such reduction here and no two-ear combination: each
 * ear's tonality is reported on its own.
 * ---------------------------------------------------------------------- */

/* The first frame of the averages and single values, by metric. */
#define QN_ECMA_LOUDNESS_FIRST_FRAME 57    /* 57 * 256 samples: 0.304 s */
#define QN_ECMA_ROUGHNESS_FIRST_FRAME 16   /* 16 * 960 samples: 0.32 s */
#define QN_ECMA_FLUCTUATION_FIRST_FRAME 36 /* 36 * 960 samples: 0.72 s */

/* The time-dependent values, the averaged specific values and the single
 * value of one metric, from its specific values, in one call.
 *
 * metric          QN_ECMA_LOUDNESS, QN_ECMA_ROUGHNESS or
 *                 QN_ECMA_FLUCTUATION: one flag alone.
 * specific        read: frame_count x 53 values, frame-major (53 l + b),
 *                 finite and not negative: specific loudness in
 *                 sone_HMS/Bark, roughness in asper/Bark or fluctuation
 *                 strength in vacil_HMS/Bark, of one ear (the output of the
 *                 metric's analysis) or of two combined (qn_ecma_binaural).
 * frame_count     frames at `specific`, more than the metric's first frame.
 * series          written: X(l), frame_count values.
 * series_capacity room at `series` in doubles, at least frame_count.
 * averaged        written: X'(z), 53 values.
 * averaged_capacity  room at `averaged`, at least 53.
 * value           written: the single value.
 *
 * Checks, in order:
 *  1. specific, series, averaged or value null     QN_STATUS_NULL_POINTER
 *  2. metric not one of the three flags            QN_STATUS_INVALID_ARGUMENT
 *  3. frame_count * 53 not below 2^60              QN_STATUS_SIZE_OVERFLOW
 *  4. frame_count at most the first frame          QN_STATUS_INPUT_TOO_SHORT
 *  5. series_capacity below frame_count or
 *     averaged_capacity below 53                   QN_STATUS_OUTPUT_TOO_SMALL
 *  6. two outputs share memory, or an output and
 *     `specific` (the values written count)        QN_STATUS_INVALID_ARGUMENT
 *  7. the values from index 0 on, each in turn:
 *     NaN or infinite                              QN_STATUS_NON_FINITE_INPUT
 *     below 0                                      QN_STATUS_INVALID_ARGUMENT
 *  8. a sum or a power beyond the largest double   QN_STATUS_NUMERICAL_FAILURE
 *     (specific loudness above about 1e90, or sums near 1e308)
 * Otherwise QN_STATUS_SUCCESS. On failure nothing is written. Uses no heap
 * memory. */
QN_API QN_NODISCARD qn_status qn_ecma_aggregate(qn_ecma_metric metric, const double *specific,
                                                uint64_t frame_count, double *series,
                                                uint64_t series_capacity, double *averaged,
                                                uint64_t averaged_capacity, double *value);

/* The single value of a metric from its time-dependent values X(l), frame
 * 0 first: the power mean (loudness) or the 90th percentile (roughness,
 * fluctuation strength) over the frames from the metric's first frame on,
 * as above. For the series an accumulator hands out, or any a host keeps;
 * the percentile is found without a copy of the series (it is read up to
 * 16 times).
 *
 * metric          QN_ECMA_LOUDNESS, QN_ECMA_ROUGHNESS or
 *                 QN_ECMA_FLUCTUATION: one flag alone.
 * series          read: frame_count values, finite and not negative.
 * frame_count     frames at `series`, more than the metric's first frame.
 * value           written: the single value.
 *
 * Checks, in order:
 *  1. series or value null                         QN_STATUS_NULL_POINTER
 *  2. metric not one of the three flags            QN_STATUS_INVALID_ARGUMENT
 *  3. frame_count not below 2^60                   QN_STATUS_SIZE_OVERFLOW
 *  4. frame_count at most the first frame          QN_STATUS_INPUT_TOO_SHORT
 *  5. value within the series                      QN_STATUS_INVALID_ARGUMENT
 *  6. the values from index 0 on, each in turn:
 *     NaN or infinite                              QN_STATUS_NON_FINITE_INPUT
 *     below 0                                      QN_STATUS_INVALID_ARGUMENT
 *  7. a power sum beyond the largest double        QN_STATUS_NUMERICAL_FAILURE
 * Otherwise QN_STATUS_SUCCESS. On failure nothing is written. Uses no heap
 * memory. */
QN_API QN_NODISCARD qn_status qn_ecma_single_value(qn_ecma_metric metric, const double *series,
                                                   uint64_t frame_count, double *value);

/* Accumulators: the same reductions over specific values that arrive in
 * pieces, as a long recording analysed block by block delivers them. Add
 * the frames of each piece in order; read the averaged specific values
 * (and the loudness single value) at the end. An accumulator holds a few
 * hundred bytes whatever has been added. The percentile single values need
 * the whole series of time-dependent values, which qn_ecma_accumulator_add
 * hands to the caller (8 bytes per frame) for qn_ecma_single_value. The
 * results are those of qn_ecma_aggregate over all the frames added, bit for
 * bit, whatever the pieces.
 *
 * An accumulator is created and destroyed by the caller. Distinct
 * accumulators may be used from distinct threads at once; one accumulator
 * must not be used by two threads at the same time. */
typedef struct qn_ecma_accumulator qn_ecma_accumulator;

/* Creates an empty accumulator for one metric.
 *
 * metric          QN_ECMA_LOUDNESS, QN_ECMA_ROUGHNESS or
 *                 QN_ECMA_FLUCTUATION: one flag alone.
 * accumulator     written: the new accumulator, to be released with
 *                 qn_ecma_accumulator_destroy; null after any failure.
 *
 * Checks, in order:
 *  1. accumulator null (nothing written)           QN_STATUS_NULL_POINTER
 *     then *accumulator is set to null
 *  2. metric not one of the three flags            QN_STATUS_INVALID_ARGUMENT
 *  3. no memory for the accumulator                QN_STATUS_ALLOCATION_FAILED
 * Otherwise QN_STATUS_SUCCESS. */
QN_API QN_NODISCARD qn_status qn_ecma_accumulator_create(qn_ecma_metric metric,
                                                         qn_ecma_accumulator **accumulator);

/* Releases an accumulator. A null accumulator is ignored. */
QN_API void qn_ecma_accumulator_destroy(qn_ecma_accumulator *accumulator);

/* Adds the next frames of specific values and hands out their
 * time-dependent values.
 *
 * specific        read: frame_count x 53 values, frame-major, finite and
 *                 not negative, the frames that follow those added before.
 *                 May be null when frame_count is 0.
 * frame_count     frames at `specific`, 0 or more.
 * series          written when not null: X(l) of these frames,
 *                 frame_count values. Pass null when not wanted.
 * series_capacity room at `series`: 0 with a null pointer, else at least
 *                 frame_count.
 *
 * Checks, in order:
 *  1. accumulator null                             QN_STATUS_NULL_POINTER
 *  2. specific null with frame_count above 0       QN_STATUS_NULL_POINTER
 *  3. frame_count * 53 not below 2^60, or all
 *     frames added reaching 2^60                   QN_STATUS_SIZE_OVERFLOW
 *  4. series null with a non-zero capacity, or not
 *     null with a capacity below frame_count       QN_STATUS_OUTPUT_TOO_SMALL
 *  5. series and specific share memory (the values
 *     written count)                               QN_STATUS_INVALID_ARGUMENT
 *  6. the values from index 0 on, each in turn:
 *     NaN or infinite                              QN_STATUS_NON_FINITE_INPUT
 *     below 0                                      QN_STATUS_INVALID_ARGUMENT
 *  7. a sum or a power beyond the largest double   QN_STATUS_NUMERICAL_FAILURE
 * Otherwise QN_STATUS_SUCCESS. After any failure nothing is written and
 * the accumulator is as it was before the call. */
QN_API QN_NODISCARD qn_status qn_ecma_accumulator_add(qn_ecma_accumulator *accumulator,
                                                      const double *specific, uint64_t frame_count,
                                                      double *series, uint64_t series_capacity);

/* The averaged specific values of everything added so far and, for
 * loudness, the single value. The accumulator is not changed: more frames
 * may follow.
 *
 * averaged        written: X'(z), 53 values.
 * averaged_capacity  room at `averaged`, at least 53.
 * value           loudness: written when not null, the single value. Must
 *                 be null for roughness and fluctuation strength, whose
 *                 single value is a percentile of the series
 *                 (qn_ecma_single_value).
 *
 * Checks, in order:
 *  1. accumulator or averaged null                 QN_STATUS_NULL_POINTER
 *  2. averaged_capacity below 53                   QN_STATUS_OUTPUT_TOO_SMALL
 *  3. value not null for roughness or fluctuation
 *     strength, or within the 53 averaged values   QN_STATUS_INVALID_ARGUMENT
 *  4. frames added at most the first frame         QN_STATUS_INPUT_TOO_SHORT
 * Otherwise QN_STATUS_SUCCESS. On failure nothing is written. */
QN_API QN_NODISCARD qn_status qn_ecma_accumulator_result(const qn_ecma_accumulator *accumulator,
                                                         double *averaged,
                                                         uint64_t averaged_capacity,
                                                         double *value);

/* ------------------------------------------------------------------------
 * Two ears (ECMA-418-2)
 * ---------------------------------------------------------------------- */

/* Combines the specific values of a head recording's two ears, element by
 * element, by their quadratic mean
 *     X'_B = sqrt((X'_L^2 + X'_R^2) / 2).
 * The standard combines specific loudness, specific roughness and specific
 * fluctuation strength so, per frame and band, before any sum or average:
 * the combined arrays then go to qn_ecma_aggregate or an accumulator like
 * one ear's (combining the ears' time-dependent or single values instead
 * gives other results). Tonality has no combined value: each ear's
 * tonality is reported on its own.
 *
 * Equal left and right values give that value back exactly, over the whole
 * range of doubles: the squares are formed on values scaled by a power of
 * two where they would overflow or underflow.
 *
 * left, right     read: count values each, finite and not negative, in the
 *                 same layout (any: one frame, a whole analysis, ...).
 * count           number of values, 0 or more.
 * out             written: count values. It may be `left` or `right`
 *                 itself (the combination in place); any other overlap with
 *                 them is refused.
 * out_capacity    room at `out` in doubles, at least count.
 *
 * Checks, in order:
 *  1. left, right or out null                      QN_STATUS_NULL_POINTER
 *  2. count not below 2^60                         QN_STATUS_SIZE_OVERFLOW
 *  3. out_capacity below count                     QN_STATUS_OUTPUT_TOO_SMALL
 *  4. out shares memory with left or right without
 *     being that array                             QN_STATUS_INVALID_ARGUMENT
 *  5. the values from index 0 on, left before
 *     right at each index:
 *     NaN or infinite                              QN_STATUS_NON_FINITE_INPUT
 *     below 0                                      QN_STATUS_INVALID_ARGUMENT
 * Otherwise QN_STATUS_SUCCESS. On failure nothing is written. Uses no heap
 * memory. */
QN_API QN_NODISCARD qn_status qn_ecma_binaural(const double *left, const double *right,
                                               uint64_t count, double *out,
                                               uint64_t out_capacity);

/* ------------------------------------------------------------------------
 * ECMA-418-2: several metrics in one pass, and signals of any length
 *
 * ECMA-418-2 tonality, roughness and fluctuation strength hear through the
 * same front end: the outer and middle ear filter and the 53 auditory
 * filters. The functions below run it once for every metric asked for,
 * over a whole signal (qn_ecma_analysis, qn_ecma_analysis_with_fluctuation)
 * or over a signal that arrives in blocks (a stream). What they deliver
 * is, bit for bit, what qn_ecma_tonal_analysis, qn_roughness_ecma and
 * qn_fluctuation_ecma give for the same signal.
 *
 * The metrics, by flag (qn_ecma_metric), with the values of one frame:
 *   QN_ECMA_TONALITY     265 values every 256 samples: the five arrays of
 *                        qn_ecma_tonal_analysis at one frame, the value of
 *                        array a (0 ... 4) in band b at index 53 a + b.
 *   QN_ECMA_LOUDNESS     53 values every 256 samples: the total specific
 *                        loudness of the tonal analysis (its array 4) in
 *                        sone/Bark, band b at index b. It is what ECMA-418-2
 *                        loudness is made from; it takes the tonal
 *                        analysis, run once when both are asked for.
 *   QN_ECMA_ROUGHNESS    53 values every 960 samples: specific roughness
 *                        in asper/Bark as qn_roughness_ecma, band b at
 *                        index b.
 *   QN_ECMA_FLUCTUATION  53 values every 960 samples: specific
 *                        fluctuation strength in vacil_HMS/Bark as
 *                        qn_fluctuation_ecma, band b at index b.
 * Frame k of a metric stands for the instant k times its hop after the
 * first sample; the frame counts are those of qn_ecma_tonal_frame_count
 * (tonality and loudness), qn_ecma_roughness_frame_count and
 * qn_ecma_fluctuation_frame_count.
 * ---------------------------------------------------------------------- */

/* The metrics of qn_ecma_analysis at once: each array given is filled as
 * the metric's own export fills it, the front end running once for all.
 * An array that is null is not computed (with loudness and tonality both
 * null, neither is the tonal analysis).
 *
 * samples         read: sound pressure in Pa at 48000 Hz.
 * sample_count    number of samples: at least 14592 (0.304 s) with
 *                 tonality or loudness, at least 15360 (0.32 s) with
 *                 roughness; at most 1113765679922085632 with tonality or
 *                 loudness, 2^60 - 16385 with roughness.
 * sample_rate     must be 48000.
 * field           QN_SOUND_FIELD_FREE or QN_SOUND_FIELD_DIFFUSE.
 * tonality        written when not null: 265 Vt values, Vt the frames of
 *                 qn_ecma_tonal_frame_count, laid out as the output of
 *                 qn_ecma_tonal_analysis (five arrays of Vt x 53).
 * tonality_capacity  room at `tonality` in doubles: 0 with a null
 *                 pointer, else at least 265 Vt.
 * loudness        written when not null: 53 Vt values, the total specific
 *                 loudness (array 4 of the tonal analysis), frame-major:
 *                 element 53 k + b is band b at frame k, sone/Bark.
 * loudness_capacity  0 with a null pointer, else at least 53 Vt.
 * roughness       written when not null: 53 Vr values, Vr the frames of
 *                 qn_ecma_roughness_frame_count, as qn_roughness_ecma
 *                 writes them.
 * roughness_capacity  0 with a null pointer, else at least 53 Vr.
 * Beyond those sizes nothing is touched.
 *
 * Checks, in order:
 *  1. sample_rate not 48000                        QN_STATUS_INVALID_SAMPLE_RATE
 *  2. field is neither 0 nor 1                     QN_STATUS_INVALID_SOUND_FIELD
 *  3. tonality, loudness and roughness all null    QN_STATUS_INVALID_ARGUMENT
 *  4. sample_count below the shortest signal of a
 *     metric asked for                             QN_STATUS_INPUT_TOO_SHORT
 *     sample_count above the longest               QN_STATUS_SIZE_OVERFLOW
 *  5. for tonality, loudness, roughness in turn: a
 *     null array with a non-zero capacity, or an
 *     array with a capacity below its size         QN_STATUS_OUTPUT_TOO_SMALL
 *  6. with roughness, (sample_count / 4096 + 2) *
 *     13621 reaching 2^60 (as qn_roughness_ecma)   QN_STATUS_SIZE_OVERFLOW
 *  7. an array (of the size written) sharing memory
 *     with the samples or with another array       QN_STATUS_INVALID_ARGUMENT
 *  8. samples null                                 QN_STATUS_NULL_POINTER
 *     a NaN or infinite sample (first one decides) QN_STATUS_NON_FINITE_INPUT
 *  9. no memory for the working arrays             QN_STATUS_ALLOCATION_FAILED
 * 10. a non-finite intermediate or output value    QN_STATUS_NUMERICAL_FAILURE
 * Otherwise QN_STATUS_SUCCESS. After failures 1 to 9 nothing is written;
 * the arrays are written as the analysis proceeds, so after failure 10
 * they may hold partial results, which are not to be used. Working memory
 * does not grow with the length of the signal: about 14 MiB for tonality
 * and roughness together. */
QN_API QN_NODISCARD qn_status qn_ecma_analysis(const double *samples, uint64_t sample_count,
                                               int32_t sample_rate, qn_sound_field field,
                                               double *tonality, uint64_t tonality_capacity,
                                               double *loudness, uint64_t loudness_capacity,
                                               double *roughness, uint64_t roughness_capacity);

/* qn_ecma_analysis with fluctuation strength too: the same arguments, then
 *
 * fluctuation     written when not null: 53 Vf values, Vf the frames of
 *                 qn_ecma_fluctuation_frame_count, as qn_fluctuation_ecma
 *                 writes them.
 * fluctuation_capacity  0 with a null pointer, else at least 53 Vf.
 *
 * and the checks of qn_ecma_analysis with fluctuation among the metrics:
 * in check 3 all four arrays null; in check 4 at least 65537 samples
 * (1.37 s) and at most 2^60 - 65537 with fluctuation; in check 5 the
 * fluctuation array last; in check 7 four arrays. qn_ecma_analysis is this
 * function with fluctuation null and its capacity 0. Working memory does
 * not grow with the length of the signal: about 33 MiB with fluctuation
 * strength, 40 MiB with all four metrics (the bands' signals are kept over
 * the 65536 samples of a fluctuation block). */
QN_API QN_NODISCARD qn_status qn_ecma_analysis_with_fluctuation(
    const double *samples, uint64_t sample_count, int32_t sample_rate, qn_sound_field field,
    double *tonality, uint64_t tonality_capacity, double *loudness, uint64_t loudness_capacity,
    double *roughness, uint64_t roughness_capacity, double *fluctuation,
    uint64_t fluctuation_capacity);

/* ------------------------------------------------------------------------
 * ECMA-418-2 stream: the metrics of a signal that arrives in blocks
 *
 * A stream runs a set of ECMA-418-2 metrics on a signal added in blocks of
 * any sizes (0 and 1 sample included): a recording of hours read a block
 * at a time, or a live input. Every frame it delivers is, bit for bit, the
 * frame that qn_ecma_analysis_with_fluctuation (and so the metric's own
 * export) gives for the concatenation of the blocks, whatever their sizes.
 *
 * A frame is delivered once the samples added determine it: tonality and
 * loudness frames at most 0.1 s behind the newest sample, roughness frames
 * at most 0.2 s behind (a block of 16384 samples must be in, and the
 * blocks beside it), fluctuation frames at most 1.41 s behind (a segment
 * of 16384 samples must be in, the block after the frame's, and the 35
 * frames after it that set its exponent). The frames near the end depend
 * on where the signal ends (the tonal analysis pads the signal's end; the
 * last roughness and fluctuation blocks are flush with it):
 * qn_ecma_stream_finish tells the stream that the signal has ended and
 * delivers them. No frame of a metric is delivered before the signal has
 * reached the metric's shortest length (14592 samples for tonality and
 * loudness, 15360 for roughness, 65537 for fluctuation strength), so that a
 * stream never delivers frames of a signal that the one-shot analyses
 * would refuse.
 *
 * Delivered frames wait in the stream, a queue per metric, until the
 * caller reads them, in order, with qn_ecma_stream_read. The stream's
 * working state does not grow with the signal (about 14 MiB for tonality
 * and roughness together, 33 MiB for fluctuation strength, 40 MiB for all
 * four: the bands' signals are kept over the 65536 samples of a
 * fluctuation block); the queues hold what has not been read, so a host
 * that reads after every block keeps the stream at that state plus the
 * frames of one block (1.4 doubles per sample of the block with all four
 * metrics).
 *
 * A stream is created and destroyed by the caller and is, with the
 * loudness meter, the only state of the library that outlives a call.
 * Distinct streams may be used from distinct threads at once; one stream
 * must not be used by two threads at the same time.
 * ---------------------------------------------------------------------- */

typedef struct qn_ecma_stream qn_ecma_stream;

/* Creates a stream at rest for a sound field and a set of metrics.
 *
 * sample_rate     must be 48000.
 * field           QN_SOUND_FIELD_FREE or QN_SOUND_FIELD_DIFFUSE.
 * metrics         the metrics to deliver: QN_ECMA_TONALITY,
 *                 QN_ECMA_LOUDNESS, QN_ECMA_ROUGHNESS and
 *                 QN_ECMA_FLUCTUATION in any combination (bitwise or), at
 *                 least one.
 * stream          written: the new stream, to be released with
 *                 qn_ecma_stream_destroy; null after any failure.
 *
 * Checks, in order:
 *  1. stream null (nothing written)                QN_STATUS_NULL_POINTER
 *     then *stream is set to null
 *  2. sample_rate not 48000                        QN_STATUS_INVALID_SAMPLE_RATE
 *  3. field is neither 0 nor 1                     QN_STATUS_INVALID_SOUND_FIELD
 *  4. metrics 0, or with a bit that names no
 *     metric                                       QN_STATUS_INVALID_ARGUMENT
 *  5. no memory for the stream                     QN_STATUS_ALLOCATION_FAILED
 * Otherwise QN_STATUS_SUCCESS. */
QN_API QN_NODISCARD qn_status qn_ecma_stream_create(int32_t sample_rate, qn_sound_field field,
                                                    qn_ecma_metric metrics,
                                                    qn_ecma_stream **stream);

/* Releases a stream and every frame it still holds. A null stream is
 * ignored. */
QN_API void qn_ecma_stream_destroy(qn_ecma_stream *stream);

/* Adds a block to the signal, and queues every frame it completes.
 *
 * samples         read: sound pressure in Pa at 48000 Hz; may be null when
 *                 sample_count is 0.
 * sample_count    samples in the block, 0 or more.
 *
 * Checks, in order:
 *  1. stream null                                  QN_STATUS_NULL_POINTER
 *  2. samples null with sample_count above 0       QN_STATUS_NULL_POINTER
 *  3. the stream failed earlier (see below)        QN_STATUS_NUMERICAL_FAILURE
 *  4. the stream is finished                       QN_STATUS_INVALID_ARGUMENT
 *  5. everything added with the block beyond the
 *     longest signal of a metric of the stream
 *     (1113765679922085632 samples with tonality
 *     or loudness, 2^60 - 16385 with roughness,
 *     2^60 - 65537 with fluctuation strength)      QN_STATUS_SIZE_OVERFLOW
 *  6. a NaN or infinite sample                     QN_STATUS_NON_FINITE_INPUT
 *  7. no memory for the frames the block may
 *     complete                                     QN_STATUS_ALLOCATION_FAILED
 *  8. a non-finite intermediate or output value    QN_STATUS_NUMERICAL_FAILURE
 * Otherwise QN_STATUS_SUCCESS. After failures 1 to 7 the stream is as it
 * was before the call: the block is refused whole, and the caller may go
 * on with the next one. After failure 8 (which only sound pressures far
 * beyond any physical sound cause) the stream has failed: every later
 * call but qn_ecma_stream_destroy returns QN_STATUS_NUMERICAL_FAILURE, and
 * the frames it held are lost. */
QN_API QN_NODISCARD qn_status qn_ecma_stream_add(qn_ecma_stream *stream, const double *samples,
                                                 uint64_t sample_count);

/* Ends the signal: delivers the frames that depend on where it ends, so
 * that the frames of each metric, read in all, are those of the whole
 * signal. Nothing can be added afterwards; the frames can still be read.
 *
 * Checks, in order:
 *  1. stream null                                  QN_STATUS_NULL_POINTER
 *  2. the stream failed earlier                    QN_STATUS_NUMERICAL_FAILURE
 *  3. the stream is finished already: nothing
 *     happens                                      QN_STATUS_SUCCESS
 *  4. fewer samples added than the shortest signal
 *     of a metric of the stream (14592 with
 *     tonality or loudness, 15360 with roughness,
 *     65537 with fluctuation strength)             QN_STATUS_INPUT_TOO_SHORT
 *  5. no memory for the remaining frames           QN_STATUS_ALLOCATION_FAILED
 *  6. a non-finite intermediate or output value    QN_STATUS_NUMERICAL_FAILURE
 * Otherwise QN_STATUS_SUCCESS. After failures 4 and 5 the stream is as it
 * was before the call and stays open: more samples may be added, and
 * finish called again. After failure 6 the stream has failed, as after a
 * numerical failure of qn_ecma_stream_add. */
QN_API QN_NODISCARD qn_status qn_ecma_stream_finish(qn_ecma_stream *stream);

/* The number of frames of one metric that wait to be read.
 *
 * metric          one metric of the stream (a single flag).
 * frame_count     written: the frames qn_ecma_stream_read would deliver
 *                 with room enough.
 *
 * Checks, in order: stream or frame_count null QN_STATUS_NULL_POINTER;
 * metric not exactly one flag of the stream's metrics
 * QN_STATUS_INVALID_ARGUMENT; the stream failed earlier
 * QN_STATUS_NUMERICAL_FAILURE. *frame_count is written only on success. */
QN_API QN_NODISCARD qn_status qn_ecma_stream_frame_count(const qn_ecma_stream *stream,
                                                         qn_ecma_metric metric,
                                                         uint64_t *frame_count);

/* Reads the waiting frames of one metric, oldest first, as many whole
 * frames as `out` holds; those read leave the stream. Frames are read in
 * order from frame 0: the caller counts them to know their instants.
 *
 * metric          one metric of the stream (a single flag).
 * out             written: F frames one after the other, each in the
 *                 metric's layout (265 values for QN_ECMA_TONALITY, 53
 *                 for QN_ECMA_LOUDNESS, QN_ECMA_ROUGHNESS and
 *                 QN_ECMA_FLUCTUATION, see above).
 *                 May be null when capacity is 0.
 * capacity        room at `out` in doubles; F = the smaller of the frames
 *                 waiting and capacity / (values per frame).
 * frame_count     written: F on success; 0 after a failure of check 3 on.
 *
 * Checks, in order:
 *  1. stream or frame_count null (nothing written) QN_STATUS_NULL_POINTER
 *  2. out (capacity doubles) sharing memory with
 *     *frame_count (nothing written)               QN_STATUS_INVALID_ARGUMENT
 *     then *frame_count is set to 0
 *  3. metric not exactly one flag of the stream's
 *     metrics                                      QN_STATUS_INVALID_ARGUMENT
 *  4. out null with capacity above 0               QN_STATUS_NULL_POINTER
 *  5. the stream failed earlier                    QN_STATUS_NUMERICAL_FAILURE
 *  6. frames waiting, but capacity below one frame QN_STATUS_OUTPUT_TOO_SMALL
 * Otherwise QN_STATUS_SUCCESS (with F = 0 when no frame waits). On failure
 * nothing is written to `out` and the stream is not changed. */
QN_API QN_NODISCARD qn_status qn_ecma_stream_read(qn_ecma_stream *stream, qn_ecma_metric metric,
                                                  double *out, uint64_t capacity,
                                                  uint64_t *frame_count);

/* ------------------------------------------------------------------------
 * Fluctuation strength (ECMA-418-2, hearing model of Sottek)
 * ---------------------------------------------------------------------- */

/* Number of frames of ECMA-418-2 fluctuation strength: one every 960
 * samples (20 ms, 50 per second), frame k standing for the instant k / 50 s
 * after the first sample; sample_count / 960 + 1 frames in all (integer
 * division). Reads no samples.
 *
 * Checks, in order:
 *  1. frame_count null                             QN_STATUS_NULL_POINTER
 *  then 0 is written to *frame_count, and:
 *  2. sample_rate not 48000                        QN_STATUS_INVALID_SAMPLE_RATE
 *  3. sample_count below 65537                     QN_STATUS_INPUT_TOO_SHORT
 *  4. sample_count above 1152921504606781439       QN_STATUS_SIZE_OVERFLOW
 *     (2^60 - 65537)
 * On success *frame_count receives the number of frames. */
QN_API QN_NODISCARD qn_status qn_ecma_fluctuation_frame_count(uint64_t sample_count,
                                                              int32_t sample_rate,
                                                              uint64_t *frame_count);

/* Specific fluctuation strength after ECMA-418-2 (2025) in vacil per Bark,
 * for each of the 53 auditory bands (band b centred at 0.5 (b + 1) Bark) at
 * 50 frames per second (see qn_ecma_fluctuation_frame_count): how strongly
 * each band's envelope swells and fades at slow rates (about 0.25 ... 30
 * Hz, most strongly near 4 Hz).
 *
 * The signal is faded in over 5 ms, preceded by 65536 zeros, and passes
 * the outer and middle ear filter and 53 auditory filters. Every 16384
 * samples a block of the last 65536 samples of each band (and one last
 * block ending at the signal's end) gives the magnitude of its analytic
 * signal every 32 samples: an envelope of 2048 values at 1500 Hz. A window
 * leaves out the envelope's 64 first and last values and its quiet
 * stretches (the envelope smoothed by a running median of 33 values and
 * rounded to 1e-8 Pa: values below 1 % of the largest are quiet, and a
 * quiet run of more than 320 values splits the window, the larger part
 * being kept); a block with a smoothed envelope of at most 5e-6 Pa, a
 * window shorter than 320 values or ending before value 511, or an
 * envelope that a straight line fits within 0.1 % has no fluctuation in
 * that band. Otherwise the spectrum of the windowed envelope (bins of
 * 0.732421875 Hz) is modelled as a constant plus cosines: candidate rates
 * (its maxima, and the best rate of a grid of 16 between 0.198 and 6.35
 * Hz), the lines fitted at them by least squares, the strongest weighted
 * line's rate tuned between bins, and the harmonic complex around it give
 * the band's weighted modulation power, which its loudness scales. The
 * block values are interpolated to the frames, raised to a power that
 * depends on their spread over the bands, scaled, and smoothed with a time
 * constant of 0.75 s.
 *
 * Where the method as printed is wrong or open, the library reads it so:
 *  - the spectrum of the analysis window shifted to a rate f is
 *    exp(-j pi phi (2047 - n_e + n_b)) sin(pi phi N) / sin(pi phi), with
 *    pi (not 2 pi) in the phase, phi = k / 2048 - f / 1500 Hz + 1e-12, N
 *    the window's length and n_b, n_e the values left out at its ends;
 *  - a line's power is that of the two-sided complex amplitude c of a
 *    component 2 |c| cos(2 pi f t + arg c) (the one-sided reading gives 1.8
 *    to 3 times too much);
 *  - the rate of a spectral maximum at bin k is the power centroid of bins
 *    k - 1, k and k + 1, with no further offset of one bin;
 *  - the tuning of the dominant rate is a damped Newton search whose step
 *    constants (difference 1e-5, largest step 2e-4, end below 1e-7) are in
 *    units of the rate divided by 1500 Hz; it fits over the bins of its
 *    starting rate throughout, and applies its last step before stopping;
 *  - a quiet run splits the window only where it is the longest (the first
 *    of equally long ones); two lines near the same harmonic of the
 *    fundamental count once, refitted at that harmonic; "within 1.25 bins"
 *    includes 1.25 bins;
 *  - the running median over 71 frames of an even number of values (near
 *    either end) is the mean of the two middle ones;
 *  - the least-squares fits solve their normal equations equilibrated, by a
 *    Cholesky factorisation with diagonal pivoting that leaves out a line
 *    the others already explain to rounding (two rates a hair apart count
 *    as one), and the widening of a harmonic complex measures its centre of
 *    gravity from the tuned rate, so that a single line is not widened by a
 *    rounding residue.
 * The time-dependent fluctuation strength of a frame is 0.5 times the sum
 * over its 53 bands (vacil); a 1 kHz tone of 60 dB SPL, fully amplitude-
 * modulated at 4 Hz, has a single value (the 90th percentile of that
 * series from 0.72 s on) of about 1 vacil over 10 s, its specific values
 * lying in bands 12 to 24 (6.5 to 12.5 Bark). The first block ends at the
 * first sample, so frame 0 is 0 in every band. An unmodulated tone and
 * silence give 0. Every value is finite and not negative.
 *
 * samples         read: sound pressure in Pa at 48000 Hz.
 * sample_count    number of samples: more than 65536 (1.37 s).
 * sample_rate     must be 48000.
 * sound_field     QN_SOUND_FIELD_FREE or QN_SOUND_FIELD_DIFFUSE (the
 *                 diffuse field leaves out the free-field part of the ear
 *                 filter).
 * out             written: 53 * frames values, frame-major: element
 *                 53 k + b is band b at frame k, vacil per Bark. It must
 *                 not share memory with the samples.
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
 *  5. sample_count below 65537                     QN_STATUS_INPUT_TOO_SHORT
 *     sample_count above 2^60 - 65537              QN_STATUS_SIZE_OVERFLOW
 *  then the number of frames is written to *frame_count and stays there
 *  whatever follows:
 *  6. capacity below 53 * frames                   QN_STATUS_OUTPUT_TOO_SMALL
 *  7. the 53 * frames values at out sharing a byte with the samples
 *                                                  QN_STATUS_INVALID_ARGUMENT
 *  8. samples null                                 QN_STATUS_NULL_POINTER
 *  9. a NaN or infinite sample                     QN_STATUS_NON_FINITE_INPUT
 * 10. no memory for the working arrays             QN_STATUS_ALLOCATION_FAILED
 * 11. a non-finite intermediate result             QN_STATUS_NUMERICAL_FAILURE
 * Otherwise QN_STATUS_SUCCESS. After failures 1 to 10 nothing is written to
 * `out`. The output is written frame by frame as the analysis proceeds, so
 * after failure 11 the first frames may hold values. Working memory is
 * about 33 MiB whatever the length of the signal. */
QN_API QN_NODISCARD qn_status qn_fluctuation_ecma(const double *samples, uint64_t sample_count,
                                                  int32_t sample_rate, qn_sound_field sound_field,
                                                  double *out, uint64_t capacity,
                                                  uint64_t *frame_count);

#ifdef __cplusplus
} /* extern "C" */
#endif

#endif /* QUARNELO_H */

/*
 * quarnelo_files.h - the file layer of libquarnelo: audio files in,
 * calibrated sound pressure and metrics out.
 *
 * Copyright (c) 2026 The libquarnelo developers.
 * SPDX-License-Identifier: BSD-3-Clause
 *
 * This header is the manual of libquarnelo_files, the second library of the
 * project. It is valid C99 and C++. Where libquarnelo computes metrics of
 * samples and reads no files, this library holds every rule about files,
 * once, for every front end (the `quarnelo` command and the Python package
 * are thin layers over it):
 *
 *  - reading: any file libsndfile reads, block by block, never whole;
 *    regular files and standard input ("-") only, so that a FIFO or a device
 *    cannot stall a batch; sample rates within 1 kHz ... 768 kHz;
 *  - truncation: a file that ends before the audio its header declares is
 *    refused, found from the container's declared extent and from the frame
 *    count;
 *  - resampling: files not at 48 kHz are resampled with libsoxr at its
 *    very-high quality setting, block by block, giving the very samples of
 *    a single resampling of the whole channel;
 *  - calibration: sample value times factor is pascal; the factor comes
 *    from a number, from the level of a full-scale sine, or from the RMS of
 *    a calibrator recording;
 *  - limits: the memory a run may take, estimated from each file's header
 *    before a sample is read;
 *  - the metrics: one table of descriptors (name, unit, shortest signal,
 *    frame geometry, single values, series), each metric's analysis in
 *    bounded memory, and the statistics quoted from its series;
 *  - what users keep: a stretch of each file, statistics over frames with
 *    a settling time left out, and each file's series in a NetCDF-4 file.
 *
 * Conventions:
 *
 *  - Functions that can fail return a qnf_status: the statuses 0 ... 10 of
 *    quarnelo.h with their meanings, and the file statuses 11 ... 15 below.
 *    Functions that take `why` and `why_capacity` also write a one-line
 *    reason there on failure, in the user's terms ("truncated: 1000 of the
 *    48000 frames its header declares could be read"), cut to fit and always
 *    terminated; `why` may be null when `why_capacity` is 0. On success
 *    `why` holds an empty string.
 *  - Nothing throws across this interface and nothing aborts: every failure,
 *    memory exhaustion included, is a status.
 *  - Handles (options, readers, results) belong to the caller, who releases
 *    them with their destroy function. A handle may be used by one thread at
 *    a time; distinct handles on distinct threads at once. A results handle
 *    is read-only once made, and may be read from several threads at once.
 *  - Texts returned by accessors are owned by the handle they come from and
 *    live as long as it; texts of the library (status strings, metric
 *    descriptors) are static.
 *  - File names are bytes, passed and returned as they are.
 *  - Unlike libquarnelo, this library reads files, starts threads (an
 *    analysis with "jobs" above 1, and none otherwise), uses a temporary
 *    file for long series (in TMPDIR, else /tmp) and writes series files
 *    (option "series-dir"). It prints nothing.
 *  - The netCDF library it writes series files with is not thread-safe:
 *    this library makes every call into it under one lock of its own, and
 *    a host must not use netCDF (or HDF5) on another thread while an
 *    analysis with "series-dir" runs.
 */
#ifndef QUARNELO_FILES_H
#define QUARNELO_FILES_H

#include <stdint.h>

#include "quarnelo.h"

#ifdef __cplusplus
extern "C" {
#endif

#if defined(_WIN32) && defined(QUARNELO_FILES_SHARED_BUILD)
#  define QNF_API __declspec(dllexport)
#elif defined(_WIN32) && defined(QUARNELO_FILES_SHARED)
#  define QNF_API __declspec(dllimport)
#elif defined(__GNUC__) || defined(__clang__)
#  define QNF_API __attribute__((visibility("default")))
#else
#  define QNF_API
#endif

/* ------------------------------------------------------------------------
 * Version and statuses
 * ---------------------------------------------------------------------- */

/* The ABI number of this library (libquarnelo_files.so.1): 1. */
#define QNF_ABI_VERSION 1
QNF_API int32_t qnf_abi_version(void);

/* The version of the project the loaded library belongs to, e.g. "0.2.2",
 * the same as qn_version_string() of the libquarnelo it was built with. */
QNF_API const char *qnf_version_string(void);

typedef int32_t qnf_status;

/* Beyond the statuses QN_STATUS_SUCCESS ... QN_STATUS_NUMERICAL_FAILURE
 * (0 ... 10) of quarnelo.h, which keep their values and messages: */
enum {
    QNF_STATUS_INVALID_OPTION = 11, /* "invalid option" */
    QNF_STATUS_UNREADABLE = 12,     /* "the file cannot be read" */
    QNF_STATUS_TRUNCATED = 13,      /* "the file is truncated" */
    QNF_STATUS_UNSUPPORTED = 14,    /* "the audio is not supported" */
    QNF_STATUS_MEMORY_LIMIT = 15    /* "more memory needed than allowed" */
};

/* The message of a status: qn_status_string() for 0 ... 10, the texts above
 * for 11 ... 15, "unknown status" for every other value. Never null. */
QNF_API const char *qnf_status_string(qnf_status status);

/* ------------------------------------------------------------------------
 * Options
 *
 * What to read and how to analyse it, as named values in text: the names
 * and values of the `quarnelo analyze` options, checked here once for every
 * front end. A new handle holds the defaults.
 *
 *   name              value                                   default
 *   "metrics"         metric names, comma-separated           every metric
 *                     (qnf_metric_describe), in the order      but
 *                     their results are wanted                 "fluctuation-
 *                                                              ecma" (it
 *                                                              needs 1.37 s)
 *   "field"           "free" or "diffuse"                     "free"
 *   "channel"         a channel number from 1 (1 ... 1024),   "all"
 *                     or "all": each channel on its own
 *   "pa-per-unit"     pascal per sample unit, 1e-9 ... 1e9    "1"
 *   "full-scale-spl"  a full-scale sine (peak 1.0) has this   -
 *                     level, dB SPL, 0 ... 200
 *   "cal-file"        a calibrator recording (with "cal-spl") -
 *   "cal-spl"         the calibrator's level, dB SPL, 0 ... 200 -
 *   "resample"        "1": files not at 48 kHz are resampled; "1"
 *                     "0": they are refused
 *   "series"          "1": results keep their time series     "0"
 *                     and patterns with their axes
 *   "max-memory"      bytes a run may take ("8G", "500M",     half the
 *                     "64k", a number)                         physical
 *                                                              memory, within
 *                                                              the process's
 *                                                              address-space
 *                                                              limit
 *   "jobs"            threads of a run, 1 ... 256: files side  "1"
 *                     by side, and the channels and metrics of
 *                     each file
 *   "percentiles"     percentages 0 ... 100, comma-separated  each metric's
 *                     (up to 100): every metric with a time    own: 5,10 for
 *                     series gives the value exceeded during   loudness-time,
 *                     p % of its frames, named by the metric's 5,10,50,90,95
 *                     symbol ("n5", "n2.5", "LAF90"); "" for   for spl, none
 *                     none                                     for the others
 *   "skip"            seconds the statistics over frames       "0"
 *                     leave out at the start of the analysed
 *                     audio (a settling time)
 *   "start"           seconds into each file where the         "0"
 *                     analysed stretch begins
 *   "end"             seconds into each file where it ends     "" (the end
 *                     (after "start"); "" for the file's end   of the file)
 *   "series-dir"      a directory that can be written: each    "" (none)
 *                     file's series go to a NetCDF-4 file
 *                     there (Series files, below)
 *   "series-name"     the name of the series file for a run    "" (the
 *                     of one file or signal, without a          rule's)
 *                     directory
 *   "binaural"        "on": a file of two channels is a head   "on"
 *                     recording, channel 1 the left ear, and
 *                     gets a binaural result beside them
 *                     (qnf_file_binaural); "off": none
 *   "sharpness-weighting"  the weighting g(z) of sharpness:    "din"
 *                     "din" (DIN 45692), "bismarck", "fastl"
 *                     or "aures" (qn_sharpness)
 *   "band-step"       seconds, 0.001 ... 3600: the interval of  "0.1"
 *                     the series of the third-octave band
 *                     levels (metric "levels"), rounded to
 *                     whole samples at 48 kHz
 *
 * The three calibrations exclude one another: setting one of
 * "pa-per-unit", "full-scale-spl" or the pair "cal-file"/"cal-spl" drops
 * the others. A calibrator recording is read when a reader or an analysis
 * starts; its RMS per channel gives each channel's factor (channel 1's
 * serves channels the recording does not have); a silent or clipped
 * recording (three samples or more in a row at a peak at full scale) is
 * refused with its reason.
 *
 * A stretch ("start", "end") is cut in the file's own samples, before
 * resampling and calibration: a time t is frame floor(t * rate + 0.5) of the
 * file (the nearest), and the stretch holds the frames from that of "start"
 * up to, not including, that of "end" (or the file's last). Its analysis is
 * that of a file holding only those frames, to the bit; its series' times
 * are times in the file (they begin near "start"). Reading stops at the end
 * of the stretch, so the frame count of the rest is not checked against the
 * header. A stretch that holds no frame of a file is that file's error
 * (QN_STATUS_INPUT_TOO_SHORT). "end" not after "start" is refused when an
 * analysis or a reader starts (QNF_STATUS_INVALID_OPTION).
 *
 * Statistics over frames. Every metric with a time series (loudness-time,
 * sharpness, roughness-dw, tonality-aures, tonality-ecma, roughness-ecma,
 * loudness-ecma)
 * quotes the mean (one sum in frame order, divided by the count), the
 * maximum, the minimum and the percentiles asked for (by nearest rank, as
 * qnf_exceeded) of its frames: the total loudness, the sharpness of each
 * 2 ms pattern, the roughness and tonality of each frame, the time-dependent
 * tonality T(l), the total roughness R(l) and the loudness N(l) of
 * ECMA-418-2. The sound levels (spl) quote the percentiles only, of the
 * LAF series (a point every 10 ms, from 10 ms on): LAF5 is the level
 * exceeded during 5 % of the time; by default LAF5, LAF10, LAF50, LAF90
 * and LAF95. A frame counts
 * when its time on the series (from the start of the analysed audio) is at
 * or after "skip"; a skip that leaves no frame is the metric's error. For
 * loudness-time and sharpness a frame whose total loudness is below 0.001
 * sone counts as 0 (silent). The single values of the metrics' own rules
 * keep them whatever "skip" says: the stationary loudness and sharpness of
 * the whole stretch, the ECMA-418-2 tonality (from 0.3 s, with its "max"
 * and strongest component), roughness (the standard's 90th percentile,
 * by linear interpolation, from 0.32 s: qn_ecma_single_value) and loudness
 * (the power mean of N(l) from 0.304 s). The ECMA-418-2 metrics of a
 * channel run through one stream of the hearing model (qn_ecma_stream),
 * block by block, in working memory that does not grow with the length.
 *
 * Loudness levels. Every ISO 532-1 loudness single value (the stationary
 * "loudness", and "max", the percentiles, "mean" and "min" of
 * loudness-time) is followed by its loudness level in phon, named after it
 * with "_level" ("n5_level"), as qn_loudness_level gives it.
 *
 * Levels of silence. The sound levels of a silent stretch, and the LAF and
 * LAS points of silence, are -inf dB (qn_sound_levels): a result, not a
 * failure. Front ends that write text formats without infinities (JSON)
 * write them as null.
 * ---------------------------------------------------------------------- */

typedef struct qnf_options qnf_options;

/* Creates a handle with the defaults.
 * Checks: options null QN_STATUS_NULL_POINTER (nothing written); then
 * *options is set to null, and no memory QN_STATUS_ALLOCATION_FAILED. */
QNF_API qnf_status qnf_options_create(qnf_options **options);

/* Releases a handle; null is ignored. */
QNF_API void qnf_options_destroy(qnf_options *options);

/* Sets one option.
 * Checks, in order: options, name or value null QN_STATUS_NULL_POINTER; a
 * name not in the table above, or a value it does not take
 * QNF_STATUS_INVALID_OPTION (the reason names the option and the values it
 * takes: "--cal-spl must lie between 0 and 200 dB SPL, not 300"); no memory
 * QN_STATUS_ALLOCATION_FAILED. On failure the handle is as it was. */
QNF_API qnf_status qnf_options_set(qnf_options *options, const char *name, const char *value, char *why,
                                   uint64_t why_capacity);

/* The single values metric `index` of the table (qnf_metric_describe)
 * gives with these options' percentiles, in the order results give them:
 * their number, then each one's name and unit ("n50", "sone"). The texts
 * belong to the handle and live until it is changed or destroyed.
 * qnf_options_quantity_count gives 0 for a null handle or an index beyond
 * the table. qnf_options_quantity checks, in order: options, name or unit
 * null QN_STATUS_NULL_POINTER; index or quantity beyond the table
 * QN_STATUS_INVALID_ARGUMENT (nothing written). */
QNF_API uint64_t qnf_options_quantity_count(const qnf_options *options, uint64_t index);
QNF_API qnf_status qnf_options_quantity(const qnf_options *options, uint64_t index, uint64_t quantity,
                                        const char **name, const char **unit);

/* ------------------------------------------------------------------------
 * Metrics
 *
 * The table of the metrics a file can be analysed with, in their default
 * order. Each descriptor is data the front ends read: they branch on no
 * metric's name.
 * ---------------------------------------------------------------------- */

typedef struct qnf_metric_info {
    const char *name;         /* as in option "metrics": "loudness-time" */
    const char *description;  /* one line, for help texts */
    const char *title;        /* for plots and reports: "Time-varying loudness (ISO 532-1)" */
    uint64_t min_samples;     /* the shortest channel it analyses, at 48 kHz */
    uint64_t frame_length;    /* samples of one frame at 48 kHz; 0 when not framed */
    uint64_t hop;             /* samples between frames at 48 kHz; 0 when not framed */
    double first_time;        /* the time of frame 0 in its series, s */
    int32_t uses_field;       /* 1 when option "field" changes it */
    uint64_t quantity_count;  /* its single values, with its own percentiles */
    uint64_t series_count;    /* its series (with option "series") */
    int32_t default_set;      /* 1 when it runs with option "metrics" not given */
} qnf_metric_info;

/* The number of metrics in the table. */
QNF_API uint64_t qnf_metric_count(void);

/* The descriptor of metric `index` (0 ... qnf_metric_count() - 1).
 * Checks: info null QN_STATUS_NULL_POINTER; index beyond the table
 * QN_STATUS_INVALID_ARGUMENT (nothing written). */
QNF_API qnf_status qnf_metric_describe(uint64_t index, qnf_metric_info *info);

/* The name and unit of single value `quantity` of metric `index`, in the
 * order the results give them ("n5", "sone"), with the metric's own
 * percentiles (qnf_options_quantity gives them with others). Texts are
 * static.
 * Checks: name or unit null QN_STATUS_NULL_POINTER; index or quantity
 * beyond the table QN_STATUS_INVALID_ARGUMENT; no memory for the names
 * QN_STATUS_ALLOCATION_FAILED (nothing written). */
QNF_API qnf_status qnf_metric_quantity(uint64_t index, uint64_t quantity, const char **name, const char **unit);

/* Series `series` of metric `index` (0 ... series_count - 1), as results
 * carry it with option "series": its quantity ("specific_loudness"), unit
 * and axes, space-separated: "time" (a value per frame), "bark" (a pattern
 * of 240 points), "band" (a value per auditory band of ECMA-418-2: the
 * averaged specific loudness), "third_octave" (the 28 third-octave bands),
 * "time bark", "time band" and "time third_octave" (a pattern of 240
 * points, of the 53 bands or of the 28 third-octave bands per frame).
 * Texts are static.
 * Checks: name, unit or axes null QN_STATUS_NULL_POINTER; index or series
 * beyond the table QN_STATUS_INVALID_ARGUMENT (nothing written). */
QNF_API qnf_status qnf_metric_series_info(uint64_t index, uint64_t series, const char **name, const char **unit,
                                          const char **axes);

/* ------------------------------------------------------------------------
 * Reading
 *
 * A reader gives the calibrated sound pressure of a file at 48 kHz, in Pa,
 * interleaved frames of the channels asked for ("channel": one, or all),
 * block by block: the samples every analysis of this library works on.
 * ---------------------------------------------------------------------- */

typedef struct qnf_reader qnf_reader;

/* What a reader delivers and what the file declares. */
typedef struct qnf_format {
    int32_t sample_rate;    /* of the file, Hz */
    int32_t channels;       /* of the file */
    uint64_t frames;        /* declared by its header at its own rate; 0 when not declared */
    int32_t resampled;      /* 1 when the reader resamples it to 48000 Hz */
    int32_t channels_read;  /* channels in each delivered frame */
    int32_t first_channel;  /* number (from 1) of the first channel delivered */
} qnf_format;

/* Opens `path` ("-" for standard input, read into memory within
 * "max-memory") with the options' channel, calibration, resampling and
 * memory limit: a file longer than "max-memory" allows for the metrics of
 * `options` is refused before a sample is read.
 *
 * Checks, in order: path, options or reader null QN_STATUS_NULL_POINTER
 * (nothing written); then *reader is set to null, and:
 *  - the calibrator recording cannot be used        QNF_STATUS_UNREADABLE
 *    ("calibration file F: ...")
 *  - the file cannot be opened, is not a regular file or standard input,
 *    or is no audio libsndfile reads                 QNF_STATUS_UNREADABLE
 *  - it holds no samples, or its header declares more data than the file
 *    holds                                           QNF_STATUS_UNREADABLE,
 *                                                    QNF_STATUS_TRUNCATED
 *  - its sample rate lies outside 1000 ... 768000 Hz, or is not 48000 Hz
 *    with "resample" 0, or the channel asked for is
 *    not in the file                                 QNF_STATUS_UNSUPPORTED
 *  - it would need more than "max-memory"            QNF_STATUS_MEMORY_LIMIT
 *  - no memory                                       QN_STATUS_ALLOCATION_FAILED
 */
QNF_API qnf_status qnf_reader_open(const char *path, const qnf_options *options, qnf_reader **reader, char *why,
                                   uint64_t why_capacity);

/* Releases a reader; null is ignored. */
QNF_API void qnf_reader_close(qnf_reader *reader);

/* The format of an open reader. Checks: reader or format null
 * QN_STATUS_NULL_POINTER (nothing written). */
QNF_API qnf_status qnf_reader_format(const qnf_reader *reader, qnf_format *format);

/* The calibration of delivered channel `channel` (0 ... channels_read - 1):
 * its factor in Pa per sample unit and its description, as analyses report
 * it ("full-scale-spl 100 dB (2.82842712 Pa per unit)"), cut to fit
 * `text_capacity` and terminated. Either output may be null.
 * Checks: reader null QN_STATUS_NULL_POINTER; channel out of range
 * QN_STATUS_INVALID_ARGUMENT (nothing written). */
QNF_API qnf_status qnf_reader_calibration(const qnf_reader *reader, int32_t channel, double *pa_per_unit,
                                          char *text, uint64_t text_capacity);

/* Reads up to `frame_capacity` frames of `channels_read` values each into
 * `out` (interleaved, Pa at 48000 Hz) and writes their number to
 * *frame_count. Frames come in the order of the file; a call may deliver
 * fewer than asked for. At the end of the file the last checks are made and
 * *frame_count is 0 on success: every frame of the file has been delivered.
 * Calling again after the end keeps giving 0.
 *
 * Checks, in order: reader or frame_count null QN_STATUS_NULL_POINTER
 * (nothing written); then *frame_count is set to 0, and: out null with a
 * capacity above 0 QN_STATUS_NULL_POINTER; frame_capacity 0
 * QN_STATUS_OUTPUT_TOO_SMALL; a read error QNF_STATUS_UNREADABLE; more audio
 * than the header declares and "max-memory" allows QNF_STATUS_MEMORY_LIMIT;
 * a sample that is NaN or infinite after calibration
 * QN_STATUS_NON_FINITE_INPUT ("sample 12 is NaN or infinite", counted at
 * 48 kHz in the channel); the file ends before the frames its header
 * declares QNF_STATUS_TRUNCATED; no memory QN_STATUS_ALLOCATION_FAILED.
 * After a failure the reader only fails again with the same status. */
QNF_API qnf_status qnf_reader_read(qnf_reader *reader, double *out, uint64_t frame_capacity,
                                   uint64_t *frame_count, char *why, uint64_t why_capacity);

/* ------------------------------------------------------------------------
 * Resampling
 * ---------------------------------------------------------------------- */

/* The number of samples at 48000 Hz that resampling `count` samples at
 * `sample_rate` gives at most: count when the rate is 48000, else
 * floor(count * 48000 / sample_rate) + 1.
 * Checks: result null QN_STATUS_NULL_POINTER; sample_rate outside 1000 ...
 * 768000 QN_STATUS_INVALID_SAMPLE_RATE (nothing written). */
QNF_API qnf_status qnf_resampled_length(uint64_t count, int32_t sample_rate, uint64_t *result);

/* One channel of `count` samples at `sample_rate` resampled to 48000 Hz as
 * files are (libsoxr, very high quality): the same samples a reader
 * delivers for a file of that channel, before calibration.
 *
 * out             written: up to qnf_resampled_length(count) samples.
 * out_capacity    room at `out`.
 * out_count       written: the number of samples given.
 *
 * Checks, in order: samples (with count above 0), out or out_count null
 * QN_STATUS_NULL_POINTER; sample_rate outside 1000 ... 768000
 * QN_STATUS_INVALID_SAMPLE_RATE; out_capacity below
 * qnf_resampled_length(count) QN_STATUS_OUTPUT_TOO_SMALL; `out` overlapping
 * `samples` QN_STATUS_INVALID_ARGUMENT; a NaN or infinite sample
 * QN_STATUS_NON_FINITE_INPUT; the resampler fails or no memory
 * QN_STATUS_ALLOCATION_FAILED. On failure nothing is written. */
QNF_API qnf_status qnf_resample(const double *samples, uint64_t count, int32_t sample_rate, double *out,
                                uint64_t out_capacity, uint64_t *out_count);

/* ------------------------------------------------------------------------
 * Analysis
 *
 * The metrics of `options` for every channel of every file, each file read
 * block by block and each block handed to every metric's analysis as it
 * comes, so that a file of hours takes little more memory than one of
 * seconds. What goes wrong with one file (it cannot be read, is truncated,
 * is too short for a metric, needs more memory than allowed, a metric is
 * refused by libquarnelo) is that file's error, never the end of the run:
 * the other files are analysed. Every value is the one libquarnelo gives
 * for the whole channel, to the bit.
 * ---------------------------------------------------------------------- */

typedef struct qnf_results qnf_results;
typedef struct qnf_file_result qnf_file_result;
typedef struct qnf_channel_result qnf_channel_result;
typedef struct qnf_metric_result qnf_metric_result;
typedef struct qnf_series qnf_series;

/* Events of a run, for a progress display: a file has started (with its
 * declared frames and rate), more of it has been read, it has finished, or
 * a notice about it ("resampling from 44100 Hz to 48000 Hz"). */
enum {
    QNF_EVENT_STARTED = 0,
    QNF_EVENT_READ = 1,
    QNF_EVENT_FINISHED = 2,
    QNF_EVENT_NOTICE = 3
};

/* Called from the threads of a run, one call at a time: `file` is the index
 * of the path, `frames_read` and `frames` count frames at the file's own
 * `sample_rate` (`frames` 0 when not declared), `text` the notice (else
 * null). It must not call back into the run. */
typedef void (*qnf_event_fn)(void *user, uint64_t file, int32_t event, uint64_t frames_read, uint64_t frames,
                             int32_t sample_rate, const char *text);

/* Analyses `path_count` files (each a path, or "-" once for standard input)
 * with `options`; `events` (may be null) hears of the progress.
 *
 * Checks, in order: paths (with path_count above 0), a path, options or
 * results null QN_STATUS_NULL_POINTER (nothing written); then *results is
 * set to null, and: "-" given twice QNF_STATUS_INVALID_OPTION; the
 * calibrator recording cannot be used QNF_STATUS_UNREADABLE; no memory
 * QN_STATUS_ALLOCATION_FAILED. Otherwise QN_STATUS_SUCCESS with the results
 * of every file in the order of the paths, each with its own error or
 * values. */
QNF_API qnf_status qnf_analyze_files(const char *const *paths, uint64_t path_count, const qnf_options *options,
                                     qnf_event_fn events, void *user, qnf_results **results, char *why,
                                     uint64_t why_capacity);

/* The same analysis of a signal already in memory: `frame_count` frames of
 * `channel_count` interleaved values at `sample_rate` in sample units (the
 * options' calibration applies), resampled when not at 48000 Hz (with
 * "resample" 1); `name` is the file name its results carry.
 * Checks, in order: samples (with frame_count above 0), name, options or
 * results null QN_STATUS_NULL_POINTER (nothing written); then *results is
 * set to null, and: channel_count outside 1 ... 1024
 * QN_STATUS_INVALID_ARGUMENT; the calibrator recording cannot be used
 * QNF_STATUS_UNREADABLE; no memory QN_STATUS_ALLOCATION_FAILED. A sample
 * rate outside 1000 ... 768000 Hz, and every failure of a metric, is the
 * result's error, as for a file. */
QNF_API qnf_status qnf_analyze_signal(const double *samples, uint64_t frame_count, int32_t channel_count,
                                      int32_t sample_rate, const char *name, const qnf_options *options,
                                      qnf_results **results, char *why, uint64_t why_capacity);

/* Releases results; null is ignored. */
QNF_API void qnf_results_destroy(qnf_results *results);

/* The results are a tree: files, their channels, each channel's metrics in
 * the order asked for, each metric's single values and series. Index
 * arguments count from 0; an index out of range, or a null handle, gives
 * 0, null or an empty answer as each function says. */

QNF_API uint64_t qnf_results_file_count(const qnf_results *results);
QNF_API const qnf_file_result *qnf_results_file(const qnf_results *results, uint64_t index);

/* The path as given. */
QNF_API const char *qnf_file_path(const qnf_file_result *file);
/* Why the file could not be analysed at all, or null when it was (its
 * channels and metrics may still hold errors of their own). */
QNF_API const char *qnf_file_error(const qnf_file_result *file);
/* Its status: QN_STATUS_SUCCESS, or the status of its error. */
QNF_API qnf_status qnf_file_status(const qnf_file_result *file);
/* What the file declared and what was analysed (zeros for a file that
 * could not be opened): `frames` is the number of frames analysed at its
 * own rate (those of the stretch, options "start" and "end"). */
QNF_API qnf_status qnf_file_format(const qnf_file_result *file, qnf_format *format);
/* The duration analysed in seconds: frames / sample rate. */
QNF_API double qnf_file_duration(const qnf_file_result *file);
/* Where the analysed stretch begins in the file, s: its first frame /
 * sample rate (0 without option "start"). */
QNF_API double qnf_file_start(const qnf_file_result *file);
/* The calibration of its channels in one text: theirs when they share it
 * ("full-scale-spl 100 dB (2.82842712 Pa per unit)"), else "channel 1:
 * ...; channel 2: ..."; empty when no channel was analysed. */
QNF_API const char *qnf_file_calibration(const qnf_file_result *file);
/* The series file written for it (option "series-dir": the directory and
 * the name), or null when none was. */
QNF_API const char *qnf_file_series_file(const qnf_file_result *file);
/* Why its series file could not be written ("series file DIR/take.nc:
 * ..."), or null. The file's values are there all the same. */
QNF_API const char *qnf_file_series_error(const qnf_file_result *file);

QNF_API uint64_t qnf_file_channel_count(const qnf_file_result *file);
QNF_API const qnf_channel_result *qnf_file_channel(const qnf_file_result *file, uint64_t index);

/* The binaural result of a head recording: with two channels analysed
 * (option "channel" "all" on a two-channel file) and option "binaural" on,
 * the ECMA-418-2 metrics that combine two ears (loudness-ecma,
 * roughness-ecma) combine them per frame and band by the quadratic mean
 * (qn_ecma_binaural), channel 1 the left ear, and reduce the combination
 * by the rules of one ear. It reads as a channel: qnf_channel_number gives
 * 0, qnf_channel_calibration the file's, its metrics are those of the
 * options that combine ears, in the order asked for, and a metric that
 * failed for either channel fails here too ("channel 2: ..."). Its series
 * are variables "<metric>.binaural.<quantity>" of a series file. Tonality
 * has no binaural value: each ear's is its own. Null for a null file or
 * when there is no binaural result. */
QNF_API const qnf_channel_result *qnf_file_binaural(const qnf_file_result *file);

/* The channel's number in the file, from 1. */
QNF_API int32_t qnf_channel_number(const qnf_channel_result *channel);
/* Its calibration, as qnf_reader_calibration describes it. */
QNF_API const char *qnf_channel_calibration(const qnf_channel_result *channel);
/* Why none of its metrics could run (a sample that is NaN or infinite after
 * calibration, a resampling failure), or null. */
QNF_API const char *qnf_channel_error(const qnf_channel_result *channel);

QNF_API uint64_t qnf_channel_metric_count(const qnf_channel_result *channel);
QNF_API const qnf_metric_result *qnf_channel_metric(const qnf_channel_result *channel, uint64_t index);

/* The metric's name, as in the table. */
QNF_API const char *qnf_metric_name(const qnf_metric_result *metric);
/* Why the metric failed for this channel ("too short: 0.1 s, needs at least
 * 0.2 s", "numerical calculation failed"), or null when it has values. */
QNF_API const char *qnf_metric_error(const qnf_metric_result *metric);

/* Single values, in the order of the metric's descriptor. */
QNF_API uint64_t qnf_metric_value_count(const qnf_metric_result *metric);
/* Value `index`: its name, its value and its unit. Outputs may be null.
 * Checks: metric null QN_STATUS_NULL_POINTER; index out of range
 * QN_STATUS_INVALID_ARGUMENT (nothing written). */
QNF_API qnf_status qnf_metric_value(const qnf_metric_result *metric, uint64_t index, const char **name, double *value,
                                    const char **unit);

/* Series, kept with option "series" 1. */
QNF_API uint64_t qnf_metric_series_count(const qnf_metric_result *metric);
QNF_API const qnf_series *qnf_metric_series(const qnf_metric_result *metric, uint64_t index);

/* The series' quantity ("specific_loudness") and unit ("sone/Bark"). */
QNF_API const char *qnf_series_name(const qnf_series *series);
QNF_API const char *qnf_series_unit(const qnf_series *series);
/* Its variable in a series file: "<metric>.<quantity>"
 * ("loudness-time.specific_loudness"). */
QNF_API const char *qnf_series_variable(const qnf_series *series);
/* Its axes: 1 (a value per frame) or 2 (a pattern per frame, row-major,
 * the last axis varying fastest). */
QNF_API uint64_t qnf_series_axis_count(const qnf_series *series);

/* Axis `axis` of the series: its name ("time", "rate", "frequency"), unit
 * ("s", "Bark", "Hz") and points. A time axis is a grid of `count` points
 * first + i * step (then *points is null: read them with
 * qnf_series_axis_points); other axes hold their points. Outputs may be
 * null. Checks: series null QN_STATUS_NULL_POINTER; axis out of range
 * QN_STATUS_INVALID_ARGUMENT (nothing written). */
QNF_API qnf_status qnf_series_axis(const qnf_series *series, uint64_t axis, const char **name, const char **unit,
                                   uint64_t *count, double *first, double *step, const double **points);

/* The dimension axis `axis` is in a series file: "<metric>.time" for the
 * times of a metric's frames, "bark" for the 240 points of the
 * critical-band rate, "band" for the 53 auditory bands of ECMA-418-2,
 * "third_octave" for the 28 third-octave bands (named "frequency", their
 * nominal centres in Hz). Null for a null series or an axis out of range. */
QNF_API const char *qnf_series_axis_dimension(const qnf_series *series, uint64_t axis);

/* Further coordinates along axis `axis`, one value per point: the "band"
 * axis (the bands' critical-band rates, Bark) has "band_frequency", the
 * bands' centre frequencies in Hz. The count is 0 for a null series or an
 * axis out of range. Outputs may be null; `points` holds as many values as
 * the axis has points.
 * Checks: series null QN_STATUS_NULL_POINTER; axis or coordinate out of
 * range QN_STATUS_INVALID_ARGUMENT (nothing written). */
QNF_API uint64_t qnf_series_axis_coordinate_count(const qnf_series *series, uint64_t axis);
QNF_API qnf_status qnf_series_axis_coordinate(const qnf_series *series, uint64_t axis, uint64_t coordinate,
                                              const char **name, const char **unit, const double **points);

/* Points `offset` ... `offset + count - 1` of axis `axis` into `out`.
 * Checks: series or out null QN_STATUS_NULL_POINTER; axis out of range or
 * the points beyond the axis QN_STATUS_INVALID_ARGUMENT. */
QNF_API qnf_status qnf_series_axis_points(const qnf_series *series, uint64_t axis, uint64_t offset, double *out,
                                          uint64_t count);

/* The number of values: the product of the axes' counts. */
QNF_API uint64_t qnf_series_value_count(const qnf_series *series);

/* Values `offset` ... `offset + count - 1` into `out`. Long series are
 * kept in a temporary file until the results are released, so reading may
 * fail.
 * Checks: series or out null QN_STATUS_NULL_POINTER; values beyond the
 * series QN_STATUS_INVALID_ARGUMENT; the temporary file cannot be read
 * QNF_STATUS_UNREADABLE. */
QNF_API qnf_status qnf_series_values(const qnf_series *series, uint64_t offset, double *out, uint64_t count);

/* ------------------------------------------------------------------------
 * Series files
 *
 * With option "series-dir", each analysed file's series go to a NetCDF-4
 * file in that directory, written once the file's analysis is done, from
 * the results a chunk at a time (so that hours of audio take no more
 * memory than seconds), first under a new name beside it (".NAME.XXXXXX")
 * and renamed once complete: a failure leaves no file under the name, and
 * is the file's series error (qnf_file_series_error). Without option
 * "series" the results keep no series: the file holds them.
 *
 * Its name: the input's base name with its last extension replaced by
 * ".nc" ("takes/take1.wav": "take1.nc"; standard input: "stdin.nc"); a
 * name an earlier input of the run has taken gets "_2", "_3", ... before
 * ".nc" (qnf_series_file_name). An existing file of that name is replaced.
 *
 * Everything lies in the root group (xarray.open_dataset opens it as it
 * is):
 *  - dimensions "channel" (the channels analysed), one time per metric with
 *    frames ("loudness-time.time"), "bark" (240), "band" (53) and
 *    "third_octave" (28), each with a coordinate variable of its name in
 *    doubles: the channel numbers (from 1), the times in s (in the file: a
 *    stretch's begin near "start"), the critical-band rates in Bark, and
 *    for "band" also "band_frequency", the bands' centre frequencies in Hz;
 *    the third-octave bands' nominal centres in Hz;
 *  - one variable per series of each metric, named "<metric>.<quantity>"
 *    (qnf_series_variable), over ("channel", its axes' dimensions), with
 *    attribute "units" (and "coordinates" "band_frequency" over "band"); a
 *    channel where the metric failed holds NaN (its _FillValue);
 *  - the values as 32-bit floats rounded to 16 significant bits (netCDF's
 *    BitRound: a relative error below 2^-17, 8e-6, attribute
 *    _QuantizeBitRoundNumberOfSignificantBits), shuffled and compressed
 *    with zlib (level 1), in chunks of one channel and whole frames;
 *  - global attributes "source" ("libquarnelo_files 0.2.2"), "input_file"
 *    (the path as given), "calibration" (qnf_file_calibration), "field"
 *    ("free" or "diffuse"), "sample_rate" (the file's, Hz), "start_s" and
 *    "duration_s" (the analysed stretch).
 * ---------------------------------------------------------------------- */

/* The name of the series file of `paths[index]` in a run over `paths`
 * (without the directory), as the rule above gives it, into `name`
 * (terminated).
 * Checks, in order: paths, one of the first path_count paths, or name (with
 * name_capacity above 0) null QN_STATUS_NULL_POINTER; index not below
 * path_count QN_STATUS_INVALID_ARGUMENT; the name and its terminator longer
 * than name_capacity QN_STATUS_OUTPUT_TOO_SMALL; no memory
 * QN_STATUS_ALLOCATION_FAILED (nothing written). */
QNF_API qnf_status qnf_series_file_name(const char *const *paths, uint64_t path_count, uint64_t index, char *name,
                                        uint64_t name_capacity);

/* ------------------------------------------------------------------------
 * Statistics
 *
 * The statistics the analyses quote over the frames of a series, for
 * front ends that compute them from series of their own.
 * ---------------------------------------------------------------------- */

/* The value exceeded during `percent` % of the `count` values (N5 is
 * percent 5), by nearest rank: with the values sorted ascending, the one at
 * rank ceil((100 - percent) * count / 100), kept within 1 ... count, with
 * no interpolation. 0 for no values.
 * Checks, in order: result null, or values null with count above 0
 * QN_STATUS_NULL_POINTER; percent not within 0 ... 100 (NaN included)
 * QN_STATUS_INVALID_ARGUMENT; a NaN value QN_STATUS_NON_FINITE_INPUT; no
 * memory QN_STATUS_ALLOCATION_FAILED (nothing written). */
QNF_API qnf_status qnf_exceeded(const double *values, uint64_t count, double percent, double *result);

/* The statistics over frames the analyses quote (see Options): of the
 * `count` frame values, the mean (one sum in frame order, divided by the
 * count), the maximum, the minimum, and the value exceeded during each of
 * the `percent_count` percentages (as qnf_exceeded).
 *
 * values        read: count frame values.
 * loudness      read when not null: each frame's total loudness, sone; a
 *               frame below 0.001 sone counts as 0 (silent), as
 *               loudness-time and sharpness count them.
 * percents      read: percent_count percentages within 0 ... 100.
 * out           written: the mean, the maximum, the minimum, then one value
 *               per percentage in their order: 3 + percent_count values,
 *               all 0 for no values.
 * out_capacity  room at `out` in doubles.
 *
 * Checks, in order: values (with count above 0), percents (with
 * percent_count above 0) or out null QN_STATUS_NULL_POINTER; out_capacity
 * below 3 + percent_count QN_STATUS_OUTPUT_TOO_SMALL; a percentage not
 * within 0 ... 100 (NaN included) QN_STATUS_INVALID_ARGUMENT; a NaN value
 * or loudness QN_STATUS_NON_FINITE_INPUT; no memory (the percentiles sort
 * a copy of the values) QN_STATUS_ALLOCATION_FAILED. On failure nothing is
 * written. */
QNF_API qnf_status qnf_frame_statistics(const double *values, const double *loudness, uint64_t count,
                                        const double *percents, uint64_t percent_count, double *out,
                                        uint64_t out_capacity);

/* The single values of ECMA-418-2 tonality from its time-dependent
 * tonality T(l), tu_HMS, frame l at l * hop_seconds (256 / 48000 s in the
 * analyses): `value` the mean of T(l) over the frames at or after 0.3 s
 * whose T(l) exceeds 0.02 (0 when none does), summed in frame order; `max`
 * the largest T(l) at or after 0.3 s (0 when there is none), and `frame`
 * the first frame that has it (0 when there is none). The first 0.3 s are
 * left out because the model's smoothing starts from rest.
 * Checks, in order: tonality (with count above 0), value, max or frame null
 * QN_STATUS_NULL_POINTER; hop_seconds not above 0 or not finite
 * QN_STATUS_INVALID_ARGUMENT; a value NaN or infinite
 * QN_STATUS_NON_FINITE_INPUT (nothing written). */
QNF_API qnf_status qnf_tonality_ecma_summary(const double *tonality, uint64_t count, double hop_seconds,
                                             double *value, double *max, uint64_t *frame);

#ifdef __cplusplus
} /* extern "C" */
#endif

#endif /* QUARNELO_FILES_H */

/* Compiled as strict C99 against the file layer's header: proves the header
 * is C and that every export links and answers from C. */
#include <math.h>
#include <stdio.h>
#include <string.h>

#include "quarnelo_files.h"

static int failures = 0;

static void expect(int condition, const char *what) {
    if (!condition) {
        fprintf(stderr, "files_header_c99: %s\n", what);
        ++failures;
    }
}

static void on_event(void *user, uint64_t file, int32_t event, uint64_t read, uint64_t frames, int32_t rate,
                     const char *text) {
    (void)file, (void)event, (void)read, (void)frames, (void)rate, (void)text;
    ++*(int *)user;
}

int main(void) {
    static double x[2 * 48000], out[4096];
    const char *paths[1] = {"/nonexistent/quarnelo-test.wav"};
    qnf_options *options = NULL;
    qnf_reader *reader = NULL;
    qnf_results *results = NULL;
    const qnf_file_result *file;
    const qnf_channel_result *channel;
    const qnf_metric_result *metric;
    const qnf_series *series;
    qnf_metric_info info;
    qnf_format format;
    const char *name = NULL, *unit = NULL, *text = NULL;
    const double *points = NULL;
    double value = 0, first = 0, step = 0;
    uint64_t count = 0, i;
    char why[512];
    int events = 0;

    expect(qnf_abi_version() == QNF_ABI_VERSION, "abi version");
    expect(strcmp(qnf_version_string(), qn_version_string()) == 0, "version string");
    expect(strcmp(qnf_status_string(QNF_STATUS_TRUNCATED), "the file is truncated") == 0, "status text");
    expect(strcmp(qnf_status_string(QN_STATUS_NULL_POINTER), "null pointer") == 0, "core status text");

    expect(qnf_metric_count() >= 7, "metric count");
    expect(qnf_metric_describe(0, &info) == QN_STATUS_SUCCESS && strcmp(info.name, "loudness") == 0, "describe");
    expect(qnf_metric_quantity(0, 0, &name, &unit) == QN_STATUS_SUCCESS && strcmp(unit, "sone") == 0, "quantity");

    expect(qnf_options_create(&options) == QN_STATUS_SUCCESS, "options");
    expect(qnf_options_set(options, "volume", "11", why, sizeof why) == QNF_STATUS_INVALID_OPTION, "bad option");
    expect(qnf_options_set(options, "metrics", "loudness,loudness-time", why, sizeof why) == QN_STATUS_SUCCESS,
           "metrics");
    expect(qnf_options_set(options, "series", "1", why, sizeof why) == QN_STATUS_SUCCESS, "series");
    expect(qnf_options_set(options, "percentiles", "5,50", why, sizeof why) == QN_STATUS_SUCCESS, "percentiles");
    /* max, n5, n50, mean, min, each followed by its loudness level */
    expect(qnf_options_quantity_count(options, 1) == 10, "quantity count");
    expect(qnf_options_quantity(options, 1, 4, &name, &unit) == QN_STATUS_SUCCESS && strcmp(name, "n50") == 0,
           "quantity of the options");
    expect(qnf_options_quantity(options, 1, 5, &name, &unit) == QN_STATUS_SUCCESS &&
               strcmp(name, "n50_level") == 0 && strcmp(unit, "phon") == 0,
           "loudness level of the options");
    expect(qnf_metric_series_info(1, 1, &name, &unit, &text) == QN_STATUS_SUCCESS && strcmp(text, "time bark") == 0,
           "series of the table");
    expect(qnf_series_file_name(paths, 1, 0, why, sizeof why) == QN_STATUS_SUCCESS &&
               strcmp(why, "quarnelo-test.nc") == 0,
           "series file name");

    expect(qnf_reader_open(paths[0], options, &reader, why, sizeof why) == QNF_STATUS_UNREADABLE &&
               reader == NULL && why[0] != '\0',
           "reader of a missing file");
    qnf_reader_close(NULL);
    expect(qnf_reader_format(NULL, &format) == QN_STATUS_NULL_POINTER, "format of no reader");
    expect(qnf_reader_calibration(NULL, 0, &value, why, sizeof why) == QN_STATUS_NULL_POINTER, "calibration");
    expect(qnf_reader_read(NULL, out, 10, &count, why, sizeof why) == QN_STATUS_NULL_POINTER, "read");

    for (i = 0; i < 2 * 48000; ++i) x[i] = 0.02 * sin(2.0 * 3.141592653589793 * 1000.0 * (double)i / 48000.0);
    expect(qnf_resampled_length(44100, 44100, &count) == QN_STATUS_SUCCESS && count == 48001, "resampled length");
    expect(qnf_resample(x, 3000, 44100, out, 4096, &count) == QN_STATUS_SUCCESS && count <= 3266, "resample");

    expect(qnf_analyze_files(paths, 1, options, on_event, &events, &results, why, sizeof why) == QN_STATUS_SUCCESS,
           "analysis of a missing file");
    expect(qnf_results_file_count(results) == 1, "one file");
    file = qnf_results_file(results, 0);
    expect(qnf_file_error(file) != NULL && qnf_file_status(file) == QNF_STATUS_UNREADABLE, "its error");
    expect(events >= 1, "events");
    qnf_results_destroy(results);

    expect(qnf_analyze_signal(x, 48000, 2, 48000, "tone", options, &results, why, sizeof why) == QN_STATUS_SUCCESS,
           "analysis of a signal");
    file = qnf_results_file(results, 0);
    expect(strcmp(qnf_file_path(file), "tone") == 0 && qnf_file_error(file) == NULL, "file result");
    expect(qnf_file_format(file, &format) == QN_STATUS_SUCCESS && format.channels == 2, "file format");
    expect(qnf_file_duration(file) == 1.0 && qnf_file_channel_count(file) == 2, "duration, channels");
    expect(qnf_file_start(file) == 0.0 && strncmp(qnf_file_calibration(file), "pa-per-unit", 11) == 0, "start, calibration");
    expect(qnf_file_series_file(file) == NULL && qnf_file_series_error(file) == NULL, "no series file");
    expect(qnf_file_binaural(file) == NULL && qnf_file_binaural(NULL) == NULL, "no metric with a binaural value");
    channel = qnf_file_channel(file, 1);
    expect(qnf_channel_number(channel) == 2 && qnf_channel_error(channel) == NULL, "channel");
    expect(strncmp(qnf_channel_calibration(channel), "pa-per-unit", 11) == 0, "calibration text");
    expect(qnf_channel_metric_count(channel) == 2, "metrics");
    metric = qnf_channel_metric(channel, 1);
    expect(strcmp(qnf_metric_name(metric), "loudness-time") == 0 && qnf_metric_error(metric) == NULL, "metric");
    expect(qnf_metric_value_count(metric) == 10, "values");
    expect(qnf_metric_value(metric, 2, &name, &value, &unit) == QN_STATUS_SUCCESS && strcmp(name, "n5") == 0 &&
               value > 0,
           "n5");
    expect(qnf_metric_series_count(metric) == 2, "series");
    series = qnf_metric_series(metric, 1);
    expect(strcmp(qnf_series_name(series), "specific_loudness") == 0 && strcmp(qnf_series_unit(series), "sone/Bark") == 0,
           "series name");
    expect(qnf_series_axis_count(series) == 2, "axes");
    expect(strcmp(qnf_series_variable(series), "loudness-time.specific_loudness") == 0, "variable");
    expect(strcmp(qnf_series_axis_dimension(series, 1), "bark") == 0, "dimension");
    expect(qnf_series_axis_coordinate_count(series, 1) == 0 &&
               qnf_series_axis_coordinate(series, 1, 0, &name, &unit, &points) == QN_STATUS_INVALID_ARGUMENT,
           "no further coordinates");
    expect(qnf_series_axis(series, 0, &name, &unit, &count, &first, &step, &points) == QN_STATUS_SUCCESS &&
               count == 500 && points == NULL && step == 0.002,
           "time axis");
    expect(qnf_series_axis_points(series, 0, 499, &value, 1) == QN_STATUS_SUCCESS && value == 499 * 0.002,
           "axis points");
    expect(qnf_series_value_count(series) == 500 * 240, "value count");
    expect(qnf_series_values(series, 0, out, 240) == QN_STATUS_SUCCESS, "values of a series");
    qnf_results_destroy(results);
    qnf_options_destroy(options);

    expect(qnf_exceeded(x, 100, 5.0, &value) == QN_STATUS_SUCCESS && value > 0, "exceeded");
    {
        const double percents[2] = {5.0, 50.0};
        double summary[5];
        uint64_t frame = 0;
        expect(qnf_frame_statistics(x, NULL, 100, percents, 2, summary, 5) == QN_STATUS_SUCCESS &&
                   summary[1] >= summary[3] && summary[3] >= summary[4] && summary[4] >= summary[2],
               "frame statistics");
        expect(qnf_tonality_ecma_summary(x, 100, 256.0 / 48000, &value, &first, &frame) == QN_STATUS_SUCCESS,
               "tonality summary");
    }
    if (failures == 0) printf("files_header_c99: every export answers from C\n");
    return failures == 0 ? 0 : 1;
}

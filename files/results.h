// The results of an analysis as the file layer keeps them until the caller
// reads them: files, their channels, each channel's metrics with their
// single values and series. The C interface (api_results.cpp) hands out
// pointers into this tree.
#ifndef QUARNELO_FILES_RESULTS_H
#define QUARNELO_FILES_RESULTS_H

#include <cstddef>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "quarnelo_files.h"
#include "series_store.h"

namespace qnf {

struct single_value {
    std::string name;
    double value;
    std::string unit;
};

// A further coordinate along an axis: the centre frequencies of bands
// whose axis is their critical-band rate.
struct coordinate {
    std::string name;  // "band_frequency"
    std::string unit;  // "Hz"
    std::vector<double> values;
};

struct axis {
    std::string name;  // "time", "rate", "frequency"
    std::string unit;  // "s", "Bark", "Hz"
    std::vector<double> values = {};  // the points; empty for a grid
    // A grid of `count` points first + i * step: the times of a series'
    // frames, which take no memory however long the series.
    uint64_t count = 0;
    double first = 0, step = 0;
    // The dimension the axis is in a NetCDF file and an xarray dataset:
    // "bark", "band", or a metric's time, "loudness-time.time"; and the
    // further coordinates along it.
    std::string dimension = {};
    std::vector<coordinate> coordinates = {};

    uint64_t size() const { return values.empty() ? count : values.size(); }
    double at(uint64_t i) const {
        return values.empty() ? first + static_cast<double>(i) * step : values[static_cast<std::size_t>(i)];
    }
};

// The times of `frames` frames, the first at `first` seconds.
axis time_axis(uint64_t frames, double first, double step);

// Values over one or two axes, row-major (the last axis varies fastest).
struct series {
    std::string name;
    std::string unit;
    std::vector<axis> axes;
    value_list values;
    // Its name among every series of a file: "<metric>.<name>", set when
    // the channel's results are made.
    std::string variable = {};
};

// The statistics over a metric's frames (statistics.h): mean, maximum,
// minimum and the percentiles asked for, in their order.
struct frame_summary {
    bool present = false;
    double mean = 0, max = 0, min = 0;
    std::vector<double> percentiles;
};

struct metric_result {
    std::vector<single_value> values;  // those of the metric's own rules
    frame_summary statistics;
    std::string statistics_error;  // why there are none (no frame after the skip)
    std::vector<series> series_list;
};

}  // namespace qnf

// The nodes of the tree carry the C interface's names, so that its opaque
// handles are these very objects.
struct qnf_series : qnf::series {
    qnf_series() = default;
    explicit qnf_series(qnf::series s) : qnf::series(std::move(s)) {}
};

struct qnf_metric_result {
    std::string name;
    std::string error;  // empty when the metric has values
    std::vector<qnf::single_value> values;
    std::vector<qnf_series> series_list;
};

struct qnf_channel_result {
    int channel = 0;  // from 1
    std::string calibration;
    std::string error;  // empty unless none of the metrics could run
    std::vector<qnf_metric_result> metrics;  // in the order asked for

    bool failed() const;
};

struct qnf_file_result {
    std::string path;
    std::string error;  // the file could not be analysed at all
    qnf_status status = QN_STATUS_SUCCESS;
    qnf_format format{};  // frames: analysed, at the file's rate
    double start_s = 0;     // where the analysed stretch begins in the file
    double duration_s = 0;  // of the analysed stretch
    std::vector<qnf_channel_result> channels;
    // The two ears of a head recording combined (channel 0), or none.
    std::vector<qnf_channel_result> binaural;
    std::string calibration;   // of its channels, in one text (calibration_summary)
    std::string series_file;   // the NetCDF file written ("series-dir"), or empty
    std::string series_error;  // why it could not be written, or empty

    bool failed() const;
};

struct qnf_results {
    std::vector<qnf_file_result> files;
};

#endif

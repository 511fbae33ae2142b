// The options of a reader or a run, as the C interface's handle holds them:
// named values in text, checked once here for every front end, and turned
// into the analysis options (the calibrator recording read) when a reader
// or a run starts.
#ifndef QUARNELO_FILES_OPTIONS_H
#define QUARNELO_FILES_OPTIONS_H

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "analysis.h"
#include "memory.h"
#include "quarnelo_files.h"

struct qnf_options {
    std::vector<const qnf::metric *> metrics;  // in the order asked for
    qn_sound_field field = QN_SOUND_FIELD_FREE;
    int channel = 0;  // 0: all
    qnf::calibration::method calibration = qnf::calibration::method::pa_per_unit;
    double pa_per_unit = 1.0;
    double spl_db = 0;       // full-scale or calibrator level
    std::string cal_file;    // calibrator recording
    bool cal_spl_set = false;
    bool resample = true;
    bool binaural = true;  // two channels are the ears of a head recording
    bool series = false;
    uint64_t max_memory = 0;  // set by the constructor
    int jobs = 1;
    std::optional<std::vector<double>> percentiles;  // each metric's own when not set
    double skip_s = 0;
    double start_s = 0;
    std::optional<double> end_s;
    std::string series_dir;   // where series files go; empty: none
    std::string series_name;  // the series file's name for a run of one file; empty: the rule's
    qn_sharpness_weighting sharpness_weighting = QN_SHARPNESS_DIN;
    uint64_t band_step = qnf::default_band_step;  // samples at 48 kHz

    // The single values of each metric of the table with these
    // percentiles, in the table's order, for qnf_options_quantity.
    std::vector<std::vector<qnf::quantity_name>> quantities;

    qnf_options();
    void name_quantities();
};

namespace qnf {

// Sets option `name`: QN_STATUS_SUCCESS, or QNF_STATUS_INVALID_OPTION with
// the reason. `o` is unchanged on failure.
qnf_status set_option(qnf_options &o, const std::string &name, const std::string &value, std::string &error);

// The analysis options of `o`, with the calibration resolved (a calibrator
// recording read within the budget): QN_STATUS_SUCCESS, or the status of
// the failure and its reason ("calibration file F: ...").
qnf_status resolve_options(const qnf_options &o, memory_budget &budget, analysis_options &out, std::string &error);

}  // namespace qnf

#endif

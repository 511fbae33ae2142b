#include "options.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <sstream>

#include "audio.h"
#include "batch.h"
#include "input.h"
#include "source.h"

qnf_options::qnf_options() : max_memory(qnf::default_memory_allowed()) {
    for (const qnf::metric &m : qnf::metric_table())
        if (m.in_default_set) metrics.push_back(&m);
    name_quantities();
}

void qnf_options::name_quantities() {
    quantities.clear();
    for (const qnf::metric &m : qnf::metric_table()) {
        qnf::statistics_settings s;
        s.percentiles = percentiles;
        quantities.push_back(qnf::quoted_names(m, s.percentiles_of(m)));
    }
}

namespace qnf {

namespace {

std::string seconds_text(double s) {
    std::ostringstream text;
    text << s << " s";
    return text.str();
}

// A number that is the whole text; false otherwise.
bool parse_number(const std::string &text, double &out) {
    if (text.empty()) return false;
    errno = 0;
    char *end = nullptr;
    const double v = std::strtod(text.c_str(), &end);
    if (end == text.c_str() || *end != '\0' || errno == ERANGE) return false;
    out = v;
    return true;
}

bool parse_flag(const std::string &text, bool &out) {
    if (text == "1" || text == "true" || text == "yes" || text == "on") return out = true, true;
    if (text == "0" || text == "false" || text == "no" || text == "off") return out = false, true;
    return false;
}

// Seconds: a number from 0 on, below a day of days.
bool parse_seconds(const std::string &text, double &out) {
    return parse_number(text, out) && out >= 0 && out < 1e8;
}

// Percentages, comma-separated, each within 0 ... 100 and named apart by
// every metric's symbol; empty for none.
bool parse_percentiles(const std::string &text, std::vector<double> &out, std::string &error) {
    out.clear();
    if (text.empty()) return true;
    std::stringstream list(text);
    std::string item;
    const metric &any = metric_table().front();
    while (std::getline(list, item, ',')) {
        double p = 0;
        if (!parse_number(item, p) || !(p >= 0 && p <= 100)) {
            error = "--percentiles takes percentages from 0 to 100, comma-separated, not '" + item + "'";
            return false;
        }
        for (double q : out) {
            if (percentile_name(any, q) == percentile_name(any, p)) {
                error = "--percentiles names " + item + " twice";
                return false;
            }
        }
        out.push_back(p + 0.0);  // -0 is 0
    }
    if (text.back() == ',' || out.size() > 100) {
        error = "--percentiles takes up to 100 percentages, comma-separated, not '" + text + "'";
        return false;
    }
    return true;
}

// An integer within lo ... hi that is the whole text.
bool parse_int(const std::string &text, long lo, long hi, long &out) {
    if (text.empty()) return false;
    errno = 0;
    char *end = nullptr;
    const long v = std::strtol(text.c_str(), &end, 10);
    if (end == text.c_str() || *end != '\0' || errno == ERANGE || v < lo || v > hi) return false;
    out = v;
    return true;
}

// Reads the calibrator recording (within the memory allowed) and derives
// the calibration from it.
bool load_calibrator(const std::string &file, double spl_db, memory_budget &budget, calibration &cal,
                     std::string &error) {
    input_file input;
    audio recording;
    const admission admit = [&](const audio_format &format, std::string &reason) {
        const double need = 8.0 * static_cast<double>(format.frames) * format.channels;
        if (need <= static_cast<double>(budget.total())) return true;
        reason = "needs about " + byte_text(static_cast<uint64_t>(need)) + ", more than the " +
                 byte_text(budget.total()) + " allowed (--max-memory)";
        return false;
    };
    if (!open_input(file, std::min(budget.total(), max_stdin_bytes), input, error) ||
        !read_audio(input, admit, recording, error)) {
        error = "calibration file " + file + ": " + error;
        return false;
    }
    return calibrator_calibration(recording, file, spl_db, cal, error);
}

}  // namespace

qnf_status set_option(qnf_options &o, const std::string &name, const std::string &value, std::string &error) {
    qnf_options next = o;
    double number = 0;
    long integer = 0;
    bool flag = false;
    const auto refuse = [&](const std::string &why) {
        error = why;
        return QNF_STATUS_INVALID_OPTION;
    };
    if (name == "metrics") {
        next.metrics.clear();
        std::stringstream list(value);
        std::string item;
        while (std::getline(list, item, ',')) {
            const metric *m = find_metric(item);
            if (m == nullptr) return refuse("unknown metric '" + item + "'");
            next.metrics.push_back(m);
        }
        if (next.metrics.empty()) return refuse("--metrics names no metric");
    } else if (name == "field") {
        if (value != "free" && value != "diffuse") return refuse("--field takes free or diffuse, not '" + value + "'");
        next.field = value == "diffuse" ? QN_SOUND_FIELD_DIFFUSE : QN_SOUND_FIELD_FREE;
    } else if (name == "channel") {
        if (value == "all") {
            next.channel = 0;
        } else {
            if (!parse_int(value, 1, 1024, integer))
                return refuse("--channel takes a channel number from 1, or 'all'");
            next.channel = static_cast<int>(integer);
        }
    } else if (name == "pa-per-unit") {
        if (!parse_number(value, number)) return refuse("--pa-per-unit takes a number, not '" + value + "'");
        if (const std::string why = check_pa_per_unit("--pa-per-unit", number); !why.empty()) return refuse(why);
        next.calibration = calibration::method::pa_per_unit;
        next.pa_per_unit = number;
    } else if (name == "full-scale-spl") {
        if (!parse_number(value, number)) return refuse("--full-scale-spl takes a number, not '" + value + "'");
        if (const std::string why = check_level("--full-scale-spl", number); !why.empty()) return refuse(why);
        next.calibration = calibration::method::full_scale_spl;
        next.spl_db = number;
    } else if (name == "cal-file") {
        if (value.empty()) return refuse("--cal-file takes a file name");
        if (next.calibration != calibration::method::calibrator) next.cal_spl_set = false;
        next.calibration = calibration::method::calibrator;
        next.cal_file = value;
    } else if (name == "cal-spl") {
        if (!parse_number(value, number)) return refuse("--cal-spl takes a number, not '" + value + "'");
        if (const std::string why = check_level("--cal-spl", number); !why.empty()) return refuse(why);
        if (next.calibration != calibration::method::calibrator) next.cal_file.clear();
        next.calibration = calibration::method::calibrator;
        next.spl_db = number;
        next.cal_spl_set = true;
    } else if (name == "resample") {
        if (!parse_flag(value, flag)) return refuse("--resample takes 1 or 0, not '" + value + "'");
        next.resample = flag;
    } else if (name == "series") {
        if (!parse_flag(value, flag)) return refuse("--series takes 1 or 0, not '" + value + "'");
        next.series = flag;
    } else if (name == "percentiles") {
        std::vector<double> list;
        if (!parse_percentiles(value, list, error)) return QNF_STATUS_INVALID_OPTION;
        next.percentiles = std::move(list);
    } else if (name == "skip" || name == "start") {
        if (!parse_seconds(value, number))
            return refuse("--" + name + " takes seconds, a number from 0 on, not '" + value + "'");
        (name == "skip" ? next.skip_s : next.start_s) = number;
    } else if (name == "end") {
        if (value.empty()) {
            next.end_s.reset();
        } else {
            if (!parse_seconds(value, number) || number == 0)
                return refuse("--end takes seconds, a number above 0, not '" + value + "'");
            next.end_s = number;
        }
    } else if (name == "series-dir") {
        next.series_dir = value;
    } else if (name == "series-name") {
        if (value.find('/') != std::string::npos || value == "." || value == "..")
            return refuse("--series-name takes a file name without a directory, not '" + value + "'");
        next.series_name = value;
    } else if (name == "binaural") {
        if (value != "on" && value != "off")
            return refuse("binaural takes on or off (--no-binaural turns it off), not '" + value + "'");
        next.binaural = value == "on";
    } else if (name == "sharpness-weighting") {
        constexpr std::pair<const char *, qn_sharpness_weighting> weightings[] = {
            {"din", QN_SHARPNESS_DIN}, {"bismarck", QN_SHARPNESS_BISMARCK}, {"fastl", QN_SHARPNESS_FASTL},
            {"aures", QN_SHARPNESS_AURES}};
        const auto w = std::find_if(std::begin(weightings), std::end(weightings),
                                    [&](const auto &e) { return value == e.first; });
        if (w == std::end(weightings))
            return refuse("--sharpness-weighting takes din, bismarck, fastl or aures, not '" + value + "'");
        next.sharpness_weighting = w->second;
    } else if (name == "band-step") {
        // From a millisecond (48 samples) to an hour.
        if (!parse_number(value, number) || !(number >= 0.001 && number <= 3600))
            return refuse("--band-step takes seconds from 0.001 to 3600, not '" + value + "'");
        next.band_step = static_cast<uint64_t>(std::llround(number * QN_SAMPLE_RATE));
    } else if (name == "max-memory") {
        uint64_t bytes = 0;
        if (!parse_memory_size(value, bytes))
            return refuse("--max-memory takes a size such as 8G, 500M or 100000000, not '" + value + "'");
        next.max_memory = bytes;
    } else if (name == "jobs") {
        if (!parse_int(value, 1, max_jobs, integer))
            return refuse("--jobs takes a number of threads from 1 to " + std::to_string(max_jobs) + ", not '" +
                          value + "'");
        next.jobs = static_cast<int>(integer);
    } else {
        return refuse("unknown option '" + name + "'");
    }
    if (name == "percentiles") next.name_quantities();
    o = std::move(next);
    return QN_STATUS_SUCCESS;
}

qnf_status resolve_options(const qnf_options &o, memory_budget &budget, analysis_options &out, std::string &error) {
    analysis_options a;
    a.metrics = o.metrics;
    a.field = o.field;
    a.channel = o.channel;
    if (o.end_s && *o.end_s <= o.start_s) {
        error = "--end " + seconds_text(*o.end_s) + " is not after --start " + seconds_text(o.start_s);
        return QNF_STATUS_INVALID_OPTION;
    }
    if (!o.series_dir.empty()) {
        struct stat st {};
        if (::stat(o.series_dir.c_str(), &st) != 0 || !S_ISDIR(st.st_mode) ||
            ::access(o.series_dir.c_str(), W_OK | X_OK) != 0) {
            error = "--series-dir " + o.series_dir + " is not a directory that can be written";
            return QNF_STATUS_INVALID_OPTION;
        }
    }
    a.series = o.series || !o.series_dir.empty();
    a.keep_series = o.series;
    a.series_dir = o.series_dir;
    a.series_name = o.series_name;
    a.resample = o.resample;
    a.binaural = o.binaural;
    a.statistics.skip_s = o.skip_s;
    a.statistics.percentiles = o.percentiles;
    a.start_s = o.start_s;
    a.end_s = o.end_s;
    a.sharpness_weighting = o.sharpness_weighting;
    a.band_step = o.band_step;
    // Long series wait in a temporary file until they are read.
    if (a.series) a.spool = std::make_shared<series_spool>();
    switch (o.calibration) {
    case calibration::method::pa_per_unit: a.cal.factors = {o.pa_per_unit}; break;
    case calibration::method::full_scale_spl: a.cal = full_scale_calibration(o.spl_db); break;
    case calibration::method::calibrator:
        if (o.cal_file.empty() || !o.cal_spl_set) {
            error = "a calibrator recording needs both --cal-file and --cal-spl";
            return QNF_STATUS_INVALID_OPTION;
        }
        if (!load_calibrator(o.cal_file, o.spl_db, budget, a.cal, error)) return QNF_STATUS_UNREADABLE;
        break;
    }
    out = std::move(a);
    return QN_STATUS_SUCCESS;
}

}  // namespace qnf

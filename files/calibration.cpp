#include "calibration.h"

#include <cmath>
#include <cstdio>

namespace qnf {

namespace {

std::string out_of_range(const char *option, double value, double lo, double hi, const char *unit) {
    char text[256];
    std::snprintf(text, sizeof text, "%s must lie between %g and %g %s, not %g", option, lo, hi, unit, value);
    return text;
}

// The longest run of consecutive samples at the channel's peak magnitude,
// when that peak lies at full scale (0.99 and above): a clipped recording
// holds its peak for several samples, a sine never does.
std::size_t clipped_run(const std::vector<double> &x) {
    double peak = 0;
    for (double v : x) peak = std::fmax(peak, std::fabs(v));
    if (peak < 0.99) return 0;
    std::size_t run = 0, longest = 0;
    for (double v : x) {
        run = std::fabs(v) == peak ? run + 1 : 0;
        longest = run > longest ? run : longest;
    }
    return longest;
}

}  // namespace

bool calibrate(std::vector<double> &x, double factor, uint64_t first, std::string &error) {
    if (factor != 1.0)
        for (double &v : x) v *= factor;
    for (std::size_t i = 0; i < x.size(); ++i) {
        if (!std::isfinite(x[i])) {
            error = "sample " + std::to_string(first + i) + " is NaN or infinite";
            return false;
        }
    }
    return true;
}

std::string check_pa_per_unit(const char *option, double value) {
    if (std::isfinite(value) && value >= min_pa_per_unit && value <= max_pa_per_unit) return {};
    return out_of_range(option, value, min_pa_per_unit, max_pa_per_unit, "Pa");
}

std::string check_level(const char *option, double value) {
    if (std::isfinite(value) && value >= min_level_db && value <= max_level_db) return {};
    return out_of_range(option, value, min_level_db, max_level_db, "dB SPL");
}

double pressure_of_level(double spl_db) { return 20e-6 * std::pow(10.0, spl_db / 20.0); }

calibration full_scale_calibration(double spl_db) {
    calibration c;
    c.kind = calibration::method::full_scale_spl;
    c.spl_db = spl_db;
    c.factors = {pressure_of_level(spl_db) * std::sqrt(2.0)};
    return c;
}

bool calibrator_calibration(const audio &recording, const std::string &file, double spl_db, calibration &out,
                            std::string &error) {
    calibration c;
    c.kind = calibration::method::calibrator;
    c.spl_db = spl_db;
    c.file = file;
    c.factors.clear();
    for (int ch = 0; ch < recording.channels; ++ch) {
        const auto &x = recording.samples[static_cast<std::size_t>(ch)];
        const std::string channel = "calibration file " + file + ": channel " + std::to_string(ch + 1);
        double sum = 0;
        for (double v : x) sum += v * v;
        const double rms = std::sqrt(sum / static_cast<double>(x.size()));
        if (!std::isfinite(rms)) {
            error = channel + " holds NaN or infinite samples";
            return false;
        }
        if (rms <= 0) {
            error = channel + " is silent";
            return false;
        }
        if (const std::size_t run = clipped_run(x); run >= 3) {
            error = channel + " is clipped: " + std::to_string(run) +
                    " samples in a row at full scale; record the calibrator at a lower gain";
            return false;
        }
        c.factors.push_back(pressure_of_level(spl_db) / rms);
    }
    out = std::move(c);
    return true;
}

std::string calibration::describe(int channel) const {
    char text[128];
    switch (kind) {
    case method::pa_per_unit:
        std::snprintf(text, sizeof text, "pa-per-unit %.9g", factor(channel));
        return text;
    case method::full_scale_spl:
        std::snprintf(text, sizeof text, "full-scale-spl %.6g dB (%.9g Pa per unit)", spl_db, factor(channel));
        return text;
    case method::calibrator:
        std::snprintf(text, sizeof text, " at %.6g dB (%.9g Pa per unit)", spl_db, factor(channel));
        return "calibrator " + file + text;
    }
    return {};
}

}  // namespace qnf

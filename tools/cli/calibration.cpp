#include "calibration.h"

#include <cmath>
#include <cstdio>

#include "audio.h"

namespace qcli {

double pressure_of_level(double spl_db) { return 20e-6 * std::pow(10.0, spl_db / 20.0); }

calibration full_scale_calibration(double spl_db) {
    calibration c;
    c.kind = calibration::method::full_scale_spl;
    c.spl_db = spl_db;
    c.factors = {pressure_of_level(spl_db) * std::sqrt(2.0)};
    return c;
}

bool calibrator_calibration(const std::string &file, double spl_db, calibration &out, std::string &error) {
    audio cal;
    if (!read_audio(file, cal, error)) {
        error = "calibration file " + file + ": " + error;
        return false;
    }
    out.kind = calibration::method::calibrator;
    out.spl_db = spl_db;
    out.file = file;
    out.factors.clear();
    for (int ch = 0; ch < cal.channels; ++ch) {
        const auto &x = cal.samples[static_cast<std::size_t>(ch)];
        double sum = 0;
        for (double v : x) sum += v * v;
        const double rms = std::sqrt(sum / static_cast<double>(x.size()));
        if (!std::isfinite(rms) || rms <= 0) {
            error = "calibration file " + file + ": channel " + std::to_string(ch + 1) + " is silent or not finite";
            return false;
        }
        out.factors.push_back(pressure_of_level(spl_db) / rms);
    }
    return true;
}

std::string calibration::describe(int channel) const {
    char text[512];
    switch (kind) {
    case method::pa_per_unit:
        std::snprintf(text, sizeof text, "pa-per-unit %.9g", factor(channel));
        break;
    case method::full_scale_spl:
        std::snprintf(text, sizeof text, "full-scale-spl %.6g dB (%.9g Pa per unit)", spl_db, factor(channel));
        break;
    case method::calibrator:
        std::snprintf(text, sizeof text, "calibrator %s at %.6g dB (%.9g Pa per unit)", file.c_str(), spl_db,
                      factor(channel));
        break;
    }
    return text;
}

}  // namespace qcli

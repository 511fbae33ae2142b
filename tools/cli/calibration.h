// Turning sample values into sound pressure in pascal.
#ifndef QUARNELO_CLI_CALIBRATION_H
#define QUARNELO_CLI_CALIBRATION_H

#include <string>
#include <vector>

namespace qcli {

struct calibration {
    enum class method { pa_per_unit, full_scale_spl, calibrator };
    method kind = method::pa_per_unit;
    double pa_per_unit = 1.0;  // for pa_per_unit
    double spl_db = 0;         // full-scale or calibrator level
    std::string file;          // calibrator recording
    // Pa per sample unit, by channel of the calibrator recording (one value
    // for the other methods).
    std::vector<double> factors = {1.0};

    double factor(int channel) const {
        return factors.size() > static_cast<std::size_t>(channel) ? factors[static_cast<std::size_t>(channel)]
                                                                  : factors[0];
    }
    // "pa-per-unit 1", "full-scale-spl 94 dB (...)", "calibrator FILE at 94 dB (...)".
    std::string describe(int channel) const;
};

// 20 uPa * 10^(L / 20): the RMS pressure of a level L in dB SPL.
double pressure_of_level(double spl_db);

// A full-scale sine (peak 1.0, RMS 1/sqrt 2) has `spl_db` dB SPL.
calibration full_scale_calibration(double spl_db);

// A calibrator recording of `spl_db` dB SPL: each channel's RMS gives its
// factor (channel 1's serves channels the recording does not have). False
// with a reason when the recording cannot be used.
bool calibrator_calibration(const std::string &file, double spl_db, calibration &out, std::string &error);

}  // namespace qcli

#endif

// Turning sample values into sound pressure in pascal.
#ifndef QUARNELO_FILES_CALIBRATION_H
#define QUARNELO_FILES_CALIBRATION_H

#include <string>
#include <vector>

#include "audio.h"

namespace qnf {

// The values a calibration may take; beyond them lie typing errors, not
// measurement chains.
inline constexpr double min_pa_per_unit = 1e-9;
inline constexpr double max_pa_per_unit = 1e9;
inline constexpr double min_level_db = 0;    // dB SPL
inline constexpr double max_level_db = 200;  // dB SPL

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

// Scales 48 kHz samples by `factor` (Pa per unit) and checks each: false,
// with "sample N is NaN or infinite" (N counted from `first`, the index of
// x[0] in the channel), at the first that is not finite.
bool calibrate(std::vector<double> &x, double factor, uint64_t first, std::string &error);

// Empty when `value` is a usable --pa-per-unit (or a level in dB SPL, for
// check_level), else the reason naming `option`.
std::string check_pa_per_unit(const char *option, double value);
std::string check_level(const char *option, double value);

// 20 uPa * 10^(L / 20): the RMS pressure of a level L in dB SPL.
double pressure_of_level(double spl_db);

// A full-scale sine (peak 1.0, RMS 1/sqrt 2) has `spl_db` dB SPL.
calibration full_scale_calibration(double spl_db);

// A calibrator recording of `spl_db` dB SPL: each channel's RMS gives its
// factor (channel 1's serves channels the recording does not have). False
// with a reason when the recording cannot be used: it cannot be read, a
// channel is silent, or clipped (a run of samples held at a peak at full
// scale, so its RMS is not the calibrator's); `out` is then as it was.
bool calibrator_calibration(const audio &recording, const std::string &file, double spl_db, calibration &out,
                            std::string &error);

}  // namespace qnf

#endif

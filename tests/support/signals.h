// Test signals, generated with fixed seeds so every run sees the same data.
#ifndef QN_TESTS_SIGNALS_H
#define QN_TESTS_SIGNALS_H

#include <cstddef>
#include <cstdint>
#include <vector>

namespace qn_test {

inline constexpr double sample_rate = 48000.0;

// amplitude * sin(2 pi f n / fs + phase), n = 0 ... count - 1.
std::vector<double> sine(double frequency_hz, double amplitude_pa, std::size_t count,
                         double phase = 0.0);

// Sinusoidal amplitude modulation: a carrier of peak `amplitude_pa` with
// modulation depth `depth` (0 ... 1) at `modulation_hz`.
std::vector<double> am_tone(double carrier_hz, double modulation_hz, double depth,
                            double amplitude_pa, std::size_t count);

// White Gaussian noise of RMS `rms_pa` (xorshift generator, fixed seed).
std::vector<double> white_noise(double rms_pa, std::size_t count, uint64_t seed = 1);

// Pink noise (-3 dB per octave) of RMS `rms_pa`.
std::vector<double> pink_noise(double rms_pa, std::size_t count, uint64_t seed = 1);

// RMS of a pressure, in pascal, for a level in dB re 20 uPa.
double rms_for_level(double level_db);

}  // namespace qn_test

#endif

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

// The one random generator of the tests and benchmarks: xorshift64, seeded
// so that every seed (0 included) gives its own fixed sequence.
struct xorshift {
    uint64_t state;
    explicit xorshift(uint64_t seed) : state(seed * 0x9E3779B97F4A7C15ull + 1) {}
    uint64_t next() {
        state ^= state << 13;
        state ^= state >> 7;
        state ^= state << 17;
        return state;
    }
    // Uniform in (0, 1), never 0 (a logarithm may take it).
    double uniform() { return (static_cast<double>(next() >> 11) + 0.5) * 0x1.0p-53; }
    // Standard normal (Box-Muller).
    double gaussian();
};

// `count` values uniform in (-1, 1).
std::vector<double> uniform_values(std::size_t count, uint64_t seed);

// White Gaussian noise of RMS `rms_pa` (xorshift generator, fixed seed).
std::vector<double> white_noise(double rms_pa, std::size_t count, uint64_t seed = 1);

// Pink noise (-3 dB per octave) of RMS `rms_pa`.
std::vector<double> pink_noise(double rms_pa, std::size_t count, uint64_t seed = 1);

// Something in every band, with a gap: pink noise of RMS 0.2 Pa, a 1 kHz
// tone of 0.5 Pa fully modulated at 70 Hz and a 40 Hz tone of 2 Pa,
// silent from n / 3 to n / 2.
std::vector<double> busy_with_gap(std::size_t count, uint64_t seed);

// RMS of a pressure, in pascal, for a level in dB re 20 uPa.
double rms_for_level(double level_db);

}  // namespace qn_test

#endif

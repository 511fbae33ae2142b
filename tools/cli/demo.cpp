#include "demo.h"

#include <cmath>
#include <cstdint>
#include <numbers>


namespace qcli {

namespace {

// The RMS sound pressure of a level in dB SPL.
double pressure_of_level(double spl_db) { return 20e-6 * std::pow(10.0, spl_db / 20.0); }

}  // namespace

demo_sound make_demo_sound() {
    constexpr double fs = 48000.0;
    constexpr std::size_t n = 3 * 48000;
    demo_sound d;
    d.description =
        "3 s of a 1 kHz tone at 70 dB SPL, 100 % amplitude-modulated at 70 Hz, over pink noise at 50 dB SPL";

    // Pink noise: white noise (xorshift, Box-Muller) through the usual
    // three-pole approximation of -3 dB per octave, scaled to its level.
    std::vector<double> noise(n);
    uint64_t state = 0x9E3779B97F4A7C15ull;
    auto uniform = [&] {
        state ^= state << 13;
        state ^= state >> 7;
        state ^= state << 17;
        return (static_cast<double>(state >> 11) + 0.5) * 0x1.0p-53;
    };
    double b0 = 0, b1 = 0, b2 = 0, power = 0;
    for (double &v : noise) {
        const double w = std::sqrt(-2.0 * std::log(uniform())) * std::cos(2.0 * std::numbers::pi * uniform());
        b0 = 0.99765 * b0 + w * 0.0990460;
        b1 = 0.96300 * b1 + w * 0.2965164;
        b2 = 0.57000 * b2 + w * 1.0526913;
        v = b0 + b1 + b2 + w * 0.1848;
        power += v * v;
    }
    const double noise_scale = pressure_of_level(50.0) / std::sqrt(power / n);

    const double carrier = pressure_of_level(70.0) * std::sqrt(2.0);  // peak of the unmodulated carrier
    d.samples.resize(n);
    for (std::size_t i = 0; i < n; ++i) {
        const double t = static_cast<double>(i) / fs;
        d.samples[i] = carrier * (1.0 + std::sin(2.0 * std::numbers::pi * 70.0 * t)) *
                           std::sin(2.0 * std::numbers::pi * 1000.0 * t) +
                       noise_scale * noise[i];
    }
    return d;
}

}  // namespace qcli

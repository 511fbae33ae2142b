#include "support/signals.h"

#include <cmath>
#include <numbers>

namespace qn_test {

std::vector<double> sine(double frequency_hz, double amplitude_pa, std::size_t count, double phase) {
    std::vector<double> x(count);
    for (std::size_t n = 0; n < count; ++n) {
        x[n] = amplitude_pa *
               std::sin(2.0 * std::numbers::pi * frequency_hz * static_cast<double>(n) / sample_rate + phase);
    }
    return x;
}

std::vector<double> am_tone(double carrier_hz, double modulation_hz, double depth, double amplitude_pa,
                            std::size_t count) {
    std::vector<double> x(count);
    for (std::size_t n = 0; n < count; ++n) {
        const double t = static_cast<double>(n) / sample_rate;
        x[n] = amplitude_pa * (1.0 + depth * std::sin(2.0 * std::numbers::pi * modulation_hz * t)) /
               (1.0 + depth) * std::sin(2.0 * std::numbers::pi * carrier_hz * t);
    }
    return x;
}

double xorshift::gaussian() {
    const double u = uniform(), v = uniform();
    return std::sqrt(-2.0 * std::log(u)) * std::cos(2.0 * std::numbers::pi * v);
}

std::vector<double> uniform_values(std::size_t count, uint64_t seed) {
    xorshift rng(seed);
    std::vector<double> v(count);
    for (double &x : v) x = 2.0 * rng.uniform() - 1.0;
    return v;
}

namespace {
void scale_to_rms(std::vector<double> &x, double rms_pa) {
    double sum = 0;
    for (double v : x) sum += v * v;
    const double rms = std::sqrt(sum / static_cast<double>(x.size()));
    if (rms > 0)
        for (double &v : x) v *= rms_pa / rms;
}
}  // namespace

std::vector<double> white_noise(double rms_pa, std::size_t count, uint64_t seed) {
    xorshift rng(seed);
    std::vector<double> x(count);
    for (double &v : x) v = rng.gaussian();
    scale_to_rms(x, rms_pa);
    return x;
}

std::vector<double> pink_noise(double rms_pa, std::size_t count, uint64_t seed) {
    // Paul Kellet's economy filter: white noise through three first-order
    // sections, within 0.5 dB of -3 dB/octave over the audio range.
    xorshift rng(seed);
    std::vector<double> x(count);
    double b0 = 0, b1 = 0, b2 = 0;
    for (double &v : x) {
        const double w = rng.gaussian();
        b0 = 0.99765 * b0 + w * 0.0990460;
        b1 = 0.96300 * b1 + w * 0.2965164;
        b2 = 0.57000 * b2 + w * 1.0526913;
        v = b0 + b1 + b2 + w * 0.1848;
    }
    scale_to_rms(x, rms_pa);
    return x;
}

std::vector<double> busy_with_gap(std::size_t count, uint64_t seed) {
    auto x = pink_noise(0.2, count, seed);
    const auto tone = am_tone(1000, 70, 1.0, 0.5, count);
    const auto low = sine(40, 2.0, count);
    for (std::size_t i = 0; i < count; ++i) x[i] += tone[i] + low[i];
    for (std::size_t i = count / 3; i < count / 2; ++i) x[i] = 0;
    return x;
}

double rms_for_level(double level_db) { return 2e-5 * std::pow(10.0, level_db / 20.0); }

}  // namespace qn_test

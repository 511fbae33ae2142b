// Design of the A and C weighting filters at 48 kHz from their analogue
// poles (see weighting.h for the method).
#include "levels/weighting.h"

#include <cmath>
#include <complex>
#include <numbers>

namespace {

constexpr double rate = 48000.0;
constexpr double nyquist = rate / 2;
constexpr double two_pi = 2 * std::numbers::pi;

// Where the low-pass section's squared magnitude equals the analogue one:
// at 0 Hz (so that it passes low frequencies unchanged) and at two points
// in the top octave, placed so that the error between them and below them
// stays smallest up to 20 kHz.
constexpr double match_hz[3] = {0.0, 14000.0, 19500.0};

// The first-order section of an analogue pole s / (s + 2 pi f): the matched
// pole, and the gain that gives the analogue magnitude at the Nyquist
// frequency, where the digital section's is 2 gain / (1 + pole).
qn_highpass_section highpass(double hz) {
    const double pole = std::exp(-two_pi * hz / rate);
    const double analogue_at_nyquist = nyquist / std::sqrt(nyquist * nyquist + hz * hz);
    return {pole, 0.5 * (1 + pole) * analogue_at_nyquist};
}

// The second-order section of the analogue double pole 1 / (1 + s / (2 pi
// f4))^2. Its denominator is the matched double pole. Its squared
// numerator magnitude, B0 + B1 cos w + B2 cos 2w, is solved from the three
// matching points; factored as b0^2 (1 + q1^2 - 2 q1 cos w)(1 + q2^2 - 2 q2
// cos w), it gives the minimum-phase zeros q1, q2 inside the unit circle.
qn_second_order_section double_lowpass(double hz) {
    const double pole = std::exp(-two_pi * hz / rate);
    const double a1 = -2 * pole, a2 = pole * pole;
    double m[3][4];  // rows [1, cos w, cos 2w | target]
    for (int i = 0; i < 3; ++i) {
        const double w = two_pi * match_hz[i] / rate;
        const double re = 1 + a1 * std::cos(w) + a2 * std::cos(2 * w);
        const double im = a1 * std::sin(w) + a2 * std::sin(2 * w);
        const double analogue = hz * hz / (hz * hz + match_hz[i] * match_hz[i]);
        m[i][0] = 1;
        m[i][1] = std::cos(w);
        m[i][2] = std::cos(2 * w);
        m[i][3] = analogue * analogue * (re * re + im * im);
    }
    // Gaussian elimination; the rows are far from dependent, so no pivoting.
    for (int i = 0; i < 3; ++i) {
        for (int r = 0; r < 3; ++r) {
            if (r == i) continue;
            const double f = m[r][i] / m[i][i];
            for (int c = i; c < 4; ++c) m[r][c] -= f * m[i][c];
        }
    }
    const double b_0 = m[0][3] / m[0][0], b_1 = m[1][3] / m[1][1], b_2 = m[2][3] / m[2][2];
    // In c = cos w: 2 B2 c^2 + B1 c + (B0 - B2), with two real roots outside
    // [-1, 1]; each root r gives the zero q = r - sign(r) sqrt(r^2 - 1).
    const double qa = 2 * b_2, qb = b_1, qc = b_0 - b_2;
    const double root = std::sqrt(qb * qb - 4 * qa * qc);
    const double r1 = (-qb + root) / (2 * qa), r2 = (-qb - root) / (2 * qa);
    const double q1 = r1 - std::copysign(std::sqrt(r1 * r1 - 1), r1);
    const double q2 = r2 - std::copysign(std::sqrt(r2 * r2 - 1), r2);
    const double b0 = std::sqrt(b_2 / (2 * q1 * q2));
    return {b0, -b0 * (q1 + q2), b0 * q1 * q2, a1, a2};
}

std::complex<double> response(const qn_highpass_section &s, std::complex<double> z_inv) {
    return s.gain * (1.0 - z_inv) / (1.0 - s.pole * z_inv);
}

std::complex<double> response(const qn_second_order_section &s, std::complex<double> z_inv) {
    return (s.b0 + z_inv * (s.b1 + z_inv * s.b2)) / (1.0 + z_inv * (s.a1 + z_inv * s.a2));
}

// The magnitude without the final gain.
double unscaled(const qn_weighting_filters &f, qn_weighting weighting, double hz) {
    const std::complex<double> z_inv = std::polar(1.0, -two_pi * hz / rate);
    std::complex<double> h = response(f.f1, z_inv) * response(f.f1, z_inv) * response(f.f4, z_inv);
    if (weighting == qn_weighting::a) h *= response(f.f2, z_inv) * response(f.f3, z_inv);
    return std::abs(h);
}

}  // namespace

qn_weighting_filters qn_weighting_design() noexcept {
    qn_weighting_filters f{};
    f.f1 = highpass(qn_weighting_f1);
    f.f4 = double_lowpass(qn_weighting_f4);
    f.f2 = highpass(qn_weighting_f2);
    f.f3 = highpass(qn_weighting_f3);
    f.c_gain = 1 / unscaled(f, qn_weighting::c, 1000.0);
    f.a_gain = 1 / unscaled(f, qn_weighting::a, 1000.0);
    return f;
}

double qn_weighting_magnitude(const qn_weighting_filters &filters, qn_weighting weighting, double hz) noexcept {
    return unscaled(filters, weighting, hz) * (weighting == qn_weighting::a ? filters.a_gain : filters.c_gain);
}

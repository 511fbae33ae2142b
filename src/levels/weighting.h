// The frequency weightings A and C of IEC 61672-1 as digital filters at
// 48 kHz, designed from the standard's analogue definition: a double pole
// at f1 and a double pole at f4 for C, and two further poles at f2 and f3
// for A (with zeros at 0 Hz: four for A, two for C).
//
// The high-pass poles (f1, f2, f3) become first-order sections with the
// matched pole exp(-2 pi f / fs), a zero at 0 Hz, and a gain that gives
// the analogue magnitude at the Nyquist frequency. The double low-pass pole
// at f4, close to the Nyquist frequency, becomes one second-order section
// with the matched double pole and the zeros whose squared magnitude equals
// the analogue one at 0 Hz, 14 kHz and 19.5 kHz. Each weighting is then
// scaled to 0 dB at 1 kHz, which the standard's normalisations A1000 and
// C1000 do for the analogue curves. The curves stay within 0.08 dB of the
// analogue ones from 10 Hz to 20 kHz.
#ifndef QN_LEVELS_WEIGHTING_H
#define QN_LEVELS_WEIGHTING_H

// The analogue pole frequencies of the weightings, Hz.
inline constexpr double qn_weighting_f1 = 20.598997;  // double high-pass pole of A and C
inline constexpr double qn_weighting_f2 = 107.65265;  // high-pass pole of A
inline constexpr double qn_weighting_f3 = 737.86223;  // high-pass pole of A
inline constexpr double qn_weighting_f4 = 12194.217;  // double low-pass pole of A and C

// y[n] = pole y[n-1] + gain (x[n] - x[n-1]).
struct qn_highpass_section {
    double pole, gain;
};

// y[n] = b0 x[n] + b1 x[n-1] + b2 x[n-2] - a1 y[n-1] - a2 y[n-2].
struct qn_second_order_section {
    double b0, b1, b2, a1, a2;
};

// C is f1 twice, then f4, then c_gain. A takes the output of f4 (before
// c_gain) through f2 and f3, then a_gain.
struct qn_weighting_filters {
    qn_highpass_section f1;
    qn_second_order_section f4;
    qn_highpass_section f2, f3;
    double c_gain, a_gain;
};

// The filters at 48 kHz; the same numbers on every call.
qn_weighting_filters qn_weighting_design() noexcept;

enum class qn_weighting { a, c };

// The magnitude of the designed weighting at `hz` (0 ... 24000), gains
// included: 1 at 1 kHz.
double qn_weighting_magnitude(const qn_weighting_filters &filters, qn_weighting weighting, double hz) noexcept;

#endif

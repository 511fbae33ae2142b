// The shape-preserving piecewise cubic (Fritsch and Carlson's slopes) that
// carries the block values of a hearing-model metric to its 50 Hz frames:
// between two points it neither overshoots nor turns back, so a metric that
// is 0 over a stretch stays 0 there. Each engine keeps its own window of
// block values and asks here for the slopes and the values between points;
// the expressions are written once so that every metric interpolates with
// the same arithmetic in the same order.
#ifndef QN_ECMA_PCHIP_H
#define QN_ECMA_PCHIP_H

#include <cmath>
#include <cstdint>

// The slope at an end point from the two intervals beside it: h0 and
// delta0 (the secant) of the nearer one, h1 and delta1 of the next. The
// three-point estimate, 0 where it points against the nearer secant, and at
// most three times that secant where the data turn.
inline double qn_ecma_pchip_end_slope(double h0, double h1, double delta0, double delta1) noexcept {
    const double d = ((2 * h0 + h1) * delta0 - h0 * delta1) / (h0 + h1);
    if (d * delta0 <= 0) return 0.0;
    if (delta0 * delta1 <= 0 && std::fabs(d) > 3 * std::fabs(delta0)) return 3 * delta0;
    return d;
}

// The slope at an inner point between the interval before it (length h0,
// secant delta0) and the one after it (h1, delta1): 0 at a local extreme,
// otherwise the weighted harmonic mean of the two secants.
inline double qn_ecma_pchip_inner_slope(double h0, double h1, double delta0, double delta1) noexcept {
    if (delta0 * delta1 <= 0) return 0.0;
    return 3 * (h0 + h1) / ((2 * h1 + h0) / delta0 + (h1 + 2 * h0) / delta1);
}

// The slope at point i of `count` points (at least 3), whose instants t(j)
// and values y(j) the caller reads from its own window of points: the end
// rule at the first and the last point, the inner rule between.
template <class Time, class Value>
inline double qn_ecma_pchip_slope(uint64_t i, uint64_t count, Time t, Value y) noexcept {
    auto secant = [&](uint64_t j) { return (y(j + 1) - y(j)) / (t(j + 1) - t(j)); };
    const uint64_t last = count - 1;
    if (i == 0) return qn_ecma_pchip_end_slope(t(1) - t(0), t(2) - t(1), secant(0), secant(1));
    if (i == last)
        return qn_ecma_pchip_end_slope(t(last) - t(last - 1), t(last - 1) - t(last - 2), secant(last - 1),
                                       secant(last - 2));
    return qn_ecma_pchip_inner_slope(t(i) - t(i - 1), t(i + 1) - t(i), secant(i - 1), secant(i));
}

// The cubic Hermite value at the fraction s (0 ... 1) of an interval of
// length h from y0 (slope d0) to y1 (slope d1).
inline double qn_ecma_pchip_value(double s, double h, double y0, double y1, double d0, double d1) noexcept {
    const double s2 = s * s, s3 = s2 * s;
    return (2 * s3 - 3 * s2 + 1) * y0 + (s3 - 2 * s2 + s) * h * d0 + (3 * s2 - 2 * s3) * y1 + (s3 - s2) * h * d1;
}

#endif

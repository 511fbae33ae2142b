// The shape-preserving piecewise cubic (Fritsch and Carlson's slopes)
// through a whole array of points, written out for the literal methods of
// the tests: every slope from the whole series, then the value in any
// interval. The engines keep only the points they still need; these
// expressions are the same, so the two agree bit for bit.
#ifndef QN_TESTS_PCHIP_LITERAL_H
#define QN_TESTS_PCHIP_LITERAL_H

#include <cmath>
#include <cstdint>
#include <utility>
#include <vector>

namespace qn_test {

// The whole-array form of the shape-preserving cubic through (t_i, y_i).
struct pchip {
    std::vector<double> t, y, d;

    pchip(std::vector<double> times, std::vector<double> values) : t(std::move(times)), y(std::move(values)) {
        const std::size_t n = t.size();
        std::vector<double> h(n - 1), delta(n - 1);
        for (std::size_t i = 0; i + 1 < n; ++i) {
            h[i] = t[i + 1] - t[i];
            delta[i] = (y[i + 1] - y[i]) / h[i];
        }
        d.assign(n, 0.0);
        for (std::size_t i = 1; i + 1 < n; ++i) {
            if (delta[i - 1] * delta[i] <= 0) continue;
            d[i] = 3 * (h[i - 1] + h[i]) / ((2 * h[i] + h[i - 1]) / delta[i - 1] + (h[i] + 2 * h[i - 1]) / delta[i]);
        }
        d[0] = end_slope(h[0], h[1], delta[0], delta[1]);
        d[n - 1] = end_slope(h[n - 2], h[n - 3], delta[n - 2], delta[n - 3]);
    }

    static double end_slope(double h0, double h1, double d0, double d1) {
        double d = ((2 * h0 + h1) * d0 - h0 * d1) / (h0 + h1);
        if (d * d0 <= 0) d = 0;
        else if (d0 * d1 <= 0 && std::fabs(d) > 3 * std::fabs(d0)) d = 3 * d0;
        return d;
    }

    // The value at time x in interval i.
    double at(std::size_t i, double x) const {
        const double h = t[i + 1] - t[i];
        const double s = (x - t[i]) / h, s2 = s * s, s3 = s2 * s;
        return (2 * s3 - 3 * s2 + 1) * y[i] + (s3 - 2 * s2 + s) * h * d[i] + (3 * s2 - 2 * s3) * y[i + 1] +
               (s3 - s2) * h * d[i + 1];
    }
};

// Block values (blocks x bands, block-major) at the block instants
// `times`, interpolated band by band at the 50 Hz frames k / 50 s, k <
// frames (frames x bands), negative values replaced by 0. A frame lies in
// the first interval that ends at or after it, the last interval taking
// the frames beyond.
inline std::vector<double> frames_from_blocks(const std::vector<double> &times, const std::vector<double> &values,
                                              int bands, uint64_t frames) {
    const std::size_t blocks = times.size();
    std::vector<double> out(frames * bands, 0.0);
    for (int b = 0; b < bands; ++b) {
        std::vector<double> y(blocks);
        for (std::size_t i = 0; i < blocks; ++i) y[i] = values[i * bands + b];
        const pchip curve(times, y);
        std::size_t interval = 0;
        for (uint64_t k = 0; k < frames; ++k) {
            const double t = static_cast<double>(k) / 50.0;
            while (interval + 2 < blocks && !(t <= times[interval + 1])) ++interval;
            double v = curve.at(interval, t);
            if (v < 0) v = 0;
            out[k * bands + b] = v;
        }
    }
    return out;
}

}  // namespace qn_test

#endif

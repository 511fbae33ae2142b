#include "support/sound_levels_literal.h"

#include <cmath>

#include "levels/weighting.h"
#include "quarnelo.h"

namespace qn_test {

namespace {

std::vector<double> highpass(const qn_highpass_section &s, const std::vector<double> &x) {
    std::vector<double> y(x.size());
    double x1 = 0, y1 = 0;
    for (std::size_t n = 0; n < x.size(); ++n) {
        y[n] = s.pole * y1 + s.gain * (x[n] - x1);
        x1 = x[n];
        y1 = y[n];
    }
    return y;
}

std::vector<double> second_order(const qn_second_order_section &s, const std::vector<double> &x) {
    std::vector<double> y(x.size());
    double x1 = 0, x2 = 0, y1 = 0, y2 = 0;
    for (std::size_t n = 0; n < x.size(); ++n) {
        y[n] = (((s.b0 * x[n] + s.b1 * x1) + s.b2 * x2) - s.a2 * y2) - s.a1 * y1;
        x2 = x1;
        x1 = x[n];
        y2 = y1;
        y1 = y[n];
    }
    return y;
}

std::vector<double> scaled(double gain, std::vector<double> x) {
    for (double &v : x) v *= gain;
    return x;
}

std::vector<double> exponential(double tau, const std::vector<double> &x) {
    const double k = std::exp(-1.0 / (48000.0 * tau));
    std::vector<double> m(x.size());
    double previous = 0;
    for (std::size_t n = 0; n < x.size(); ++n) previous = m[n] = k * previous + (1 - k) * (x[n] * x[n]);
    return m;
}

double level(double mean_square) { return 10 * std::log10(mean_square / 4e-10); }

double equivalent(const std::vector<double> &x) {
    double sum = 0;
    for (double v : x) sum += v * v;
    return level(sum / static_cast<double>(x.size()));
}

}  // namespace

literal_sound_levels sound_levels_literal(const std::vector<double> &x) {
    const qn_weighting_filters f = qn_weighting_design();
    const auto low = second_order(f.f4, highpass(f.f1, highpass(f.f1, x)));
    const auto c = scaled(f.c_gain, low);
    const auto a = scaled(f.a_gain, highpass(f.f3, highpass(f.f2, low)));
    const auto fast = exponential(0.125, a), slow = exponential(1.0, a);

    literal_sound_levels r;
    r.levels.resize(QN_SOUND_LEVELS);
    r.levels[QN_LEVEL_LZEQ] = equivalent(x);
    r.levels[QN_LEVEL_LAEQ] = equivalent(a);
    r.levels[QN_LEVEL_LCEQ] = equivalent(c);
    double fast_max = 0, slow_max = 0, fast_min = INFINITY, peak = 0;
    for (std::size_t n = 0; n < x.size(); ++n) {
        fast_max = std::fmax(fast_max, fast[n]);
        slow_max = std::fmax(slow_max, slow[n]);
        if (n >= 48000) fast_min = std::fmin(fast_min, fast[n]);
        peak = std::fmax(peak, std::fabs(c[n]));
    }
    r.levels[QN_LEVEL_LAFMAX] = level(fast_max);
    r.levels[QN_LEVEL_LASMAX] = level(slow_max);
    r.levels[QN_LEVEL_LAFMIN] = level(x.size() > 48000 ? fast_min : fast.back());
    r.levels[QN_LEVEL_LCPEAK] = 20 * std::log10(peak / 2e-5);
    for (std::size_t n = 480; n < x.size(); n += 480) {
        r.laf.push_back(level(fast[n]));
        r.las.push_back(level(slow[n]));
    }
    return r;
}

}  // namespace qn_test

// Sound levels: the Z signal, its C weighting and its A weighting sample by
// sample, the sums of their squares, the F and S time weighting of A with
// their extremes at every sample, the peak of C, and a point of LAF and LAS
// every 10 ms.
#include "levels/sound_levels.h"

#include <algorithm>
#include <cfloat>
#include <cmath>

#include "base/checks.h"

namespace {

constexpr double fast_feedback = qn_sound_level_fast_feedback, fast_input = 1 - fast_feedback;
constexpr double slow_feedback = qn_sound_level_slow_feedback, slow_input = 1 - slow_feedback;

constexpr uint64_t step = qn_sound_level_step;
constexpr uint64_t settling = qn_sound_level_settling;

// -log10((20 uPa)^2): a mean square of 1 Pa^2 is 93.98 dB.
constexpr double reference_decades = 9.397940008672037;
constexpr double reference_peak_decades = reference_decades / 2;

// Runs n samples; with Min, the minimum of the F mean square follows too.
// The state is held in locals for the run, so that the recursions stay in
// registers.
template <bool Min>
void run_samples(qn_sound_level_state &s, const double *x, uint64_t n) {
    const qn_highpass_section f1 = s.filters.f1, f2 = s.filters.f2, f3 = s.filters.f3;
    const qn_second_order_section lp = s.filters.f4;
    const double c_gain = s.filters.c_gain, a_gain = s.filters.a_gain;
    double x1 = s.x1, f1a = s.f1a, f1b = s.f1b, f1b_2 = s.f1b_2, low = s.low, low_2 = s.low_2;
    double f2s = s.f2, f3s = s.f3, fast = s.fast, slow = s.slow;
    double sum_z = s.sum_z, sum_a = s.sum_a, sum_c = s.sum_c;
    double fast_max = s.fast_max, slow_max = s.slow_max, fast_min = s.fast_min, c_peak = s.c_peak;
    for (uint64_t i = 0; i < n; ++i) {
        const double z = x[i];
        const double h1 = f1.pole * f1a + f1.gain * (z - x1);
        const double h2 = f1.pole * f1b + f1.gain * (h1 - f1a);
        // The feedback of the last output is added last: the recursion's
        // own chain is one product and one sum long.
        const double u = (((lp.b0 * h2 + lp.b1 * f1b) + lp.b2 * f1b_2) - lp.a2 * low_2) - lp.a1 * low;
        const double h3 = f2.pole * f2s + f2.gain * (u - low);
        const double h4 = f3.pole * f3s + f3.gain * (h3 - f2s);
        x1 = z;
        f1a = h1;
        f1b_2 = f1b;
        f1b = h2;
        low_2 = low;
        low = u;
        f2s = h3;
        f3s = h4;

        const double c = c_gain * u;
        const double a = a_gain * h4;
        const double a2 = a * a;
        sum_z += z * z;
        sum_a += a2;
        sum_c += c * c;
        fast = fast_feedback * fast + fast_input * a2;
        slow = slow_feedback * slow + slow_input * a2;
        fast_max = std::max(fast_max, fast);
        slow_max = std::max(slow_max, slow);
        if constexpr (Min) fast_min = std::min(fast_min, fast);
        c_peak = std::max(c_peak, std::fabs(c));
    }
    s.x1 = x1;
    s.f1a = f1a;
    s.f1b = f1b;
    s.f1b_2 = f1b_2;
    s.low = low;
    s.low_2 = low_2;
    s.f2 = f2s;
    s.f3 = f3s;
    s.fast = fast;
    s.slow = slow;
    s.sum_z = sum_z;
    s.sum_a = sum_a;
    s.sum_c = sum_c;
    s.fast_max = fast_max;
    s.slow_max = slow_max;
    s.fast_min = fast_min;
    s.c_peak = c_peak;
    s.samples += n;
}

// Every value of the state that a non-finite intermediate would reach: a
// non-finite filter output stays in its section's memory (or turns the sums
// non-finite), and the sums and time weightings only keep what they get.
bool all_finite(const qn_sound_level_state &s) {
    const double values[] = {s.x1,  s.f1a,   s.f1b,   s.f1b_2,    s.low,      s.low_2,    s.f2,       s.f3,
                             s.fast, s.slow, s.sum_z, s.sum_a,    s.sum_c,    s.fast_max, s.slow_max, s.c_peak};
    for (double v : values)
        if (!qn_is_finite(v)) return false;
    return true;
}

}  // namespace

void qn_sound_level_start(qn_sound_level_state *state) noexcept {
    *state = qn_sound_level_state{};
    state->filters = qn_weighting_design();
    // Finite, so that the state's check passes; replaced by the first F
    // mean square after settling.
    state->fast_min = DBL_MAX;
}

uint64_t qn_sound_level_points_in(const qn_sound_level_state &state, uint64_t count) noexcept {
    // Points at samples 480 j, j >= 1, with samples <= 480 j < samples + count.
    if (count == 0) return 0;
    const uint64_t last = state.samples + count - 1;
    const uint64_t before = state.samples == 0 ? 0 : (state.samples - 1) / step;
    return last / step - before;
}

bool qn_sound_level_run(qn_sound_level_state *state, const double *x, uint64_t count, double *laf,
                        double *las) noexcept {
    qn_sound_level_state &s = *state;
    uint64_t done = 0, points = 0;
    while (done < count) {
        const uint64_t at = s.samples;
        // The next point's sample (at or after `at`, never sample 0), and
        // the settling sample, end a run of samples.
        const uint64_t point = at < step ? step : (at + step - 1) / step * step;
        uint64_t end = std::min(point + 1, at + (count - done));
        if (at < settling) end = std::min(end, settling);
        if (at < settling) {
            run_samples<false>(s, x + done, end - at);
        } else {
            run_samples<true>(s, x + done, end - at);
        }
        done += end - at;
        if (end == point + 1) {
            if (laf != nullptr) laf[points] = qn_sound_level_of(s.fast);
            if (las != nullptr) las[points] = qn_sound_level_of(s.slow);
            ++points;
        }
    }
    return all_finite(s);
}

double qn_sound_level_of(double mean_square) noexcept {
    return 10.0 * (std::log10(mean_square) + reference_decades);
}

void qn_sound_level_results(const qn_sound_level_state &s, double *levels) noexcept {
    const double n = static_cast<double>(s.samples);
    levels[QN_LEVEL_LZEQ] = qn_sound_level_of(s.sum_z / n);
    levels[QN_LEVEL_LAEQ] = qn_sound_level_of(s.sum_a / n);
    levels[QN_LEVEL_LCEQ] = qn_sound_level_of(s.sum_c / n);
    levels[QN_LEVEL_LAFMAX] = qn_sound_level_of(s.fast_max);
    levels[QN_LEVEL_LASMAX] = qn_sound_level_of(s.slow_max);
    // Before settling the F level still rises from rest; a shorter signal
    // has only its last sample's level.
    levels[QN_LEVEL_LAFMIN] = qn_sound_level_of(s.samples > settling ? s.fast_min : s.fast);
    levels[QN_LEVEL_LCPEAK] = 20.0 * (std::log10(s.c_peak) + reference_peak_decades);
}

// Fluctuation of one band in one block, from the 2048-sample envelope: the
// analysis window that leaves out the block's quiet stretches, the
// spectrum of the windowed envelope, the candidate modulation rates, the
// lines fitted at them, the dominant rate tuned between bins, and the
// harmonic complex around it.
#include <algorithm>
#include <cmath>

#include "base/alloc.h"
#include "base/checks.h"
#include "ecma/fluctuation.h"

namespace {

constexpr int points = qn_ecma_fluct_points;
constexpr double bin_hz = qn_ecma_fluct_bin_hz;

// The window: guards of 64 samples at each end, a median over 33 samples
// that smooths the envelope before it is judged, and the envelope's
// decimals that count.
constexpr int guard = 64;
constexpr double decimals = 1e8;
// A block whose smoothed envelope stays at or below 5 uPa is silent.
constexpr double silent_pa = 5e-6;
// Samples below 1 % of the largest are quiet; a quiet run of more than 320
// samples (0.21 s) splits the window, and the part kept keeps 64 samples
// away from it.
constexpr double quiet_fraction = 0.01;
constexpr int long_run = 320;
// A window needs 320 samples, must reach sample 511, and its envelope must
// move: the residuals of a straight line through it (10 samples in from
// either end) must vary by 0.1 % of its mean.
constexpr int shortest_window = 320;
constexpr int latest_end = 511;
constexpr int fit_margin = 10;
constexpr double least_variation = 1e-3;

// Candidate rates: maxima of the spectrum above 0.1 % of its constant bin
// and above an absolute floor; the error of a single pair on a grid of
// rates a third of an octave apart, 0.198 ... 6.35 Hz.
constexpr double peak_fraction = 0.001;
constexpr double peak_floor = 0.15;
constexpr int grid_count = qn_ecma_fluct_grid_count;
constexpr double near_bins = 1.25;  // a maximum this close to the grid minimum is the same line
constexpr double line_fraction = 0.05;

// A dominant rate tuned below 0.125 Hz is no modulation.
constexpr double slowest_hz = 0.125;

// The harmonic complex: orders of the fundamental tried, highest harmonic,
// tolerance, and the widening of a complex whose centre of gravity lies
// away from its dominant rate.
constexpr int orders = 3;
constexpr int highest_harmonic = 5;
constexpr double harmonic_tolerance = 0.04;
constexpr double spread_factor = 0.79577;
constexpr double spread_exponent = 0.43461;

double round_decimals(double x) { return std::round(x * decimals) / decimals; }

// The window of a non-silent block, before the test that its envelope
// moves: false when the block is quiet or the window too short.
struct window {
    int lead, tail;  // n_b, n_e
    int a, b;        // the samples of the straight line's fit
};

bool choose_window(const double *smooth, window *w) {
    // The largest value, in four running maxima side by side (a maximum
    // does not depend on the order; the values are not below zero).
    double largest[4] = {0, 0, 0, 0};
    for (int i = 0; i < points; i += 4)
        for (int t = 0; t < 4; ++t) largest[t] = std::max(largest[t], smooth[i + t]);
    const double highest = std::max(std::max(largest[0], largest[1]), std::max(largest[2], largest[3]));
    if (!(highest > silent_pa)) return false;
    const double threshold = round_decimals(quiet_fraction * highest);
    int first = guard, last = points - 1 - guard;
    while (smooth[first] < threshold) ++first;
    while (smooth[last] < threshold) --last;
    // The longest run of quiet samples (the first of equal ones).
    int run_first = -1, run_last = -1;
    for (int i = first; i <= last;) {
        if (!(smooth[i] < threshold)) {
            ++i;
            continue;
        }
        int j = i;
        while (j + 1 <= last && smooth[j + 1] < threshold) ++j;
        if (j - i + 1 > long_run && (run_first < 0 || j - i > run_last - run_first)) {
            run_first = i;
            run_last = j;
        }
        i = j + 1;
    }
    int n_b = first, n_e = points - 1 - last;
    if (run_first >= 0) {
        if (run_first - (n_b + guard) > (points - 1 - n_e - guard) - run_last) n_e = points - 1 - run_first + guard;
        else n_b = run_last + guard;
    }
    const int width = points - n_b - n_e, end = points - 1 - n_e;
    if (width < shortest_window || end < latest_end) return false;
    *w = window{n_b, n_e, n_b + fit_margin, end - fit_margin};
    return true;
}

// The test that the envelope moves in its window: the residuals of a
// straight line through it must vary. As the method states it, each sum
// runs in order of the samples, one chain of additions after another; of
// two bands' envelopes at once, their chains run side by side.
struct line_fit {
    const double *smooth;
    window w;
    bool live;  // not yet failed
    double mean, slope;
};

// Sums over the samples of each live fit's window in order into sums[j]
// (Sums: one or two accumulators, from zero), step(fit, i, sums) adding
// sample i's terms; the two fits' samples taken in step while both have
// them. The sums are locals so that they stay in registers (the samples
// could otherwise be the fits' own members).
template <class Sums, class Step>
void sum_windows(const line_fit *fits, int count, Sums *sums, Step step) {
    for (int j = 0; j < count; ++j) sums[j] = Sums{};
    if (count == 2 && fits[0].live && fits[1].live) {
        const line_fit &f = fits[0], &g = fits[1];
        Sums x{}, y{};
        const int common = std::min(f.w.b - f.w.a, g.w.b - g.w.a) + 1;
        for (int k = 0; k < common; ++k) {
            step(f, f.w.a + k, x);
            step(g, g.w.a + k, y);
        }
        for (int i = f.w.a + common; i <= f.w.b; ++i) step(f, i, x);
        for (int i = g.w.a + common; i <= g.w.b; ++i) step(g, i, y);
        sums[0] = x;
        sums[1] = y;
        return;
    }
    for (int j = 0; j < count; ++j) {
        if (!fits[j].live) continue;
        Sums x{};
        for (int i = fits[j].w.a; i <= fits[j].w.b; ++i) step(fits[j], i, x);
        sums[j] = x;
    }
}

// The same test with each sum split over eight accumulators, which the
// processor adds side by side: 1 (moves) or 0 (does not) where the ratio
// lies clear of the limit by a millionth of it, far more than the two
// orders of summation can move it (near the limit the envelope is nearly a
// straight line, and they move it by less than 1e-9); -1 where it does not
// or a value is not finite, for the sums in order to decide.
int moves_clearly(const line_fit &f) {
    constexpr int ways = 8;
    const int a = f.w.a, b = f.w.b, count = b - a + 1;
    const double *s = f.smooth;
    const double centre = 0.5 * (a + b);
    double sum[ways] = {};
    int i = a;
    for (; i + ways <= b + 1; i += ways)
        for (int u = 0; u < ways; ++u) sum[u] += s[i + u];
    for (; i <= b; ++i) sum[0] += s[i];
    double total = 0;
    for (double v : sum) total += v;
    const double mean = total / count;
    if (!(mean > 0) || !qn_is_finite(mean)) return -1;
    // The offsets from the centre are whole or half numbers, exact as they
    // step on.
    double st[ways] = {}, tt[ways] = {}, offset[ways];
    for (int u = 0; u < ways; ++u) offset[u] = (a + u) - centre;
    for (i = a; i + ways <= b + 1; i += ways)
        for (int u = 0; u < ways; ++u) {
            const double t = offset[u];
            st[u] += t * (s[i + u] - mean);
            tt[u] += t * t;
            offset[u] = t + ways;
        }
    for (; i <= b; ++i) {
        const double t = i - centre;
        st[0] += t * (s[i] - mean);
        tt[0] += t * t;
    }
    double moment = 0, spread = 0;
    for (int u = 0; u < ways; ++u) {
        moment += st[u];
        spread += tt[u];
    }
    const double slope = moment / spread;
    double squares[ways] = {};
    for (int u = 0; u < ways; ++u) offset[u] = (a + u) - centre;
    for (i = a; i + ways <= b + 1; i += ways)
        for (int u = 0; u < ways; ++u) {
            const double r = s[i + u] - (mean + slope * offset[u]);
            squares[u] += r * r;
            offset[u] += ways;
        }
    for (; i <= b; ++i) {
        const double r = s[i] - (mean + slope * (i - centre));
        squares[0] += r * r;
    }
    double square_sum = 0;
    for (double v : squares) square_sum += v;
    const double ratio = std::sqrt(square_sum / count) / mean;
    if (!qn_is_finite(ratio)) return -1;
    if (ratio >= least_variation * (1 + 1e-6)) return 1;
    if (ratio < least_variation * (1 - 1e-6)) return 0;
    return -1;
}

void test_moves_in_order(line_fit *fits, int count) {
    struct one {
        double sum;
    };
    struct two {
        double st, tt;
    };
    one means[2], squares[2];
    two moments[2];
    sum_windows(fits, count, means, [](const line_fit &f, int i, one &m) { m.sum += f.smooth[i]; });
    for (int j = 0; j < count; ++j) {
        line_fit &f = fits[j];
        if (!f.live) continue;  // no window
        f.mean = means[j].sum / (f.w.b - f.w.a + 1);
        f.live = f.mean > 0;
    }
    sum_windows(fits, count, moments, [](const line_fit &f, int i, two &m) {
        const double t = i - 0.5 * (f.w.a + f.w.b);
        m.st += t * (f.smooth[i] - f.mean);
        m.tt += t * t;
    });
    for (int j = 0; j < count; ++j)
        if (fits[j].live) fits[j].slope = moments[j].st / moments[j].tt;
    sum_windows(fits, count, squares, [](const line_fit &f, int i, one &m) {
        const double r = f.smooth[i] - (f.mean + f.slope * (i - 0.5 * (f.w.a + f.w.b)));
        m.sum += r * r;
    });
    for (int j = 0; j < count; ++j) {
        line_fit &f = fits[j];
        if (f.live) f.live = std::sqrt(squares[j].sum / (f.w.b - f.w.a + 1)) / f.mean >= least_variation;
    }
}

// The test that the envelope moves in its window: decided by the fast sums
// where they are clear, by the sums in order elsewhere.
void test_moves(line_fit *fits, int count) {
    line_fit unsure[2];
    int unsure_index[2], unsure_count = 0;
    for (int j = 0; j < count; ++j) {
        if (!fits[j].live) continue;
        const int clear = moves_clearly(fits[j]);
        if (clear >= 0) {
            fits[j].live = clear == 1;
        } else {
            unsure_index[unsure_count] = j;
            unsure[unsure_count++] = fits[j];
        }
    }
    if (unsure_count == 0) return;
    test_moves_in_order(unsure, unsure_count);
    for (int u = 0; u < unsure_count; ++u) fits[unsure_index[u]].live = unsure[u].live;
}

struct line {
    double rate;    // Hz
    double power;   // A = |c|^2, Pa^2
    double weight;  // A w(rate)
};


// The smoothed envelopes of `count` (1 or 2) bands and, unless a block is
// quiet, their windows (windowed[j]). False when a value is not finite.
bool smooth_windows(const double *const *envelopes, int count, qn_ecma_fluct_band_work *work, window *w,
                    bool *windowed) {
    for (int j = 0; j < count; ++j) {
        windowed[j] = false;
        for (int i = 0; i < points; ++i)
            if (!qn_is_finite(envelopes[j][i])) return false;
        double *smooth = work->smooth[j];
        std::fill(smooth, smooth + guard, 0.0);
        std::fill(smooth + points - guard, smooth + points, 0.0);
    }
    // The centred running median of 33 samples; its windows lie within the
    // block wherever it is not zeroed.
    if (count == 2) work->kernels->median_pair(envelopes[0], work->smooth[0], envelopes[1], work->smooth[1]);
    else work->kernels->median(envelopes[0], work->smooth[0]);
    for (int j = 0; j < count; ++j) {
        double *smooth = work->smooth[j];
        // Rounding multiplies by 1e8: envelopes near the largest double
        // overflow here rather than pass for silence.
        if (!work->kernels->round_decimals(smooth + guard, points - 2 * guard)) return false;
        windowed[j] = choose_window(smooth, &w[j]);
    }
    return true;
}

// The analysis of an envelope in its window.
bool analyse(const double *envelope, uint64_t band, int lead, int tail, qn_ecma_fluct_band_work *work,
             qn_ecma_fluct_band_result *result) {
    // The spectrum of the raw envelope in its window.
    double *x = work->windowed;
    std::fill(x, x + points, 0.0);
    std::copy(envelope + lead, envelope + points - tail, x + lead);
    if (!qn_fft_rforward(work->plan, x, 1.0)) return false;
    qn_ecma_fluct_spectrum &s = work->spectrum;
    s.re[0] = x[0];
    s.im[0] = 0;
    for (int k = 1; k < qn_ecma_fluct_bins; ++k) {
        s.re[k] = x[2 * k - 1];
        s.im[k] = x[2 * k];
    }
    qn_ecma_fluct_spectrum_prepare(&s, lead, tail, work->turns, work->path);
    if (!qn_is_finite(s.power_sum[qn_ecma_fluct_bins]) || !qn_is_finite(s.zero_rhs[qn_ecma_fluct_bins])) return false;
    const double *power = s.power;

    // Maxima of the spectrum, each at the power centroid of its three bins.
    double maxima[qn_ecma_fluct_max_lines];
    int maximum_count = 0;
    const double floor = std::max(peak_fraction * power[0], peak_floor);
    for (int k = 1; k <= qn_ecma_fluct_bins - 2; ++k) {
        if (!(power[k] > power[k - 1] && power[k] > power[k + 1] && power[k] >= floor)) continue;
        const double total = power[k - 1] + power[k] + power[k + 1];
        maxima[maximum_count++] = bin_hz * ((k - 1) * power[k - 1] + k * power[k] + (k + 1) * power[k + 1]) / total;
    }

    // The single pair's error on the grid, and its deepest interior minimum.
    const double *grid = work->grid_rate;
    double grid_error[grid_count + 2];
    if (work->grid_lead != lead || work->grid_tail != tail) {
        for (int i = 1; i <= grid_count; ++i) work->grid_terms[i] = qn_ecma_fluct_terms(s, grid[i]);
        work->grid_lead = lead;
        work->grid_tail = tail;
    }
    for (int i = 1; i <= grid_count; ++i) {
        qn_ecma_fluct_fit grid_fit;
        qn_ecma_fluct_fit_pair_terms(s, work->grid_terms[i], work->grid_bins[i], &grid_fit);
        grid_error[i] = grid_fit.error;
        if (!qn_is_finite(grid_error[i])) return false;
    }
    double minimum_rate = 0;
    bool have_minimum = false;
    double deepest = 0;
    for (int i = 2; i < grid_count; ++i) {
        if (!(grid_error[i] < grid_error[i - 1] && grid_error[i] < grid_error[i + 1])) continue;
        if (!have_minimum || grid_error[i] < deepest) {
            have_minimum = true;
            deepest = grid_error[i];
            minimum_rate = grid[i];
        }
    }
    if (!have_minimum && maximum_count == 0) return true;

    // The candidates: the maxima, with the grid minimum in place of those
    // near it when that explains the spectrum at least as well, or added.
    double candidates[qn_ecma_fluct_max_lines];
    int candidate_count = 0;
    qn_ecma_fluct_fit fit;
    auto sorted_fit = [&](double *rates, int count, qn_ecma_fluct_fit *f) {
        std::sort(rates, rates + count);
        return qn_ecma_fluct_fit_lines(s, rates, count, qn_ecma_fluct_solve_bins(rates[count - 1]), &work->lines, f);
    };
    if (!have_minimum) {
        std::copy(maxima, maxima + maximum_count, candidates);
        candidate_count = maximum_count;
        if (!sorted_fit(candidates, candidate_count, &fit)) return false;
    } else {
        double replaced[qn_ecma_fluct_max_lines];
        int replaced_count = 0;
        bool near = false;
        replaced[replaced_count++] = minimum_rate;
        for (int m = 0; m < maximum_count; ++m) {
            if (std::fabs(maxima[m] - minimum_rate) <= near_bins * bin_hz) near = true;
            else replaced[replaced_count++] = maxima[m];
        }
        if (near) {
            qn_ecma_fluct_fit with_minimum, maxima_only;
            if (!sorted_fit(replaced, replaced_count, &with_minimum)) return false;
            std::copy(maxima, maxima + maximum_count, candidates);
            if (!sorted_fit(candidates, maximum_count, &maxima_only)) return false;
            if (with_minimum.error <= maxima_only.error) {
                std::copy(replaced, replaced + replaced_count, candidates);
                candidate_count = replaced_count;
                fit = with_minimum;
            } else {
                candidate_count = maximum_count;
                fit = maxima_only;
            }
        } else {
            std::copy(maxima, maxima + maximum_count, candidates);
            candidates[maximum_count] = minimum_rate;
            candidate_count = maximum_count + 1;
            if (!sorted_fit(candidates, candidate_count, &fit)) return false;
        }
    }

    // The lines that carry at least 5 % of the strongest one's power.
    const double gain = qn_ecma_fluct_band_gain(band);
    line lines[qn_ecma_fluct_max_lines];
    double strongest = 0;
    for (int m = 0; m < candidate_count; ++m) {
        const double a = fit.line_re[m] * fit.line_re[m] + fit.line_im[m] * fit.line_im[m];
        if (!qn_is_finite(a)) return false;
        lines[m] = line{candidates[m], a, 0.0};
        strongest = std::max(strongest, a);
    }
    int line_count = 0;
    for (int m = 0; m < candidate_count; ++m)
        if (lines[m].power > line_fraction * strongest) lines[line_count++] = lines[m];
    if (line_count == 0) return true;
    int dominant = 0;
    for (int m = 0; m < line_count; ++m) {
        lines[m].weight = lines[m].power * qn_ecma_fluct_rate_weight(lines[m].rate, gain);
        if (lines[m].weight > lines[dominant].weight) dominant = m;
    }

    // The dominant rate between bins.
    const double start = lines[dominant].rate;
    double tuned = qn_ecma_fluct_tune_rate(s, start);
    if (!(std::fabs(tuned - start) <= near_bins * bin_hz)) tuned = start;
    if (!(tuned >= slowest_hz)) return true;
    qn_ecma_fluct_fit_pair(s, tuned, qn_ecma_fluct_solve_bins(tuned), &fit);
    lines[dominant].rate = tuned;
    lines[dominant].power = fit.line_re[0] * fit.line_re[0] + fit.line_im[0] * fit.line_im[0];
    lines[dominant].weight = lines[dominant].power * qn_ecma_fluct_rate_weight(tuned, gain);

    // The harmonic complex: the order of the fundamental whose harmonics
    // among the lines weigh most, one line per harmonic.
    auto harmonic = [](double rate, double fundamental, double *deviation) {
        const double r = std::round(rate / fundamental);
        if (!(r >= 1 && r <= highest_harmonic)) return 0;
        *deviation = std::fabs(rate / (r * fundamental) - 1);
        return *deviation < harmonic_tolerance ? static_cast<int>(r) : 0;
    };
    int best_order = 1;
    double best_energy = -1;
    for (int o = 1; o <= orders; ++o) {
        const double fundamental = tuned / o;
        double energy = 0, deviation;
        for (int m = 0; m < line_count; ++m)
            if (harmonic(lines[m].rate, fundamental, &deviation) > 0) energy += lines[m].weight;
        if (energy > best_energy) {
            best_energy = energy;
            best_order = o;
        }
    }
    const double fundamental = tuned / best_order;
    bool present[highest_harmonic + 1] = {};
    for (int m = 0; m < line_count; ++m) {
        double deviation = 0;
        present[harmonic(lines[m].rate, fundamental, &deviation)] = true;
    }
    // Each harmonic refitted alone at its exact multiple of the fundamental,
    // so that lines near the same multiple count once; the dominant line's
    // harmonic is the tuned rate itself. The centre of gravity is taken
    // relative to the tuned rate: the widening's small power would turn a
    // rounding residue of a difference of two near rates into a factor of
    // 1 + 1e-7.
    double constant = 0, power_sum = 0, weight_sum = 0, moment = 0;
    int fitted = 0;
    for (int r = 1; r <= highest_harmonic; ++r) {
        if (!present[r]) continue;
        const double rate = r == best_order ? tuned : r * fundamental;
        qn_ecma_fluct_fit_pair(s, rate, qn_ecma_fluct_solve_bins(rate), &fit);
        const double a = fit.line_re[0] * fit.line_re[0] + fit.line_im[0] * fit.line_im[0];
        const double weighted = a * qn_ecma_fluct_rate_weight(rate, gain);
        constant += fit.constant;
        power_sum += a;
        weight_sum += weighted;
        moment += (rate - tuned) * weighted;
        ++fitted;
    }
    constant /= fitted;
    double widening = 1;
    if (weight_sum > 0) widening = 1 + spread_factor * std::pow(std::fabs(moment / weight_sum), spread_exponent);
    result->weighted = widening * weight_sum;
    result->power = constant * constant + 2 * power_sum;
    result->reached = true;
    return qn_is_finite(result->weighted) && qn_is_finite(result->power);
}

}  // namespace

bool qn_ecma_fluct_bands(const double *const *envelopes, const uint64_t *bands, int count,
                         qn_ecma_fluct_band_work *work, qn_ecma_fluct_band_result *results) noexcept {
    line_fit fits[2] = {};
    window windows[2] = {};
    bool windowed[2] = {false, false};
    for (int j = 0; j < count; ++j) results[j] = qn_ecma_fluct_band_result{false, 0.0, 0.0};
    if (!smooth_windows(envelopes, count, work, windows, windowed)) return false;
    for (int j = 0; j < count; ++j) {
        fits[j].smooth = work->smooth[j];
        fits[j].w = windows[j];
        fits[j].live = windowed[j];
    }
    test_moves(fits, count);
    for (int j = 0; j < count; ++j)
        if (fits[j].live && !analyse(envelopes[j], bands[j], fits[j].w.lead, fits[j].w.tail, work, &results[j]))
            return false;
    return true;
}

bool qn_ecma_fluct_band(const double *envelope, uint64_t band, qn_ecma_fluct_band_work *work,
                        qn_ecma_fluct_band_result *result) noexcept {
    return qn_ecma_fluct_bands(&envelope, &band, 1, work, result);
}

qn_ecma_fluct_band_work *qn_ecma_fluct_band_work_make(qn_simd path) noexcept {
    qn_ecma_fluct_band_work *work = qn_alloc_object<qn_ecma_fluct_band_work>();
    if (work == nullptr) return nullptr;
    work->plan = qn_fft_rplan_make(points);
    if (work->plan == nullptr) {
        qn_free_object(work);
        return nullptr;
    }
    work->path = path;
    work->kernels = &qn_ecma_fluct_kernels_for(path);
    qn_ecma_fluct_turns_fill(&work->turns);
    for (int i = 1; i <= grid_count; ++i) {
        work->grid_rate[i] = 0.25 * std::exp2((i - 2) / 3.0);
        work->grid_bins[i] = qn_ecma_fluct_solve_bins(work->grid_rate[i]);
    }
    work->grid_lead = work->grid_tail = -1;
    return work;
}

void qn_ecma_fluct_band_work_free(qn_ecma_fluct_band_work *work) noexcept {
    if (work == nullptr) return;
    qn_fft_rplan_free(work->plan);
    qn_free_object(work);
}

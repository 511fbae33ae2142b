// The line-pair model of a block's envelope spectrum: the kernel, the
// normal equations of a set of lines and their solves, and the weighting of
// modulation rates.
#include <algorithm>
#include <cmath>
#include <cstring>
#include <utility>

#include "ecma/fluctuation.h"
#include "ecma/front_end.h"

namespace {

constexpr int points = qn_ecma_fluct_points;
constexpr int max_bins = qn_ecma_fluct_bins;
constexpr int max_unknowns = 2 * qn_ecma_fluct_max_lines + 1;

// phi is offset by 1e-12, so that a rate on a bin never gives 0 / 0.
constexpr double phi_offset = 1e-12;

// A pivot below this share of its column's own weight means the column is
// (to rounding) a combination of those already taken.
constexpr double pivot_floor = 1e-12;

// Below this determinant the equilibrated 3 x 3 equations are left to the
// pivoted solve.
constexpr double determinant_floor = 1e-12;

// Within half a bin of a rate the kernel's sines are evaluated directly:
// the angle addition loses its relative accuracy where sin(pi phi) is
// small.
constexpr double direct_reach = 0.5;

// The search for the dominant rate: a damped Newton search on the single
// pair's error in the normalised rate x = f / 1500 Hz, derivatives by
// central differences.
constexpr double step_delta = 1e-5;
constexpr double step_damping = 0.25;
constexpr double step_limit = 2e-4;
constexpr double step_done = 1e-7;
constexpr int step_count = 40;
constexpr double step_guard = 1e-12;

// Weighting of modulation rates: the best rate and the shapes of the two
// branches.
constexpr double best_rate_hz = 4.8659;
constexpr double low_factor = 0.33048;
constexpr double low_exponent = -0.85902;
constexpr double high_factor = 0.21792;
constexpr double high_exponent = -4.6728;
constexpr double gain_factor = 0.092623;
constexpr double gain_exponent = 1.24;

// sin and cos of pi (m / 2048 + d) for an integer m >= 0 and a small d
// (given as sd = sin(pi d), cd = cos(pi d)): m is reduced exactly to one
// turn and read from the table, d added by angle addition.
void half_turns(const qn_ecma_fluct_turns &turns, long m, double sd, double cd, double *s, double *c) {
    const std::size_t reduced = static_cast<std::size_t>(m % (2 * points));
    const double sa = turns.sin[reduced], ca = turns.cos[reduced];
    *s = sa * cd + ca * sd;
    *c = ca * cd - sa * sd;
}

using rate_terms = qn_ecma_fluct_rate_terms;

static_assert(std::size(qn_ecma_fluct_pair_products{}.g01) == max_bins);
static_assert(std::size(qn_ecma_fluct_lines_work{}.by_bin_re) >= max_bins * ((max_unknowns + 7) / 8 * 8));

rate_terms terms_of(const qn_ecma_fluct_spectrum &s, double rate_hz) {
    rate_terms t;
    t.width = points - s.lead - s.tail;
    const int length = points - s.tail + s.lead - 1;
    t.v = rate_hz / qn_ecma_fluct_envelope_hz;
    t.rate_bins = t.v * points;
    const double u = M_PI * t.v;
    t.sin_one = std::sin(u);
    t.cos_one = std::cos(u);
    t.sin_width = std::sin(u * t.width);
    t.cos_width = std::cos(u * t.width);
    t.sin_length = std::sin(u * length);
    t.cos_length = std::cos(u * length);
    return t;
}

// W(k; f) and W(k; -f) at once:
//   W(k; +-f) = exp(-j a_k L) exp(+-j u L) sin(a_k N1 -+ u N1) / sin(a_k -+ u).
// Near the centre of the main lobe of +f the sines are evaluated directly;
// the lobe of -f lies below bin 0.
inline void kernel_pair(const qn_ecma_fluct_spectrum &s, const rate_terms &t, int k, double *up_re, double *up_im,
                        double *down_re, double *down_im) {
    const double sa = s.sin_one[k] * t.cos_one, cb = s.cos_one[k] * t.sin_one;
    const double swa = s.sin_width[k] * t.cos_width, cwb = s.cos_width[k] * t.sin_width;
    double up = (swa - cwb) / (sa - cb);
    if (std::fabs(static_cast<double>(k) - t.rate_bins) < direct_reach) {
        const double phi = (static_cast<double>(k) / points - t.v) + phi_offset;
        up = std::sin(M_PI * phi * t.width) / std::sin(M_PI * phi);
    }
    const double down = (swa + cwb) / (sa + cb);
    // exp(-j a_k L) exp(+-j u L)
    const double tr = s.turn_re[k], ti = s.turn_im[k];
    const double pr = tr * t.cos_length - ti * t.sin_length, pi = tr * t.sin_length + ti * t.cos_length;
    const double mr = tr * t.cos_length + ti * t.sin_length, mi = ti * t.cos_length - tr * t.sin_length;
    *up_re = pr * up;
    *up_im = pi * up;
    *down_re = mr * down;
    *down_im = mi * down;
}

// The columns of a pair: W(k; f) + W(k; -f) and j (W(k; f) - W(k; -f)),
// laid out by bin (columns `column` and `column` + 1 of rows tn long), on
// the vector path, and again here the bin within half a bin of the rate
// (at most one), with its sines evaluated directly.
void pair_columns(const qn_ecma_fluct_spectrum &s, double rate_hz, int bins, double *re, double *im,
                  std::size_t tn, int column) {
    const rate_terms t = terms_of(s, rate_hz);
    s.kernels->pair_columns(s, t, bins, re, im, tn, column);
    const double below = std::floor(t.rate_bins);
    for (double near : {below, below + 1}) {
        if (!(near >= 0 && near < bins && std::fabs(near - t.rate_bins) < direct_reach)) continue;
        const int k = static_cast<int>(near);
        double ur, ui, dr, di;
        kernel_pair(s, t, k, &ur, &ui, &dr, &di);
        double *r = re + static_cast<std::size_t>(k) * tn + static_cast<std::size_t>(column);
        double *i = im + static_cast<std::size_t>(k) * tn + static_cast<std::size_t>(column);
        r[0] = ur + dr;
        i[0] = ui + di;
        r[1] = -(ui - di);
        i[1] = ur - dr;
    }
}

// The residual error x' G x - 2 b' x + sum |P|^2 of a solution.
double residual(const double *g, const double *b, const double *x, int n, double power) {
    double quadratic = 0, linear = 0;
    for (int i = 0; i < n; ++i) {
        double row = 0;
        for (int j = 0; j < n; ++j) row += g[i * n + j] * x[j];
        quadratic += x[i] * row;
        linear += b[i] * x[i];
    }
    return power + quadratic - 2 * linear;
}

// Solves the symmetric positive semidefinite system g x = b (n x n, row
// major; g is overwritten): equilibrated to a unit diagonal, factorised by
// Cholesky with the largest remaining diagonal as pivot, stopping where the
// pivot falls below the floor; the unknowns not reached are 0. Only the
// lower triangle is read and written after the scaling: a symmetric swap
// moves its entries as a swap of whole rows and columns would, and each
// step's update runs along rows with the pivot's column held contiguously,
// every entry computed as g[i][k] - l_i l_k.
void solve_normal(double *g, const double *b, double *x, int n) {
    double scale[max_unknowns], rhs[max_unknowns], column[max_unknowns];
    int order[max_unknowns];
    for (int i = 0; i < n; ++i) {
        scale[i] = g[i * n + i] > 0 ? 1.0 / std::sqrt(g[i * n + i]) : 0.0;
        order[i] = i;
    }
    for (int i = 0; i < n; ++i) {
        rhs[i] = scale[i] * b[i];
        for (int j = 0; j <= i; ++j) g[i * n + j] *= scale[i] * scale[j];
    }
    auto at = [g, n](int i, int k) -> double & { return g[i * n + k]; };  // i >= k
    // In place: the lower triangle becomes L of P' A P = L L'.
    int rank = 0;
    for (int j = 0; j < n; ++j) {
        int pivot = j;
        for (int i = j + 1; i < n; ++i)
            if (at(i, i) > at(pivot, pivot)) pivot = i;
        if (!(at(pivot, pivot) > pivot_floor)) break;
        if (pivot != j) {
            const int p = pivot;
            for (int k = 0; k < j; ++k) std::swap(at(j, k), at(p, k));
            std::swap(at(j, j), at(p, p));
            for (int k = j + 1; k < p; ++k) std::swap(at(k, j), at(p, k));
            for (int k = p + 1; k < n; ++k) std::swap(at(k, j), at(k, p));
            std::swap(rhs[j], rhs[p]);
            std::swap(order[j], order[p]);
        }
        const double d = std::sqrt(at(j, j));
        at(j, j) = d;
        for (int i = j + 1; i < n; ++i) column[i] = at(i, j) /= d;
        for (int i = j + 1; i < n; ++i) {
            const double li = column[i];
            double *row = g + i * n;
            for (int k = j + 1; k <= i; ++k) row[k] -= li * column[k];
        }
        rank = j + 1;
    }
    double z[max_unknowns];
    for (int i = 0; i < rank; ++i) {
        double v = rhs[i];
        for (int k = 0; k < i; ++k) v -= at(i, k) * z[k];
        z[i] = v / at(i, i);
    }
    for (int i = rank - 1; i >= 0; --i) {
        double v = z[i];
        for (int k = i + 1; k < rank; ++k) v -= at(k, i) * z[k];
        z[i] = v / at(i, i);
    }
    for (int i = rank; i < n; ++i) z[i] = 0;
    for (int i = 0; i < n; ++i) x[order[i]] = scale[order[i]] * z[i];
}

}  // namespace

void qn_ecma_fluct_turns_fill(qn_ecma_fluct_turns *turns) noexcept {
    for (int m = 0; m < 2 * points; ++m) {
        const double angle = M_PI * static_cast<double>(m) / points;
        turns->sin[m] = std::sin(angle);
        turns->cos[m] = std::cos(angle);
    }
}

void qn_ecma_fluct_spectrum_prepare(qn_ecma_fluct_spectrum *s, int lead, int tail,
                                    const qn_ecma_fluct_turns &turns, qn_simd path) noexcept {
    s->kernels = &qn_ecma_fluct_kernels_for(path);
    s->lead = lead;
    s->tail = tail;
    const long width = points - lead - tail;
    const long length = points - tail + lead - 1;
    // The offset of phi in the three angles.
    const double d1 = M_PI * phi_offset, dw = M_PI * phi_offset * static_cast<double>(width),
                 dl = M_PI * phi_offset * static_cast<double>(length);
    const double s1 = std::sin(d1), c1 = std::cos(d1), sw = std::sin(dw), cw = std::cos(dw), sl0 = std::sin(dl),
                 cl0 = std::cos(dl);
    s->power_sum[0] = s->zero_gram[0] = s->zero_rhs[0] = 0;
    for (int k = 0; k < max_bins; ++k) {
        s->power[k] = s->re[k] * s->re[k] + s->im[k] * s->im[k];
        s->power_sum[k + 1] = s->power_sum[k] + s->power[k];
        half_turns(turns, k, s1, c1, &s->sin_one[k], &s->cos_one[k]);
        half_turns(turns, k * width, sw, cw, &s->sin_width[k], &s->cos_width[k]);
        double sl, cl;
        half_turns(turns, k * length, sl0, cl0, &sl, &cl);
        s->turn_re[k] = cl;
        s->turn_im[k] = -sl;
        // W(k; 0) = exp(-j a_k L) sin(a_k N1) / sin(a_k).
        const double ratio = s->sin_width[k] / s->sin_one[k];
        s->zero_re[k] = cl * ratio;
        s->zero_im[k] = -sl * ratio;
        s->zero_gram[k + 1] = s->zero_gram[k] + (s->zero_re[k] * s->zero_re[k] + s->zero_im[k] * s->zero_im[k]);
        s->zero_rhs[k + 1] = s->zero_rhs[k] + (s->zero_re[k] * s->re[k] + s->zero_im[k] * s->im[k]);
    }
}

void qn_ecma_fluct_kernel(const qn_ecma_fluct_spectrum &spectrum, int k, double rate_hz, double *re,
                          double *im) noexcept {
    if (rate_hz == 0) {
        *re = spectrum.zero_re[k];
        *im = spectrum.zero_im[k];
        return;
    }
    double ur, ui, dr, di;
    kernel_pair(spectrum, terms_of(spectrum, std::fabs(rate_hz)), k, &ur, &ui, &dr, &di);
    *re = rate_hz > 0 ? ur : dr;
    *im = rate_hz > 0 ? ui : di;
}

int qn_ecma_fluct_solve_bins(double highest_rate_hz) noexcept {
    const double bins = std::round(highest_rate_hz / qn_ecma_fluct_bin_hz) + 8;
    if (!(bins > 17)) return 17;
    return bins < max_bins ? static_cast<int>(bins) : max_bins;
}

bool qn_ecma_fluct_fit_lines(const qn_ecma_fluct_spectrum &s, const double *rates_hz, int count, int bins,
                             qn_ecma_fluct_lines_work *work, qn_ecma_fluct_fit *fit) noexcept {
    if (count < 1 || count > qn_ecma_fluct_max_lines || bins < 1 || bins > max_bins) return false;
    const int n = 2 * count + 1;
    // The columns laid out by bin, for the normal equations on the vector
    // path: the constant, then each line's pair, in rows of a whole number
    // of vectors, the spare places zero.
    double *g = work->factor, *gram = work->gram;
    const std::size_t tn = (static_cast<std::size_t>(n) + 7) & ~std::size_t{7};
    for (int k = 0; k < bins; ++k) {
        double *tr = work->by_bin_re + static_cast<std::size_t>(k) * tn, *ti = work->by_bin_im + static_cast<std::size_t>(k) * tn;
        tr[0] = s.zero_re[k];
        ti[0] = s.zero_im[k];
        for (std::size_t j = static_cast<std::size_t>(n); j < tn; ++j) tr[j] = ti[j] = 0;
    }
    for (int m = 0; m < count; ++m) pair_columns(s, rates_hz[m], bins, work->by_bin_re, work->by_bin_im, tn, 2 * m + 1);
    double b[max_unknowns], x[max_unknowns];
    s.kernels->normal_equations(work->by_bin_re, work->by_bin_im, tn, n, bins, s.re, s.im, gram, b);
    std::memcpy(g, gram, sizeof(double) * static_cast<std::size_t>(n * n));
    solve_normal(g, b, x, n);
    fit->constant = x[0];
    for (int m = 0; m < count; ++m) {
        fit->line_re[m] = x[2 * m + 1];
        fit->line_im[m] = x[2 * m + 2];
    }
    fit->error = residual(gram, b, x, n, s.power_sum[bins]);
    return true;
}

namespace {

// A pair's products of every bin by angle addition, on the vector path;
// the bin within half a bin of the rate (at most one) again here, with its
// sines evaluated directly.
void pair_products(const qn_ecma_fluct_spectrum &s, const rate_terms &t, int bins, qn_ecma_fluct_pair_products *p) {
    s.kernels->pair_products(s, t, bins, p);
    const double below = std::floor(t.rate_bins);
    for (double near : {below, below + 1}) {
        if (!(near >= 0 && near < bins && std::fabs(near - t.rate_bins) < direct_reach)) continue;
        const int k = static_cast<int>(near);
        double ur, ui, dr, di;
        kernel_pair(s, t, k, &ur, &ui, &dr, &di);
        const double c1r = ur + dr, c1i = ui + di, c2r = -(ui - di), c2i = ur - dr;
        const double c0r = s.zero_re[k], c0i = s.zero_im[k];
        p->g01[k] = c1r * c0r + c1i * c0i;
        p->g02[k] = c2r * c0r + c2i * c0i;
        p->g11[k] = c1r * c1r + c1i * c1i;
        p->g12[k] = c2r * c1r + c2i * c1i;
        p->g22[k] = c2r * c2r + c2i * c2i;
        p->b1[k] = c1r * s.re[k] + c1i * s.im[k];
        p->b2[k] = c2r * s.re[k] + c2i * s.im[k];
    }
}

// A pair's normal equations: the products summed in order of the bins.
struct pair_sums {
    double g01, g02, g11, g12, g22, b1, b2;
};

// The sums of `count` pairs' products; the pairs' chains of additions run
// side by side, each in order of the bins.
template <int Count>
void sum_products(const qn_ecma_fluct_pair_products *p, int bins, pair_sums *sums) {
    pair_sums z[Count] = {};
    for (int k = 0; k < bins; ++k) {
#pragma GCC unroll 3
        for (int c = 0; c < Count; ++c) {
            z[c].g01 += p[c].g01[k];
            z[c].g02 += p[c].g02[k];
            z[c].g11 += p[c].g11[k];
            z[c].g12 += p[c].g12[k];
            z[c].g22 += p[c].g22[k];
            z[c].b1 += p[c].b1[k];
            z[c].b2 += p[c].b2[k];
        }
    }
    for (int c = 0; c < Count; ++c) sums[c] = z[c];
}

// The closed form of a pair from its sums: the constant's own entries come
// summed with the block.
void solve_pair(const qn_ecma_fluct_spectrum &s, const pair_sums &z, int bins, qn_ecma_fluct_fit *fit) {
    const double g[9] = {s.zero_gram[bins], z.g01, z.g02, z.g01, z.g11, z.g12, z.g02, z.g12, z.g22};
    const double b[3] = {s.zero_rhs[bins], z.b1, z.b2};
    double x[3];
    // Equilibrated: a unit diagonal, so that the determinant measures how
    // nearly alike the three columns are (1 for orthogonal ones).
    double d[3];
    for (int i = 0; i < 3; ++i) d[i] = g[4 * i] > 0 ? 1.0 / std::sqrt(g[4 * i]) : 0.0;
    const double a01 = g[1] * d[0] * d[1], a02 = g[2] * d[0] * d[2], a12 = g[5] * d[1] * d[2];
    const double y0 = b[0] * d[0], y1 = b[1] * d[1], y2 = b[2] * d[2];
    // Cofactors of the unit-diagonal matrix [1 a01 a02; a01 1 a12; a02 a12 1].
    const double c00 = 1 - a12 * a12, c01 = a02 * a12 - a01, c02 = a01 * a12 - a02;
    const double c11 = 1 - a02 * a02, c12 = a01 * a02 - a12, c22 = 1 - a01 * a01;
    const double det = c00 + a01 * c01 + a02 * c02;
    if (d[0] > 0 && d[1] > 0 && d[2] > 0 && det > determinant_floor) {
        x[0] = d[0] * ((c00 * y0 + c01 * y1 + c02 * y2) / det);
        x[1] = d[1] * ((c01 * y0 + c11 * y1 + c12 * y2) / det);
        x[2] = d[2] * ((c02 * y0 + c12 * y1 + c22 * y2) / det);
    } else {
        double work[9];
        std::memcpy(work, g, sizeof work);
        solve_normal(work, b, x, 3);
    }
    fit->constant = x[0];
    fit->line_re[0] = x[1];
    fit->line_im[0] = x[2];
    fit->error = residual(g, b, x, 3, s.power_sum[bins]);
}

// The closed form of a pair whose kernel terms are given.
void fit_pair_with(const qn_ecma_fluct_spectrum &s, const rate_terms &t, int bins, qn_ecma_fluct_fit *fit) {
    qn_ecma_fluct_pair_products p;
    pair_products(s, t, bins, &p);
    pair_sums z;
    sum_products<1>(&p, bins, &z);
    solve_pair(s, z, bins, fit);
}

// The terms of the rate v + d (in units of 1500 Hz) from those of v and the
// sines and cosines of pi d, pi d N1 and pi d L, by angle addition.
rate_terms shifted(const rate_terms &t, const rate_terms &d) {
    rate_terms r = t;
    r.v = t.v + d.v;
    r.rate_bins = r.v * points;
    r.sin_one = t.sin_one * d.cos_one + t.cos_one * d.sin_one;
    r.cos_one = t.cos_one * d.cos_one - t.sin_one * d.sin_one;
    r.sin_width = t.sin_width * d.cos_width + t.cos_width * d.sin_width;
    r.cos_width = t.cos_width * d.cos_width - t.sin_width * d.sin_width;
    r.sin_length = t.sin_length * d.cos_length + t.cos_length * d.sin_length;
    r.cos_length = t.cos_length * d.cos_length - t.sin_length * d.sin_length;
    return r;
}

}  // namespace

void qn_ecma_fluct_fit_pair(const qn_ecma_fluct_spectrum &s, double rate_hz, int bins,
                            qn_ecma_fluct_fit *fit) noexcept {
    fit_pair_with(s, terms_of(s, rate_hz), bins, fit);
}

qn_ecma_fluct_rate_terms qn_ecma_fluct_terms(const qn_ecma_fluct_spectrum &s, double rate_hz) noexcept {
    return terms_of(s, rate_hz);
}

void qn_ecma_fluct_fit_pair_terms(const qn_ecma_fluct_spectrum &s, const qn_ecma_fluct_rate_terms &terms, int bins,
                                  qn_ecma_fluct_fit *fit) noexcept {
    fit_pair_with(s, terms, bins, fit);
}

double qn_ecma_fluct_tune_rate(const qn_ecma_fluct_spectrum &s, double start_hz) noexcept {
    const int bins = qn_ecma_fluct_solve_bins(start_hz);
    // The terms of the rates a difference step below and above the current
    // one follow from its own by angle addition.
    const rate_terms up = terms_of(s, step_delta * qn_ecma_fluct_envelope_hz);
    const rate_terms down = terms_of(s, -step_delta * qn_ecma_fluct_envelope_hz);
    double x = start_hz / qn_ecma_fluct_envelope_hz;
    qn_ecma_fluct_fit fit;
    // The three fits of a step are independent: their sums and solves run
    // side by side.
    qn_ecma_fluct_pair_products p[3];
    pair_sums z[3];
    for (int step = 0; step < step_count; ++step) {
        const rate_terms here = terms_of(s, x * qn_ecma_fluct_envelope_hz);
        pair_products(s, shifted(here, down), bins, &p[0]);
        pair_products(s, here, bins, &p[1]);
        pair_products(s, shifted(here, up), bins, &p[2]);
        sum_products<3>(p, bins, z);
        solve_pair(s, z[0], bins, &fit);
        const double below = fit.error;
        solve_pair(s, z[1], bins, &fit);
        const double middle = fit.error;
        solve_pair(s, z[2], bins, &fit);
        const double above = fit.error;
        const double first = (above - below) / (2 * step_delta);
        const double second = (above - 2 * middle + below) / (step_delta * step_delta);
        const double sign = first > 0 ? 1.0 : (first < 0 ? -1.0 : 0.0);
        const double move = step_damping * sign * std::min(std::fabs(first) / (std::fabs(second) + step_guard), step_limit);
        x -= move;
        if (!(std::fabs(move) > step_done)) break;
    }
    return x * qn_ecma_fluct_envelope_hz;
}

double qn_ecma_fluct_gain(double centre_hz) noexcept {
    const double octaves = std::fabs(std::log2(centre_hz / 1000.0));
    return 1.0 / (1.0 + gain_factor * std::pow(octaves, gain_exponent));
}

double qn_ecma_fluct_band_gain(uint64_t band) noexcept { return qn_ecma_fluct_gain(qn_ecma_band_centre_hz(band)); }

double qn_ecma_fluct_rate_weight(double rate_hz, double band_gain) noexcept {
    if (!(rate_hz > 0)) return 0.0;
    const double spread = rate_hz / best_rate_hz - best_rate_hz / rate_hz;
    if (rate_hz <= best_rate_hz) {
        const double x = low_factor * spread;
        return std::pow(1 + x * x, low_exponent);
    }
    const double x = high_factor * spread;
    return band_gain * std::pow(1 + x * x, high_exponent);
}

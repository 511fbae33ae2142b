#include "ecma/periodicity.h"

#include <cmath>
#include <cstring>

#include "base/checks.h"

namespace {

constexpr uint32_t full_length = qn_ecma_periodicity_length;
constexpr uint32_t last_bin = full_length / 2;
constexpr uint32_t unit_entries = last_bin + 1;
constexpr uint32_t most_bins = full_length / qn_ecma_coarse_smallest + 1;  // near one coarse point

// A window whose values exceed this might overflow the power sums; it takes
// the full transform, which tests the total as the method does.
constexpr double largest_pruned_value = 1e100;

// The strongest bin of a spectrum in the packed layout of a real transform
// of 16384: bin 0 is r0, bin 8192 the last entry, bin k between them
// (r_k, i_k) at 2k - 1 and 2k. False when the total power is not finite.
// The total only answers that question, and a sum of non-negative terms
// overflows in any order alike, so it is summed in four interleaved sums
// rather than one chain of additions.
bool scan_full(const double *x, double *power, uint32_t *bin) {
    double best = x[0] * x[0];
    uint32_t best_bin = 0;
    double sums[4] = {best, 0, 0, 0};
    uint32_t k = 1;
    auto visit = [&](uint32_t at, double &sum) {
        const double re = x[2 * at - 1], im = x[2 * at];
        const double pk = re * re + im * im;
        sum += pk;
        if (pk > best) {
            best = pk;
            best_bin = at;
        }
    };
    for (; k + 4 <= last_bin; k += 4) {
        visit(k, sums[0]);
        visit(k + 1, sums[1]);
        visit(k + 2, sums[2]);
        visit(k + 3, sums[3]);
    }
    for (; k < last_bin; ++k) visit(k, sums[k % 4]);
    const double last = x[full_length - 1] * x[full_length - 1];
    const double total = ((sums[0] + sums[1]) + (sums[2] + sums[3])) + last;
    if (last > best) {
        best = last;
        best_bin = last_bin;
    }
    if (!qn_is_finite(total)) return false;
    *power = best;
    *bin = best_bin;
    return true;
}

bool full_peak(qn_ecma_periodicity *p, const double *u, uint32_t first, uint32_t count, double *power,
               uint32_t *bin) {
    // Zeros before the window; those after it the transform takes as such.
    double *x = p->buffer.get();
    std::memset(x, 0, first * sizeof(double));
    std::memcpy(x + first, u, count * sizeof(double));
    if (!qn_fft_rforward_filled(p->plan.get(), x, first + count, 1.0)) return false;
    return scan_full(x, power, bin);
}

// The search of the header's comment. Returns false to ask for the full
// transform (a coarse grid of zeros), and fails through `ok`.
bool pruned_peak(qn_ecma_periodicity *p, const double *u, uint32_t count, uint32_t n, double *power,
                 uint32_t *bin, bool *ok) {
    *ok = true;
    int size = 0;
    while ((qn_ecma_coarse_smallest << size) < n) ++size;
    double *x = p->spectrum.get();
    double *y = p->slope.get();
    std::memset(x, 0, n * sizeof(double));
    std::memset(y, 0, n * sizeof(double));
    for (uint32_t j = 0; j < count; ++j) {
        x[j] = u[j];
        y[j] = j * u[j];
    }
    if (!qn_fft_rforward(p->coarse[size].get(), x, 1.0) || !qn_fft_rforward(p->coarse[size].get(), y, 1.0)) {
        *ok = false;
        return true;
    }
    // Power and its derivative at the coarse points theta_q = 2 pi q / n:
    // with X = sum u_j e^(-i j theta) and Y = sum j u_j e^(-i j theta),
    // X' = -i Y and P' = 2 Im(conj(X) Y).
    const uint32_t half = n / 2;
    double *coarse_power = p->buffer.get();
    double *coarse_slope = p->buffer.get() + half + 1;
    double best = 0;
    uint32_t best_q = 0;
    for (uint32_t q = 0; q <= half; ++q) {
        double xr, xi = 0, yr, yi = 0;
        if (q == 0) {
            xr = x[0];
            yr = y[0];
        } else if (q == half) {
            xr = x[n - 1];
            yr = y[n - 1];
        } else {
            xr = x[2 * q - 1];
            xi = x[2 * q];
            yr = y[2 * q - 1];
            yi = y[2 * q];
        }
        coarse_power[q] = xr * xr + xi * xi;
        coarse_slope[q] = 2 * (xr * yi - xi * yr);
        if (coarse_power[q] > best) {
            best = coarse_power[q];
            best_q = q;
        }
    }
    if (!(best > 0)) return false;

    const uint32_t per_step = full_length / n;  // fine bins per coarse step
    const double degree = count - 1;
    const double step = M_PI / n;  // the farthest a fine bin lies from its coarse point
    const double gamma = degree * step * (degree * step) / 2;
    const double curvature = degree * degree * (best / (1 - gamma)) / 2;  // bounds P'' / 2
    const double reach = curvature * step * step;
    // Rounding moves the computed powers by some 1e-13 of the peak.
    const double slack = 1e-9 * best;
    const double radians_per_bin = 2 * M_PI / full_length;
    uint32_t best_bin = best_q * per_step;
    double *re = p->bins.get();
    double *im = re + most_bins;
    double *pw = im + most_bins;
    const double *cosine = p->unit.get();
    const double *minus_sine = cosine + unit_entries;

    auto visit = [&](uint32_t q) {
        const double pq = coarse_power[q], sq = coarse_slope[q];
        if (pq + std::fabs(sq) * step + reach + slack < best) return;
        const uint32_t centre = q * per_step;
        const uint32_t from = centre > per_step / 2 ? centre - per_step / 2 : 0;
        const uint32_t to = centre + per_step / 2 < last_bin ? centre + per_step / 2 : last_bin;
        uint32_t bins[most_bins];
        uint32_t taken = 0;
        for (uint32_t k = from; k <= to; ++k) {
            if (k == centre) continue;  // the coarse point itself is known
            const double delta = (static_cast<double>(k) - static_cast<double>(centre)) * radians_per_bin;
            if (pq + sq * delta + curvature * delta * delta + slack < best) continue;
            bins[taken] = k;
            re[taken] = cosine[k];
            im[taken] = minus_sine[k];
            ++taken;
        }
        if (taken == 0) return;
        p->kernels->powers(u, count, re, im, taken, pw);
        for (uint32_t i = 0; i < taken; ++i) {
            if (pw[i] > best || (pw[i] == best && bins[i] < best_bin)) {
                best = pw[i];
                best_bin = bins[i];
            }
        }
    };
    // The coarse maximum first, so that the bound prunes the most.
    visit(best_q);
    for (uint32_t q = 0; q <= half; ++q)
        if (q != best_q) visit(q);
    *power = best;
    *bin = best_bin;
    return true;
}

// The window less its mean, the mean the sum of value / M in order.
void centre(const double *values, uint32_t count, double *u) {
    const double m = count;
    double mean = 0;
    for (uint32_t j = 0; j < count; ++j) mean += values[j] / m;
    for (uint32_t j = 0; j < count; ++j) u[j] = values[j] - mean;
}

}  // namespace

uint32_t qn_ecma_periodicity_coarse_length(uint32_t count) noexcept {
    const uint64_t needed = 6 * uint64_t{count > 0 ? count - 1 : 0};
    uint32_t n = qn_ecma_coarse_smallest;
    while (n < needed && n <= qn_ecma_coarse_largest) n *= 2;
    return n <= qn_ecma_coarse_largest ? n : 0;
}

bool qn_ecma_periodicity_init(qn_ecma_periodicity *p, qn_simd path) noexcept {
    p->kernels = &qn_ecma_tonal_kernels_for(path);
    p->plan.reset(qn_fft_rplan_make(full_length));
    bool ok = p->plan != nullptr;
    for (int i = 0; i < qn_ecma_coarse_sizes; ++i) {
        p->coarse[i].reset(qn_fft_rplan_make(qn_ecma_coarse_smallest << i));
        ok = ok && p->coarse[i] != nullptr;
    }
    p->buffer = qn_alloc_array<double>(full_length);
    p->centred = qn_alloc_array<double>(full_length);
    p->spectrum = qn_alloc_array<double>(qn_ecma_coarse_largest);
    p->slope = qn_alloc_array<double>(qn_ecma_coarse_largest);
    p->unit = qn_alloc_array<double>(2 * unit_entries);
    p->bins = qn_alloc_array<double>(3 * most_bins);
    if (!ok || !p->buffer || !p->centred || !p->spectrum || !p->slope || !p->unit || !p->bins) return false;
    for (uint32_t k = 0; k < unit_entries; ++k) {
        const double angle = 2 * M_PI * k / full_length;
        p->unit[k] = std::cos(angle);
        p->unit[unit_entries + k] = -std::sin(angle);
    }
    return true;
}

bool qn_ecma_periodicity_peak_full(qn_ecma_periodicity *p, const double *values, uint32_t first, uint32_t count,
                                   double *power, uint32_t *bin) noexcept {
    double *u = p->centred.get();
    centre(values, count, u);
    return full_peak(p, u, first, count, power, bin);
}

bool qn_ecma_periodicity_peak(qn_ecma_periodicity *p, const double *values, uint32_t first, uint32_t count,
                              double *power, uint32_t *bin) noexcept {
    double *u = p->centred.get();
    centre(values, count, u);
    const uint32_t n = qn_ecma_periodicity_coarse_length(count);
    bool small = n != 0;
    bool silent = true;
    for (uint32_t j = 0; j < count && small; ++j) {
        small = std::fabs(u[j]) <= largest_pruned_value;  // a NaN fails too
        silent = silent && u[j] == 0;
    }
    if (!small) return full_peak(p, u, first, count, power, bin);
    // A constant window has no power in any bin; the first bin wins.
    if (silent) {
        *power = 0;
        *bin = 0;
        return true;
    }
    bool ok = true;
    if (pruned_peak(p, u, count, n, power, bin, &ok)) return ok;
    return full_peak(p, u, first, count, power, bin);
}

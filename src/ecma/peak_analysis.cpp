// Raw roughness of one band in one block: the prominent peaks of its
// weighted modulation spectrum, their rates refined between bins, weighted
// against the band's best modulation rate, and the harmonic series that
// carries the most weight.
#include <algorithm>
#include <cmath>
#include <cstddef>

#include "ecma/front_end.h"
#include "ecma/roughness.h"

namespace {

// Bins that may hold a peak; its neighbours and the minima beside it reach
// one bin further on either side (2 ... 255).
constexpr int first_peak_bin = 3;
constexpr int last_peak_bin = 254;
constexpr int lowest_bin_read = 2;
constexpr int highest_bin_read = 255;

// Plateau starts are at least two bins apart, so 3 ... 254 holds at most
// 126 peaks.
constexpr int max_peaks = 126;
constexpr int kept_peaks = 10;

// Parabolic interpolation between bins is biased towards the nearer bin;
// the bias in Hz, by the true position of a component between two bins in
// steps of 1/32 bin (0 and 16/32 are unbiased).
constexpr double frequency_bias_hz[34] = {
    0,       0.0457,  0.0907,  0.1346,  0.1765,  0.2157,  0.2515,  0.2828,  0.3084,
    0.3269,  0.3364,  0.3348,  0.3188,  0.2844,  0.2259,  0.1351,  0,       -0.1351,
    -0.2259, -0.2844, -0.3188, -0.3348, -0.3364, -0.3269, -0.3084, -0.2828, -0.2515,
    -0.2157, -0.1765, -0.1346, -0.0907, -0.0457, 0,       0,
};

// Peaks below 5 % of the highest kept peak are dropped.
constexpr double selection_fraction = 0.05;
// A peak belongs to a harmonic series when its rate is within 4 % of a
// multiple of the fundamental.
constexpr double harmonic_tolerance = 0.04;
// Spread of the series' weight around its strongest member.
constexpr double spread_exponent = 0.749;
constexpr double spread_factor = 0.1;
// Weights of rates above the best rate and of a fundamental below it.
constexpr double high_rate_factor = 1.2822;
constexpr double low_rate_factor = 0.7066;
// Raw roughness below this is none at all.
constexpr double roughness_floor = 0.074376;
constexpr double guard = 1e-12;

struct peak {
    int bin;
    double prominence;
};

struct accepted_peak {
    double rate;    // Hz
    double weight;  // A
};

// The smallest value met scanning from `from` by `step` while the values do
// not exceed the peak height, stopping at `limit` (inclusive).
double valley(const double *v, int from, int step, int limit, double height) {
    double lowest = height;
    for (int k = from; step < 0 ? k >= limit : k <= limit; k += step) {
        if (v[k] > height) break;
        if (v[k] < lowest) lowest = v[k];
    }
    return lowest;
}

// Peaks of bins 3 ... 254 with their prominence; returns how many.
int find_peaks(const double *v, peak *peaks) {
    int count = 0;
    int i = first_peak_bin;
    while (i <= last_peak_bin) {
        if (v[i - 1] >= v[i]) {
            ++i;
            continue;
        }
        // A rise at i: the plateau i ... j of equal values. One that reaches
        // bin 255 ends the search.
        int j = i;
        while (v[j + 1] == v[i]) {
            if (j + 1 >= highest_bin_read) return count;
            ++j;
        }
        if (v[j] > v[j + 1]) {
            const int p = (i + j) / 2;
            const double h = v[p];
            const double left = valley(v, i - 1, -1, lowest_bin_read, h);
            const double right = valley(v, j + 1, 1, highest_bin_read, h);
            peaks[count++] = {p, h - std::max(left, right)};
        }
        i = j + 1;
    }
    return count;
}

// The rate of a peak at bin p of height h: the vertex of the parabola
// through three bins, less the parabola's known bias.
double refined_rate(const double *v, int p) {
    constexpr double df = qn_ecma_rough_bin_hz;
    const double h = v[p], a = v[p - 1], c = v[p + 1];
    const double curvature = a - 2 * h + c;
    if (curvature == 0) return p * df;
    const double vertex = (p + 0.5 * (a - c) / curvature) * df;
    const double k0 = std::floor(vertex / df);
    // e[c]: how far the biased vertex of a component at k0 + c/32 bins would
    // lie from the vertex found.
    double e[34];
    for (int c32 = 0; c32 < 34; ++c32)
        e[c32] = (k0 + c32 / 32.0) * df - vertex - frequency_bias_hz[c32];
    int nearest = 0;
    for (int c32 = 1; c32 <= 32; ++c32)
        if (std::fabs(e[c32]) < std::fabs(e[nearest])) nearest = c32;
    int c0 = nearest, c1 = nearest + 1;
    if (nearest > 0 && e[nearest - 1] * e[nearest] < 0) {
        c0 = nearest - 1;
        c1 = nearest;
    }
    const double *t = frequency_bias_hz;
    return vertex + t[c0] - (t[c1] - t[c0]) * e[c0] / (e[c1] - e[c0]);
}

}  // namespace

qn_ecma_rough_band_constants qn_ecma_rough_constants(uint64_t band) noexcept {
    const double khz = qn_ecma_band_centre_hz(band) / 1000.0;
    const double octaves = std::log2(khz);  // from 1 kHz
    qn_ecma_rough_band_constants k{};
    k.amplitude_divisor = khz >= 1 ? 1.0 + 0.8024 * std::pow(std::fabs(octaves), 0.9333)
                                   : 1.0 + 0.356 * std::pow(std::fabs(octaves), 0.8049);
    k.best_rate_hz = 72.6937 * (1.0 - 1.1739 * std::exp(-5.4583 * khz));
    k.high_exponent = octaves >= -3.4253 ? -(0.0129 * ((octaves + 3.4253) * (octaves + 3.4253)) + 0.2471) : -0.2471;
    k.low_exponent = -(1.0967 - 0.064 * octaves);
    return k;
}

double qn_ecma_band_roughness(const double *spectrum, uint64_t band) noexcept {
    return qn_ecma_band_roughness_with(spectrum, qn_ecma_rough_constants(band));
}

double qn_ecma_band_roughness_with(const double *v, const qn_ecma_rough_band_constants &band) noexcept {
    constexpr double df = qn_ecma_rough_bin_hz;
    peak peaks[max_peaks];
    const int found = find_peaks(v, peaks);
    if (found == 0) return 0.0;

    // The ten most prominent, the lower bin first among equals; then in bin
    // order.
    const int kept = std::min(found, kept_peaks);
    std::partial_sort(peaks, peaks + kept, peaks + found, [](const peak &x, const peak &y) {
        return x.prominence > y.prominence || (x.prominence == y.prominence && x.bin < y.bin);
    });
    double highest = 0;
    for (int k = 0; k < kept; ++k) highest = std::max(highest, v[peaks[k].bin]);
    std::sort(peaks, peaks + kept, [](const peak &x, const peak &y) { return x.bin < y.bin; });

    const double threshold = selection_fraction * highest;
    accepted_peak accepted[kept_peaks];
    int count = 0;
    for (int k = 0; k < kept; ++k) {
        const int p = peaks[k].bin;
        const double h = v[p];
        if (!(h > threshold)) continue;
        const double rate = refined_rate(v, p);
        double weight = (h + v[p - 1] + v[p + 1]) / band.amplitude_divisor;
        if (rate <= df) {
            weight = 0;
        } else if (rate > band.best_rate_hz) {
            const double x = high_rate_factor * (rate / band.best_rate_hz - band.best_rate_hz / rate);
            weight *= std::pow(1.0 + x * x, band.high_exponent);
        }
        accepted[count++] = {rate, weight};
    }
    if (count == 0) return 0.0;

    // Each accepted peak in turn as the fundamental: the peak nearest to
    // each harmonic number joins the series when within the tolerance.
    double best_sum = -1;
    int best_members[kept_peaks];
    int best_size = 0;
    int best_fundamental = 0;
    for (int d = 0; d < count; ++d) {
        const double fundamental = accepted[d].rate;
        int harmonic[kept_peaks];
        for (int i = 0; i < count; ++i) harmonic[i] = static_cast<int>(std::floor(accepted[i].rate / fundamental + 0.5));
        int members[kept_peaks];
        int size = 0;
        double sum = 0;
        for (int i = 0; i < count; ++i) {
            const int n = harmonic[i];
            if (n == 0) continue;
            bool met = false;
            for (int e = 0; e < i && !met; ++e) met = harmonic[e] == n;
            if (met) continue;
            int nearest = i;
            double deviation = std::fabs(accepted[i].rate / (n * fundamental) - 1.0);
            for (int l = i + 1; l < count; ++l) {
                if (harmonic[l] != n) continue;
                const double dl = std::fabs(accepted[l].rate / (n * fundamental) - 1.0);
                if (dl < deviation) {
                    deviation = dl;
                    nearest = l;
                }
            }
            if (deviation < harmonic_tolerance) {
                members[size++] = nearest;
                sum += accepted[nearest].weight;
            }
        }
        if (sum > best_sum) {
            best_sum = sum;
            best_size = size;
            std::copy(members, members + size, best_members);
            best_fundamental = d;
        }
    }
    if (best_size == 0 || best_sum <= 0) return 0.0;

    double moment = 0;
    int strongest = best_members[0];
    for (int k = 0; k < best_size; ++k) {
        const accepted_peak &a = accepted[best_members[k]];
        moment += a.weight * a.rate;
        if (a.weight > accepted[strongest].weight) strongest = best_members[k];
    }
    const double mean = moment / (best_size * guard + best_sum);
    const double spread = std::pow(std::fabs(mean - accepted[strongest].rate), spread_exponent);

    const double fundamental = accepted[best_fundamental].rate;
    if (fundamental <= df) return 0.0;
    double r = best_sum * (1.0 + spread_factor * spread);
    if (fundamental <= band.best_rate_hz) {
        const double x = low_rate_factor * (fundamental / band.best_rate_hz - band.best_rate_hz / fundamental);
        r *= std::pow(1.0 + x * x, band.low_exponent);
    }
    // A NaN is passed on for the caller's finite test.
    return r < roughness_floor ? 0.0 : r;
}

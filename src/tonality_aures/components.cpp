// Narrow-band regions, tonal peaks and their 3-dB bandwidths.
//
// The search repeats up to twenty passes over the whole spectrum; what
// makes it cheap is that each pass touches only what it needs. A bin's
// level, its power 10^(L/10) and its smoothed level are each computed once,
// on first use (an expression gives the same value whenever it runs), and
// most bins far above the regions are never needed. A recorded region's bins take its baseline and
// the very powers the baseline sum of that pass computed. The critical-band
// sums visit only the bins whose rate lies within 1.5 Bark of the region's
// centre, in ascending order as a sum over all bins would: the bins outside
// add nothing, so the sums are the same to the bit. The highest smoothed
// level is sought only where a region may peak: everywhere else the search
// level is -100 dB, which could only win when nothing reaches 0 dB, and then
// the search stops either way.
#include "tonality_aures/components.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>

#include "base/checks.h"

namespace {

// 10 log10(3): the power mean of three bins is their sum less this.
constexpr double three_bins_db = 4.771212547196624;

// Search level of the bins where no region may peak.
constexpr double no_peak_level = -100.0;

// Region peaks lie between these frequencies (Hz).
constexpr double lowest_peak_hz = 20.0;
constexpr double highest_peak_hz = 5000.0;

// A region must stand this far (dB) above both neighbouring critical bands.
constexpr double band_contrast_db = 7.0;

double power_of(double level_db) { return std::pow(10.0, level_db / 10.0); }

// How far beyond an open 3-dB edge the region's range may extend (Hz):
// 50 Hz below 500 Hz, else a tenth of the edge frequency.
double extension_width(double edge_hz) { return edge_hz < 500.0 ? 50.0 : 0.1 * edge_hz; }

// The frequency (Hz) at which the cumulative share Q first reaches `point`,
// interpolated within bin r, the first of e + 1 ... end - 1 with Q[r] >=
// point (end when none is).
double share_point(const double *Q, int32_t e, int32_t end, double point, double df) {
    int32_t r = end;
    for (int32_t v = e + 1; v < end; ++v) {
        if (Q[v] >= point) {
            r = v;
            break;
        }
    }
    if (Q[r] == Q[r - 1]) return std::numeric_limits<double>::quiet_NaN();
    return (r - 1) * df + df * (point - Q[r - 1]) / (Q[r] - Q[r - 1]);
}

// The spectrum and the working arrays, with every value computed on first
// use. NaN marks a value not yet computed: none of them can be NaN once
// computed (levels are finite, powers positive).
class lazy_bins {
public:
    lazy_bins(const qn_aures_spectrum &s, const qn_aures_search_workspace &w) : s_(s), w_(w) {}

    int32_t len() const { return s_.len; }

    double level(int32_t i) const {
        double &l = s_.level[i];
        if (std::isnan(l)) l = 10.0 * std::log10(s_.ratio[i]);
        return l;
    }

    double level_power(int32_t i) const {
        double &p = w_.level_power[i];
        if (std::isnan(p)) p = power_of(level(i));
        return p;
    }

    // The power mean of three neighbouring bins of the level spectrum (the
    // two end bins keep their level).
    double smoothed(int32_t i) const {
        double &a = w_.smoothed[i];
        if (std::isnan(a)) {
            a = i == 0 || i == s_.len - 1
                    ? level(i)
                    : 10.0 * std::log10(level_power(i - 1) + level_power(i) + level_power(i + 1)) - three_bins_db;
        }
        return a;
    }

    // The working level and its power: the level, except where a recorded
    // region was replaced by its baseline.
    double working(int32_t i) const { return std::isnan(w_.working[i]) ? level(i) : w_.working[i]; }
    double power(int32_t i) const { return std::isnan(w_.working[i]) ? level_power(i) : w_.power[i]; }

    void replace(int32_t i, double level_db, double power) const {
        w_.working[i] = level_db;
        w_.power[i] = power;
    }

    // The value at rank max(floor(count / 10), 2) - 2 of the smoothed
    // levels of bins first ... first + count - 1, sorted ascending: a low
    // percentile beyond an edge, below which the extension stops. Only that
    // one rank is read, so a selection gives the value a full sort would.
    double extension_threshold(int32_t first, int32_t count) const {
        for (int32_t j = 0; j < count; ++j) w_.scratch[j] = smoothed(first + j);
        const int32_t rank = std::max(static_cast<int32_t>(std::floor(0.1 * count)), int32_t{2}) - 2;
        std::nth_element(w_.scratch, w_.scratch + rank, w_.scratch + count);
        return w_.scratch[rank];
    }

private:
    const qn_aures_spectrum &s_;
    const qn_aures_search_workspace &w_;
};

// Outcome of one pass of the search.
enum class pass_result { stop, claimed, recorded, failed };

// One pass; region peaks are sought in bins first_peak ... last_peak.
pass_result search_pass(const lazy_bins &bins, const qn_aures_search_workspace &w, int32_t first_peak,
                        int32_t last_peak, double df, qn_aures_narrowband *record) {
    const int32_t len = bins.len();
    double *S = w.search;
    unsigned char *claimed = w.claimed;

    // The peak: the highest search level, the lowest bin among equals.
    int32_t b0 = first_peak;
    double c = S[first_peak];
    for (int32_t i = first_peak + 1; i <= last_peak; ++i) {
        if (S[i] > c) {
            c = S[i];
            b0 = i;
        }
    }
    if (c < 0) return pass_result::stop;

    // 3-dB edges. The level test comes first, so an open edge may be a
    // claimed bin.
    int32_t k = 0;
    bool k_open = true;
    for (int32_t i = b0 - 1; i >= 0; --i) {
        if (c > bins.smoothed(i) + 3) {
            k = i;
            break;
        }
        if (claimed[i]) {
            k = i;
            k_open = false;
            break;
        }
    }
    int32_t b = len - 1;
    bool b_open = true;
    for (int32_t i = b0 + 1; i < len; ++i) {
        if (c > bins.smoothed(i) + 3) {
            b = i;
            break;
        }
        if (claimed[i]) {
            b = i;
            b_open = false;
            break;
        }
    }

    // The range extends beyond an open edge down to a low percentile of the
    // smoothed levels there, and never into a claimed bin.
    int32_t e = k;
    if (k_open) {
        const auto reach = static_cast<int32_t>(std::floor(extension_width(k * df) / df + 0.5));
        const int32_t g = std::max(k - reach, int32_t{0});
        const double threshold = bins.extension_threshold(g, k - g + 1);
        e = g;
        for (int32_t h = k; h >= g; --h) {
            if (claimed[h]) {
                e = h + 1;
                break;
            }
            if (threshold >= bins.smoothed(h)) {
                e = h;
                break;
            }
        }
    }
    int32_t end = b;
    if (b_open) {
        const auto reach = static_cast<int32_t>(std::floor(extension_width(b * df) / df + 0.5));
        const int32_t G = b + reach >= len ? len - 1 : b + reach;
        const double threshold = bins.extension_threshold(b, G - b + 1);
        end = G;
        for (int32_t h = b; h <= G; ++h) {
            if (claimed[h]) {
                end = h - 1;
                break;
            }
            if (threshold >= bins.smoothed(h)) {
                end = h;
                break;
            }
        }
    }
    if (e < 0 || end >= len || end < e) return pass_result::failed;

    // The pass claims its range whether or not it yields a record.
    for (int32_t v = e; v <= end; ++v) {
        claimed[v] = 1;
        if (v >= first_peak && v <= last_peak) S[v] = no_peak_level;
    }

    const double centre = std::sqrt((k * df) * (b * df));
    if (centre <= 0) return pass_result::claimed;
    const double width_3db = (b - k) * df;
    if (width_3db <= 0) return pass_result::claimed;
    const double t = bins.working(e), u = bins.working(end);

    // Narrower than the critical band at the centre frequency.
    const double khz = centre / 1000.0;
    const double critical_bandwidth = 25.0 + 75.0 * std::pow(1.0 + 1.4 * (khz * khz), 0.69);
    if (width_3db >= critical_bandwidth) return pass_result::claimed;

    // The critical band around the centre against its two neighbours.
    const double zc = qn_aures_bark(centre);
    const double z_low = zc - 1.5, z_centre_low = zc - 0.5, z_centre_high = zc + 0.5, z_high = zc + 1.5;
    int32_t first = 0, last = -1;
    qn_aures_rate_run(w.rate, len, w.rate_rises, z_low, z_high, &first, &last);
    double lower = 0, middle = 0, upper = 0;
    int32_t lower_bins = 0, upper_bins = 0;
    for (int32_t v = first; v <= last; ++v) {
        const double z = w.rate[v];
        if (z_low <= z && z < z_centre_low) {
            lower += bins.power(v);
            ++lower_bins;
        } else if (z_centre_low <= z && z <= z_centre_high) {
            middle += bins.power(v);
        } else if (z_centre_high < z && z <= z_high) {
            upper += bins.power(v);
            ++upper_bins;
        }
    }
    if (!qn_is_finite(lower) || !qn_is_finite(middle) || !qn_is_finite(upper)) return pass_result::failed;
    if (lower_bins == 0 || upper_bins == 0) return pass_result::claimed;
    const double middle_db = 10.0 * std::log10(middle);
    if (middle_db - 10.0 * std::log10(lower) < band_contrast_db ||
        middle_db - 10.0 * std::log10(upper) < band_contrast_db)
        return pass_result::claimed;

    // Power above a baseline running straight in dB between the ends of the
    // range; the baseline powers wait in the scratch array for the removal.
    double P3 = 0;
    for (int32_t m = k; m <= b; ++m) P3 += bins.power(m);
    const double span = std::max(end - e, int32_t{1});
    double excess_sum = 0, H = 0;
    for (int32_t v = e; v <= end; ++v) {
        const double base = t + (v - e) * (u - t) / span;
        const double base_power = power_of(base);
        w.scratch[v] = base_power;
        w.excess[v] = std::max(bins.power(v) - base_power, 0.0);
        excess_sum += w.excess[v];
        if (v >= k && v <= b) H += base_power;
    }
    if (!qn_is_finite(P3) || !qn_is_finite(H) || !qn_is_finite(excess_sum)) return pass_result::failed;
    if (H >= P3 || excess_sum <= 0 || e == end) return pass_result::claimed;

    // Bandwidth from the 5 % and 95 % points of the excess power; the ramp
    // of 1e-12 per bin keeps the cumulative share strictly rising.
    double cumulative = 0;
    for (int32_t j = 0; j <= end - e; ++j) {
        cumulative += w.excess[e + j];
        w.share[e + j] = cumulative / excess_sum + (j + 1) * 1e-12;
    }
    const double f95 = share_point(w.share, e, end, 0.95, df);
    const double f05 = share_point(w.share, e, end, 0.05, df);
    const double bandwidth = (f95 - f05) / 0.9;
    const double level = 10.0 * std::log10(P3 - H);
    if (!(bandwidth > 0) || !qn_is_finite(bandwidth) || !qn_is_finite(level)) return pass_result::failed;

    // Later passes see the region replaced by its baseline.
    for (int32_t v = e; v <= end; ++v) bins.replace(v, t + (v - e) * (u - t) / span, w.scratch[v]);
    *record = {e, end, centre, bandwidth, level, t, u};
    return pass_result::recorded;
}

}  // namespace

double qn_aures_bark(double frequency_hz) noexcept {
    const double khz = frequency_hz / 1000.0;
    const double r = khz / 7.5;
    return 13.0 * std::atan(0.76 * khz) + 3.5 * std::atan(r * r);
}

bool qn_aures_bin_rates(double *rate, int32_t len, double df) noexcept {
    bool rises = true;
    for (int32_t i = 0; i < len; ++i) {
        rate[i] = qn_aures_bark(i * df);
        if (i > 0 && !(rate[i] > rate[i - 1])) rises = false;
    }
    return rises;
}

void qn_aures_rate_run(const double *rate, int32_t len, bool rate_rises, double lo, double hi, int32_t *first,
                       int32_t *last) noexcept {
    if (!rate_rises) {
        *first = 0;
        *last = len - 1;
        return;
    }
    *first = static_cast<int32_t>(std::lower_bound(rate, rate + len, lo) - rate);
    *last = static_cast<int32_t>(std::upper_bound(rate, rate + len, hi) - rate) - 1;
}

int32_t qn_aures_narrowband_search(const qn_aures_spectrum &spectrum, const qn_aures_search_workspace &w,
                                   qn_aures_narrowband *records, double df) noexcept {
    const int32_t len = spectrum.len;
    if (len <= 0) return 0;
    const double unknown = std::numeric_limits<double>::quiet_NaN();
    std::memset(w.claimed, 0, static_cast<std::size_t>(len));
    std::fill(w.level_power, w.level_power + len, unknown);
    std::fill(w.smoothed, w.smoothed + len, unknown);
    std::fill(w.working, w.working + len, unknown);
    const lazy_bins bins(spectrum, w);

    // Every smoothed level must be finite. Levels up to 3000 dB cannot
    // overflow a sum of three powers, and levels are finite, so only a
    // spectrum beyond that needs every bin examined.
    bool bounded = true;
    for (int32_t i = 0; i < len && bounded; ++i)
        bounded = spectrum.ratio != nullptr && std::isnan(spectrum.level[i]) ? spectrum.ratio[i] <= 1e300
                                                                             : spectrum.level[i] <= 3000.0;
    if (!bounded) {
        for (int32_t i = 0; i < len; ++i)
            if (!qn_is_finite(bins.smoothed(i))) return qn_aures_step_failed;
    }

    // Region peaks lie between 20 Hz and 5 kHz.
    int32_t first_peak = 0;
    while (first_peak < len && first_peak * df < lowest_peak_hz) ++first_peak;
    int32_t last_peak = first_peak - 1;
    while (last_peak + 1 < len && (last_peak + 1) * df <= highest_peak_hz) ++last_peak;
    if (first_peak > last_peak) return 0;
    for (int32_t i = first_peak; i <= last_peak; ++i) w.search[i] = bins.smoothed(i);

    int32_t count = 0;
    for (int pass = 0; pass < qn_aures_max_narrowbands; ++pass) {
        const pass_result r = search_pass(bins, w, first_peak, last_peak, df, &records[count]);
        if (r == pass_result::stop) break;
        if (r == pass_result::failed) return qn_aures_step_failed;
        if (r == pass_result::recorded) ++count;
    }
    return count;
}

int32_t qn_aures_pick_peaks(const double *L, int32_t first, int32_t last, const qn_aures_narrowband *records,
                            int32_t record_count, double fs, int32_t N, int32_t *bins, double *levels,
                            double *frequencies, int32_t capacity) noexcept {
    int32_t count = 0;
    for (int32_t p = first; p <= last; ++p) {
        const double l = L[p];
        if (!(l > L[p - 1] && l >= L[p + 1])) continue;
        if (l - L[p - 9] < 7 || l - L[p - 6] < 7 || l - L[p + 6] < 7 || l - L[p + 9] < 7) continue;
        bool inside = false;
        for (int32_t r = 0; r < record_count && !inside; ++r) inside = p >= records[r].start && p <= records[r].end;
        if (inside || !(l > 0)) continue;
        if (count == capacity) return qn_aures_step_failed;
        bins[count] = p;
        levels[count] = l;
        frequencies[count] = p * fs / N;
        ++count;
    }
    return count;
}

int32_t qn_aures_peak_bandwidths(const double *L, int32_t N, const int32_t *bins, const double *levels,
                                 int32_t count, double *bandwidths, double fs) noexcept {
    const double bin_width = fs / N;
    const double nan = std::numeric_limits<double>::quiet_NaN();
    for (int32_t i = 0; i < count; ++i) {
        const int32_t p = bins[i];
        const double theta = levels[i] - 3;
        int32_t c = -1;
        for (int32_t j = p; j >= 0; --j) {
            if (L[j] < theta) {
                c = j;
                break;
            }
        }
        c = std::max(c, int32_t{3});
        if (c + 1 >= N) c = N - 2;
        int32_t r = p + 1;
        for (int32_t j = p + 1; j < N; ++j) {
            if (L[j] < theta) {
                r = j;
                break;
            }
        }
        r = std::min(r, N - 1);
        const double f_lo = L[c + 1] == L[c] ? nan : c * fs / N + bin_width * (theta - L[c]) / (L[c + 1] - L[c]);
        const double f_hi =
            L[r] == L[r - 1] ? nan : (r - 1) * fs / N + bin_width * (theta - L[r - 1]) / (L[r] - L[r - 1]);
        const double bandwidth = f_hi - f_lo;
        if (!(bandwidth > 0) || !qn_is_finite(bandwidth)) return qn_aures_step_failed;
        bandwidths[i] = bandwidth;
    }
    return 0;
}

// Tonality after Aures, with Terhardt's extraction of tonal components.
//
// Per frame: the Hann-windowed frame's level spectrum gives the narrow-band
// regions and tonal peaks; a second spectrum of the frame with those
// components flattened out is the residual, whose level spectrum masks the
// components and whose loudness, against the frame's, gives the loudness
// weighting; the SPL excess of the components and their bandwidths and
// frequencies give the tonal weight; both give T.
//
// The window, the critical-band rate of every bin and the plan are made once
// per call; the frames share one block of scratch, so the working memory
// does not grow with the signal.
#include "tonality_aures/engine.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <numbers>

#include "fft/fft.h"
#include "base/alloc.h"
#include "base/checks.h"
#include "loudness/filter_bank.h"
#include "tonality_aures/components.h"
#include "tonality_aures/weighting.h"

namespace {

constexpr int32_t N = qn_aures_frame_length;
constexpr double sample_rate = qn_aures_sample_rate;
constexpr int32_t half = N / 2;
constexpr double bin_width = sample_rate / N;  // 4 Hz

// The narrow-band search runs over bins 0 ... N / 2; tonal peaks lie in
// bins 9 ... 1250 (36 Hz ... 5 kHz); the masking spectrum covers bins
// 5 ... 1250 (20 Hz ... 5 kHz), one entry per possible component bin.
constexpr int32_t search_bins = half + 1;
constexpr int32_t first_peak_bin = 9;
constexpr int32_t last_peak_bin = 1250;
constexpr int32_t first_masking_bin = 5;
constexpr int32_t masking_bins = last_peak_bin - first_masking_bin + 1;  // 1246
constexpr int32_t max_components = masking_bins;

// A level of L1 not computed yet (computed on first use by the search).
constexpr double unknown_level = std::numeric_limits<double>::quiet_NaN();

// Reference sound pressure squared, (20 uPa)^2 in Pa^2.
constexpr double reference_power = 4e-10;

// The window's own bandwidth (Hz) of a line found as a tonal peak and as a
// narrow band, and the narrowest range flattened around a tonal peak.
constexpr double peak_window_bandwidth = 5.72;
constexpr double narrowband_window_bandwidth = 10.668;
constexpr double least_removal_width = 16.0;

// The scratch of one call, carved from one zero-filled block of doubles and
// one of integers, by element offsets.
struct layout {
    static constexpr std::size_t window = 0;                                     // N
    static constexpr std::size_t spectrum = window + N;                          // 2 N: X, interleaved
    static constexpr std::size_t residual_spectrum = spectrum + 2 * N;           // 2 N: Y
    static constexpr std::size_t level = residual_spectrum + 2 * N;              // N: L1
    static constexpr std::size_t windowed = level + N;                           // N: wx
    static constexpr std::size_t residual = windowed + N;                        // N: r
    static constexpr std::size_t ratio = residual + N;                           // N / 2 + 1
    static constexpr std::size_t bin_rate = ratio + search_bins;                 // N / 2 + 1
    static constexpr std::size_t search = bin_rate + search_bins;                // 8 (N / 2 + 1)
    static constexpr std::size_t components = search + 8 * search_bins;          // 7 max_components
    static constexpr std::size_t masking_power = components + 7 * max_components;  // masking_bins
    static constexpr std::size_t doubles = masking_power + masking_bins;
    static constexpr std::size_t ints = 2 * max_components;                      // bin, band
    static constexpr std::size_t bytes = search_bins;                            // claim flags
};

struct scratch {
    qn_fft_cplan_ptr plan;
    qn_heap_array<double> block;
    qn_heap_array<int32_t> int_block;
    qn_heap_array<unsigned char> claimed;

    double *window, *X, *Y, *level, *wx, *residual, *ratio;
    qn_aures_search_workspace search;
    // The component list, parallel arrays.
    double *frequency, *component_level, *bandwidth, *excess, *window_bandwidth, *removal_width, *component_rate;
    int32_t *bin, *band;
    qn_aures_masking masking;
    double amplitude_scale;   // a = sqrt 2 / sum of the window: a line on a bin shows its level
    double window_noise_db;   // E_w: level of a noise band through the window, above its true level
    qn_aures_narrowband records[qn_aures_max_narrowbands];
};

int32_t obtain(scratch &s) {
    s.plan.reset(qn_fft_cplan_make(N));
    if (!s.plan) return qn_aures_plan_failed;
    s.block = qn_alloc_array_zeroed<double>(layout::doubles);
    s.int_block = qn_alloc_array_zeroed<int32_t>(layout::ints);
    s.claimed = qn_alloc_array_zeroed<unsigned char>(layout::bytes);
    if (!s.block || !s.int_block || !s.claimed) return qn_aures_allocation_failed;

    double *d = s.block.get();
    s.window = d + layout::window;
    s.X = d + layout::spectrum;
    s.Y = d + layout::residual_spectrum;
    s.level = d + layout::level;
    s.wx = d + layout::windowed;
    s.residual = d + layout::residual;
    s.ratio = d + layout::ratio;
    double *rate = d + layout::bin_rate;
    double *search = d + layout::search;
    const bool rises = qn_aures_bin_rates(rate, search_bins, bin_width);
    s.search = {rate,
                rises,
                search,
                search + search_bins,
                search + 2 * search_bins,
                search + 3 * search_bins,
                search + 4 * search_bins,
                search + 5 * search_bins,
                search + 6 * search_bins,
                search + 7 * search_bins,
                s.claimed.get()};
    double *c = d + layout::components;
    s.frequency = c;
    s.component_level = c + max_components;
    s.bandwidth = c + 2 * max_components;
    s.excess = c + 3 * max_components;
    s.window_bandwidth = c + 4 * max_components;
    s.removal_width = c + 5 * max_components;
    s.component_rate = c + 6 * max_components;
    s.bin = s.int_block.get();
    s.band = s.bin + max_components;
    s.masking = {d + layout::masking_power, rate + first_masking_bin, masking_bins, rises};

    // Symmetric Hann window (N - 1 in the denominator, both ends 0).
    double sum = 0, sum_squares = 0;
    for (int32_t i = 0; i < N; ++i) {
        s.window[i] = 0.5 - 0.5 * std::cos(2.0 * std::numbers::pi * i / (N - 1.0));
        sum += s.window[i];
        sum_squares += s.window[i] * s.window[i];
    }
    s.amplitude_scale = std::sqrt(2.0) / sum;
    s.window_noise_db = 10.0 * std::log10(N * sum_squares / (sum * sum));
    return 0;
}

double magnitude(const double *z) { return std::sqrt(z[0] * z[0] + z[1] * z[1]); }

// Gives bin z the magnitude mu and keeps its phase.
void set_magnitude(double *z, double mu) {
    const double phi = std::atan2(z[1], z[0]);
    z[0] = mu * std::cos(phi);
    z[1] = mu * std::sin(phi);
}

// Sorts the components by ascending frequency, stably: an entry moves down
// only past entries of strictly higher frequency.
void sort_by_frequency(scratch &s, int32_t n) {
    for (int32_t i = 1; i < n; ++i) {
        const double f = s.frequency[i], b = s.bandwidth[i], l = s.component_level[i], w = s.window_bandwidth[i];
        int32_t j = i;
        while (j > 0 && s.frequency[j - 1] > f) {
            s.frequency[j] = s.frequency[j - 1];
            s.bandwidth[j] = s.bandwidth[j - 1];
            s.component_level[j] = s.component_level[j - 1];
            s.window_bandwidth[j] = s.window_bandwidth[j - 1];
            --j;
        }
        s.frequency[j] = f;
        s.bandwidth[j] = b;
        s.component_level[j] = l;
        s.window_bandwidth[j] = w;
    }
}

// The masking-spectrum index of the bin whose rate equals the component's
// exactly, or -1: a tonal peak's own bin, a narrow band only when its centre
// falls on a bin.
int32_t band_index(const scratch &s, double rate) {
    const double *r = s.masking.rate;
    if (s.masking.rate_rises) {
        const double *at = std::lower_bound(r, r + masking_bins, rate);
        return at != r + masking_bins && *at == rate ? static_cast<int32_t>(at - r) : -1;
    }
    for (int32_t j = 0; j < masking_bins; ++j)
        if (r[j] == rate) return j;
    return -1;
}

// T of the frame starting at x. Returns 0 or an engine code.
int32_t frame_tonality(scratch &s, const double *x, qn_sound_field field, double *T) {
    const double a = s.amplitude_scale;
    for (int32_t i = 0; i < N; ++i) {
        s.wx[i] = s.window[i] * x[i];
        s.X[2 * i] = a * s.wx[i];
        s.X[2 * i + 1] = 0;
    }
    if (!qn_fft_cforward(s.plan.get(), s.X, 1.0)) return qn_aures_allocation_failed;

    // The level spectrum L1 = 10 log10 of the power ratio. Every bin's ratio
    // must be finite; the levels are computed where they are read. The peak
    // picking reads bins 0 ... 1259 and the 3-dB walk of a tonal peak p
    // stays within p - 6 ... p + 6 (the peak stands 7 dB above those bins),
    // so those are computed here; the search computes the others it needs
    // up to N / 2; no reader reaches the mirrored half above N / 2.
    for (int32_t m = 0; m < N; ++m) {
        const double re = s.X[2 * m], im = s.X[2 * m + 1];
        // The 1e-99 keeps an empty bin's level finite (about -896 dB).
        const double q = (re * re + im * im + 1e-99) / reference_power;
        if (!qn_is_finite(q)) return qn_aures_numerical_failure;
        if (m < search_bins) s.ratio[m] = q;
    }
    for (int32_t m = 0; m < search_bins; ++m)
        s.level[m] = m <= last_peak_bin + 9 ? 10.0 * std::log10(s.ratio[m]) : unknown_level;

    const qn_aures_spectrum spectrum = {s.level, s.ratio, search_bins};
    const int32_t nb = qn_aures_narrowband_search(spectrum, s.search, s.records, bin_width);
    if (nb < 0) return qn_aures_numerical_failure;
    const int32_t nt = qn_aures_pick_peaks(s.level, first_peak_bin, last_peak_bin, s.records, nb, sample_rate, N,
                                           s.bin, s.component_level, s.frequency, max_components);
    if (nt < 0) return qn_aures_numerical_failure;
    if (nt == 0 && nb == 0) {
        *T = 0;
        return 0;
    }
    if (nt > 0 && qn_aures_peak_bandwidths(s.level, N, s.bin, s.component_level, nt, s.bandwidth, sample_rate) < 0)
        return qn_aures_numerical_failure;

    // The residual: the frame's spectrum (without the amplitude scale) with
    // the tonal peaks flattened and the narrow bands replaced by their
    // baselines.
    for (int32_t i = 0; i < N; ++i) {
        s.Y[2 * i] = s.wx[i];
        s.Y[2 * i + 1] = 0;
    }
    if (!qn_fft_cforward(s.plan.get(), s.Y, 1.0)) return qn_aures_allocation_failed;
    for (int32_t i = 0; i < nt; ++i) {
        s.window_bandwidth[i] = peak_window_bandwidth;
        s.removal_width[i] = std::max(s.bandwidth[i], least_removal_width);
    }
    qn_aures_flatten_tonal(s.Y, N, s.frequency, s.removal_width, nt, sample_rate);
    int32_t n = nt;
    for (int32_t r = 0; r < nb; ++r) {
        const qn_aures_narrowband &rec = s.records[r];
        const double t = rec.lower_edge_level, u = rec.upper_edge_level;
        const double span = std::max(rec.end - rec.start, int32_t{1});
        for (int32_t z = 0; z <= rec.end - rec.start; ++z) {
            const double lambda = t + z * (u - t) / span;
            const double mu = std::sqrt(std::pow(10.0, lambda / 10.0) * reference_power) / a;
            set_magnitude(&s.Y[2 * (rec.start + z)], mu);
        }
        if (n == max_components) return qn_aures_numerical_failure;
        s.frequency[n] = rec.centre;
        s.bandwidth[n] = rec.bandwidth;
        s.component_level[n] = rec.level - s.window_noise_db;
        s.window_bandwidth[n] = narrowband_window_bandwidth;
        ++n;
    }
    sort_by_frequency(s, n);
    for (int32_t i = 0; i < n; ++i) {
        s.component_rate[i] = qn_aures_bark(s.frequency[i]);
        s.band[i] = band_index(s, s.component_rate[i]);
    }

    // Masking spectrum L2 of the residual (the 1e-99 added after the
    // division here). Only bins 5 ... 1250 mask; every bin up to N / 2 must
    // still have a finite level, which holds exactly when its power is
    // finite.
    double *masking_power = s.block.get() + layout::masking_power;
    for (int32_t m = 0; m <= half; ++m) {
        const double amplitude = magnitude(&s.Y[2 * m]) * a;
        const double q = amplitude * amplitude / reference_power + 1e-99;
        if (!qn_is_finite(q)) return qn_aures_numerical_failure;
        if (m >= first_masking_bin && m <= last_peak_bin)
            masking_power[m - first_masking_bin] = std::pow(10.0, 10.0 * std::log10(q) / 10.0);
    }

    // Back to the time domain as a real signal.
    for (int32_t m = 1; m < half; ++m) {
        s.Y[2 * (N - m)] = s.Y[2 * m];
        s.Y[2 * (N - m) + 1] = -s.Y[2 * m + 1];
    }
    if (!qn_fft_cbackward(s.plan.get(), s.Y, 1.0 / N)) return qn_aures_allocation_failed;
    for (int32_t i = 0; i < N; ++i) s.residual[i] = s.Y[2 * i];

    double frame_loudness = 0, residual_loudness = 0;
    if (qn_aures_frame_loudness(s.wx, N, field, &frame_loudness, sample_rate) != 0 ||
        qn_aures_frame_loudness(s.residual, N, field, &residual_loudness, sample_rate) != 0)
        return qn_aures_loudness_failed;
    double w_gr = qn_aures_loudness_weight(frame_loudness, residual_loudness);
    if (!qn_is_finite(w_gr)) return qn_aures_numerical_failure;
    if (w_gr < 0) w_gr = 0;
    if (qn_aures_spl_excess(s.masking, s.frequency, s.component_rate, s.component_level, s.band, n, s.excess) < 0)
        return qn_aures_numerical_failure;
    const double w_t = qn_aures_tonal_weight(s.frequency, s.bandwidth, s.excess, s.window_bandwidth, n);
    const double t = qn_aures_tonality(w_t, w_gr);
    if (!qn_is_finite(t)) return qn_aures_numerical_failure;
    *T = t;
    return 0;
}

}  // namespace

std::size_t qn_aures_scratch_bytes() noexcept {
    return layout::doubles * sizeof(double) + layout::ints * sizeof(int32_t) + layout::bytes;
}

int32_t qn_tonality_aures_core(const double *samples, int32_t n, uint32_t field, double *out, double fs,
                               int32_t *frames) noexcept {
    if (n <= 0 || samples == nullptr || out == nullptr || frames == nullptr) return qn_aures_invalid_argument;
    if (!(fs > 0) || !qn_is_finite(fs)) return qn_aures_invalid_rate;
    if (field > 1) return qn_aures_invalid_argument;
    if (fs != sample_rate) return qn_aures_invalid_rate;
    if (n < N) return qn_aures_too_short;
    const int32_t count = (n - N) / qn_aures_hop + 1;
    const int32_t capacity = *frames;
    *frames = count;
    if (capacity < count) return qn_aures_capacity_too_small;

    scratch s;
    const int32_t obtained = obtain(s);
    if (obtained != 0) return obtained;
    for (int32_t k = 0; k < count; ++k) {
        const double *x = samples + static_cast<std::size_t>(k) * qn_aures_hop;
        const int32_t result = frame_tonality(s, x, static_cast<qn_sound_field>(field), &out[k]);
        if (result != 0) return result;
    }
    return count;
}

void qn_aures_flatten_tonal(double *Y, uint32_t length, const double *frequency, const double *width, int32_t count,
                            double fs) noexcept {
    const uint32_t h = length / 2;
    // The first bin s in 0 ... h whose frequency s fs / length reaches f, or
    // h + 1 when none does. Bin frequencies rise with s, so a bisection
    // finds what a scan from 0 finds.
    const auto first_reaching = [&](double f) {
        uint32_t lo = 0, hi = h + 1;
        while (lo < hi) {
            const uint32_t mid = lo + (hi - lo) / 2;
            if (mid * fs / length >= f) hi = mid;
            else lo = mid + 1;
        }
        return lo;
    };
    for (int32_t i = 0; i < count; ++i) {
        const double lo = frequency[i] - width[i] / 2;
        const double hi = frequency[i] + width[i] / 2;
        uint32_t j = first_reaching(lo);
        if (j > h) j = 0;
        uint32_t m = first_reaching(hi);
        if (m > h) m = h;
        const uint32_t e = std::max(j, m);
        const uint32_t below = j == 0 ? 0 : j - 1;
        const uint32_t above = e >= h ? h : e + 1;
        const double mu = 0.5 * (magnitude(&Y[2 * above]) + magnitude(&Y[2 * below]));
        const uint32_t last = std::min(e, h);
        for (uint32_t s = j; s <= last; ++s) set_magnitude(&Y[2 * s], mu);
    }
    if (length >= 4) {
        for (uint32_t s = 1; s < h; ++s) {
            Y[2 * (length - s)] = Y[2 * s];
            Y[2 * (length - s) + 1] = -Y[2 * s + 1];
        }
    }
    Y[1] = 0;
    if (length % 2 == 0) Y[2 * h + 1] = 0;
}

int32_t qn_aures_frame_loudness(const double *block, int32_t count, qn_sound_field field, double *loudness,
                                double fs) noexcept {
    // The filters start from rest; their first 12.5 ms are left out.
    const auto skip = static_cast<uint64_t>(fs * 0.0125);
    double levels[QN_THIRD_OCTAVE_BANDS];
    if (qn_third_octave_levels(block, static_cast<uint64_t>(count), skip, levels) != QN_STATUS_SUCCESS)
        return qn_aures_loudness_failed;
    double specific[QN_BARK_POINTS];
    if (qn_loudness_from_levels(levels, QN_THIRD_OCTAVE_BANDS, field, loudness, specific, QN_BARK_POINTS) !=
        QN_STATUS_SUCCESS)
        return qn_aures_loudness_failed;
    return 0;
}

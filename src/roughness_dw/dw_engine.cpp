// Roughness after Daniel & Weber, one value per 200 ms frame every 100 ms.
//
// Per frame: the windowed spectrum, ear-weighted, gives the audible
// components; each spreads over 47 critical-band channels with level-
// dependent slopes; each channel's excitation in time is rectified, and the
// band-pass weighted part of its envelope gives the channel's modulation
// depth; neighbouring channels two apart are correlated, and depth,
// correlation and a weight over the critical-band rate give the specific
// roughness, summed to the total.
//
// The method is computed with real transforms (every spectrum here belongs
// to a real signal), and the weighted envelopes are never brought back to
// the time domain: they have at most a hundred and thirty non-zero bins, and
// their energies and correlations follow from those bins (Parseval), so each
// channel costs two real transforms instead of three complex ones. The
// results agree with the direct method to rounding.
#include "roughness_dw/dw_engine.h"

#include <cmath>
#include <cstring>
#include <numbers>

#include "fft/fft.h"
#include "frame/alloc.h"
#include "frame/checks.h"
#include "roughness_dw/dw_setup.h"

using namespace qn_dw;

namespace {

constexpr int channels = channel_count;

// 10^x for the excitation ratios, whose exponents stay within a few tens.
inline double ten_to(double x) { return std::exp(x * std::numbers::ln10); }

// Working memory of one call, obtained before the first frame.
struct workspace {
    qn_fft_rplan_ptr plan;
    qn_heap_array<double> frame;     // N: windowed frame, then its packed spectrum
    qn_heap_array<double> buffer;    // N: a channel's spectrum, excitation, envelope spectrum
    qn_heap_array<int> bins;         // per component
    qn_heap_array<double> y_re, y_im, amplitude, level, rate;  // per component
    qn_heap_array<double> factor;    // components x channels: share of each component per channel
    int first_component[channels];   // the components with a share in each channel lie
    int last_component[channels];    // between these two (none when first > last)
    qn_heap_array<double> envelope;  // channels x 2 * weight_bins: weighted envelope spectra
    double energy[channels];         // sum over the frame of the squared weighted envelope
    double depth[channels];          // modulation depth m
    double correlation[correlation_count];
};

bool obtain(workspace &w, const qn_dw_setup &s) {
    const uint64_t n = static_cast<uint64_t>(s.length);
    const uint64_t comps = static_cast<uint64_t>(s.bin_hi - s.bin_lo + 1);
    w.plan.reset(qn_fft_rplan_make(static_cast<std::size_t>(n)));
    w.frame = qn_alloc_array<double>(n);
    w.buffer = qn_alloc_array<double>(n);
    w.bins = qn_alloc_array<int>(comps);
    w.y_re = qn_alloc_array<double>(comps);
    w.y_im = qn_alloc_array<double>(comps);
    w.amplitude = qn_alloc_array<double>(comps);
    w.level = qn_alloc_array<double>(comps);
    w.rate = qn_alloc_array<double>(comps);
    uint64_t factors = 0, envelopes = 0;
    if (!qn_mul_size(comps, channels, &factors) ||
        !qn_mul_size(static_cast<uint64_t>(s.weight_bins) * 2, channels, &envelopes))
        return false;
    w.factor = qn_alloc_array<double>(factors);
    w.envelope = qn_alloc_array<double>(envelopes);
    return w.plan && w.frame && w.buffer && w.bins && w.y_re && w.y_im && w.amplitude && w.level &&
           w.rate && w.factor && w.envelope;
}

// The spectrum of one frame, ear-weighted, and its audible components.
// Returns the number of components, or -2 / -5.
int components_of_frame(workspace &w, const qn_dw_setup &s, const double *x) {
    const int n = s.length;
    double *buf = w.frame.get();
    for (int j = 0; j < n; ++j) buf[j] = x[j] * s.window[j] * s.scale;
    if (!qn_fft_rforward(w.plan.get(), buf, 1.0)) return qn_dw_allocation_failed;

    int count = 0;
    for (int k = s.bin_lo; k <= s.bin_hi; ++k) {
        // Packed layout: bin k (0 < k < N/2) at 2k - 1, 2k; bin N/2 last.
        const double re = (k == n / 2 ? buf[n - 1] : buf[2 * k - 1]) * s.transmission[k];
        const double im = (k == n / 2 ? 0.0 : buf[2 * k]) * s.transmission[k];
        const double a = std::sqrt(re * re + im * im);
        if (!qn_is_finite(a)) return qn_dw_non_finite;
        const double level = a > 0 ? 20.0 * std::log10(a) : -400.0;
        if (level > s.threshold[k]) {
            w.bins[count] = k;
            w.y_re[count] = re;
            w.y_im[count] = im;
            w.amplitude[count] = a;
            w.level[count] = level;
            w.rate[count] = s.rate[k];
            ++count;
        }
    }
    return count;
}

void spread_components(workspace &w, const qn_dw_setup &s, int count) {
    for (int ch = 0; ch < channels; ++ch) {
        w.first_component[ch] = count;
        w.last_component[ch] = -1;
    }
    for (int c = 0; c < count; ++c) {
        int first = 0, last = -1;
        qn_dw_channel_factors(s, w.bins[c], w.level[c], w.rate[c],
                              &w.factor[static_cast<std::size_t>(c) * channels], &first, &last);
        for (int ch = first; ch <= last; ++ch) {
            if (c < w.first_component[ch]) w.first_component[ch] = c;
            w.last_component[ch] = c;
        }
    }
}

// Excitation, envelope and modulation depth of every channel. Returns 0,
// -2 after a failed transform, or -5 after a non-finite sum.
int channel_envelopes(workspace &w, const qn_dw_setup &s) {
    const int n = s.length;
    const int wb = s.weight_bins;
    bool transform_failed = false, non_finite = false;
    for (int ch = 0; ch < channels; ++ch) {
        double *env = &w.envelope[static_cast<std::size_t>(ch) * 2 * static_cast<std::size_t>(wb)];
        std::memset(env, 0, sizeof(double) * 2 * static_cast<std::size_t>(wb));
        w.energy[ch] = 0;
        w.depth[ch] = 0;

        const int c_first = w.first_component[ch], c_last = w.last_component[ch];
        if (c_first > c_last) continue;  // silent channel: no excitation, no envelope

        // The channel's spectrum, packed; its real inverse transform is
        // 2 Re sum B[k] e^(2 pi i j k / N), the excitation in time.
        double *buf = w.buffer.get();
        std::memset(buf, 0, sizeof(double) * static_cast<std::size_t>(n));
        for (int c = c_first; c <= c_last; ++c) {
            const double phi = w.factor[static_cast<std::size_t>(c) * channels + static_cast<std::size_t>(ch)];
            const int k = w.bins[c];
            if (k == n / 2) {
                buf[n - 1] += 2.0 * phi * w.y_re[c];
            } else {
                buf[2 * k - 1] += phi * w.y_re[c];
                buf[2 * k] += phi * w.y_im[c];
            }
        }
        if (!qn_fft_rbackward(w.plan.get(), buf, 1.0)) {
            transform_failed = true;
            continue;
        }

        // The rectified excitation. Its mean only moves bin 0 of its
        // spectrum, which the weighting drops, so it is not subtracted.
        double rectified = 0;
        for (int j = 0; j < n; ++j) {
            buf[j] = std::fabs(buf[j]);
            rectified += buf[j];
        }
        const double mean = rectified / n;
        if (!qn_fft_rforward(w.plan.get(), buf, 1.0)) {
            transform_failed = true;
            continue;
        }

        // Weighted envelope spectrum; its energy over the frame is
        // (2 / N) sum |c_k|^2.
        const double *weight = &s.modulation_weight[static_cast<std::size_t>(ch) * static_cast<std::size_t>(wb)];
        double sum = 0;
        for (int k = 2; k < s.channel_weight_end[ch]; ++k) {
            const double re = buf[2 * k - 1] * weight[k], im = buf[2 * k] * weight[k];
            env[2 * k] = re;
            env[2 * k + 1] = im;
            sum += re * re + im * im;
        }
        const double energy = 2.0 * sum / n;
        w.energy[ch] = energy;
        if (!qn_is_finite(rectified) || !qn_is_finite(energy)) {
            non_finite = true;
            continue;
        }
        if (mean > 0) {
            const double m = std::sqrt(energy / n) / mean;
            if (m < qn_dw_unmodulated_depth) {
                // Rounding noise of an unmodulated excitation (a channel
                // excited by a single spectral line has a constant
                // envelope): it has no depth, and correlating it would only
                // correlate noise.
                std::memset(env, 0, sizeof(double) * 2 * static_cast<std::size_t>(wb));
                w.energy[ch] = 0;
            } else {
                w.depth[ch] = m > 1 ? 1.0 : m;
            }
        }
    }
    if (transform_failed) return qn_dw_allocation_failed;
    if (non_finite) return qn_dw_non_finite;
    return 0;
}

// Correlation of the weighted envelopes of channels two apart, from their
// spectra: both have no mean, and sum x y = (2 / N) Re sum c_x conj(c_y).
int correlations(workspace &w, const qn_dw_setup &s) {
    const int wb = s.weight_bins;
    for (int j = 1; j <= correlation_count; ++j) {
        const int a = qn_dw_channel_index(j), b = qn_dw_channel_index(j + 2);
        const double *x = &w.envelope[static_cast<std::size_t>(a) * 2 * static_cast<std::size_t>(wb)];
        const double *y = &w.envelope[static_cast<std::size_t>(b) * 2 * static_cast<std::size_t>(wb)];
        double sum = 0;
        for (int k = 2; k < wb; ++k) sum += x[2 * k] * y[2 * k] + x[2 * k + 1] * y[2 * k + 1];
        const double sxy = 2.0 * sum / s.length;
        const double d = std::sqrt(w.energy[a] * w.energy[b]);
        if (!qn_is_finite(d)) return qn_dw_non_finite;
        w.correlation[qn_dw_correlation_index(j)] = d > 0 ? sxy / d : 0.0;
    }
    return 0;
}

// Specific roughness of every channel, summed: depth and the correlations
// with the channels two below and two above, squared, weighted.
int total_roughness(const workspace &w, const qn_dw_setup &s, double *out) {
    double sum = 0;
    for (int i = 1; i <= channels; ++i) {
        double product = w.depth[qn_dw_channel_index(i)];
        if (i - 2 >= 1) product *= w.correlation[qn_dw_correlation_index(i - 2)];
        if (i <= correlation_count) product *= w.correlation[qn_dw_correlation_index(i)];
        const double r = s.channel_weight[qn_dw_channel_index(i)] * (product * product) * calibration;
        sum += r;
    }
    if (!qn_is_finite(sum)) return qn_dw_non_finite;
    *out = 0.5 * sum;
    return 0;
}

}  // namespace

void qn_dw_channel_factors(const qn_dw_setup &s, int bin, double level, double z, double *factors, int *first,
                           int *last) noexcept {
    double ratio[channels + 1] = {};  // excitation / amplitude by channel number 1 ... 47
    const double f = bin * s.fs / s.length;
    const double slope_candidate = 0.2 * level - 230.0 / f - 24.0;
    const double slope = slope_candidate < 0 ? slope_candidate : 0.0;
    const int p = static_cast<int>(std::floor(2.0 * z));
    const int q = static_cast<int>(std::ceil(2.0 * z));
    // The excitation only falls away from the component, so once it is
    // below every channel's threshold no channel further out is reached.
    const double floor_db = s.lowest_channel_threshold;

    // Lower side, 27 dB per Bark: the ratio is 10^(-27 (z - 0.5 i) / 20),
    // a factor 10^(-0.675) per channel outwards.
    const int lower_end = p < channels ? p : channels;
    if (lower_end >= 1) {
        const double step = ten_to(-27.0 * 0.5 / 20.0);  // one channel down the slope
        double r = ten_to(-27.0 * (z - 0.5 * lower_end) / 20.0);
        for (int i = lower_end; i >= 1; --i, r *= step) {
            const double lambda = level - 27.0 * (z - 0.5 * i);
            if (lambda <= floor_db) break;
            if (lambda > s.channel_threshold[qn_dw_channel_index(i)]) ratio[i] = r;
        }
    }
    // Upper side, `slope` dB per Bark: a factor 10^(slope / 40) per channel.
    const int upper_start = q > 1 ? q : 1;
    if (upper_start <= channels) {
        const double step = ten_to(slope / 40.0);
        double r = ten_to(slope * (0.5 * upper_start - z) / 20.0);
        for (int i = upper_start; i <= channels; ++i, r *= step) {
            const double lambda = level + slope * (0.5 * i - z);
            if (lambda <= floor_db) break;
            if (lambda > s.channel_threshold[qn_dw_channel_index(i)]) ratio[i] = r;
        }
    }

    *first = channels;
    *last = -1;
    for (int i = 1; i <= channels; ++i) {
        double phi;
        if (i == p || i == q) {
            phi = 1.0;
        } else if (i == channels) {
            phi = ratio[channels - 1];
        } else if (i < q) {
            phi = ratio[i + 1];  // the excitation at the channel's upper edge
        } else {
            phi = ratio[i - 1];  // the excitation at the channel's lower edge
        }
        factors[qn_dw_channel_index(i)] = phi;
        if (phi != 0) {
            if (qn_dw_channel_index(i) < *first) *first = qn_dw_channel_index(i);
            *last = qn_dw_channel_index(i);
        }
    }
}

int32_t qn_roughness_dw_core(const double *samples, int32_t n, double *out, int32_t *frames, double fs) noexcept {
    const int32_t length = static_cast<int32_t>(0.2 * fs);
    if (n < length) return qn_dw_too_short;
    const int32_t last = (n - length) / (length / 2);
    if (*frames <= last) return qn_dw_capacity_too_small;
    *frames = last + 1;

    qn_dw_setup setup;
    if (!qn_dw_prepare(&setup, fs)) return qn_dw_allocation_failed;
    workspace w;
    if (!obtain(w, setup)) return qn_dw_allocation_failed;

    const int64_t hop = length / 2;
    for (int32_t f = 0; f <= last; ++f) {
        // The start in 64 bits: f * N / 2 in 32 bits would overflow past
        // about six hours of signal.
        const int64_t start = qn_dw_frame_start(f, hop);
        const int count = components_of_frame(w, setup, samples + start);
        if (count < 0) return count;
        spread_components(w, setup, count);
        int r = channel_envelopes(w, setup);
        if (r == 0) r = correlations(w, setup);
        if (r == 0) r = total_roughness(w, setup, &out[f]);
        if (r != 0) return r;
    }
    return last + 1;
}

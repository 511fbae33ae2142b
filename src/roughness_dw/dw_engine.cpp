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
// Every signal here is real, and the weighted envelopes are never brought
// back to the time domain: they have at most a hundred and thirty non-zero
// bins, and their energies and correlations follow from those bins
// (Parseval). Two neighbouring channels share one complex transform each
// way: their spectra go in as the real and imaginary parts of one signal,
// their rectified excitations come back as one, and the envelope bins of
// each are separated by symmetry. The mean of a rectified excitation is bin
// 0 of its spectrum. So a frame costs one real transform and two complex
// ones for every two channels. The spread of the components over a channel
// runs over whole vectors of bins, and only over the bins from which a
// component can reach the channel. The results agree with the direct
// method to rounding.
#include "roughness_dw/dw_engine.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "fft/fft.h"
#include "base/alloc.h"
#include "base/checks.h"
#include "roughness_dw/dw_kernels.h"
#include "roughness_dw/dw_setup.h"

using namespace qn_dw;

namespace {

constexpr int channels = channel_count;

// The per-bin arrays of a frame and the shares of two channels, in one
// block, and the frame's block summaries behind them.
constexpr int bin_arrays = 7;

bool obtain_bins(qn_heap_array<double> &owner, const qn_dw_setup &s, qn_dw_frame_bins &frame, double *phi[2]) {
    const uint64_t per_array = static_cast<uint64_t>(s.bin_end);
    const uint64_t blocks = per_array / qn_dw_bin_block;
    uint64_t total = 0;
    if (!qn_mul_size(per_array, bin_arrays, &total) || total > qn_max_count - 2 * blocks) return false;
    owner = qn_alloc_array<double>(total + 2 * blocks);
    if (!owner) return false;
    double *p[bin_arrays];
    for (int a = 0; a < bin_arrays; ++a) p[a] = owner.get() + static_cast<std::size_t>(a) * per_array;
    double *summaries = owner.get() + total;
    frame = {p[0], p[1], p[2], p[3], p[4], summaries, summaries + blocks};
    phi[0] = p[5];
    phi[1] = p[6];
    return true;
}

qn_dw_bin_tables tables_of(const qn_dw_setup &s) {
    return {s.bin_end, s.rate.get(), s.threshold.get(), s.transmission.get(), s.lower_ratio.get(),
            s.slope_term.get()};
}

// The first analysed bin whose rate, doubled, passes `past` (the rate rises
// with the bin); bin_hi + 1 when none does.
template <class Past>
int first_bin(const qn_dw_setup &s, Past past) {
    int k = s.bin_lo;
    while (k <= s.bin_hi && !past(2.0 * s.rate[k])) ++k;
    return k;
}

// What channel i (1 ... 47) takes from the channels around it.
qn_dw_row row_of(const qn_dw_setup &s, int i) {
    const int above = i < channels ? i + 1 : channels - 1;  // channel 47 takes channel 46 from above
    qn_dw_row r;
    r.below = i - 1;
    r.above = i + 1;
    r.upper_rate = 0.5 * (i - 1);
    r.upper_threshold = i > 1 ? s.channel_threshold[qn_dw_channel_index(i - 1)] : HUGE_VAL;
    r.lower_rate = 0.5 * above;
    r.lower_threshold = s.channel_threshold[qn_dw_channel_index(above)];
    r.lower_gain = s.channel_gain[qn_dw_channel_index(above)];
    r.own_begin = first_bin(s, [&](double two_z) { return two_z > r.below; });
    r.own_end = first_bin(s, [&](double two_z) { return two_z >= r.above; });
    return r;
}

// A real transform of a frame or one channel runs in place on block + 1, so
// that bin k of its packed spectrum (r0, r1, i1, r2, i2, ...) sits at
// block[2k] and block[2k + 1]; block[0] is never part of a transform and
// stays 0, the imaginary part of bin 0.
std::size_t block_size(const qn_dw_setup &s) {
    const std::size_t pairs = 2 * static_cast<std::size_t>(s.bin_end);
    const std::size_t packed = static_cast<std::size_t>(s.length) + 2;
    return pairs > packed ? pairs : packed;
}

// Working memory of one call, obtained before the first frame.
struct workspace {
    const qn_dw_kernels *kernels = nullptr;
    qn_dw_bin_tables tables{};
    qn_dw_row rows[channels];
    qn_fft_rplan_ptr real_plan;
    qn_fft_cplan_ptr complex_plan;
    qn_heap_array<double> block;  // a frame or one channel, real
    qn_heap_array<double> pair;   // two channels as one complex signal: N bins and a spare
    qn_heap_array<double> bins;
    qn_dw_frame_bins frame{};
    double *phi[2] = {};
    qn_heap_array<double> reach;  // prefix and suffix maxima of the block summaries
    int span_begin[channels];     // per channel, the bins its components can come from
    int span_end[channels];
    qn_heap_array<double> envelope;  // channels x 2 * weight_bins: weighted envelope spectra
    double energy[channels];         // sum over the frame of the squared weighted envelope
    double depth[channels];          // modulation depth m
    double correlation[correlation_count];
    bool transform_failed = false;
    bool non_finite = false;
};

bool obtain(workspace &w, const qn_dw_setup &s, qn_simd path) {
    const uint64_t n = static_cast<uint64_t>(s.length);
    w.kernels = &qn_dw_kernels_for(path);
    w.tables = tables_of(s);
    for (int i = 1; i <= channels; ++i) w.rows[qn_dw_channel_index(i)] = row_of(s, i);
    w.real_plan.reset(qn_fft_rplan_make(static_cast<std::size_t>(n)));
    w.complex_plan.reset(qn_fft_cplan_make(static_cast<std::size_t>(n)));
    w.block = qn_alloc_array_zeroed<double>(block_size(s));
    uint64_t pair_size = 0, envelopes = 0;
    if (!qn_mul_size(n + 1, 2, &pair_size) ||
        !qn_mul_size(static_cast<uint64_t>(s.weight_bins) * 2, channels, &envelopes))
        return false;
    w.pair = qn_alloc_array<double>(pair_size);
    w.envelope = qn_alloc_array<double>(envelopes);
    w.reach = qn_alloc_array<double>(3 * static_cast<uint64_t>(s.bin_end / qn_dw_bin_block));
    if (!obtain_bins(w.bins, s, w.frame, w.phi)) return false;
    return w.real_plan && w.complex_plan && w.block && w.pair && w.envelope && w.reach;
}

// The spectrum of one frame, ear-weighted, and its audible components.
// Returns 0, -2 or -5.
int components_of_frame(workspace &w, const qn_dw_setup &s, const double *x) {
    double *data = w.block.get() + 1;
    w.kernels->window(x, s.scaled_window.get(), static_cast<std::size_t>(s.length), data);
    if (!qn_fft_rforward(w.real_plan.get(), data, 1.0)) return qn_dw_allocation_failed;
    if (!w.kernels->components(w.block.get(), w.tables, w.frame)) return qn_dw_non_finite;
    return 0;
}

// The weighted envelope spectrum of channel `ch` from the spectrum of its
// rectified excitation (bin(k) gives bin k as a pair), its energy and its
// modulation depth. `rectified` is the sum of the rectified excitation over
// the frame, bin 0 of that spectrum.
template <class Bin>
void finish_channel(workspace &w, const qn_dw_setup &s, int ch, double rectified, Bin bin) {
    const int n = s.length;
    const std::size_t row = 2 * static_cast<std::size_t>(s.weight_bins);
    double *env = &w.envelope[static_cast<std::size_t>(ch) * row];
    std::memset(env, 0, sizeof(double) * row);
    const double *weight = &s.modulation_weight[static_cast<std::size_t>(ch) * static_cast<std::size_t>(s.weight_bins)];
    // The envelope's energy over the frame is (2 / N) sum |c_k|^2.
    double sum = 0;
    for (int k = 2; k < s.channel_weight_end[ch]; ++k) {
        double re, im;
        bin(k, re, im);
        re *= weight[k];
        im *= weight[k];
        env[2 * k] = re;
        env[2 * k + 1] = im;
        sum += re * re + im * im;
    }
    const double energy = 2.0 * sum / n;
    w.energy[ch] = energy;
    w.depth[ch] = 0;
    if (!qn_is_finite(rectified) || !qn_is_finite(energy)) {
        w.non_finite = true;
        return;
    }
    // The mean of the rectified excitation only moves bin 0 of its
    // spectrum, which the weighting drops, so it was never subtracted.
    const double mean = rectified / n;
    if (mean > 0) {
        const double m = std::sqrt(energy / n) / mean;
        if (m < qn_dw_unmodulated_depth) {
            // Rounding noise of an unmodulated excitation (a channel
            // excited by a single spectral line has a constant envelope):
            // it has no depth, and correlating it would only correlate
            // noise.
            std::memset(env, 0, sizeof(double) * row);
            w.energy[ch] = 0;
        } else {
            w.depth[ch] = m > 1 ? 1.0 : m;
        }
    }
}

void silent_channel(workspace &w, const qn_dw_setup &s, int ch) {
    const std::size_t row = 2 * static_cast<std::size_t>(s.weight_bins);
    std::memset(&w.envelope[static_cast<std::size_t>(ch) * row], 0, sizeof(double) * row);
    w.energy[ch] = 0;
    w.depth[ch] = 0;
}

// One channel alone, its shares given for bins begin ... end - 1: its
// spectrum to its excitation, rectified, back to the spectrum of the
// rectified excitation, all with the real transform.
void single_channel(workspace &w, const qn_dw_setup &s, int ch, const double *phi, int begin, int end) {
    const std::size_t n = static_cast<std::size_t>(s.length);
    double *block = w.block.get();
    double *data = block + 1;
    w.kernels->channel_spectrum(phi, w.frame, begin, end, block);
    // Every other bin up to N/2 (block[N]) is empty.
    std::memset(block, 0, sizeof(double) * 2 * static_cast<std::size_t>(begin));
    const std::size_t written = 2 * static_cast<std::size_t>(end);
    if (written <= n) std::memset(block + written, 0, sizeof(double) * (n + 1 - written));
    if (!qn_fft_rbackward(w.real_plan.get(), data, 1.0)) {
        w.transform_failed = true;
        return;
    }
    w.kernels->rectify(data, n);
    if (!qn_fft_rforward(w.real_plan.get(), data, 1.0)) {
        w.transform_failed = true;
        return;
    }
    finish_channel(w, s, ch, block[1], [block](int k, double &re, double &im) {
        re = block[2 * k];
        im = block[2 * k + 1];
    });
}

// Two channels a and b with one complex transform each way. Channel b's
// spectrum is scaled by a power of two (exact) so that both have the same
// magnitude: the rounding of each then stays at its own scale, and the
// weaker never inherits the other's.
void pair_of_channels(workspace &w, const qn_dw_setup &s, int a, int b, double peak_a, double peak_b, int begin,
                      int end) {
    const std::size_t n = static_cast<std::size_t>(s.length);
    int exp_a = 0, exp_b = 0;
    std::frexp(peak_a, &exp_a);
    std::frexp(peak_b, &exp_b);
    const double scale = std::ldexp(1.0, exp_a - exp_b), unscale = std::ldexp(1.0, exp_b - exp_a);
    double *z = w.pair.get();
    w.kernels->pair_spectrum(w.phi[0], w.phi[1], scale, w.frame, begin, end, n, z);
    // Every other bin is empty: below begin, from end to its mirror image
    // N - end, and above the mirror image N - begin.
    const std::size_t first = static_cast<std::size_t>(begin), past = static_cast<std::size_t>(end);
    std::memset(z, 0, sizeof(double) * 2 * first);
    std::memset(z + 2 * past, 0, sizeof(double) * 2 * (n - 2 * past + 1));
    if (first > 1) std::memset(z + 2 * (n - first + 1), 0, sizeof(double) * 2 * (first - 1));
    if (!qn_fft_cbackward(w.complex_plan.get(), z, 1.0)) {
        w.transform_failed = true;
        return;
    }
    w.kernels->rectify(z, 2 * n);
    // Only the envelope bins below weight_bins and their mirror images are
    // read: the transform's last passes are pruned to them.
    if (!qn_fft_cforward_ends(w.complex_plan.get(), z, static_cast<std::size_t>(s.weight_bins), 1.0)) {
        w.transform_failed = true;
        return;
    }
    // U = C_a + i C_b with both C Hermitian: C_a[k] = (U[k] + conj U[N-k]) / 2,
    // C_b[k] = (U[k] - conj U[N-k]) / 2i.
    finish_channel(w, s, a, z[0], [z, n](int k, double &re, double &im) {
        const double *u = z + 2 * static_cast<std::size_t>(k), *v = z + 2 * (n - static_cast<std::size_t>(k));
        re = (u[0] + v[0]) * 0.5;
        im = (u[1] - v[1]) * 0.5;
    });
    finish_channel(w, s, b, z[1] * unscale, [z, n, unscale](int k, double &re, double &im) {
        const double *u = z + 2 * static_cast<std::size_t>(k), *v = z + 2 * (n - static_cast<std::size_t>(k));
        re = (u[1] + v[1]) * 0.5 * unscale;
        im = (v[0] - u[0]) * 0.5 * unscale;
    });
}

// Margin of the reach tests below, dB: far above the rounding of a level,
// far below anything audible.
constexpr double reach_margin = 1e-6;

// The bins whose components can reach each channel, from the frame's block
// summaries. A component's excitation only falls away from it, 27 dB per
// Bark downwards and by its upper slope upwards, so once even the loudest
// and least steep component beyond a block stays below a channel's
// threshold there, no component beyond it reaches the channel. Whole
// blocks; the channel's own bins are always in.
void channel_spans(workspace &w, const qn_dw_setup &s) {
    constexpr int width = qn_dw_bin_block;
    const int blocks = s.bin_end / width;
    double *rising_level = w.reach.get();           // highest level in blocks 0 ... b
    double *rising_slope = rising_level + blocks;   // least steep slope in blocks 0 ... b
    double *falling_level = rising_slope + blocks;  // highest level in blocks b ... last
    double level = qn_dw_no_level, slope = qn_dw_no_slope;
    for (int b = 0; b < blocks; ++b) {
        level = std::fmax(level, w.frame.block_level[b]);
        slope = std::fmax(slope, w.frame.block_slope[b]);
        rising_level[b] = level;
        rising_slope[b] = slope;
    }
    level = qn_dw_no_level;
    for (int b = blocks - 1; b >= 0; --b) {
        level = std::fmax(level, w.frame.block_level[b]);
        falling_level[b] = level;
    }
    for (int ch = 0; ch < channels; ++ch) {
        const qn_dw_row &r = w.rows[ch];
        int begin = r.own_begin / width * width;
        int end = (r.own_end + width - 1) / width * width;
        // Above the channel, down the lower slopes: the rate only rises.
        int b = r.own_end / width;
        while (b < blocks &&
               falling_level[b] - 27.0 * (s.block_rate_low[b] - r.lower_rate) > r.lower_threshold - reach_margin)
            ++b;
        end = std::max(end, b * width);
        // Below it, down the upper slopes.
        b = (r.own_begin - 1) / width;
        for (; b >= 0; --b) {
            const double gap = r.upper_rate - s.block_rate_high[b];
            const double reach = rising_level[b] + rising_slope[b] * (gap > 0 ? gap : 0.0);
            if (reach <= r.upper_threshold - reach_margin) break;
        }
        begin = std::min(begin, (b + 1) * width);
        w.span_begin[ch] = begin;
        w.span_end[ch] = end;
    }
}

// Excitation, envelope and modulation depth of every channel. Returns 0,
// -2 after a failed transform, or -5 after a non-finite sum.
int channel_envelopes(workspace &w, const qn_dw_setup &s) {
    w.transform_failed = false;
    w.non_finite = false;
    channel_spans(w, s);
    for (int a = 0; a < channels; a += 2) {
        const int b = a + 1;
        if (b == channels) {
            const int begin = w.span_begin[a], end = w.span_end[a];
            if (w.kernels->spread(w.tables, w.frame, w.rows[a], begin, end, w.phi[0]) > 0)
                single_channel(w, s, a, w.phi[0], begin, end);
            else
                silent_channel(w, s, a);
            break;
        }
        // Both channels' shares over the bins either can take.
        const int begin = std::min(w.span_begin[a], w.span_begin[b]);
        const int end = std::max(w.span_end[a], w.span_end[b]);
        const double peak_a = w.kernels->spread(w.tables, w.frame, w.rows[a], begin, end, w.phi[0]);
        const double peak_b = w.kernels->spread(w.tables, w.frame, w.rows[b], begin, end, w.phi[1]);
        if (peak_a > 0 && peak_b > 0) {
            pair_of_channels(w, s, a, b, peak_a, peak_b, begin, end);
            continue;
        }
        // A silent channel has no excitation and no envelope; its partner
        // goes alone.
        if (peak_a > 0) single_channel(w, s, a, w.phi[0], begin, end);
        else silent_channel(w, s, a);
        if (peak_b > 0) single_channel(w, s, b, w.phi[1], begin, end);
        else silent_channel(w, s, b);
    }
    if (w.transform_failed) return qn_dw_allocation_failed;
    if (w.non_finite) return qn_dw_non_finite;
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

bool qn_dw_channel_factors(qn_simd path, const qn_dw_setup &s, int bin, double level, double *factors) noexcept {
    const qn_dw_kernels &kernels = qn_dw_kernels_for(path);
    const qn_dw_bin_tables tables = tables_of(s);
    qn_heap_array<double> block = qn_alloc_array_zeroed<double>(block_size(s));
    qn_heap_array<double> owner;
    qn_dw_frame_bins frame{};
    double *phi[2] = {};
    if (!block || !obtain_bins(owner, s, frame, phi)) return false;
    // A lone line whose ear-weighted amplitude has the level asked for.
    block[2 * static_cast<std::size_t>(bin)] = std::pow(10.0, level / 20.0) / s.transmission[bin];
    if (!kernels.components(block.get(), tables, frame)) return false;
    for (int i = 1; i <= channels; ++i) {
        kernels.spread(tables, frame, row_of(s, i), 0, s.bin_end, phi[0]);
        factors[qn_dw_channel_index(i)] = phi[0][bin];
    }
    return true;
}

int32_t qn_roughness_dw_core_with(qn_simd path, const double *samples, int32_t n, double *out, int32_t *frames,
                                  double fs) noexcept {
    const int32_t length = static_cast<int32_t>(0.2 * fs);
    if (n < length) return qn_dw_too_short;
    const int32_t last = (n - length) / (length / 2);
    if (*frames <= last) return qn_dw_capacity_too_small;
    *frames = last + 1;

    qn_dw_setup setup;
    if (!qn_dw_prepare(&setup, fs)) return qn_dw_allocation_failed;
    workspace w;
    if (!obtain(w, setup, path)) return qn_dw_allocation_failed;

    const int64_t hop = length / 2;
    for (int32_t f = 0; f <= last; ++f) {
        // The start in 64 bits: f * N / 2 in 32 bits would overflow past
        // about six hours of signal.
        const int64_t start = qn_dw_frame_start(f, hop);
        int r = components_of_frame(w, setup, samples + start);
        if (r == 0) r = channel_envelopes(w, setup);
        if (r == 0) r = correlations(w, setup);
        if (r == 0) r = total_roughness(w, setup, &out[f]);
        if (r != 0) return r;
    }
    return last + 1;
}

int32_t qn_roughness_dw_core(const double *samples, int32_t n, double *out, int32_t *frames, double fs) noexcept {
    return qn_roughness_dw_core_with(qn_simd_best(), samples, n, out, frames, fs);
}

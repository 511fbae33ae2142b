// The ECMA-418-2 roughness engine, in memory that does not grow with the
// signal. The band signals (band_signals.h) keep the last 16384 samples of
// each band, which is one block, or more when another metric reads longer
// blocks. As soon as a block's samples are in, its
// 53 modulation spectra are made, averaged over neighbouring bands,
// weighted against the noise floor and turned into raw roughness; the
// spectra are then forgotten. The interpolation to frames needs only the
// neighbouring blocks, so each frame is finished as soon as the block two
// after its interval is known, and handed on.
#include <algorithm>
#include <cfloat>
#include <emmintrin.h>
#include <cmath>
#include <complex>
#include <cstring>
#include <memory>

#include "ecma/band_signals.h"
#include "ecma/frame_sink.h"
#include "ecma/front_end.h"
#include "ecma/pchip.h"
#include "ecma/roughness.h"
#include "fft/fft.h"
#include "base/alloc.h"
#include "base/checks.h"

namespace {

constexpr int bands = qn_ecma::band_count;
constexpr int bins = qn_ecma_rough_bins;
constexpr std::size_t block = qn_ecma_rough_block;
constexpr std::size_t half = block / 2;
constexpr std::size_t points = qn_ecma_rough_envelope;
constexpr std::size_t decimation = qn_ecma_rough_decimation;

// The fast spectrum reads the block as 32 interleaved phases of 512
// samples, of which it needs phase 0 and the 16 odd ones, the odd ones two
// to a complex transform.
constexpr std::size_t phase_count = block / points;  // 32
constexpr std::size_t phase_pairs = phase_count / 4;  // 8

// Bands copied out of their rings together (and one more row of the block
// buffer each).
constexpr int copy_group = 4;
static_assert(bands % copy_group == 1, "the last band is copied alone");

// "Not known yet": the signal's length and the block and frame counts
// before the signal has ended.
constexpr uint64_t unknown = UINT64_MAX;

// Noise floor and weighting of the summed modulation spectrum.
constexpr int floor_first_bin = 2;
constexpr int floor_bins = 254;  // bins 2 ... 255
constexpr double floor_guard = 1e-10;
constexpr double weight_scale = 0.0856;
constexpr double weight_offset = 0.1407;
constexpr double peak_fraction = 0.05;

// The final transform: exponent from the spread of the pattern over the
// bands, calibration, and rise and fall constants at 50 frames per second.
constexpr double spread_scale = 1.6407;
constexpr double spread_centre = 2.5804;
constexpr double spread_silent = -4.23366228;
constexpr double exponent_range = 0.37106;
constexpr double exponent_floor = 0.58449;
constexpr double calibration = 0.0180685;
constexpr double rise_rate = 0.32;  // per frame: 62.5 ms
constexpr double fall_rate = 0.04;  // per frame: 500 ms

// Blocks whose raw roughness the interpolation holds: two on either side
// of the interval being finished.
constexpr int history = 4;

// Everything of fixed size the engine holds, in one heap block.
struct roughness_work {
    double spectrum[bands][bins];  // modulation power of each band
    double averaged[bands][bins];  // averaged over neighbours and normalised
    double loudness[bands];        // specific loudness of each band
    double sum[bins], weight[bins], gain[bins], sorted[floor_bins];
    double envelope_weight[bins];  // min(0.1891 exp(0.012 m), 1)
    double window[points];         // periodic Hann over its RMS
    double fold[2 * points];       // the analytic signal's spectrum folded mod 512
    double envelope[2 * points];
    double weighted[bins];
    // The folded analytic spectrum from the block's polyphase components
    // (see band_spectrum_fast): for each pair of odd phases, the factors of
    // a pair's complex transform Z at bin r and of conj(Z) at bin -r.
    double pair_direct[phase_pairs][2 * points];
    double pair_mirror[phase_pairs][2 * points];
    double phase_zero[points];           // x[32 t]
    double pairs[phase_pairs][2 * points];  // x[4p + 1 + 32 t] and x[4p + 3 + 32 t], interleaved
    qn_ecma_rough_band_constants constants[bands];
    double raw[history][bands];  // raw roughness by block index mod 4
    double previous[bands];      // the last frame written
};

}  // namespace

struct qn_ecma_rough_engine {
    uint64_t n;       // signal samples, once known
    uint64_t blocks;  // B, once known
    uint64_t frames;  // V, once known
    qn_ecma_rough_transforms transforms;
    qn_object_ptr<roughness_work> w;
    qn_heap_array<double> block_buffer;  // literal: copy_group blocks, and a complex one
    qn_fft_cplan_ptr long_complex;
    qn_fft_cplan_ptr short_complex;
    qn_fft_rplan_ptr short_real;
    const double *ring;    // the band signals' rows, while a block is taken
    uint64_t ring_stride;
    uint64_t ring_span;  // samples each row keeps: a block, or more for another metric's longer blocks
    uint64_t next_block;  // blocks taken so far
    uint64_t next_frame;  // frames handed on so far
    double rise, fall;    // smoothing factors
    double row[bands];    // the frame being finished
    qn_ecma_frame_sink sink;
};

namespace {

using engine = qn_ecma_rough_engine;

// The envelope's power spectrum from its 512 values in w.envelope (real
// parts of complex pairs): windowed, scaled so that its sum is the square
// of the block's loudness.
bool envelope_spectrum_fast(engine &e, double loudness, double *spectrum) {
    roughness_work &w = *e.w;
    double *u = w.envelope;
    double energy = 0;
    for (std::size_t j = 0; j < points; ++j) {
        u[j] = w.fold[2 * j] * w.window[j];
        energy += u[j] * u[j];
    }
    if (!qn_fft_rforward(e.short_real.get(), u, 1.0)) return false;
    const double g = energy > 0 ? loudness * loudness / energy : 0.0;
    spectrum[0] = g * (u[0] * u[0]);
    for (std::size_t m = 1; m < points / 2; ++m)
        spectrum[m] = g * (u[2 * m - 1] * u[2 * m - 1] + u[2 * m] * u[2 * m]);
    spectrum[points / 2] = g * (u[points - 1] * u[points - 1]);
    return true;
}

// Fast form. The analytic signal at every 32nd sample is the inverse of
// length 512 of the block's analytic spectrum Y folded modulo 512: bins
// 1 ... 8191 doubled, bins 0 and 8192 once. Summed over the bins of one
// residue r, the doubled half spectrum is
//   Y[r] = sum_n x[n] w^(n r) c(n mod 32) - 2 [r = 0] sum_(n odd) x[n],
// w = e^(-2 pi i / 16384), where c = 2 sum_(t < 16) e^(-2 pi i n t / 32) is
// 32 for n = 0, 4 / (1 - e^(-i pi n / 16)) for odd n and 0 for the other
// even n. Split into the 32 phases of the block, x[n0 + 32 n1], that is
// the 512-point transforms F of phase 0 and the 16 odd phases, weighted by
// c(n0) w^(n0 r) and added: 8 complex transforms of two phases each and a
// real one, instead of a transform of 16384 whose bins are folded.
// The phases come from split_block.
bool band_spectrum_fast(engine &e, double loudness, double *spectrum) {
    roughness_work &w = *e.w;
    double *y = w.fold;
    double *z = w.phase_zero;
    constexpr double c0 = phase_count;
    if (!qn_fft_rforward(e.short_real.get(), z, 1.0)) return false;
    y[0] = c0 * z[0];
    y[1] = 0;
    for (std::size_t k = 1; k < points / 2; ++k) {
        y[2 * k] = c0 * z[2 * k - 1];
        y[2 * k + 1] = c0 * z[2 * k];
        y[2 * (points - k)] = c0 * z[2 * k - 1];
        y[2 * (points - k) + 1] = -(c0 * z[2 * k]);
    }
    y[points] = c0 * z[points - 1];
    y[points + 1] = 0;
    // Phases 4p + 1 and 4p + 3 as the real and imaginary parts of one
    // transform Z: their transforms are (Z[r] + conj Z[-r]) / 2 and
    // (Z[r] - conj Z[-r]) / 2i, folded into the pair's factors.
    double odd_sum = 0;
    for (std::size_t p = 0; p < phase_pairs; ++p) {
        z = w.pairs[p];
        if (!qn_fft_cforward(e.short_complex.get(), z, 1.0)) return false;
        odd_sum += z[0] + z[1];  // bin 0: the sums of the two phases
        const double *u = w.pair_direct[p];
        const double *v = w.pair_mirror[p];
        // y[r] += u[r] Z[r] + v[r] conj Z[-r], a complex value to a vector:
        // (ur zr - ui zi, ur zi + ui zr) as (ur, ur) (zr, zi) + (-ui, ui)
        // (zi, zr), which rounds as the products written out do (a - b is
        // a + (-b)).
        const __m128d flip_low = _mm_set_pd(0.0, -0.0), flip_high = _mm_set_pd(-0.0, 0.0);
        for (std::size_t r = 0; r < points; ++r) {
            const std::size_t m = (points - r) % points;
            const __m128d zv = _mm_loadu_pd(z + 2 * r);
            const __m128d mv = _mm_xor_pd(_mm_loadu_pd(z + 2 * m), flip_high);  // conj Z[-r]
            const __m128d ur = _mm_set1_pd(u[2 * r]), ui = _mm_xor_pd(_mm_set1_pd(u[2 * r + 1]), flip_low);
            const __m128d vr = _mm_set1_pd(v[2 * r]), vi = _mm_xor_pd(_mm_set1_pd(v[2 * r + 1]), flip_low);
            const __m128d direct = _mm_add_pd(_mm_mul_pd(ur, zv), _mm_mul_pd(ui, _mm_shuffle_pd(zv, zv, 1)));
            const __m128d mirror = _mm_add_pd(_mm_mul_pd(vr, mv), _mm_mul_pd(vi, _mm_shuffle_pd(mv, mv, 1)));
            _mm_storeu_pd(y + 2 * r, _mm_add_pd(_mm_loadu_pd(y + 2 * r), _mm_add_pd(direct, mirror)));
        }
    }
    y[0] -= 2 * odd_sum;
    if (!qn_fft_cbackward(e.short_complex.get(), y, 1.0 / static_cast<double>(block))) return false;
    // |z| as sqrt(re^2 + im^2), hypot only where the squares overflow.
    for (std::size_t j = 0; j < points; ++j) {
        const double re = y[2 * j], im = y[2 * j + 1];
        const double magnitude = std::sqrt(re * re + im * im);
        y[2 * j] = magnitude <= DBL_MAX ? magnitude : std::hypot(re, im);
    }
    return envelope_spectrum_fast(e, loudness, spectrum);
}

// The factors of band_spectrum_fast for the pair of phases a = 4p + 1 and
// b = 4p + 3: with T(n0, r) = c(n0) w^(n0 r), Z[r] takes (T(a) - i T(b)) / 2
// and conj Z[-r] takes (T(a) + i T(b)) / 2.
void fill_phase_factors(roughness_work &w) {
    for (std::size_t p = 0; p < phase_pairs; ++p) {
        const double phase[2] = {static_cast<double>(4 * p + 1), static_cast<double>(4 * p + 3)};
        std::complex<double> weight[2];
        for (int i = 0; i < 2; ++i) weight[i] = 4.0 / (1.0 - std::polar(1.0, -M_PI * phase[i] / 16.0));
        for (std::size_t r = 0; r < points; ++r) {
            std::complex<double> t[2];
            for (int i = 0; i < 2; ++i) {
                // n0 r < 16384: the angle is exact before the division.
                const double turns = phase[i] * static_cast<double>(r) / static_cast<double>(block);
                t[i] = weight[i] * std::polar(1.0, -2.0 * M_PI * turns);
            }
            const std::complex<double> i_tb = std::complex<double>(0, 1) * t[1];
            const std::complex<double> direct = (t[0] - i_tb) / 2.0, mirror = (t[0] + i_tb) / 2.0;
            w.pair_direct[p][2 * r] = direct.real();
            w.pair_direct[p][2 * r + 1] = direct.imag();
            w.pair_mirror[p][2 * r] = mirror.real();
            w.pair_mirror[p][2 * r + 1] = mirror.imag();
        }
    }
}

// Reads a band's block from its ring once, the oldest sample at ring
// index `start` (the ring `span` samples long, a block or more): phase 0
// and the pairs of odd phases into the buffers of band_spectrum_fast, and
// the block's
// effective pressure, max(x, 0) squared and summed in eight interleaved
// sums in the block's order (so that the sum runs at the speed of the
// loads; the arrangement is the same on every vector path).
double split_block(const double *row, std::size_t start, std::size_t span, roughness_work &w) {
    const __m128d zero = _mm_setzero_pd();
    __m128d acc[4] = {zero, zero, zero, zero};
    double joined[phase_count];
    for (std::size_t t = 0; t < points; ++t) {
        const std::size_t at = (start + t * phase_count) % span;
        const double *x = row + at;
        if (at + phase_count > span) {  // these 32 samples wrap round the ring
            const std::size_t head = span - at;
            std::memcpy(joined, row + at, head * sizeof(double));
            std::memcpy(joined + head, row, (phase_count - head) * sizeof(double));
            x = joined;
        }
        for (std::size_t i = 0; i < phase_count / 2; ++i) {
            const __m128d v = _mm_max_pd(_mm_loadu_pd(x + 2 * i), zero);
            acc[i % 4] = _mm_add_pd(acc[i % 4], _mm_mul_pd(v, v));
        }
        w.phase_zero[t] = x[0];
        for (std::size_t p = 0; p < phase_pairs; ++p) {
            w.pairs[p][2 * t] = x[4 * p + 1];
            w.pairs[p][2 * t + 1] = x[4 * p + 3];
        }
    }
    double lanes[2];
    _mm_storeu_pd(lanes, _mm_add_pd(_mm_add_pd(acc[0], acc[1]), _mm_add_pd(acc[2], acc[3])));
    return std::sqrt(2.0 * (lanes[0] + lanes[1]) / static_cast<double>(block));
}

// Literal form: the analytic signal by two complex transforms of 16384, its
// magnitude every 32 samples, and a complex transform of 512.
bool band_spectrum_literal(engine &e, const double *x, double loudness, double *spectrum) {
    roughness_work &w = *e.w;
    double *z = e.block_buffer.get() + copy_group * block;  // 2 * 16384 doubles after the rows
    for (std::size_t j = 0; j < block; ++j) {
        z[2 * j] = x[j];
        z[2 * j + 1] = 0;
    }
    if (!qn_fft_cforward(e.long_complex.get(), z, 1.0)) return false;
    for (std::size_t k = 1; k < half; ++k) {
        z[2 * k] *= 2;
        z[2 * k + 1] *= 2;
    }
    std::fill(z + 2 * (half + 1), z + 2 * block, 0.0);
    if (!qn_fft_cbackward(e.long_complex.get(), z, 1.0 / static_cast<double>(block))) return false;
    double *u = w.envelope;
    double energy = 0;
    for (std::size_t j = 0; j < points; ++j) {
        const double magnitude = std::hypot(z[2 * decimation * j], z[2 * decimation * j + 1]);
        const double value = magnitude * w.window[j];
        energy += value * value;
        u[2 * j] = value;
        u[2 * j + 1] = 0;
    }
    if (!qn_fft_cforward(e.short_complex.get(), u, 1.0)) return false;
    const double g = energy > 0 ? loudness * loudness / energy : 0.0;
    for (int m = 0; m < bins; ++m) spectrum[m] = g * (u[2 * m] * u[2 * m] + u[2 * m + 1] * u[2 * m + 1]);
    return true;
}

// The ring of a band while a block is taken.
const double *ring_row(const engine &e, int band) {
    return e.ring + static_cast<std::size_t>(band) * e.ring_stride;
}

// Copies the blocks of neighbouring bands out of their rings (the oldest
// sample at ring index `start`, the ring one block long or longer) into
// consecutive rows of the block buffer, with each band's effective pressure.
// One band alone (the 53rd).
void copy_block(const engine &e, int band, std::size_t start, double *power) {
    const double *row = e.ring + static_cast<std::size_t>(band) * e.ring_stride;
    double *dst = e.block_buffer.get();
    const std::size_t head = std::min<std::size_t>(block, e.ring_span - start);
    std::memcpy(dst, row + start, head * sizeof(double));
    std::memcpy(dst + head, row, (block - head) * sizeof(double));
    *power = qn_ecma_effective_pressure(dst, block);
}

// Four bands side by side, two to a vector: each lane's arithmetic is that
// of qn_ecma_effective_pressure (max(x, 0) squared, summed in sample
// order; maxpd gives 0 for a NaN or a zero of either sign, as the test
// x > 0 does), without its branch and with four sums in flight.
void copy_blocks4(const engine &e, int first_band, std::size_t start, double *power) {
    const double *row[4];
    double *dst[4];
    for (int l = 0; l < 4; ++l) {
        row[l] = e.ring + static_cast<std::size_t>(first_band + l) * e.ring_stride;
        dst[l] = e.block_buffer.get() + static_cast<std::size_t>(l) * block;
    }
    const __m128d zero = _mm_setzero_pd();
    __m128d low = zero, high = zero;  // bands 0 and 1, bands 2 and 3
    const std::size_t head = e.ring_span - start;  // the samples before the ring wraps
    for (std::size_t j = 0; j < block; ++j) {
        const std::size_t at = j < head ? start + j : j - head;
        const double x0 = row[0][at], x1 = row[1][at], x2 = row[2][at], x3 = row[3][at];
        dst[0][j] = x0;
        dst[1][j] = x1;
        dst[2][j] = x2;
        dst[3][j] = x3;
        const __m128d a = _mm_max_pd(_mm_set_pd(x1, x0), zero);
        const __m128d b = _mm_max_pd(_mm_set_pd(x3, x2), zero);
        low = _mm_add_pd(low, _mm_mul_pd(a, a));
        high = _mm_add_pd(high, _mm_mul_pd(b, b));
    }
    double sum[4];
    _mm_storeu_pd(sum, low);
    _mm_storeu_pd(sum + 2, high);
    for (int l = 0; l < 4; ++l) power[l] = std::sqrt(2.0 * sum[l] / static_cast<double>(block));
}

// Raw roughness of every band of the block that ends at position `end`,
// the last sample the band signals hold.
qn_status block_roughness(engine &e, const qn_ecma_band_signals &signals, uint64_t end, double *raw) {
    roughness_work &w = *e.w;
    e.ring = signals.rows.get();
    e.ring_stride = signals.stride;
    e.ring_span = signals.span;
    const std::size_t start = static_cast<std::size_t>(qn_ecma_band_block_start(signals, end, block));
    const bool literal = e.transforms == qn_ecma_rough_transforms::literal;
    double max_loudness = 0;
    // The fast form takes one band at a time, split into its phases.
    const int group = literal ? copy_group : 1;
    for (int first = 0; first < bands; first += group) {
        const int count = std::min(group, bands - first);
        double pressure[copy_group];
        if (!literal) {
            pressure[0] = split_block(ring_row(e, first), start, static_cast<std::size_t>(e.ring_span), w);
        } else if (count == copy_group) {
            copy_blocks4(e, first, start, pressure);
        } else {
            copy_block(e, first, start, pressure);
        }
        for (int l = 0; l < count; ++l) {
            const int b = first + l;
            const double loudness = qn_ecma_specific_loudness(b, pressure[l]);
            if (!qn_is_finite(loudness)) return QN_STATUS_NUMERICAL_FAILURE;
            w.loudness[b] = loudness;
            if (loudness > max_loudness) max_loudness = loudness;
            double *spectrum = w.spectrum[b];
            if (loudness == 0) {
                std::fill(spectrum, spectrum + bins, 0.0);
                continue;
            }
            const bool done =
                literal ? band_spectrum_literal(e, e.block_buffer.get() + static_cast<std::size_t>(l) * block, loudness,
                                                spectrum)
                        : band_spectrum_fast(e, loudness, spectrum);
            if (!done) return QN_STATUS_NUMERICAL_FAILURE;
        }
    }
    if (max_loudness == 0) {
        std::fill(raw, raw + bands, 0.0);
        return QN_STATUS_SUCCESS;
    }

    // Average over the band and its two neighbours (the outer bands stand
    // alone), relative to the loudest band, and sum over the bands.
    std::fill(w.sum, w.sum + bins, 0.0);
    for (int b = 0; b < bands; ++b) {
        for (int m = 0; m < bins; ++m) {
            const double v = b == 0 || b == bands - 1
                                 ? w.spectrum[b][m] / max_loudness
                                 : ((w.spectrum[b][m] + w.spectrum[b - 1][m] + w.spectrum[b + 1][m]) / 3) / max_loudness;
            if (!qn_is_finite(v)) return QN_STATUS_NUMERICAL_FAILURE;
            w.averaged[b][m] = v;
            w.sum[m] += v;
        }
    }
    // The median of bins 2 ... 255 is the noise floor. The values are
    // finite or +infinity (sums of non-negative finite values), so they sort.
    std::copy(w.sum + floor_first_bin, w.sum + floor_first_bin + floor_bins, w.sorted);
    std::sort(w.sorted, w.sorted + floor_bins);
    const double median = 0.5 * (w.sorted[floor_bins / 2 - 1] + w.sorted[floor_bins / 2]) + floor_guard;
    double highest = 0;
    for (int m = 0; m < bins; ++m) {
        w.weight[m] = (w.sum[m] * weight_scale / median) * w.envelope_weight[m];
        if (m >= floor_first_bin && m < floor_first_bin + floor_bins && w.weight[m] > highest) highest = w.weight[m];
    }
    const double threshold = peak_fraction * highest;
    for (int m = 0; m < bins; ++m)
        w.gain[m] = w.weight[m] >= threshold ? std::min(std::max(w.weight[m] - weight_offset, 0.0), 1.0) : 0.0;
    for (int b = 0; b < bands; ++b) {
        for (int m = 0; m < bins; ++m) w.weighted[m] = w.averaged[b][m] * w.gain[m];
        raw[b] = qn_ecma_band_roughness_with(w.weighted, w.constants[b]);
        if (!qn_is_finite(raw[b])) return QN_STATUS_NUMERICAL_FAILURE;
    }
    return QN_STATUS_SUCCESS;
}

// ---------------------------------------------------------------------------
// Interpolation to frames

// Before the end is known, every block taken has a block after it, and
// its instant does not depend on n.
double block_time(const engine &e, uint64_t i) { return qn_ecma_rough_block_time(i, e.blocks, e.n); }

double raw_at(const engine &e, uint64_t i, int band) { return e.w->raw[i % history][band]; }

// The shape-preserving slope at block i.
double slope(const engine &e, uint64_t i, int band) {
    return qn_ecma_pchip_slope(i, e.blocks, [&](uint64_t j) { return block_time(e, j); },
                               [&](uint64_t j) { return raw_at(e, j, band); });
}

// Interpolates interval i (blocks i and i + 1) at the frames from the next
// one up to instant t_(i+1), or to the last frame for the last interval;
// each frame gets its exponent and smoothing and is handed on.
qn_status finish_interval(engine &e, uint64_t i) {
    roughness_work &w = *e.w;
    const double t0 = block_time(e, i), t1 = block_time(e, i + 1), h = t1 - t0;
    const bool last = i + 2 == e.blocks;
    double slope0[bands], slope1[bands];
    for (int b = 0; b < bands; ++b) {
        slope0[b] = slope(e, i, b);
        slope1[b] = slope(e, i + 1, b);
    }
    for (; e.next_frame < e.frames; ++e.next_frame) {
        const uint64_t k = e.next_frame;
        const double t = qn_ecma_rough_frame_time(k);
        if (!last && !(t <= t1)) break;
        const double s = (t - t0) / h;
        double *row = e.row;
        double total = 0, power = 0;
        for (int b = 0; b < bands; ++b) {
            double r = qn_ecma_pchip_value(s, h, raw_at(e, i, b), raw_at(e, i + 1, b), slope0[b], slope1[b]);
            if (r < 0) r = 0;  // a NaN stays for the finite test
            row[b] = r;
            total += r;
            power += r * r;
        }
        const double x = total > 0 ? spread_scale * (std::sqrt(bands * power) / total - spread_centre) : spread_silent;
        const double exponent = ((std::tanh(x) + 1) * exponent_range) * 0.5 + exponent_floor;
        for (int b = 0; b < bands; ++b) {
            const double v = calibration * std::pow(row[b], exponent);
            double value = v;
            if (k > 0) {
                const double p = w.previous[b];
                const double alpha = v >= p ? e.rise : e.fall;
                value = alpha * p + (1 - alpha) * v;
            }
            if (!qn_is_finite(value)) return QN_STATUS_NUMERICAL_FAILURE;
            row[b] = value;
            w.previous[b] = value;
        }
        e.sink.put(e.sink.context, row);
    }
    return QN_STATUS_SUCCESS;
}

// Takes block i, which ends at position `end`, and finishes the interval
// whose slopes it completes: interval i - 2 has both its slopes once block
// i is in.
qn_status take_block(engine &e, const qn_ecma_band_signals &signals, uint64_t i, uint64_t end) {
    const qn_status status = block_roughness(e, signals, end, e.w->raw[i % history]);
    if (status != QN_STATUS_SUCCESS) return status;
    e.next_block = i + 1;
    return i >= 2 ? finish_interval(e, i - 2) : QN_STATUS_SUCCESS;
}

}  // namespace

qn_ecma_rough_engine *qn_ecma_rough_engine_make(qn_ecma_rough_transforms transforms,
                                                const qn_ecma_frame_sink &sink) noexcept {
    qn_object_ptr<engine> made = qn_make_object<engine>();
    if (made == nullptr) return nullptr;
    engine &e = *made;
    e.n = e.blocks = e.frames = unknown;
    e.transforms = transforms;
    e.sink = sink;
    const bool literal = transforms == qn_ecma_rough_transforms::literal;
    e.w = qn_make_object<roughness_work>();
    // The fast form reads the blocks in their rings; the literal one copies
    // them out.
    if (literal) {
        e.block_buffer = qn_alloc_array<double>((copy_group + 2) * block);
        e.long_complex.reset(qn_fft_cplan_make(block));
    } else {
        e.short_real.reset(qn_fft_rplan_make(points));
    }
    e.short_complex.reset(qn_fft_cplan_make(points));
    if (!e.w || !e.short_complex || (literal ? !e.block_buffer || !e.long_complex : !e.short_real)) return nullptr;

    // Constants of the analysis.
    roughness_work &w = *e.w;
    for (std::size_t j = 0; j < points; ++j)
        w.window[j] = (0.5 - 0.5 * std::cos(2 * M_PI * static_cast<double>(j) / static_cast<double>(points))) /
                      0.6123724356957945;  // sqrt(3/8), the window's RMS
    for (int m = 0; m < bins; ++m) w.envelope_weight[m] = std::min(0.1891 * std::exp(0.012 * m), 1.0);
    for (int b = 0; b < bands; ++b) w.constants[b] = qn_ecma_rough_constants(b);
    if (!literal) fill_phase_factors(w);
    e.rise = std::exp(-rise_rate);
    e.fall = std::exp(-fall_rate);
    return made.release();
}

void qn_ecma_rough_engine_free(qn_ecma_rough_engine *engine) noexcept { qn_free_object(engine); }

uint64_t qn_ecma_rough_next_block_end(const qn_ecma_rough_engine &e) noexcept {
    return e.n == unknown ? qn_ecma_rough_block_hop * e.next_block : UINT64_MAX;
}

qn_status qn_ecma_rough_advance(qn_ecma_rough_engine *e, const qn_ecma_band_signals &signals) noexcept {
    // A block that ends exactly at the signal's end is the last one, with
    // the last block's samples and instant: taking it here changes nothing.
    while (e->n == unknown && qn_ecma_rough_block_hop * e->next_block <= signals.end) {
        const qn_status status = take_block(*e, signals, e->next_block, qn_ecma_rough_block_hop * e->next_block);
        if (status != QN_STATUS_SUCCESS) return status;
    }
    return QN_STATUS_SUCCESS;
}

qn_status qn_ecma_rough_finish(qn_ecma_rough_engine *e, const qn_ecma_band_signals &signals) noexcept {
    const uint64_t n = signals.end;
    e->n = n;
    e->blocks = qn_ecma_rough_blocks(n);
    e->frames = qn_ecma_rough_frames(n);
    // The last block, the last 16384 samples of the signal, unless it ended
    // on a block's end and was taken as the signal went.
    if (e->next_block + 1 == e->blocks) {
        const qn_status status = take_block(*e, signals, e->next_block, n);
        if (status != QN_STATUS_SUCCESS) return status;
    }
    // The last interval runs to the last frame.
    const qn_status finished = finish_interval(*e, e->blocks - 2);
    if (finished != QN_STATUS_SUCCESS) return finished;
    return e->next_frame == e->frames ? QN_STATUS_SUCCESS : QN_STATUS_NUMERICAL_FAILURE;
}

uint64_t qn_ecma_rough_frames_done(const qn_ecma_rough_engine &e) noexcept { return e.next_frame; }

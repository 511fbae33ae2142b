// The ECMA-418-2 roughness engine, in memory that does not grow with the
// signal. The band signals (band_signals.h) keep the last 16384 samples of
// each band, which is one block, or more when another metric reads longer
// blocks. As soon as a block's samples are in, its
// 53 modulation spectra are made, averaged over neighbouring bands,
// weighted against the noise floor and turned into raw roughness; the
// spectra are then forgotten. The interpolation to frames needs only the
// neighbouring blocks, so each frame is finished as soon as the block two
// after its interval is known, and handed on.
//
// Consecutive blocks share three quarters of their samples. The fast form
// transforms each quarter of a band once, when it arrives, into what it
// adds to the envelope of any block it lies in (imaginary_part,
// quarter_block), and keeps the last three quarters' parts: a block's
// envelope is then the sum of four of them.
#include <algorithm>
#include <emmintrin.h>
#include <cmath>
#include <complex>
#include <cstring>
#include <memory>

#include "ecma/band_signals.h"
#include "ecma/frame_sink.h"
#include "ecma/front_end.h"
#include "ecma/pchip.h"
#include "ecma/rough_kernels.h"
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

// The fast form reads the block as 32 interleaved phases of 512 samples,
// of which it needs phase 0 (the envelope's real part, as it stands) and
// the 16 odd ones (which alone make its imaginary part), the odd ones two
// to a complex transform.
constexpr std::size_t phase_count = block / points;   // 32
constexpr std::size_t phase_pairs = phase_count / 4;  // 8

// A quarter block, the hop: 128 samples of each phase.
constexpr std::size_t quarters = block / qn_ecma_rough_block_hop;  // 4
constexpr std::size_t quarter_points = points / quarters;          // 128
constexpr std::size_t kept_quarters = quarters - 1;                // besides the newest

// The rows of the pairs' transforms and of their factors, which the
// products read side by side: 64 bytes more than a transform, so that the
// rows fall in different sets of the first-level cache.
constexpr std::size_t pair_stride = 2 * points + 8;

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
    double spectrum[bands][bins];  // modulation power of each band; then averaged over neighbours, normalised
    double loudness[bands];        // specific loudness of each band
    double sum[bins], weight[bins], gain[bins], sorted[floor_bins];
    double envelope_weight[bins];  // min(0.1891 exp(0.012 m), 1)
    double window[points];         // periodic Hann over its RMS
    double envelope[2 * points];
    double weighted[bins];
    // D_p of imaginary_part as the kernel takes it: its real part at both
    // places of a (re, im) pair, its imaginary part as (-im, +im).
    double factor_re[phase_pairs][pair_stride];
    double factor_im[phase_pairs][pair_stride];
    double pairs[phase_pairs][pair_stride];  // x[4p + 1 + 32 t] and x[4p + 3 + 32 t], interleaved
    double products[2 * points];            // their transforms times the factors, summed over the pairs
    double part[points];                    // the newest quarter's part, or a whole block's
    double newest_real[quarter_points];     // the newest quarter's x[32 t]
    double real[points];                    // ... and real parts, of the last block
    qn_ecma_rough_band_constants constants[bands];
    double raw[history][bands];  // raw roughness by block index mod 4
    double previous[bands];      // the last frame written
};

// What the fast form keeps of a band's three quarters before the newest,
// quarter q in place (q + 4) mod 3 (quarters before the signal, q >= -4,
// are zeros).
struct band_quarters {
    double part[kept_quarters][points];           // imaginary parts at the block's 512 instants
    double real[kept_quarters][quarter_points];   // x[32 t]: the real parts at its own 128
    double power[kept_quarters];                  // sum of max(x, 0)^2
};

}  // namespace

struct qn_ecma_rough_engine {
    uint64_t n;       // signal samples, once known
    uint64_t blocks;  // B, once known
    uint64_t frames;  // V, once known
    qn_ecma_rough_transforms transforms;
    qn_object_ptr<roughness_work> w;
    qn_heap_array<band_quarters> quarters;  // fast: one per band
    qn_heap_array<double> block_buffer;     // literal: copy_group blocks, and a complex one
    qn_fft_cplan_ptr long_complex;
    qn_fft_cplan_ptr short_complex;
    qn_fft_rplan_ptr short_real;
    const qn_ecma_rough_kernels *kernels;
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

// The envelope's power spectrum from its 512 windowed values in
// w.envelope and their energy: scaled so that its sum is the square of the
// block's loudness.
bool envelope_spectrum_fast(engine &e, double loudness, double energy, double *spectrum) {
    double *u = e.w->envelope;
    if (!qn_fft_rforward(e.short_real.get(), u, 1.0)) return false;
    const double g = energy > 0 ? loudness * loudness / energy : 0.0;
    spectrum[0] = g * (u[0] * u[0]);
    for (std::size_t m = 1; m < points / 2; ++m)
        spectrum[m] = g * (u[2 * m - 1] * u[2 * m - 1] + u[2 * m] * u[2 * m]);
    spectrum[points / 2] = g * (u[points - 1] * u[points - 1]);
    return true;
}

// Fast form. The analytic signal at every 32nd sample of the block is the
// inverse of length 512 of the block's analytic spectrum folded modulo 512
// (bins 1 ... 8191 doubled, bins 0 and 8192 once), over 16384. Its real
// part is the sample itself; its imaginary part H has the folded transform
//   Y[r] = sum_(n odd) x[n] d(n mod 32) w^(n r),  w = e^(-2 pi i / 16384),
//   d(n0) = -2 e^(i pi n0 / 32) / sin(pi n0 / 32),
// for r = 1 ... 511, and Y[0] = sum_(n odd) x[n] Re d(n mod 32): the even
// samples other than the phase-0 ones add nothing to the fold, and the
// phase-0 ones only to the real part. Split into the 16 odd phases
// x[n0 + 32 n1], Y is the 512-point transforms F of the phases times
// T(n0, r) = d(n0) w^(n0 r), summed; T is Hermitian in r (T(n0, 0) being
// the real Re d), as is Y, so H is real.
//
// Phases a = 4p + 1 and b = 4p + 3 are the real and imaginary parts of one
// transform Z, and F_a T_a + F_b T_b = D Z[r] + conj(D[-r] Z[-r]) with D =
// (T_a - i T_b) / 2. So v = sum_p D_p Z_p over all 512 bins, Y[r] = v[r] +
// conj v[-r] for r = 0 ... 256, and a real inverse of Y gives H.
//
// A sample n = 4096 q + m of the block adds its m's share shifted by
// w^(4096 q r) = (-i)^(q r), which is a turn of 128 q instants in H: each
// quarter's part is made once, as if it began a block (its 128 samples of
// each phase, the other 384 zero), and turned into place in each block.
//
// Makes H into `out` from the phases in w.pairs, `length` (128 or 512)
// samples of each.
bool imaginary_part(engine &e, std::size_t length, double *out) {
    roughness_work &w = *e.w;
    double *v = w.products;
    for (std::size_t p = 0; p < phase_pairs; ++p) {
        double *z = w.pairs[p];
        std::fill(z + 2 * length, z + 2 * points, 0.0);
        if (!qn_fft_cforward(e.short_complex.get(), z, 1.0)) return false;
    }
    e.kernels->accumulate(v, &w.pairs[0][0], &w.factor_re[0][0], &w.factor_im[0][0], pair_stride, phase_pairs,
                          2 * points);
    // Y[r] = v[r] + conj v[-r], packed for the real inverse: Y[0], then
    // re and im of Y[1] ... Y[255], then Y[256] (both real).
    out[0] = v[0] + v[0];
    for (std::size_t r = 1; r < points / 2; ++r) {
        const std::size_t m = points - r;
        out[2 * r - 1] = v[2 * r] + v[2 * m];
        out[2 * r] = v[2 * r + 1] - v[2 * m + 1];
    }
    out[points - 1] = v[points] + v[points];
    return qn_fft_rbackward(e.short_real.get(), out, 1.0 / static_cast<double>(block));
}

// The factors D_p of imaginary_part for the pairs of phases a = 4p + 1 and
// b = 4p + 3.
void fill_phase_factors(roughness_work &w) {
    for (std::size_t p = 0; p < phase_pairs; ++p) {
        std::complex<double> t[2][points];
        for (int i = 0; i < 2; ++i) {
            const double n0 = static_cast<double>(4 * p + 1 + 2 * static_cast<std::size_t>(i));
            const double s = std::sin(M_PI * n0 / 32.0);
            const std::complex<double> d = -2.0 * std::polar(1.0, M_PI * n0 / 32.0) / s;
            t[i][0] = d.real();
            for (std::size_t r = 1; r < points / 2; ++r) {
                // n0 r < 16384: the angle is exact before the division.
                const double turns = n0 * static_cast<double>(r) / static_cast<double>(block);
                t[i][r] = d * std::polar(1.0, -2.0 * M_PI * turns);
                t[i][points - r] = std::conj(t[i][r]);
            }
            t[i][points / 2] = -2.0 / s;  // d w^(256 n0), which is real
        }
        for (std::size_t r = 0; r < points; ++r) {
            const std::complex<double> direct = (t[0][r] - std::complex<double>(0, 1) * t[1][r]) / 2.0;
            w.factor_re[p][2 * r] = w.factor_re[p][2 * r + 1] = direct.real();
            w.factor_im[p][2 * r] = -direct.imag();
            w.factor_im[p][2 * r + 1] = direct.imag();
        }
    }
}

// Reads 32 `length` samples of a band from its ring, the oldest at ring
// index `start` (the ring `span` samples long, a block or more): phase 0
// into `real` and the pairs of odd phases into w.pairs; returns the sum
// of max(x, 0)^2 over them. Each run of 32 samples is read as 16 vectors
// of two: their upper halves, two at a time, are a pair's (x[4p + 1],
// x[4p + 3]). The sum is kept as 16 interleaved sums, eight vectors of
// them, so that the additions do not wait on each other, and these are
// added pairwise at the end; the arrangement is the same on every vector
// path.
double split_phases(const double *row, std::size_t start, std::size_t span, std::size_t length, double *real,
                    roughness_work &w) {
    constexpr std::size_t sums = 8;
    const __m128d zero = _mm_setzero_pd();
    __m128d acc[sums];
    for (std::size_t i = 0; i < sums; ++i) acc[i] = zero;
    double joined[phase_count];
    for (std::size_t t = 0; t < length; ++t) {
        const std::size_t at = (start + t * phase_count) % span;
        const double *x = row + at;
        if (at + phase_count > span) {  // these 32 samples wrap round the ring
            const std::size_t head = span - at;
            std::memcpy(joined, row + at, head * sizeof(double));
            std::memcpy(joined + head, row, (phase_count - head) * sizeof(double));
            x = joined;
        }
        __m128d v[phase_count / 2];
        for (std::size_t i = 0; i < phase_count / 2; ++i) {
            v[i] = _mm_loadu_pd(x + 2 * i);
            const __m128d positive = _mm_max_pd(v[i], zero);
            acc[i % sums] = _mm_add_pd(acc[i % sums], _mm_mul_pd(positive, positive));
        }
        _mm_store_sd(real + t, v[0]);
        for (std::size_t p = 0; p < phase_pairs; ++p)
            _mm_storeu_pd(w.pairs[p] + 2 * t, _mm_unpackhi_pd(v[2 * p], v[2 * p + 1]));
    }
    for (std::size_t width = sums / 2; width > 0; width /= 2)
        for (std::size_t i = 0; i < width; ++i) acc[i] = _mm_add_pd(acc[i], acc[i + width]);
    double lanes[2];
    _mm_storeu_pd(lanes, acc[0]);
    return lanes[0] + lanes[1];
}

// The windowed envelope of a block into w.envelope, in `pieces` runs of
// 512 / pieces instants: run s has its real parts at real[s] and its
// imaginary parts at parts[s] (part_count of them to be added, rough_kernels.h).
// Returns its energy, the eight partial sums added pairwise.
double block_envelope(engine &e, const double *const (*parts)[quarters], int part_count, const double *const *real,
                      std::size_t pieces) {
    roughness_work &w = *e.w;
    double partial[8] = {};
    const std::size_t run = points / pieces;
    for (std::size_t s = 0; s < pieces; ++s)
        e.kernels->envelope(parts[s], part_count, real[s], w.window + s * run, static_cast<uint32_t>(run),
                            w.envelope + s * run, partial);
    return ((partial[0] + partial[1]) + (partial[2] + partial[3])) +
           ((partial[4] + partial[5]) + (partial[6] + partial[7]));
}

// Effective pressure of a block from its sum of max(x, 0)^2.
double pressure_of(double power) { return std::sqrt(2.0 * power / static_cast<double>(block)); }

// Fast form, a block that ends on a quarter's end (every block but a last
// one that ends with the signal elsewhere): block i, whose newest quarter
// q = i - 1 starts at ring index `start`. Makes and keeps the quarter's
// part, and the band's loudness and modulation spectrum.
bool quarter_block(engine &e, int band, uint64_t i, std::size_t start, double *loudness, double *spectrum) {
    roughness_work &w = *e.w;
    band_quarters &kept = e.quarters[static_cast<std::size_t>(band)];
    // The places of quarters i - 4, i - 3 and i - 2.
    const std::size_t kept_at[kept_quarters] = {i % 3, (i + 1) % 3, (i + 2) % 3};
    const double newest_power = split_phases(e.ring + static_cast<std::size_t>(band) * e.ring_stride, start,
                                             static_cast<std::size_t>(e.ring_span), quarter_points, w.newest_real, w);
    if (!imaginary_part(e, quarter_points, w.part)) return false;
    const double power =
        ((kept.power[kept_at[0]] + kept.power[kept_at[1]]) + kept.power[kept_at[2]]) + newest_power;
    *loudness = qn_ecma_specific_loudness(band, pressure_of(power));
    bool done = true;
    if (*loudness == 0 || !qn_is_finite(*loudness)) {
        std::fill(spectrum, spectrum + bins, 0.0);
    } else {
        // Instants 128 s ... 128 s + 127 take quarter i - 4 + k at its
        // instants 128 (s - k) mod 512 on, and their real parts from
        // quarter i - 4 + s.
        const double *part[quarters] = {kept.part[kept_at[0]], kept.part[kept_at[1]], kept.part[kept_at[2]], w.part};
        const double *real[quarters] = {kept.real[kept_at[0]], kept.real[kept_at[1]], kept.real[kept_at[2]],
                                        w.newest_real};
        const double *parts[quarters][quarters];
        for (std::size_t s = 0; s < quarters; ++s)
            for (std::size_t k = 0; k < quarters; ++k)
                parts[s][k] = part[k] + quarter_points * ((s + quarters - k) % quarters);
        const double energy = block_envelope(e, parts, quarters, real, quarters);
        done = envelope_spectrum_fast(e, *loudness, energy, spectrum);
    }
    // The newest quarter takes the oldest one's place.
    std::memcpy(kept.part[kept_at[0]], w.part, sizeof w.part);
    std::memcpy(kept.real[kept_at[0]], w.newest_real, sizeof w.newest_real);
    kept.power[kept_at[0]] = newest_power;
    return done;
}

// Fast form, a block that does not end on a quarter's end (the last one):
// the whole block at once, from ring index `start`.
bool whole_block(engine &e, int band, std::size_t start, double *loudness, double *spectrum) {
    roughness_work &w = *e.w;
    const double power = split_phases(e.ring + static_cast<std::size_t>(band) * e.ring_stride, start,
                                      static_cast<std::size_t>(e.ring_span), points, w.real, w);
    *loudness = qn_ecma_specific_loudness(band, pressure_of(power));
    if (*loudness == 0 || !qn_is_finite(*loudness)) {
        std::fill(spectrum, spectrum + bins, 0.0);
        return true;
    }
    if (!imaginary_part(e, points, w.part)) return false;
    const double *parts[1][quarters] = {{w.part}};
    const double *real[1] = {w.real};
    const double energy = block_envelope(e, parts, 1, real, 1);
    return envelope_spectrum_fast(e, *loudness, energy, spectrum);
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

// Raw roughness of every band of block i, which ends at position `end`,
// the last sample the band signals hold.
qn_status block_roughness(engine &e, const qn_ecma_band_signals &signals, uint64_t i, uint64_t end, double *raw) {
    roughness_work &w = *e.w;
    e.ring = signals.rows.get();
    e.ring_stride = signals.stride;
    e.ring_span = signals.span;
    double max_loudness = 0;
    if (e.transforms == qn_ecma_rough_transforms::fast) {
        // One band at a time: its newest quarter, or the whole block.
        const bool on_quarter = end == qn_ecma_rough_block_hop * i;
        const uint64_t length = on_quarter ? qn_ecma_rough_block_hop : block;
        const std::size_t start = static_cast<std::size_t>(qn_ecma_band_block_start(signals, end, length));
        for (int b = 0; b < bands; ++b) {
            double loudness = 0;
            const bool done = on_quarter ? quarter_block(e, b, i, start, &loudness, w.spectrum[b])
                                         : whole_block(e, b, start, &loudness, w.spectrum[b]);
            if (!qn_is_finite(loudness) || !done) return QN_STATUS_NUMERICAL_FAILURE;
            w.loudness[b] = loudness;
            if (loudness > max_loudness) max_loudness = loudness;
        }
    } else {
        const std::size_t start = static_cast<std::size_t>(qn_ecma_band_block_start(signals, end, block));
        for (int first = 0; first < bands; first += copy_group) {
            const int count = std::min(copy_group, bands - first);
            double pressure[copy_group];
            if (count == copy_group) {
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
                if (!band_spectrum_literal(e, e.block_buffer.get() + static_cast<std::size_t>(l) * block, loudness,
                                           spectrum))
                    return QN_STATUS_NUMERICAL_FAILURE;
            }
        }
    }
    if (max_loudness == 0) {
        std::fill(raw, raw + bands, 0.0);
        return QN_STATUS_SUCCESS;
    }

    // Average over the band and its two neighbours (the outer bands stand
    // alone), relative to the loudest band, and sum over the bands.
    if (!e.kernels->average(&w.spectrum[0][0], bins, bands, bins, max_loudness, &w.spectrum[0][0], w.sum))
        return QN_STATUS_NUMERICAL_FAILURE;
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
        for (int m = 0; m < bins; ++m) w.weighted[m] = w.spectrum[b][m] * w.gain[m];
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
    const qn_status status = block_roughness(e, signals, i, end, e.w->raw[i % history]);
    if (status != QN_STATUS_SUCCESS) return status;
    e.next_block = i + 1;
    return i >= 2 ? finish_interval(e, i - 2) : QN_STATUS_SUCCESS;
}

}  // namespace

qn_ecma_rough_engine *qn_ecma_rough_engine_make(qn_ecma_rough_transforms transforms, qn_simd path,
                                                const qn_ecma_frame_sink &sink) noexcept {
    qn_object_ptr<engine> made = qn_make_object<engine>();
    if (made == nullptr) return nullptr;
    engine &e = *made;
    e.n = e.blocks = e.frames = unknown;
    e.transforms = transforms;
    e.kernels = &qn_ecma_rough_kernels_for(path);
    e.sink = sink;
    const bool literal = transforms == qn_ecma_rough_transforms::literal;
    e.w = qn_make_object<roughness_work>();
    // The fast form reads the blocks in their rings; the literal one copies
    // them out.
    if (literal) {
        e.block_buffer = qn_alloc_array<double>((copy_group + 2) * block);
        e.long_complex.reset(qn_fft_cplan_make(block));
    } else {
        e.quarters = qn_alloc_array_zeroed<band_quarters>(bands);
        e.short_real.reset(qn_fft_rplan_make(points));
    }
    e.short_complex.reset(qn_fft_cplan_make(points));
    if (!e.w || !e.short_complex || (literal ? !e.block_buffer || !e.long_complex : !e.quarters || !e.short_real))
        return nullptr;

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

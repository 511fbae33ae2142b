// The envelope of a block of 65536 samples: the magnitude of its analytic
// signal (the block's spectrum with the positive bins doubled and the
// negative ones dropped, transformed back) at every 32nd sample.
//
// Only 2048 of the 65536 instants are needed, so the fast form never makes
// the analytic signal anywhere else. Folding the one-sided spectrum modulo
// 2048 gives the spectrum of the analytic signal read every 32 samples;
// written with the block's 32 phases x_p(m) = x(32 m + p), whose transforms
// of 2048 points are X_p, the fold is
//   Z(r) = 32 X_0(r) + sum_{p odd} 2 c_p exp(-2 pi i r p / 65536) X_p(r),
//   c_p = sum_{j<16} exp(-2 pi i j p / 32) = 2 / (1 - exp(-i pi p / 16)),
// less X(0) - X(32768) = 2 sum_{p odd} X_p(0) at r = 0 (the two bins that
// are not doubled); the even phases other than 0 drop out. The first term
// gives back the samples themselves, so the real part of the analytic
// signal at the 2048 instants is the block's own samples, and the odd
// phases give its imaginary part, whose fold O(r) satisfies O(2048 - r) =
// -conj(O(r)): -i O is the spectrum of a real signal, and half of it and a
// real transform of 2048 points suffice.
//
// The fold is linear in the samples, and a block is four segments of 16384
// samples: the fold of a block is the sum of its segments' folds, segment q
// (0 ... 3) turned by exp(-2 pi i r 512 q / 2048) = (-i)^(r q) for its
// place. Each segment is transformed once, when its samples are in, and
// serves the four blocks that hold it.
#include <algorithm>
#include <cfloat>
#include <cmath>
#include <cstdint>
#include <memory>

#include "base/alloc.h"
#include "ecma/fluct_kernels.h"
#include "ecma/fluctuation.h"
#include "fft/fft.h"

namespace {

constexpr std::size_t block = qn_ecma_fluct_block;
constexpr std::size_t points = qn_ecma_fluct_points;
constexpr std::size_t decimation = qn_ecma_fluct_decimation;
constexpr std::size_t odd_phases = decimation / 2;
constexpr std::size_t half = points / 2;  // bins 0 ... 1024 of the fold
constexpr std::size_t segment_points = qn_ecma_fluct_segment_points;
constexpr std::size_t half_fold = qn_ecma_fluct_fold_values / 2;
static_assert(half_fold == half + 1);

// Rows of the phases and of the fold's kernel: a whole number of 64-byte
// lines, longer than a transform by one line.
constexpr std::size_t line = 8;
constexpr std::size_t row = points + line;

// The first place in `room` from which `offset` doubles on start a line.
double *line_start(double *room, std::size_t offset) {
    const std::size_t at = reinterpret_cast<std::uintptr_t>(room + offset) / sizeof(double) % line;
    return room + (line - at) % line;
}

}  // namespace

struct qn_ecma_fluct_envelope_work {
    qn_ecma_fluct_transforms transforms;
    qn_fft_rplan *short_plan = nullptr;  // 2048 real
    qn_fft_cplan *long_plan = nullptr;   // 65536 complex, literal form
    double *complex_block = nullptr;     // 2 x 65536, literal form
    // Fast form: a segment's odd phases x(32 m + p), p = 1, 3 ... 31, each
    // padded with zeros to 2048 and then its spectrum, in rows of 257
    // cache lines (one longer than 16 kB, which the gather's 16 streams
    // would all map to the same cache sets) placed so that bin 1 of every
    // row starts a line, with a place before the first row, from which the
    // fold counts the pairs.
    double phase_room[odd_phases * row + line];
    double *phases = nullptr;  // row j from phases + j row
    double imaginary[points];  // -i O packed, then the imaginary part
    // k = 2 c_p exp(-2 pi i r p / 65536) for the odd phases and r = 0 ...
    // 1024, laid out for the kernels' complex products on (re, im) pairs:
    // Re k at both places of pair r, and -Im k, +Im k; pair 1 of every row
    // starts a cache line.
    double kernel_room_re[odd_phases * row + line], kernel_room_im[odd_phases * row + line];
    double *kernel_re = nullptr, *kernel_im = nullptr;  // row j from + j row
    const qn_ecma_fluct_kernels *kernels = nullptr;
};

namespace {
struct envelope_deleter {
    void operator()(qn_ecma_fluct_envelope_work *work) const noexcept { qn_ecma_fluct_envelope_free(work); }
};
}  // namespace

qn_ecma_fluct_envelope_work *qn_ecma_fluct_envelope_make(qn_ecma_fluct_transforms transforms,
                                                         qn_simd path) noexcept {
    std::unique_ptr<qn_ecma_fluct_envelope_work, envelope_deleter> work(
        qn_alloc_object<qn_ecma_fluct_envelope_work>());
    if (!work) return nullptr;
    work->transforms = transforms;
    work->kernels = &qn_ecma_fluct_kernels_for(path);
    if (transforms == qn_ecma_fluct_transforms::literal) {
        work->long_plan = qn_fft_cplan_make(block);
        work->complex_block = qn_alloc_array<double>(2 * block).release();
        if (work->long_plan == nullptr || work->complex_block == nullptr) return nullptr;
        return work.release();
    }
    work->short_plan = qn_fft_rplan_make(points);
    if (work->short_plan == nullptr) return nullptr;
    work->phases = line_start(work->phase_room + 1, 1);
    work->kernel_re = line_start(work->kernel_room_re, 2);
    work->kernel_im = line_start(work->kernel_room_im, 2);
    for (std::size_t j = 0; j < odd_phases; ++j) {
        const double p = static_cast<double>(2 * j + 1);
        // 2 c_p = 4 / (1 - exp(-i theta)), theta = pi p / 16.
        const double theta = M_PI * p / 16.0;
        const double a = 1 - std::cos(theta), b = std::sin(theta);
        const double c_re = 4 * a / (a * a + b * b), c_im = -4 * b / (a * a + b * b);
        for (std::size_t r = 0; r <= half; ++r) {
            // r p < 65536: the angle of the twiddle is exact before the scale.
            const double angle = -2 * M_PI * static_cast<double>(r * (2 * j + 1)) / static_cast<double>(block);
            const double tr = std::cos(angle), ti = std::sin(angle);
            const double k_re = c_re * tr - c_im * ti, k_im = c_re * ti + c_im * tr;
            double *kr = work->kernel_re + j * row, *ki = work->kernel_im + j * row;
            kr[2 * r] = kr[2 * r + 1] = k_re;
            ki[2 * r] = -k_im;
            ki[2 * r + 1] = k_im;
        }
    }
    return work.release();
}

void qn_ecma_fluct_envelope_free(qn_ecma_fluct_envelope_work *work) noexcept {
    if (work == nullptr) return;
    qn_fft_rplan_free(work->short_plan);
    qn_fft_cplan_free(work->long_plan);
    qn_free(work->complex_block);
    qn_free_object(work);
}

bool qn_ecma_fluct_segment_fold(qn_ecma_fluct_envelope_work *w, const double *ring, std::size_t mask, std::size_t start,
                           double *fold, double *instants) noexcept {
    // The ring read in order, 32 samples at a time, into the phases' rows:
    // the groups up to the ring's end as one run, a group across it one
    // sample at a time.
    double *phases = w->phases;
    for (std::size_t m = 0; m < segment_points;) {
        const std::size_t at = (start + decimation * m) & mask;
        if (at + decimation <= mask + 1) {
            const std::size_t run = std::min(segment_points - m, (mask + 1 - at) / decimation);
            w->kernels->gather_phases(ring + at, run, phases + m, row, instants + m);
            m += run;
        } else {
            instants[m] = ring[at];
            for (std::size_t j = 0; j < odd_phases; ++j) phases[j * row + m] = ring[(at + 2 * j + 1) & mask];
            ++m;
        }
    }
    // Each phase padded with zeros to 2048: the transform takes them as
    // such, unwritten.
    for (std::size_t j = 0; j < odd_phases; ++j)
        if (!qn_fft_rforward_filled(w->short_plan, phases + j * row, segment_points, 1.0)) return false;
    // Bins 0 and 1024 are real; bins 1 ... 1023 are (re, im) pairs from
    // x[1] on, so x - 1 has bin r at 2 r. Every sum over the phases in
    // their order.
    double *fr = fold;  // (re, im) pairs, bins 0 ... 1024
    fr[0] = fr[1] = fr[2 * half] = fr[2 * half + 1] = 0;
    double undoubled = 0;  // sum of X_p(0) over the odd phases
    for (std::size_t j = 0; j < odd_phases; ++j) {
        const double *x = phases + j * row, *kr = w->kernel_re + j * row, *ki = w->kernel_im + j * row;
        fr[0] += kr[0] * x[0];
        fr[1] += ki[1] * x[0];
        undoubled += x[0];
        fr[2 * half] += kr[2 * half] * x[points - 1];
        fr[2 * half + 1] += ki[2 * half + 1] * x[points - 1];
    }
    fr[0] -= 2 * undoubled;
    w->kernels->accumulate(fr, phases - 1, w->kernel_re, w->kernel_im, row, static_cast<int>(odd_phases));
    return true;
}

void qn_ecma_fluct_fold_add(double *sum, const double *fold, int place) noexcept {
    // (-i)^(r q): the turn repeats every four bins.
    for (std::size_t r = 0; r <= half; ++r) {
        const double re = fold[2 * r], im = fold[2 * r + 1];
        switch ((r * static_cast<std::size_t>(place)) & 3) {
        case 0: sum[2 * r] += re; sum[2 * r + 1] += im; break;
        case 1: sum[2 * r] += im; sum[2 * r + 1] -= re; break;   // times -i
        case 2: sum[2 * r] -= re; sum[2 * r + 1] -= im; break;   // times -1
        default: sum[2 * r] -= im; sum[2 * r + 1] += re; break;  // times i
        }
    }
}

void qn_ecma_fluct_fold_sum(double *sum, const double *const *folds, std::size_t next) noexcept {
    // Bins 4 u + c: the turns (-i)^(c q) of places q = 1, 2, 3 are fixed for
    // each c, so four bins at a time need no choices.
    const double *f0 = folds[0], *f1 = folds[1], *f2 = folds[2], *f3 = folds[3];
    for (std::size_t r = 0; r + 4 <= half; r += 4) {
        if (next != 0) {
            // A line of each of the next folds, as far on as this one.
            for (const double *f : {f0, f1, f2, f3}) __builtin_prefetch(f + next + 2 * r, 0, 3);
        }
        std::size_t i = 2 * r;  // c = 0: no turns
        sum[i] = ((f0[i] + f1[i]) + f2[i]) + f3[i];
        sum[i + 1] = ((f0[i + 1] + f1[i + 1]) + f2[i + 1]) + f3[i + 1];
        i += 2;  // c = 1: -i, -1, i
        sum[i] = ((f0[i] + f1[i + 1]) - f2[i]) - f3[i + 1];
        sum[i + 1] = ((f0[i + 1] - f1[i]) - f2[i + 1]) + f3[i];
        i += 2;  // c = 2: -1, 1, -1
        sum[i] = ((f0[i] - f1[i]) + f2[i]) - f3[i];
        sum[i + 1] = ((f0[i + 1] - f1[i + 1]) + f2[i + 1]) - f3[i + 1];
        i += 2;  // c = 3: i, -1, -i
        sum[i] = ((f0[i] - f1[i + 1]) - f2[i]) + f3[i + 1];
        sum[i + 1] = ((f0[i + 1] + f1[i]) - f2[i + 1]) - f3[i];
    }
    const std::size_t i = 2 * half;  // bin 1024, c = 0
    sum[i] = ((f0[i] + f1[i]) + f2[i]) + f3[i];
    sum[i + 1] = ((f0[i + 1] + f1[i + 1]) + f2[i + 1]) + f3[i + 1];
}

bool qn_ecma_fluct_fold_envelope(qn_ecma_fluct_envelope_work *w, const double *fold, const double *instants,
                                 double *envelope) noexcept {
    // -i O(r) = (Im O, -Re O), packed for the real backward transform; O(0)
    // and O(1024) are imaginary.
    double *y = w->imaginary;
    y[0] = fold[1];
    for (std::size_t r = 1; r < half; ++r) {
        y[2 * r - 1] = fold[2 * r + 1];
        y[2 * r] = -fold[2 * r];
    }
    y[points - 1] = fold[2 * half + 1];
    if (!qn_fft_rbackward(w->short_plan, y, 1.0 / static_cast<double>(block))) return false;
    // |z| as sqrt(re^2 + im^2), hypot only where the squares overflow.
    if (w->kernels->magnitudes(instants, y, static_cast<int>(points), envelope)) return true;
    for (std::size_t m = 0; m < points; ++m)
        if (!(envelope[m] <= DBL_MAX)) envelope[m] = std::hypot(instants[m], y[m]);
    return true;
}

bool qn_ecma_fluct_envelope_literal(qn_ecma_fluct_envelope_work *w, const double *ring, std::size_t mask,
                                    std::size_t start, double *envelope) noexcept {
    double *z = w->complex_block;
    for (std::size_t j = 0; j < block; ++j) {
        z[2 * j] = ring[(start + j) & mask];
        z[2 * j + 1] = 0;
    }
    if (!qn_fft_cforward(w->long_plan, z, 1.0)) return false;
    for (std::size_t k = 1; k < block / 2; ++k) {
        z[2 * k] *= 2;
        z[2 * k + 1] *= 2;
    }
    std::fill(z + 2 * (block / 2 + 1), z + 2 * block, 0.0);
    if (!qn_fft_cbackward(w->long_plan, z, 1.0 / static_cast<double>(block))) return false;
    for (std::size_t m = 0; m < points; ++m) envelope[m] = std::hypot(z[2 * decimation * m], z[2 * decimation * m + 1]);
    return true;
}

// The passes of the built-in transform and the kernels that run them on
// each vector path. The planner (builtin.cpp) fills the plain structures
// below; kernels.cpp provides one table of entry points per path. This
// header holds declarations and aggregates only, so that the code built for
// AVX2 and AVX-512 shares no inline code with the rest of the library.
#ifndef QN_FFT_KERNELS_H
#define QN_FFT_KERNELS_H

#include <cstddef>

#include "base/simd.h"

// Largest prime handled by a generic pass; lengths with a larger prime
// factor go through Bluestein's algorithm.
inline constexpr std::size_t qn_fft_max_generic_radix = 61;

// At most 63 passes: every radix is at least 2 and lengths stay below 2^60.
inline constexpr std::size_t qn_fft_max_passes = 64;

// One pass of a decimation-in-frequency Stockham transform of length n.
// With n_cur = radix * m the length of the sub-transforms it splits and
// s = n / n_cur the number of them interleaved in memory, the pass computes
// for p < m, k < radix, q < s (complex indices):
//   y[q + s (k + radix p)] = w^(p k) sum_j x[q + s (p + j m)] e^(-2 pi i j k / radix)
// with w = e^(-2 pi i / n_cur) (conjugated throughout for the backward
// direction). The last pass has m = 1 and no twiddles.
struct qn_fft_pass {
    std::size_t radix;
    std::size_t m;
    std::size_t s;
    // w^(p k) for k = 1 ... radix - 1, laid out by pairs of p so that two
    // neighbouring butterflies find their factors side by side:
    //   twiddles[((p / 2) (radix - 1) + k - 1) 4 + (p % 2) 2 + {0: re, 1: im}]
    // Null when m = 1.
    const double *twiddles;
    // For generic radices: cos and sin of 2 pi k / radix, k < radix,
    // interleaved. Null for the radices with their own butterfly.
    const double *roots;
};

struct qn_fft_stockham {
    std::size_t n;
    std::size_t pass_count;  // at least 1 (lengths of 1 are not run through passes)
    qn_fft_pass passes[qn_fft_max_passes];
};

// One instruction set's kernels. All buffers hold interleaved complex
// doubles unless said otherwise; none of them may overlap except where said.
struct qn_fft_kernels {
    // The transform of `in` into `out`, scaled, using `work` (n complex) as
    // the second buffer of the ping-pong. `in` may be `out` or `work`; its
    // contents are destroyed either way. The last pass (m = 1) may run with
    // x == y.
    void (*run)(const qn_fft_stockham *plan, const double *in, double *out, double *work,
                double scale, bool forward) noexcept;
    // The forward transform as `run` does it, with the inputs from complex
    // index `live` on taken as zeros and not read. The planner asks for it
    // only where the first pass has radix 8, 4 or 2, m > 1, at least two
    // passes, and live = L m for L = 1, 2 or 4, below the radix.
    void (*run_pruned)(const qn_fft_stockham *plan, const double *in, double *out, double *work,
                       double scale, std::size_t live) noexcept;
    // Real forward transform of length 2 h from the complex transform `z`
    // (h values) of its even/odd samples: writes the packed spectrum `out`
    // (2 h doubles). `twiddles` holds e^(-2 pi i k / (2 h)), k <= h / 2.
    void (*real_post)(const double *z, double *out, const double *twiddles, std::size_t h,
                      double scale) noexcept;
    // The inverse step: from a packed spectrum `in` (2 h doubles) the h
    // complex values whose backward transform is the real signal taken two
    // samples at a time.
    void (*real_pre)(const double *in, double *z, const double *twiddles, std::size_t h,
                     double scale) noexcept;
    // The two steps around a power spectrum in one pass: from the complex
    // transform `z` of a real signal's even/odd samples, the values `out`
    // (h complex; `out` may be `z`) whose backward transform is the real
    // signal of its power spectrum, with the bits of real_post (scale 1),
    // each bin replaced by (re^2 + im^2, +0), and real_pre (`scale`). The
    // powers' sum, in no particular order, goes to *total.
    void (*real_power)(const double *z, double *out, const double *twiddles, std::size_t h, double scale,
                       double *total) noexcept;
};

// The kernels of a path; the caller makes sure the processor runs it.
const qn_fft_kernels &qn_fft_kernels_for(qn_simd path) noexcept;

#endif

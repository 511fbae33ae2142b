// The tonality's loops over lags and bins, on a chosen vector path: two
// lanes on any x86-64, four with AVX2, eight with AVX-512 (the energies of
// a batch stay at four). Every lane does the arithmetic of the scalar
// method for its element (square roots and quotients are correctly rounded
// in any width, and no fused multiply-add is used), so every path gives
// the same bits.
#ifndef QN_ECMA_TONAL_KERNELS_H
#define QN_ECMA_TONAL_KERNELS_H

#include <cstdint>

#include "base/simd.h"

// Blocks whose autocorrelations are computed side by side.
inline constexpr int qn_ecma_acf_batch = 4;

struct qn_ecma_tonal_kernels {
    // For each of the qn_ecma_acf_batch blocks x[s] of n samples: the
    // half-wave rectified block w[s][i] = max(x[s][i], 0); its head
    // energies head[s][i] = sum of w^2 below i, summed forwards, and its
    // tail energies tail[s][i] = sum of w^2 from i on, summed backwards from
    // the end, both stored only for the last `kept` head indices
    // (n - kept + 1 ... n) and the first `kept` tail indices; and the total
    // energy[s] = head[s][n].
    void (*energies)(const double *const *x, uint32_t n, uint32_t kept, double *const *w, double *const *head,
                     double *const *tail, double *energy) noexcept;
    // stored[l] = loudness min(max(acf[l] / (sqrt(tail[l]) sqrt(head[n - l])
    // + 1e-12), 0), 1) / divisor where l < 3n/4, tail[l] > 0 and head[n - l]
    // > 0, else 0, for l < lags. A NaN quotient stays NaN.
    void (*normalise)(const double *acf, const double *head, const double *tail, uint32_t n, uint32_t lags,
                      double loudness, double divisor, double *stored) noexcept;
    // out[l] = sum over t < count of (acf[t stride + l] / divisor), added
    // from 0 in order of t, for l < lags. The mean of the rows with divisor
    // count; their sum, divided by the normalisation already, with 1.
    void (*average)(const double *acf, uint64_t stride, uint32_t count, uint32_t lags, double divisor,
                    double *out) noexcept;
    // out[l] = ((a[l] + b[l]) + c[l]) / 3 for l < count.
    void (*mean_of_three)(const double *a, const double *b, const double *c, uint32_t count,
                          double *out) noexcept;
    // |sum_j u_j z^j|^2 for the unit complex numbers z_k = (re[k], im[k]),
    // k < bins, by Horner's scheme from j = count - 1 down to 0.
    void (*powers)(const double *u, uint32_t count, const double *re, const double *im, uint32_t bins,
                   double *out) noexcept;
};

const qn_ecma_tonal_kernels &qn_ecma_tonal_kernels_for(qn_simd path) noexcept;

#endif

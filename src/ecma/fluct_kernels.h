// The fluctuation engine's loops over the samples of a block, on a chosen
// vector path: two lanes on any x86-64, four with AVX2, eight with
// AVX-512. A median is a selection, exact in any width, and the fold's
// products and sums are those of the scalar method for each element (no
// fused multiply-add), so every path gives the same bits.
#ifndef QN_ECMA_FLUCT_KERNELS_H
#define QN_ECMA_FLUCT_KERNELS_H

#include "base/simd.h"

struct qn_ecma_fluct_kernels {
    // out[i] = the median of x[i - 16] ... x[i + 16] for 64 <= i < 1984,
    // the values 48 ... 1999 of x being neither NaN nor infinite.
    void (*median)(const double *x, double *out) noexcept;
    // fold[i] += (re[i] * y[i] + im[i] * y[i ^ 1]) for 2 <= i < 2048: a
    // complex product and sum on (re, im) pairs, with re[i] = Re k at both
    // places of a pair and im[i] = -Im k, +Im k.
    void (*accumulate)(double *fold, const double *y, const double *re, const double *im) noexcept;
};

const qn_ecma_fluct_kernels &qn_ecma_fluct_kernels_for(qn_simd path) noexcept;

#endif

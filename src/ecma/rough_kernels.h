// The roughness engine's loops over the bins and instants of a block, on a
// chosen vector path: two lanes on any x86-64, four with AVX2, eight with
// AVX-512. Every lane does the arithmetic of the scalar method for its
// element (products and sums as written, no fused multiply-add; square
// roots correctly rounded in any width), and the one sum over elements
// keeps eight partial sums in the same arrangement on every path, so every
// path gives the same bits.
#ifndef QN_ECMA_ROUGH_KERNELS_H
#define QN_ECMA_ROUGH_KERNELS_H

#include <cstddef>
#include <cstdint>

#include "base/simd.h"

struct qn_ecma_rough_kernels {
    // v = t_0 + t_1 + ... + t_(rows-1), added in that order, for complex
    // values as (re, im) pairs, count doubles (a multiple of 8): t_j the
    // product of rows j of k and z (`stride` doubles apart), with k given
    // as kr, its real part at both places of a pair, and ki, its imaginary
    // part as (-im, +im); the product is (kr zr - ki zi, kr zi + ki zr).
    void (*accumulate)(double *v, const double *z, const double *kr, const double *ki, std::size_t stride,
                       uint32_t rows, uint32_t count) noexcept;
    // Rows r < rows of x (`stride` doubles apart), m < count: a[r][m] =
    // x[r][m] / divisor for the first and last rows and ((x[r][m] +
    // x[r - 1][m]) + x[r + 1][m]) / 3 / divisor for the others (a at the
    // same places as x, or in place: a may be x); sum[m] their sum over
    // the rows, in the rows' order. False when one of them is not finite.
    bool (*average)(const double *x, uint32_t stride, uint32_t rows, uint32_t count, double divisor, double *a,
                    double *sum) noexcept;
    // The windowed magnitude of complex values: u[i] = |re[i] + j im[i]|
    // window[i], the magnitude sqrt(re^2 + im^2), or hypot(re, im) where
    // the squares overflow; and u[i]^2 added to partial[i mod 8], for i <
    // count (a multiple of 8). The imaginary parts are parts[0][i], or
    // ((parts[0][i] + parts[1][i]) + parts[2][i]) + parts[3][i] when
    // part_count is 4.
    void (*envelope)(const double *const *parts, int part_count, const double *re, const double *window,
                     uint32_t count, double *u, double *partial) noexcept;
};

const qn_ecma_rough_kernels &qn_ecma_rough_kernels_for(qn_simd path) noexcept;

#endif

// Powers of ten, common logarithms and fourth roots of short arrays, several
// values to a vector. The time-varying loudness needs about sixty of them
// every 0.5 ms, where the C library's scalar calls cost more than the
// filter bank itself. Every vector path gives the same bits (the same
// operations in the same order, no fused multiply-add), and the results
// agree with the C library's pow(10, x), log10(x) and pow(x, 0.25) within
// 1e-15 relative; values outside the range the polynomials cover (see
// vector_math.cpp) are handed to the C library itself.
#ifndef QN_LOUDNESS_VECTOR_MATH_H
#define QN_LOUDNESS_VECTOR_MATH_H

#include <cstddef>

#include "base/simd.h"

// y[i] = 10^x[i] for i < n. y may be x.
void qn_exp10_n(qn_simd path, const double *x, double *y, std::size_t n) noexcept;

// y[i] = log10(x[i]) for i < n. y may be x.
void qn_log10_n(qn_simd path, const double *x, double *y, std::size_t n) noexcept;

// y[i] = x[i]^(1/4), as two correctly rounded square roots, for i < n.
void qn_root4_n(qn_simd path, const double *x, double *y, std::size_t n) noexcept;

#endif

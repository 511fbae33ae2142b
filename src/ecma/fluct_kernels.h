// The fluctuation engine's loops over the samples of a block, on a chosen
// vector path: two lanes on any x86-64, four with AVX2, eight with
// AVX-512. A median is a selection, exact in any width, a rounding to
// whole numbers is exact, and the fold's
// products and sums are those of the scalar method for each element (no
// fused multiply-add), so every path gives the same bits.
#ifndef QN_ECMA_FLUCT_KERNELS_H
#define QN_ECMA_FLUCT_KERNELS_H

#include <cstddef>

#include "base/simd.h"

struct qn_ecma_fluct_spectrum;
struct qn_ecma_fluct_rate_terms;

// The products of one bin that the closed-form fit of one pair sums over
// the bins: with the pair's columns c1 = W(k; f) + W(k; -f) and c2 =
// j (W(k; f) - W(k; -f)), the constant's column c0 = W(k; 0) and the
// spectrum P, Re(conj(a) b) for (a, b) = (c1, c0), (c2, c0), (c1, c1),
// (c2, c1), (c2, c2), (c1, P) and (c2, P); bins 0 ... 48.
struct qn_ecma_fluct_pair_products {
    double g01[49], g02[49], g11[49], g12[49], g22[49], b1[49], b2[49];
};

struct qn_ecma_fluct_kernels {
    // out[i] = the median of x[i - 16] ... x[i + 16] for 64 <= i < 1984,
    // the values 48 ... 1999 of x being neither NaN nor infinite.
    void (*median)(const double *x, double *out) noexcept;
    // fold[i] = t_0[i] + t_1[i] + ... + t_(count-1)[i] for 2 <= i < 2048,
    // summed from zero in that order, with t_j[i] = re_j[i] y_j[i] +
    // im_j[i] y_j[i ^ 1] and y_j = y + j stride (re_j, im_j likewise): the
    // complex products k_j y_j on (re, im) pairs, with re_j[i] = Re k_j at
    // both places of a pair and im_j[i] = -Im k_j, +Im k_j.
    void (*accumulate)(double *fold, const double *y, const double *re, const double *im, std::size_t stride,
                       int count) noexcept;
    // x[i] = round(x[i] * 1e8) / 1e8 for i < count, halves rounded away
    // from zero as std::round does (the sign of a zero kept); false when a
    // result is not finite.
    bool (*round_decimals)(double *x, int count) noexcept;
    // The pair products of bins 0 ... bins - 1 at a rate, the kernel's sines
    // all by angle addition (the caller evaluates the bin nearest the rate
    // again where it needs them directly). Products of bins from `bins` up
    // to the end of a vector may be written too, with no meaning.
    void (*pair_products)(const qn_ecma_fluct_spectrum &spectrum, const qn_ecma_fluct_rate_terms &terms, int bins,
                          qn_ecma_fluct_pair_products *products) noexcept;
    // The odd phases of `count` groups of 32 samples, by phase: rows[j row
    // + m] = x[32 m + 2 j + 1] for j < 16, and instants[m] = x[32 m].
    void (*gather_phases)(const double *x, std::size_t count, double *rows, std::size_t row,
                          double *instants) noexcept;
    // out[i] = sqrt(re[i]^2 + im[i]^2) for i < count, rounded once; false
    // when a result is not finite (the squares overflowed).
    bool (*magnitudes)(const double *re, const double *im, int count, double *out) noexcept;
    // The medians of two series, as `median` gives each.
    void (*median_pair)(const double *x0, double *out0, const double *x1, double *out1) noexcept;
    // A pair's columns c1 and c2 at bins 0 ... bins - 1 at a rate, the
    // kernel's sines all by angle addition like the products above, laid
    // out by bin as the normal equations below read them: c1 of bin k at
    // re[k tn + column], im[k tn + column], c2 next to it. Bins from `bins`
    // to the end of a vector may be written too, with no meaning.
    void (*pair_columns)(const qn_ecma_fluct_spectrum &spectrum, const qn_ecma_fluct_rate_terms &terms, int bins,
                         double *re, double *im, std::size_t tn, int column) noexcept;
    // The normal equations of n columns over bins 0 ... bins - 1, the
    // columns laid out by bin (column j of bin k at re[k tn + j], im[k tn +
    // j], tn a multiple of 8 with zeros from n on): gram[i n + j] =
    // Re(conj(c_i) c_j) and b[i] = Re(conj(c_i) P), each summed over the
    // bins in order, as the scalar inner product sums.
    void (*normal_equations)(const double *re, const double *im, std::size_t tn, int n, int bins, const double *pr,
                             const double *pi, double *gram, double *b) noexcept;
};

const qn_ecma_fluct_kernels &qn_ecma_fluct_kernels_for(qn_simd path) noexcept;

#endif

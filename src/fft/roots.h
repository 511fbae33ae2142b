// The n-th roots of unity, from a table of one octant.
//
// e^(2 pi i t / n) is needed for every t < n, but by the symmetries of sine
// and cosine every such angle folds, exactly and in integers, onto an angle
// of the first octant [0, pi / 4]. The table holds cos and sin of those
// angles, each computed from its exactly reduced argument, so every root is
// as accurate as one call of sin or cos and the error does not grow with n
// (no recurrences).
#ifndef QN_FFT_ROOTS_H
#define QN_FFT_ROOTS_H

#include <cstdint>

// An angle 2 pi t / n is written as pi a / (4 n) with a = 8 t; after folding
// onto the first octant a lies in [0, n] and is a multiple of `step`
// (8, 4 or 2 as n is a multiple of 4, of 2, or odd), so the table has
// n / step + 1 entries.
struct qn_fft_roots {
    uint64_t n;
    uint64_t step;
    double *table;  // cos and sin of pi step i / (4 n), interleaved
};

inline uint64_t qn_fft_roots_step(uint64_t n) noexcept {
    return n % 4 == 0 ? 8 : n % 2 == 0 ? 4 : 2;
}

// Entries of the table for n (each two doubles).
inline uint64_t qn_fft_roots_entries(uint64_t n) noexcept { return n / qn_fft_roots_step(n) + 1; }

// Fills a table with room for qn_fft_roots_entries(n) entries.
void qn_fft_roots_fill(qn_fft_roots *roots, uint64_t n, double *table) noexcept;

// cos and sin of 2 pi t / n, for t < n.
inline void qn_fft_root(const qn_fft_roots &roots, uint64_t t, double *c, double *s) noexcept {
    const uint64_t n = roots.n;
    uint64_t a = 8 * t;
    bool neg_sin = false, neg_cos = false, swap = false;
    if (a > 4 * n) {  // theta -> 2 pi - theta
        a = 8 * n - a;
        neg_sin = true;
    }
    if (a > 2 * n) {  // theta -> pi - theta
        a = 4 * n - a;
        neg_cos = true;
    }
    if (a > n) {  // theta -> pi / 2 - theta
        a = 2 * n - a;
        swap = true;
    }
    const double *e = roots.table + 2 * (a / roots.step);
    double cv = swap ? e[1] : e[0];
    double sv = swap ? e[0] : e[1];
    *c = neg_cos ? -cv : cv;
    *s = neg_sin ? -sv : sv;
}

#endif

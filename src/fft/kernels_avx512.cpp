// The kernels for processors with AVX-512 (F, VL, DQ): four complex values
// per register where a pass has four transforms side by side, two or one
// elsewhere. Compiled by attribute like the AVX2 kernels and picked only
// after asking the processor. No fused multiply-add: the results are the
// bits of the SSE2 kernels.
//
// GCC 12's AVX-512 intrinsics pass an undefined vector as the unused source
// of their masked forms and then warn that it may be used uninitialized
// (fixed in GCC 13); the warning is placed in the intrinsics' header, so it
// is silenced before that header is read.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic ignored "-Wuninitialized"
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#endif
#include <immintrin.h>

#include <cstddef>

#include "fft/kernels.h"

#if defined(__clang__)
#pragma clang attribute push(__attribute__((target("avx512f,avx512vl,avx512dq,avx2"))), apply_to = function)
#elif defined(__GNUC__)
#pragma GCC push_options
#pragma GCC target("avx512f,avx512vl,avx512dq,avx2")
#endif

namespace {

#include "fft/kernels_avx2_types.h"

// Four complex values per register. AVX-512 has no addsub; a - b is exactly
// a + (-b), so negating the real parts of b and adding gives the same bits.
struct cv4 {
    __m512d v;
    static constexpr std::size_t width = 4;
    static cv4 load(const double *p) { return {_mm512_loadu_pd(p)}; }
    static cv4 splat(double x) { return {_mm512_set1_pd(x)}; }
    static cv4 splat_load(const double *p) { return {_mm512_set1_pd(*p)}; }
};
inline void store(double *p, cv4 a) { _mm512_storeu_pd(p, a.v); }
inline cv4 operator+(cv4 a, cv4 b) { return {_mm512_add_pd(a.v, b.v)}; }
inline cv4 operator-(cv4 a, cv4 b) { return {_mm512_sub_pd(a.v, b.v)}; }
inline cv4 operator*(cv4 a, cv4 b) { return {_mm512_mul_pd(a.v, b.v)}; }
inline cv4 swap_ri(cv4 a) { return {_mm512_shuffle_pd(a.v, a.v, 0x55)}; }
inline cv4 flip_re(cv4 a) { return {_mm512_xor_pd(a.v, _mm512_set_pd(0.0, -0.0, 0.0, -0.0, 0.0, -0.0, 0.0, -0.0))}; }
inline cv4 flip_im(cv4 a) { return {_mm512_xor_pd(a.v, _mm512_set_pd(-0.0, 0.0, -0.0, 0.0, -0.0, 0.0, -0.0, 0.0))}; }
inline cv4 neg(cv4 a) { return {_mm512_xor_pd(a.v, _mm512_set1_pd(-0.0))}; }
inline cv4 addsub(cv4 a, cv4 b) { return a + flip_re(b); }
inline cv4 dup_re(cv4 a) { return {_mm512_movedup_pd(a.v)}; }
inline cv4 dup_im(cv4 a) { return {_mm512_shuffle_pd(a.v, a.v, 0xff)}; }
inline cv4 reverse(cv4 a) { return {_mm512_shuffle_f64x2(a.v, a.v, 0x1b)}; }
// Two values from p, two from q.
inline cv4 load_halves(const double *p, const double *q) {
    return {_mm512_insertf64x4(_mm512_castpd256_pd512(_mm256_loadu_pd(p)), _mm256_loadu_pd(q), 1)};
}
// Value i of a, b, c and d to p + i * stride (doubles), side by side: a 4 x 4
// transpose of complex values.
inline void store_quad(double *p, std::size_t stride, cv4 a, cv4 b, cv4 c, cv4 d) {
    const __m512d t0 = _mm512_shuffle_f64x2(a.v, b.v, 0x44), t1 = _mm512_shuffle_f64x2(a.v, b.v, 0xee);
    const __m512d t2 = _mm512_shuffle_f64x2(c.v, d.v, 0x44), t3 = _mm512_shuffle_f64x2(c.v, d.v, 0xee);
    _mm512_storeu_pd(p, _mm512_shuffle_f64x2(t0, t2, 0x88));
    _mm512_storeu_pd(p + stride, _mm512_shuffle_f64x2(t0, t2, 0xdd));
    _mm512_storeu_pd(p + 2 * stride, _mm512_shuffle_f64x2(t1, t3, 0x88));
    _mm512_storeu_pd(p + 3 * stride, _mm512_shuffle_f64x2(t1, t3, 0xdd));
}
// Value i of a to p + i * stride.
inline void store_spread(double *p, std::size_t stride, cv4 a) {
    _mm_storeu_pd(p, _mm512_castpd512_pd128(a.v));
    _mm_storeu_pd(p + stride, _mm512_extractf64x2_pd(a.v, 1));
    _mm_storeu_pd(p + 2 * stride, _mm512_extractf64x2_pd(a.v, 2));
    _mm_storeu_pd(p + 3 * stride, _mm512_extractf64x2_pd(a.v, 3));
}
}  // namespace

#define QN_FFT_HAVE_CV2 1
#define QN_FFT_HAVE_CV4 1
#include "fft/kernels_impl.h"

#if defined(__clang__)
#pragma clang attribute pop
#elif defined(__GNUC__)
#pragma GCC pop_options
#endif

const qn_fft_kernels qn_fft_kernels_avx512 = {run, run_pruned, real_post, real_pre};

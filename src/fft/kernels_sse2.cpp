// The kernels for every x86-64 processor: SSE2, one complex value per
// register.
#include <emmintrin.h>

#include <cstddef>

#include "fft/kernels.h"

namespace {

struct cv1 {
    __m128d v;
    static constexpr std::size_t width = 1;
    static cv1 load(const double *p) { return {_mm_loadu_pd(p)}; }
    static cv1 splat(double x) { return {_mm_set1_pd(x)}; }
    static cv1 splat_load(const double *p) { return {_mm_load1_pd(p)}; }
};
inline void store(double *p, cv1 a) { _mm_storeu_pd(p, a.v); }
inline cv1 operator+(cv1 a, cv1 b) { return {_mm_add_pd(a.v, b.v)}; }
inline cv1 operator-(cv1 a, cv1 b) { return {_mm_sub_pd(a.v, b.v)}; }
inline cv1 operator*(cv1 a, cv1 b) { return {_mm_mul_pd(a.v, b.v)}; }
inline cv1 swap_ri(cv1 a) { return {_mm_shuffle_pd(a.v, a.v, 1)}; }
inline cv1 flip_re(cv1 a) { return {_mm_xor_pd(a.v, _mm_set_pd(0.0, -0.0))}; }
inline cv1 flip_im(cv1 a) { return {_mm_xor_pd(a.v, _mm_set_pd(-0.0, 0.0))}; }
inline cv1 neg(cv1 a) { return {_mm_xor_pd(a.v, _mm_set1_pd(-0.0))}; }
// a - b exactly equals a + (-b), so this gives the bits of SSE3's addsub.
inline cv1 addsub(cv1 a, cv1 b) { return a + flip_re(b); }

}  // namespace

#define QN_FFT_HAVE_CV2 0
#define QN_FFT_HAVE_CV4 0
#include "fft/kernels_impl.h"

const qn_fft_kernels qn_fft_kernels_sse2 = {run, run_pruned, real_post, real_pre};

// The one- and two-value types of the AVX2 kernels (see kernels_impl.h),
// shared by the AVX-512 kernels. Included only inside an unnamed namespace
// of a file compiled for AVX2 or wider, between its target pragmas, so that
// these inline functions are built for that instruction set alone.
#ifndef QN_FFT_KERNELS_AVX2_TYPES_H
#define QN_FFT_KERNELS_AVX2_TYPES_H

struct cv1 {
    __m128d v;
    static constexpr std::size_t width = 1;
    static cv1 load(const double *p) { return {_mm_loadu_pd(p)}; }
    static cv1 splat(double x) { return {_mm_set1_pd(x)}; }
    static cv1 splat_load(const double *p) { return {_mm_loaddup_pd(p)}; }
};
inline void store(double *p, cv1 a) { _mm_storeu_pd(p, a.v); }
inline cv1 operator+(cv1 a, cv1 b) { return {_mm_add_pd(a.v, b.v)}; }
inline cv1 operator-(cv1 a, cv1 b) { return {_mm_sub_pd(a.v, b.v)}; }
inline cv1 operator*(cv1 a, cv1 b) { return {_mm_mul_pd(a.v, b.v)}; }
inline cv1 swap_ri(cv1 a) { return {_mm_permute_pd(a.v, 1)}; }
inline cv1 flip_re(cv1 a) { return {_mm_xor_pd(a.v, _mm_set_pd(0.0, -0.0))}; }
inline cv1 flip_im(cv1 a) { return {_mm_xor_pd(a.v, _mm_set_pd(-0.0, 0.0))}; }
inline cv1 neg(cv1 a) { return {_mm_xor_pd(a.v, _mm_set1_pd(-0.0))}; }
inline cv1 addsub(cv1 a, cv1 b) { return {_mm_addsub_pd(a.v, b.v)}; }

struct cv2 {
    __m256d v;
    static constexpr std::size_t width = 2;
    static cv2 load(const double *p) { return {_mm256_loadu_pd(p)}; }
    static cv2 splat(double x) { return {_mm256_set1_pd(x)}; }
    static cv2 splat_load(const double *p) { return {_mm256_broadcast_sd(p)}; }
};
inline void store(double *p, cv2 a) { _mm256_storeu_pd(p, a.v); }
inline cv2 operator+(cv2 a, cv2 b) { return {_mm256_add_pd(a.v, b.v)}; }
inline cv2 operator-(cv2 a, cv2 b) { return {_mm256_sub_pd(a.v, b.v)}; }
inline cv2 operator*(cv2 a, cv2 b) { return {_mm256_mul_pd(a.v, b.v)}; }
inline cv2 swap_ri(cv2 a) { return {_mm256_permute_pd(a.v, 5)}; }
inline cv2 flip_re(cv2 a) { return {_mm256_xor_pd(a.v, _mm256_set_pd(0.0, -0.0, 0.0, -0.0))}; }
inline cv2 flip_im(cv2 a) { return {_mm256_xor_pd(a.v, _mm256_set_pd(-0.0, 0.0, -0.0, 0.0))}; }
inline cv2 neg(cv2 a) { return {_mm256_xor_pd(a.v, _mm256_set1_pd(-0.0))}; }
inline cv2 addsub(cv2 a, cv2 b) { return {_mm256_addsub_pd(a.v, b.v)}; }
inline cv2 dup_re(cv2 a) { return {_mm256_movedup_pd(a.v)}; }
inline cv2 dup_im(cv2 a) { return {_mm256_permute_pd(a.v, 15)}; }
inline cv2 reverse(cv2 a) { return {_mm256_permute2f128_pd(a.v, a.v, 1)}; }
// First values of a and b to p0, second values to p1.
inline void store_pair(double *p0, double *p1, cv2 a, cv2 b) {
    _mm256_storeu_pd(p0, _mm256_permute2f128_pd(a.v, b.v, 0x20));
    _mm256_storeu_pd(p1, _mm256_permute2f128_pd(a.v, b.v, 0x31));
}
inline void store_lo(double *p, cv2 a) { _mm_storeu_pd(p, _mm256_castpd256_pd128(a.v)); }
inline void store_hi(double *p, cv2 a) { _mm_storeu_pd(p, _mm256_extractf128_pd(a.v, 1)); }

#endif

// The one place that chooses vector code. Every kernel family of the library
// exists in a baseline form that runs on any x86-64 (SSE2, which the
// architecture guarantees) and, where it pays, in forms for processors with
// AVX2 and FMA and for processors with AVX-512. Every form of a family gives
// the same bits; a caller picks a path with qn_simd_best(), and the tests
// run every path that this processor has. A family without a form of its
// own for a path runs the next narrower one there.
#ifndef QN_BASE_SIMD_H
#define QN_BASE_SIMD_H

#include <immintrin.h>

#include <cstdint>

enum class qn_simd : uint8_t {
    baseline,  // SSE2: every x86-64
    avx2,      // AVX2 with FMA (every processor with AVX2 has FMA as well)
    avx512,    // AVX-512 F, VL and DQ, with AVX2 and FMA: eight doubles a vector
};

// Every path, narrowest first; tests iterate over it.
inline constexpr qn_simd qn_simd_paths[] = {qn_simd::baseline, qn_simd::avx2, qn_simd::avx512};

// The kernels of a family are written once, in a file that each_path.inc
// includes once per path: in a namespace where `vec` is qn_v2d and
// QN_TARGET is empty (the baseline path), in one where `vec` is qn_v4d and
// QN_TARGET is QN_TARGET_AVX2 (the avx2 path), and in one where `vec` is
// qn_v8d and QN_TARGET is QN_TARGET_AVX512 (the avx512 path). Every
// function of such a file carries QN_TARGET, so that no vector crosses
// between code built for different instruction sets; the library is
// compiled with -ffp-contract=off, so the wider paths fuse a multiply and
// an add only where a kernel asks for it in so many words (qn_fma).
typedef double qn_v2d __attribute__((vector_size(16)));
typedef double qn_v4d __attribute__((vector_size(32)));
typedef double qn_v8d __attribute__((vector_size(64)));
typedef int64_t qn_v2i __attribute__((vector_size(16)));
typedef int64_t qn_v4i __attribute__((vector_size(32)));
typedef int64_t qn_v8i __attribute__((vector_size(64)));
#define QN_TARGET_AVX2 [[gnu::target("avx2,fma")]]
#define QN_TARGET_AVX512 [[gnu::target("avx512f,avx512vl,avx512dq,avx2,fma")]]

// The correctly rounded square root of every lane, on each path. (The
// zero-masking form with every lane selected is the plain one: the plain
// AVX-512 intrinsic passes an undefined vector that GCC 12 warns about.)
inline qn_v2d qn_sqrt(qn_v2d v) { return reinterpret_cast<qn_v2d>(_mm_sqrt_pd(reinterpret_cast<__m128d>(v))); }
QN_TARGET_AVX2 inline qn_v4d qn_sqrt(qn_v4d v) {
    return reinterpret_cast<qn_v4d>(_mm256_sqrt_pd(reinterpret_cast<__m256d>(v)));
}
QN_TARGET_AVX512 inline qn_v8d qn_sqrt(qn_v8d v) {
    return reinterpret_cast<qn_v8d>(_mm512_maskz_sqrt_pd(0xff, reinterpret_cast<__m512d>(v)));
}

// a * b + c rounded once, for the paths that have the instruction; a kernel
// uses it only where every path's result is the same (see the filter bank).
QN_TARGET_AVX2 inline qn_v4d qn_fma(qn_v4d a, qn_v4d b, qn_v4d c) {
    return reinterpret_cast<qn_v4d>(_mm256_fmadd_pd(reinterpret_cast<__m256d>(a), reinterpret_cast<__m256d>(b),
                                                    reinterpret_cast<__m256d>(c)));
}
QN_TARGET_AVX512 inline qn_v8d qn_fma(qn_v8d a, qn_v8d b, qn_v8d c) {
    return reinterpret_cast<qn_v8d>(_mm512_fmadd_pd(reinterpret_cast<__m512d>(a), reinterpret_cast<__m512d>(b),
                                                    reinterpret_cast<__m512d>(c)));
}

// Of three things made for the baseline, avx2 and avx512 paths, the one a
// path takes: how a kernel family hands out its table of kernels.
template <class T>
constexpr const T &qn_simd_pick(qn_simd path, const T &plain, const T &wide, const T &widest) noexcept {
    return path == qn_simd::avx512 ? widest : path == qn_simd::avx2 ? wide : plain;
}

// The text of a path, for test and benchmark names.
inline constexpr const char *qn_simd_name(qn_simd path) {
    return path == qn_simd::avx512 ? "avx512" : path == qn_simd::avx2 ? "avx2" : "baseline";
}

// True when this processor runs the path.
bool qn_simd_available(qn_simd path) noexcept;

// The fastest path this processor runs; the answer never changes.
qn_simd qn_simd_best() noexcept;

#endif

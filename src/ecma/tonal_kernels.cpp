#include "ecma/tonal_kernels.h"

#include <immintrin.h>

#include <cstring>

namespace {

namespace plain {
using vec = qn_v2d;
inline vec root(vec v) { return reinterpret_cast<vec>(_mm_sqrt_pd(reinterpret_cast<__m128d>(v))); }
#define QN_TARGET
#include "ecma/tonal_kernels.inc"
#undef QN_TARGET
}  // namespace plain

namespace wide {
using vec = qn_v4d;
QN_TARGET_AVX2 inline vec root(vec v) {
    return reinterpret_cast<vec>(_mm256_sqrt_pd(reinterpret_cast<__m256d>(v)));
}
#define QN_TARGET QN_TARGET_AVX2
#include "ecma/tonal_kernels.inc"
#undef QN_TARGET
}  // namespace wide

namespace widest {
using vec = qn_v8d;
// The all-lanes mask spares GCC 12 a false "maybe uninitialized" from the
// plain form's undefined pass-through operand.
QN_TARGET_AVX512 inline vec root(vec v) {
    return reinterpret_cast<vec>(_mm512_maskz_sqrt_pd(0xff, reinterpret_cast<__m512d>(v)));
}
#define QN_TARGET QN_TARGET_AVX512
#include "ecma/tonal_kernels.inc"
#undef QN_TARGET
}  // namespace widest

constexpr qn_ecma_tonal_kernels plain_kernels = {plain::energies<>, plain::normalise, plain::average,
                                                 plain::mean_of_three, plain::powers};
constexpr qn_ecma_tonal_kernels wide_kernels = {wide::energies<>, wide::normalise, wide::average, wide::mean_of_three,
                                                wide::powers};
// The energies of a batch of four blocks have no eight-lane form.
constexpr qn_ecma_tonal_kernels widest_kernels = {wide::energies<>, widest::normalise, widest::average,
                                                  widest::mean_of_three, widest::powers};

}  // namespace

const qn_ecma_tonal_kernels &qn_ecma_tonal_kernels_for(qn_simd path) noexcept {
    switch (path) {
    case qn_simd::avx512: return widest_kernels;
    case qn_simd::avx2: return wide_kernels;
    case qn_simd::baseline: break;
    }
    return plain_kernels;
}

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

constexpr qn_ecma_tonal_kernels plain_kernels = {plain::energies, plain::normalise, plain::average, plain::mean_of_three,
                                                 plain::powers};
constexpr qn_ecma_tonal_kernels wide_kernels = {wide::energies, wide::normalise, wide::average, wide::mean_of_three,
                                                wide::powers};

}  // namespace

const qn_ecma_tonal_kernels &qn_ecma_tonal_kernels_for(qn_simd path) noexcept {
    return path != qn_simd::baseline ? wide_kernels : plain_kernels;
}

#include "ecma/fluct_kernels.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace {

#define QN_PATH_KERNELS "ecma/fluct_kernels.inc"
#include "base/each_path.inc"

constexpr qn_ecma_fluct_kernels plain_kernels = {plain::median, plain::accumulate};
constexpr qn_ecma_fluct_kernels wide_kernels = {wide::median, wide::accumulate};
constexpr qn_ecma_fluct_kernels widest_kernels = {widest::median, widest::accumulate};

}  // namespace

const qn_ecma_fluct_kernels &qn_ecma_fluct_kernels_for(qn_simd path) noexcept {
    switch (path) {
    case qn_simd::avx512: return widest_kernels;
    case qn_simd::avx2: return wide_kernels;
    case qn_simd::baseline: break;
    }
    return plain_kernels;
}

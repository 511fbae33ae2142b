#include "ecma/rough_kernels.h"

#include <cfloat>
#include <cmath>
#include <cstring>

namespace {

#define QN_PATH_KERNELS "ecma/rough_kernels.inc"
#include "base/each_path.inc"

constexpr qn_ecma_rough_kernels plain_kernels = {plain::accumulate, plain::average, plain::envelope};
constexpr qn_ecma_rough_kernels wide_kernels = {wide::accumulate, wide::average, wide::envelope};
constexpr qn_ecma_rough_kernels widest_kernels = {widest::accumulate, widest::average, widest::envelope};

}  // namespace

const qn_ecma_rough_kernels &qn_ecma_rough_kernels_for(qn_simd path) noexcept {
    return qn_simd_pick(path, plain_kernels, wide_kernels, widest_kernels);
}

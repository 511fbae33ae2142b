#include "roughness_dw/dw_kernels.h"

#include <bit>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <iterator>
#include <numbers>

#include "base/checks.h"
#include "roughness_dw/dw_setup.h"

namespace {

#define QN_PATH_KERNELS "roughness_dw/dw_kernels.inc"
#include "base/each_path.inc"

constexpr qn_dw_kernels plain_kernels = {plain::window,        plain::components,       plain::spread,
                                         plain::pair_spectrum, plain::channel_spectrum, plain::rectify};
constexpr qn_dw_kernels wide_kernels = {wide::window,        wide::components,       wide::spread,
                                        wide::pair_spectrum, wide::channel_spectrum, wide::rectify};
constexpr qn_dw_kernels widest_kernels = {widest::window,        widest::components,       widest::spread,
                                          widest::pair_spectrum, widest::channel_spectrum, widest::rectify};

}  // namespace

const qn_dw_kernels &qn_dw_kernels_for(qn_simd path) noexcept {
    return qn_simd_pick(path, plain_kernels, wide_kernels, widest_kernels);
}

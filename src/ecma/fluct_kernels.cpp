#include "ecma/fluct_kernels.h"

#include "ecma/fluctuation.h"

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <cstring>
#include <utility>

namespace {

#define QN_PATH_KERNELS "ecma/fluct_kernels.inc"
#include "base/each_path.inc"

constexpr qn_ecma_fluct_kernels plain_kernels = {plain::median, plain::accumulate, plain::round_decimals,
                                                    plain::pair_products, plain::gather_phases, plain::magnitudes, plain::median_pair, plain::pair_columns, plain::normal_equations};
constexpr qn_ecma_fluct_kernels wide_kernels = {wide::median, wide::accumulate, wide::round_decimals,
                                                    wide::pair_products, wide::gather_phases, wide::magnitudes, wide::median_pair, wide::pair_columns, wide::normal_equations};
constexpr qn_ecma_fluct_kernels widest_kernels = {widest::median, widest::accumulate, widest::round_decimals,
                                                    widest::pair_products, widest::gather_phases, widest::magnitudes, widest::median_pair, widest::pair_columns, widest::normal_equations};

}  // namespace

const qn_ecma_fluct_kernels &qn_ecma_fluct_kernels_for(qn_simd path) noexcept {
    return qn_simd_pick(path, plain_kernels, wide_kernels, widest_kernels);
}

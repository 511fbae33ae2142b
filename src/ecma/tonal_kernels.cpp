#include "ecma/tonal_kernels.h"

#include <cstring>

namespace {

#define QN_PATH_KERNELS "ecma/tonal_kernels.inc"
#include "base/each_path.inc"

constexpr qn_ecma_tonal_kernels plain_kernels = {plain::energies<>, plain::normalise, plain::average,
                                                 plain::mean_of_three, plain::powers};
constexpr qn_ecma_tonal_kernels wide_kernels = {wide::energies<>, wide::normalise, wide::average, wide::mean_of_three,
                                                wide::powers};
// The energies of a batch of four blocks have no eight-lane form.
constexpr qn_ecma_tonal_kernels widest_kernels = {wide::energies<>, widest::normalise, widest::average,
                                                  widest::mean_of_three, widest::powers};

}  // namespace

const qn_ecma_tonal_kernels &qn_ecma_tonal_kernels_for(qn_simd path) noexcept {
    return qn_simd_pick(path, plain_kernels, wide_kernels, widest_kernels);
}

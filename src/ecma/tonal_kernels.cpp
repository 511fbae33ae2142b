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
    switch (path) {
    case qn_simd::avx512: return widest_kernels;
    case qn_simd::avx2: return wide_kernels;
    case qn_simd::baseline: break;
    }
    return plain_kernels;
}

// The built-in transform's kernels on each vector path: kernels.inc,
// included once per path by base/each_path.inc.
//
// GCC 12's AVX-512 intrinsics pass an undefined vector as the unused source
// of their masked forms and then warn that it may be used uninitialized
// (fixed in GCC 13); the warning is placed in the intrinsics' header, so it
// is silenced before that header is read.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic ignored "-Wuninitialized"
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#endif
#include <immintrin.h>

#include <cstddef>

#include "base/simd.h"
#include "fft/kernels.h"

namespace {

#define QN_PATH_KERNELS "fft/kernels.inc"
#include "base/each_path.inc"

constexpr qn_fft_kernels plain_kernels = {plain::run, plain::run_pruned, plain::real_post, plain::real_pre,
                                           plain::real_power};
constexpr qn_fft_kernels wide_kernels = {wide::run, wide::run_pruned, wide::real_post, wide::real_pre,
                                           wide::real_power};
constexpr qn_fft_kernels widest_kernels = {widest::run, widest::run_pruned, widest::real_post, widest::real_pre,
                                           widest::real_power};

}  // namespace

const qn_fft_kernels &qn_fft_kernels_for(qn_simd path) noexcept {
    return qn_simd_pick(path, plain_kernels, wide_kernels, widest_kernels);
}

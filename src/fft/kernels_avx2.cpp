// The kernels for processors with AVX2, two complex values per register.
// They are compiled for AVX2 by attribute (no compiler flag), and the
// planner picks them only after asking the processor, so the library still
// runs on any x86-64. No fused multiply-add: the results are the bits of the
// SSE2 kernels.
#include <immintrin.h>

#include <cstddef>

#include "fft/kernels.h"

#if defined(__clang__)
#pragma clang attribute push(__attribute__((target("avx2"))), apply_to = function)
#elif defined(__GNUC__)
#pragma GCC push_options
#pragma GCC target("avx2")
#endif

namespace {

#include "fft/kernels_avx2_types.h"

}  // namespace

#define QN_FFT_HAVE_CV2 1
#define QN_FFT_HAVE_CV4 0
#include "fft/kernels_impl.h"

#if defined(__clang__)
#pragma clang attribute pop
#elif defined(__GNUC__)
#pragma GCC pop_options
#endif

const qn_fft_kernels qn_fft_kernels_avx2 = {run, run_pruned, real_post, real_pre};

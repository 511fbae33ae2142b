#include "frame/simd.h"

namespace {

bool probe_avx2() { return __builtin_cpu_supports("avx2") && __builtin_cpu_supports("fma"); }

}  // namespace

bool qn_simd_available(qn_simd path) noexcept {
    if (path != qn_simd::avx2) return true;
    // A constant once initialised: the processor's features do not change.
    static const bool avx2 = probe_avx2();
    return avx2;
}

qn_simd qn_simd_best() noexcept { return qn_simd_available(qn_simd::avx2) ? qn_simd::avx2 : qn_simd::baseline; }

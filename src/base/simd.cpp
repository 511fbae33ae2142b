#include "base/simd.h"

// The processor is asked once, when the program loads: the compiler's
// run-time support reads its features into a table that these probes only
// look up, so no static of our own (and no lock around one) is needed.
namespace {

bool probe_avx2() { return __builtin_cpu_supports("avx2") && __builtin_cpu_supports("fma"); }

// The compiler's probe also asks the operating system whether it saves the
// 512-bit registers, so a processor with AVX-512 under a kernel that does
// not use it counts as without.
bool probe_avx512() {
    return probe_avx2() && __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512vl") &&
           __builtin_cpu_supports("avx512dq");
}

}  // namespace

bool qn_simd_available(qn_simd path) noexcept {
    switch (path) {
    case qn_simd::baseline: return true;
    case qn_simd::avx2: return probe_avx2();
    case qn_simd::avx512: return probe_avx512();
    }
    return false;
}

qn_simd qn_simd_best() noexcept {
    if (probe_avx512()) return qn_simd::avx512;
    return probe_avx2() ? qn_simd::avx2 : qn_simd::baseline;
}

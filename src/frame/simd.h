// The one place that chooses vector code. Every kernel family of the library
// exists in a baseline form that runs on any x86-64 (SSE2, which the
// architecture guarantees) and, where it pays, in a form for processors with
// AVX2 and FMA. Both forms of a family give the same bits; a caller picks a
// path with qn_simd_best(), and the tests run every path that this
// processor has.
#ifndef QN_FRAME_SIMD_H
#define QN_FRAME_SIMD_H

#include <cstdint>

enum class qn_simd : uint8_t {
    baseline,  // SSE2: every x86-64
    avx2,      // AVX2 with FMA (every processor with AVX2 has FMA as well)
};

// Every path, baseline first; tests iterate over it.
inline constexpr qn_simd qn_simd_paths[] = {qn_simd::baseline, qn_simd::avx2};

// The text of a path, for test and benchmark names.
inline constexpr const char *qn_simd_name(qn_simd path) {
    return path == qn_simd::avx2 ? "avx2" : "baseline";
}

// True when this processor runs the path.
bool qn_simd_available(qn_simd path) noexcept;

// The fastest path this processor runs. The processor is asked once, on the
// first call; the answer never changes afterwards.
qn_simd qn_simd_best() noexcept;

#endif

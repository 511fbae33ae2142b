// The kernels run on several values at once and on every vector path alike;
// a lane outside the range they cover goes to the C library, which also
// gives the special values (infinity, NaN, zero, subnormals) their meaning.
#include "loudness/vector_math.h"

#include <bit>
#include <cfloat>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <iterator>
#include <numbers>

namespace {

#define QN_PATH_KERNELS "loudness/vector_math.inc"
#include "base/each_path.inc"

// The kernels of each path, by function.
struct path_kernels {
    void (*exp10)(const double *, double *, std::size_t);
    void (*log10)(const double *, double *, std::size_t);
    void (*root4)(const double *, double *, std::size_t);
};
constexpr path_kernels plain_kernels = {plain::exp10_n, plain::log10_n, plain::root4_n};
constexpr path_kernels wide_kernels = {wide::exp10_n, wide::log10_n, wide::root4_n};
constexpr path_kernels widest_kernels = {widest::exp10_n, widest::log10_n, widest::root4_n};

const path_kernels &kernels_for(qn_simd path) {
    return path == qn_simd::avx512 ? widest_kernels : path == qn_simd::avx2 ? wide_kernels : plain_kernels;
}

}  // namespace

void qn_exp10_n(qn_simd path, const double *x, double *y, std::size_t n) noexcept { kernels_for(path).exp10(x, y, n); }
void qn_log10_n(qn_simd path, const double *x, double *y, std::size_t n) noexcept { kernels_for(path).log10(x, y, n); }
void qn_root4_n(qn_simd path, const double *x, double *y, std::size_t n) noexcept { kernels_for(path).root4(x, y, n); }

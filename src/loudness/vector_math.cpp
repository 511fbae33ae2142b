// The kernels run on several values at once and on every vector path alike;
// a lane outside the range they cover goes to the C library, which also
// gives the special values (infinity, NaN, zero, subnormals) their meaning.
#include "loudness/vector_math.h"

#include <cfloat>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <iterator>

namespace {

// 10^x = 2^n 10^r with n = round(x log2 10) and r = x - n log10 2.
constexpr double log2_of_10 = 3.321928094887362;
// log10 2 in two parts: the high part has 21 trailing zero bits, so its
// products with exponents (under 2^11) are exact.
constexpr double log10_of_2_hi = 0.30102999560767785;  // 0x1.34413509p-2
constexpr double log10_of_2_lo = 5.630334806675098e-11;
// Adding 1.5 2^52 rounds to an integer and leaves it in the low bits.
constexpr double round_shifter = 6755399441055744.0;
// Powers of ten within +-300 are normal numbers, and so is 2^n for them.
constexpr double exp10_limit = 300.0;
// (ln 10)^k / k!: with |r| <= 0.1506 the first omitted term is below 5e-18
// of the result.
constexpr double exp10_taylor[] = {
    1.0,
    2.302585092994046,
    2.650949055239199,
    2.034678592293476,
    1.171255148912267,
    0.5393829291955814,
    0.2069958486968681,
    0.06808936507443707,
    0.019597694626478524,
    0.00501392883377544,
    0.0011544997789984348,
    0.00024166672554424694,
    4.6371516642572196e-05,
    8.213412535439387e-06,
};

// ln m = 2 f (1 + f^2 / 3 + f^4 / 5 + ...): with f^2 <= 0.0295 the first
// omitted term (k = 12) is below 1e-19 of the result.
constexpr double atanh_series[] = {
    1.0,        1.0 / 3.0,  1.0 / 5.0,  1.0 / 7.0,  1.0 / 9.0,  1.0 / 11.0,
    1.0 / 13.0, 1.0 / 15.0, 1.0 / 17.0, 1.0 / 19.0, 1.0 / 21.0, 1.0 / 23.0,
};
static_assert(std::size(exp10_taylor) == 14 && std::size(atanh_series) == 12);
constexpr double inverse_ln_10 = 0.4342944819032518;
constexpr double sqrt_2 = 1.4142135623730951;

#define QN_PATH_KERNELS "loudness/vector_math.inc"
#include "frame/each_path.inc"

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

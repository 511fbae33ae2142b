#include "roughness_dw/dw_kernels.h"


#include <bit>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <numbers>

#include "frame/checks.h"
#include "roughness_dw/dw_setup.h"

namespace {

// ln 2 in two parts: the high part keeps 32 significant bits, so that its
// product with any exponent is exact; the low part is the rest, taken from
// the long-double value.
constexpr double ln2_high =
    std::bit_cast<double>(std::bit_cast<uint64_t>(std::numbers::ln2) & ~uint64_t{0x1fffff});
constexpr double ln2_low = static_cast<double>(std::numbers::ln2_v<long double> - ln2_high);

// 2 / (2j + 1), j = 1 ... 10: the series of 2 atanh s, less its first term,
// in powers of s^2.
constexpr int log_terms = 10;
constexpr double log_series[log_terms] = {2.0 / 3,  2.0 / 5,  2.0 / 7,  2.0 / 9,  2.0 / 11,
                                          2.0 / 13, 2.0 / 15, 2.0 / 17, 2.0 / 19, 2.0 / 21};

// 1 / j!, j = 0 ... 13.
constexpr int exp_terms = 14;
constexpr double factorial(int j) { return j <= 1 ? 1.0 : j * factorial(j - 1); }
constexpr double exp_series[exp_terms] = {
    1.0,               1.0,               1.0 / factorial(2),  1.0 / factorial(3),  1.0 / factorial(4),
    1.0 / factorial(5), 1.0 / factorial(6), 1.0 / factorial(7),  1.0 / factorial(8),  1.0 / factorial(9),
    1.0 / factorial(10), 1.0 / factorial(11), 1.0 / factorial(12), 1.0 / factorial(13),
};

#define QN_PATH_KERNELS "roughness_dw/dw_kernels.inc"
#include "frame/each_path.inc"

constexpr qn_dw_kernels plain_kernels = {plain::window,        plain::components,       plain::spread,
                                         plain::pair_spectrum, plain::channel_spectrum, plain::rectify};
constexpr qn_dw_kernels wide_kernels = {wide::window,        wide::components,       wide::spread,
                                        wide::pair_spectrum, wide::channel_spectrum, wide::rectify};
constexpr qn_dw_kernels widest_kernels = {widest::window,        widest::components,       widest::spread,
                                          widest::pair_spectrum, widest::channel_spectrum, widest::rectify};

}  // namespace

const qn_dw_kernels &qn_dw_kernels_for(qn_simd path) noexcept {
    switch (path) {
    case qn_simd::avx512: return widest_kernels;
    case qn_simd::avx2: return wide_kernels;
    case qn_simd::baseline: break;
    }
    return plain_kernels;
}

// The auditory filters: their coefficients, the whole-buffer filter of one
// band, and the bank that runs neighbouring bands side by side in vector
// lanes (two, four or eight). Every form takes its step from
// auditory_step.inc.
#include <cfloat>
#include <cmath>
#include <cstring>

#include "ecma/band_bank.h"
#include "ecma/front_end.h"
#include "base/checks.h"

namespace {

namespace scalar {
using vec = double;
#define QN_TARGET
#include "ecma/auditory_step.inc"
#undef QN_TARGET
}  // namespace scalar

#define QN_PATH_KERNELS "ecma/auditory_step.inc"
#define QN_PATH_KERNELS_2 "ecma/band_bank_kernels.inc"
#include "base/each_path.inc"

}  // namespace

qn_ecma_filter_coefficients qn_ecma_auditory_coefficients(uint64_t band) noexcept {
    using namespace qn_ecma;
    const double centre = qn_ecma_band_centre_hz(band);
    const double width = qn_ecma_bandwidth_hz(band);
    const double d = std::exp(-width * filter_time_factor / filter_time_divisor);
    const double omega = 2.0 * M_PI * centre / 48000.0;
    // The powers of d by repeated multiplication, (1 - d)^5 as a product of
    // five factors, the sum of the denominator from its first term on.
    double power[6];  // d^m
    power[0] = 1.0;
    for (int m = 1; m < 6; ++m) power[m] = power[m - 1] * d;
    const double u = 1.0 - d;
    // The gain at the band centre is 1: sum of n^4 d^n is
    // (d + 11 d^2 + 11 d^3 + d^4) / (1 - d)^5.
    const double c = (u * u * u * u * u) / (((power[1] + 11.0 * power[2]) + 11.0 * power[3]) + power[4]);
    // The numerator's Eulerian numbers and the expansion of (1 - d z^-1)^5.
    constexpr double numerator[4] = {1.0, 11.0, 11.0, 1.0};
    constexpr double denominator[5] = {-5.0, 10.0, -10.0, 5.0, -1.0};
    qn_ecma_filter_coefficients k{};
    for (int m = 1; m <= 5; ++m) {
        const double cosine = std::cos(m * omega);
        const double sine = std::sin(m * omega);
        if (m <= 4) {
            const double magnitude = c * numerator[m - 1] * power[m];
            k.b_re[m - 1] = magnitude * cosine;
            k.b_im[m - 1] = magnitude * sine;
        }
        const double magnitude = denominator[m - 1] * power[m];
        k.a_re[m - 1] = magnitude * cosine;
        k.a_im[m - 1] = magnitude * sine;
    }
    return k;
}

qn_status qn_ecma_auditory_filter(const double *input, uint64_t count, uint64_t band, double *output) noexcept {
    if (input == nullptr || output == nullptr) return QN_STATUS_NULL_POINTER;
    if (band > 52) return QN_STATUS_INVALID_ARGUMENT;
    const qn_ecma_filter_coefficients k = qn_ecma_auditory_coefficients(band);
    scalar::lane_coefficients c;
    std::memcpy(c.b_re, k.b_re, sizeof c.b_re);
    std::memcpy(c.b_im, k.b_im, sizeof c.b_im);
    std::memcpy(c.a_re, k.a_re, sizeof c.a_re);
    std::memcpy(c.a_im, k.a_im, sizeof c.a_im);
    scalar::lane_state s{};
    for (uint64_t i = 0; i < count; ++i) {
        output[i] = scalar::auditory_step(s, c, input[i]);
        if (!qn_is_finite(output[i])) return QN_STATUS_NUMERICAL_FAILURE;
    }
    return QN_STATUS_SUCCESS;
}

bool qn_ecma_band_bank_init(qn_ecma_band_bank *bank, uint32_t first_band, uint32_t band_count,
                            qn_simd path) noexcept {
    if (band_count == 0 || first_band > 52 || band_count > 53 - first_band || !qn_simd_available(path))
        return false;
    std::memset(bank, 0, sizeof *bank);
    bank->first_band = first_band;
    bank->band_count = band_count;
    bank->path = path;
    for (uint32_t j = 0; j < band_count; ++j) {
        const qn_ecma_filter_coefficients k = qn_ecma_auditory_coefficients(first_band + j);
        for (int m = 0; m < 4; ++m) {
            bank->b_re[m][j] = k.b_re[m];
            bank->b_im[m][j] = k.b_im[m];
        }
        for (int m = 0; m < 5; ++m) {
            bank->a_re[m][j] = k.a_re[m];
            bank->a_im[m][j] = k.a_im[m];
        }
    }
    return true;
}

int qn_ecma_band_bank_width(const qn_ecma_band_bank &bank) noexcept {
    switch (bank.path) {
    case qn_simd::avx512: return 8;
    case qn_simd::avx2: return 4;
    case qn_simd::baseline: break;
    }
    return 2;
}

bool qn_ecma_band_bank_run_lanes(qn_ecma_band_bank *bank, const double *input, std::size_t count, double *rows,
                                 std::size_t stride, int first, int lanes) noexcept {
    const int to = first + lanes;
    switch (bank->path) {
    case qn_simd::avx512: return widest::bank_run(bank, input, count, rows, stride, first, to);
    case qn_simd::avx2: return wide::bank_run(bank, input, count, rows, stride, first, to);
    case qn_simd::baseline: break;
    }
    return plain::bank_run(bank, input, count, rows, stride, first, to);
}

bool qn_ecma_band_bank_run(qn_ecma_band_bank *bank, const double *input, std::size_t count, double *rows,
                           std::size_t stride) noexcept {
    return qn_ecma_band_bank_run_lanes(bank, input, count, rows, stride, 0, static_cast<int>(bank->band_count));
}

// The third-octave filter bank. The 28 bands are independent, so
// neighbouring bands share one vector of two, four or eight doubles (the
// last eight-band vector has four idle lanes): every lane does
// exactly the arithmetic of its band in scalar code, in the same order, so
// the results are the same bit for bit whatever the vector width. The
// signal is read in blocks that stay in cache while every band group runs
// over them.
#include "loudness/filter_bank.h"

#include <cfloat>
#include <cmath>
#include <cstring>

#include "base/checks.h"
#include "loudness/third_octave_tables.h"
#include "loudness/vector_math.h"

namespace {

using namespace qn_third_octave;


constexpr int lane_count = static_cast<int>(qn_third_octave_lanes);

// The coefficients lane by lane (band-major), ready to load as vectors; the
// idle lanes are zero, so their filters never leave rest.
struct lane_tables {
    double gain[lane_count];
    double a1[section_count][lane_count];
    double a2[section_count][lane_count];
};

constexpr lane_tables make_lane_tables() {
    lane_tables t{};
    for (int b = 0; b < band_count; ++b) {
        t.gain[b] = bands[b].gain;
        for (int s = 0; s < section_count; ++s) {
            t.a1[s][b] = a1(b, s);
            t.a2[s][b] = a2(b, s);
        }
    }
    return t;
}

alignas(64) constexpr lane_tables coefficients = make_lane_tables();

constexpr std::size_t block_samples = 64;  // filter outputs of a block: 14 KiB, on the stack

#define QN_PATH_KERNELS "loudness/filter_bank_kernels.inc"
#include "base/each_path.inc"

}  // namespace

qn_status qn_third_octave_levels_with(qn_simd path, const double *samples, uint64_t count,
                                      uint64_t skip, double *levels) noexcept {
    if (samples == nullptr || levels == nullptr) return QN_STATUS_NULL_POINTER;
    if (count < 256) return QN_STATUS_INPUT_TOO_SHORT;
    if (skip >= count) return QN_STATUS_INVALID_ARGUMENT;

    alignas(64) double sums[lane_count];
    bool ok;
    switch (path) {
    case qn_simd::avx512: ok = widest::levels_power_sums(samples, count, skip, sums); break;
    case qn_simd::avx2: ok = wide::levels_power_sums(samples, count, skip, sums); break;
    default: ok = plain::levels_power_sums(samples, count, skip, sums); break;
    }
    if (!ok) return QN_STATUS_NUMERICAL_FAILURE;
    qn_levels_of_power_sums(sums, count - skip, levels);
    return QN_STATUS_SUCCESS;
}

void qn_levels_of_powers(const double *powers, double *levels) noexcept {
    for (int b = 0; b < band_count; ++b) levels[b] = powers[b] + 1e-12;
    qn_log10_n(qn_simd_best(), levels, levels, band_count);
    for (int b = 0; b < band_count; ++b) levels[b] = 10.0 * (levels[b] + qn_level_offset);
}

bool qn_levels_of_power_sums(const double *sums, uint64_t count, double *levels) noexcept {
    for (int b = 0; b < band_count; ++b)
        if (!qn_is_finite(sums[b])) return false;
    const double averaged = static_cast<double>(count);
    double powers[band_count];
    for (int b = 0; b < band_count; ++b) powers[b] = sums[b] / averaged;
    qn_levels_of_powers(powers, levels);
    return true;
}

qn_status qn_third_octave_levels(const double *samples, uint64_t count, uint64_t skip,
                                 double *levels) noexcept {
    return qn_third_octave_levels_with(qn_simd_best(), samples, count, skip, levels);
}

void qn_smoothed_bank_init(qn_smoothed_bank *bank) noexcept {
    std::memset(bank, 0, sizeof *bank);
    for (int b = 0; b < band_count; ++b) {
        // Time constant 2 / (3 fc) s, with fc the exact base-10 band centre
        // limited to 1 kHz, so that no band smooths over less than 2/3 ms.
        const double centre = 1000.0 * std::pow(10.0, (b - 16) / 10.0);
        const double fc = centre < 1000.0 ? centre : 1000.0;
        bank->a[b] = std::exp(-1.0 / (48000.0 * 2.0 / (3.0 * fc)));
        bank->b[b] = 1.0 - bank->a[b];
    }
}

bool qn_smoothed_bank_run_with(qn_simd path, qn_smoothed_bank *bank, const double *samples,
                               std::size_t count, bool power_sums) noexcept {
    switch (path) {
    case qn_simd::avx512:
        return power_sums ? widest::smoothed_run<true>(bank, samples, count)
                          : widest::smoothed_run<false>(bank, samples, count);
    case qn_simd::avx2:
        return power_sums ? wide::smoothed_run<true>(bank, samples, count)
                          : wide::smoothed_run<false>(bank, samples, count);
    default:
        return power_sums ? plain::smoothed_run<true>(bank, samples, count)
                          : plain::smoothed_run<false>(bank, samples, count);
    }
}

bool qn_smoothed_bank_run(qn_smoothed_bank *bank, const double *samples, std::size_t count) noexcept {
    return qn_smoothed_bank_run_with(qn_simd_best(), bank, samples, count);
}

bool qn_band_power_run_with(qn_simd path, qn_band_power_bank *bank, const double *samples,
                            std::size_t count) noexcept {
    switch (path) {
    case qn_simd::avx512: return widest::band_power_run(bank, samples, count);
    case qn_simd::avx2: return wide::band_power_run(bank, samples, count);
    default: return plain::band_power_run(bank, samples, count);
    }
}

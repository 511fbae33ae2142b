#include "support/ecma_fluct_literal.h"

#include <algorithm>
#include <cmath>
#include <memory>

#include "base/alloc.h"
#include "base/checks.h"
#include "ecma/fluctuation.h"
#include "ecma/front_end.h"
#include "fft/fft.h"
#include "support/pchip_literal.h"

namespace qn_test {

namespace {

constexpr int bands = 53;
constexpr uint64_t block = 65536, hop = 16384;

// The median of a list of values, the mean of the middle two for an even
// count.
double median_of(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    const std::size_t c = v.size();
    return c % 2 == 1 ? v[c / 2] : 0.5 * (v[c / 2 - 1] + v[c / 2]);
}

}  // namespace

ecma_fluct_literal_result ecma_fluct_literal(const std::vector<double> &signal, qn_sound_field field) {
    ecma_fluct_literal_result r;
    const uint64_t n = signal.size();
    const uint64_t blocks = n / hop + (n % hop != 0 ? 1 : 0) + 1;
    const uint64_t frames = n / 960 + 1;
    r.blocks = blocks;
    r.frames = frames;
    auto fail = [&](qn_status s) {
        r.status = s;
        return r;
    };

    double *ear = nullptr;
    uint64_t length = 0;
    r.status = qn_ecma_ear_filter(signal.data(), n, block, hop, false, field, &ear, &length);
    if (r.status != QN_STATUS_SUCCESS) return r;
    qn_heap_array<double> ear_owner(ear);

    // Each band's whole signal, each block's envelope, each band's outcome.
    std::vector<double> band_signal(length), z(2 * block), envelope(2048);
    std::vector<qn_ecma_fluct_band_result> outcome(blocks * bands);
    std::unique_ptr<qn_ecma_fluct_band_work, void (*)(qn_ecma_fluct_band_work *)> work(
        qn_ecma_fluct_band_work_make(qn_simd::baseline), qn_ecma_fluct_band_work_free);
    qn_fft_cplan_ptr long_plan(qn_fft_cplan_make(block));
    if (!work || !long_plan) return fail(QN_STATUS_ALLOCATION_FAILED);
    for (int b = 0; b < bands; ++b) {
        const qn_status filtered = qn_ecma_auditory_filter(ear, length, b, band_signal.data());
        if (filtered != QN_STATUS_SUCCESS) return fail(filtered);
        for (uint64_t l = 0; l < blocks; ++l) {
            const uint64_t start = l + 1 < blocks ? hop * l : n;
            for (uint64_t j = 0; j < block; ++j) {
                z[2 * j] = band_signal[start + j];
                z[2 * j + 1] = 0;
            }
            if (!qn_fft_cforward(long_plan.get(), z.data(), 1.0)) return fail(QN_STATUS_NUMERICAL_FAILURE);
            for (uint64_t k = 1; k < block / 2; ++k) {
                z[2 * k] *= 2;
                z[2 * k + 1] *= 2;
            }
            for (uint64_t k = block / 2 + 1; k < block; ++k) z[2 * k] = z[2 * k + 1] = 0;
            if (!qn_fft_cbackward(long_plan.get(), z.data(), 1.0 / block)) return fail(QN_STATUS_NUMERICAL_FAILURE);
            for (int m = 0; m < 2048; ++m) envelope[m] = std::hypot(z[2 * 32 * m], z[2 * 32 * m + 1]);
            if (!qn_ecma_fluct_band(envelope.data(), b, work.get(), &outcome[l * bands + b]))
                return fail(QN_STATUS_NUMERICAL_FAILURE);
        }
    }

    // Each block's values, relative to its loudest band that has lines.
    r.values.assign(blocks * bands, 0.0);
    for (uint64_t l = 0; l < blocks; ++l) {
        std::vector<double> loudness(bands, 0.0);
        double loudest = 0;
        for (int b = 0; b < bands; ++b) {
            const auto &o = outcome[l * bands + b];
            if (!o.reached) continue;
            loudness[b] = qn_ecma_specific_loudness(b, std::sqrt(0.5 * o.power));
            if (!qn_is_finite(loudness[b])) return fail(QN_STATUS_NUMERICAL_FAILURE);
            loudest = std::max(loudest, loudness[b]);
        }
        for (int b = 0; b < bands; ++b) {
            const auto &o = outcome[l * bands + b];
            if (!o.reached) continue;
            double v = loudness[b] * loudness[b] / (loudest + 1e-12) * 2048.0 * o.weighted / (o.power + 1e-12);
            if (v < 5.2519) v = 0;
            r.values[l * bands + b] = v;
        }
    }

    // Interpolation to frames, band by band.
    std::vector<double> times(blocks);
    for (uint64_t l = 0; l < blocks; ++l) times[l] = static_cast<double>(l + 1 < blocks ? hop * l : n) / 48000.0;
    r.interpolated = frames_from_blocks(times, r.values, bands, frames);

    // The frame pass: the spread over the bands, its running median over 71
    // frames, the exponent, calibration and smoothing.
    std::vector<double> spread(frames);
    for (uint64_t k = 0; k < frames; ++k) {
        double sum = 0, squares = 0;
        for (int b = 0; b < bands; ++b) {
            const double v = r.interpolated[k * bands + b];
            sum += v;
            squares += v * v;
        }
        spread[k] = std::sqrt(squares / bands) / (sum / bands + 1e-12);
    }
    r.fluctuation.assign(frames * bands, 0.0);
    const double alpha = std::exp(-1.0 / 37.5);
    for (uint64_t k = 0; k < frames; ++k) {
        const uint64_t first = k >= 35 ? k - 35 : 0, last = std::min(k + 35, frames - 1);
        const double m = median_of(std::vector<double>(spread.begin() + first, spread.begin() + last + 1));
        const double exponent = 0.37106 * (std::tanh(1.6407 * (m - 2.5804)) + 1) * 0.5 + 0.58449;
        for (int b = 0; b < bands; ++b) {
            const double v = 0.003840572 * std::pow(r.interpolated[k * bands + b], exponent);
            const double out = k == 0 ? v : (1 - alpha) * v + alpha * r.fluctuation[(k - 1) * bands + b];
            if (!qn_is_finite(out)) return fail(QN_STATUS_NUMERICAL_FAILURE);
            r.fluctuation[k * bands + b] = out;
        }
    }
    return r;
}

}  // namespace qn_test

#include "support/ecma_rough_literal.h"

#include <algorithm>
#include <cmath>

#include "ecma/front_end.h"
#include "ecma/roughness.h"
#include "fft/fft.h"
#include "base/alloc.h"
#include "base/checks.h"
#include "support/pchip_literal.h"

namespace qn_test {

namespace {

constexpr int bands = 53;
constexpr int bins = 257;

}  // namespace

ecma_rough_literal_result ecma_rough_literal(const std::vector<double> &signal, qn_sound_field field) {
    ecma_rough_literal_result r;
    const uint64_t n = signal.size();
    const uint64_t blocks = n / 4096 + (n % 4096 != 0 ? 1 : 0) + 1;
    const uint64_t frames = n / 960 + 1;
    r.blocks = blocks;
    r.frames = frames;

    double *ear = nullptr;
    uint64_t length = 0;
    r.status = qn_ecma_ear_filter(signal.data(), n, 16384, 4096, false, field, &ear, &length);
    if (r.status != QN_STATUS_SUCCESS) return r;
    qn_heap_array<double> ear_owner(ear);

    std::vector<double> band_signal(length);
    std::vector<double> phi(blocks * bands * bins, 0.0);
    r.loudness.assign(blocks * bands, 0.0);
    r.raw.assign(blocks * bands, 0.0);
    std::vector<double> z(2 * 16384), u(2 * 512), window(512);
    for (int j = 0; j < 512; ++j) window[j] = (0.5 - 0.5 * std::cos(2 * M_PI * j / 512.0)) / 0.6123724356957945;
    qn_fft_cplan_ptr long_plan(qn_fft_cplan_make(16384)), short_plan(qn_fft_cplan_make(512));
    auto fail = [&](qn_status s) {
        r.status = s;
        return r;
    };

    for (int b = 0; b < bands; ++b) {
        const qn_status filtered = qn_ecma_auditory_filter(ear, length, b, band_signal.data());
        if (filtered != QN_STATUS_SUCCESS) return fail(filtered);
        for (uint64_t i = 0; i < blocks; ++i) {
            const uint64_t start = i + 1 < blocks ? 4096 * i : n;
            double sum = 0;
            for (int j = 0; j < 16384; ++j) {
                const double x = band_signal[start + j];
                z[2 * j] = x;
                z[2 * j + 1] = 0;
                const double rectified = std::max(x, 0.0);
                sum += rectified * rectified;
            }
            const double loudness = qn_ecma_specific_loudness(b, std::sqrt(2 * sum / 16384));
            if (!qn_is_finite(loudness)) return fail(QN_STATUS_NUMERICAL_FAILURE);
            r.loudness[i * bands + b] = loudness;
            if (loudness == 0) continue;
            if (!qn_fft_cforward(long_plan.get(), z.data(), 1.0)) return fail(QN_STATUS_NUMERICAL_FAILURE);
            for (int k = 1; k <= 8191; ++k) {
                z[2 * k] *= 2;
                z[2 * k + 1] *= 2;
            }
            for (int k = 8193; k < 16384; ++k) z[2 * k] = z[2 * k + 1] = 0;
            if (!qn_fft_cbackward(long_plan.get(), z.data(), 1.0 / 16384)) return fail(QN_STATUS_NUMERICAL_FAILURE);
            double energy = 0;
            for (int j = 0; j < 512; ++j) {
                const double e = std::hypot(z[2 * 32 * j], z[2 * 32 * j + 1]);
                u[2 * j] = e * window[j];
                u[2 * j + 1] = 0;
                energy += u[2 * j] * u[2 * j];
            }
            if (!qn_fft_cforward(short_plan.get(), u.data(), 1.0)) return fail(QN_STATUS_NUMERICAL_FAILURE);
            const double g = energy > 0 ? loudness * loudness / energy : 0;
            double *p = &phi[(i * bands + b) * bins];
            for (int m = 0; m < bins; ++m) p[m] = g * (u[2 * m] * u[2 * m] + u[2 * m + 1] * u[2 * m + 1]);
        }
    }

    // Block pass.
    std::vector<double> averaged(bands * bins), s(bins), w(bins), g(bins), weighted(bins);
    for (uint64_t i = 0; i < blocks; ++i) {
        double nmax = 0;
        for (int b = 0; b < bands; ++b) nmax = std::max(nmax, r.loudness[i * bands + b]);
        if (nmax == 0) continue;
        const double *p = &phi[i * bands * bins];
        for (int b = 0; b < bands; ++b) {
            for (int m = 0; m < bins; ++m) {
                double v;
                if (b >= 1 && b <= 51) v = ((p[b * bins + m] + p[(b - 1) * bins + m] + p[(b + 1) * bins + m]) / 3) / nmax;
                else v = p[b * bins + m] / nmax;
                if (!qn_is_finite(v)) return fail(QN_STATUS_NUMERICAL_FAILURE);
                averaged[b * bins + m] = v;
            }
        }
        for (int m = 0; m < bins; ++m) {
            s[m] = 0;
            for (int b = 0; b < bands; ++b) s[m] += averaged[b * bins + m];
        }
        std::vector<double> sorted(s.begin() + 2, s.begin() + 256);
        std::sort(sorted.begin(), sorted.end());
        const double med = 0.5 * (sorted[126] + sorted[127]) + 1e-10;
        for (int m = 0; m < bins; ++m) w[m] = (s[m] * 0.0856 / med) * std::min(0.1891 * std::exp(0.012 * m), 1.0);
        double wmax = 0;
        for (int m = 2; m <= 255; ++m)
            if (w[m] > wmax) wmax = w[m];
        const double theta = 0.05 * wmax;
        for (int m = 0; m < bins; ++m) g[m] = w[m] >= theta ? std::min(std::max(w[m] - 0.1407, 0.0), 1.0) : 0.0;
        for (int b = 0; b < bands; ++b) {
            for (int m = 0; m < bins; ++m) weighted[m] = averaged[b * bins + m] * g[m];
            const double raw = qn_ecma_band_roughness(weighted.data(), b);
            if (!qn_is_finite(raw)) return fail(QN_STATUS_NUMERICAL_FAILURE);
            r.raw[i * bands + b] = raw;
        }
    }

    // Interpolation to frames, band by band.
    std::vector<double> times(blocks);
    for (uint64_t i = 0; i < blocks; ++i) times[i] = static_cast<double>(i + 1 < blocks ? 4096 * i : n) / 48000.0;
    r.interpolated = frames_from_blocks(times, r.raw, bands, frames);

    // Final transform.
    r.roughness.assign(frames * bands, 0.0);
    for (uint64_t k = 0; k < frames; ++k) {
        const double *x = &r.interpolated[k * bands];
        double o = 0, pw = 0;
        for (int b = 0; b < bands; ++b) {
            o += x[b];
            pw += x[b] * x[b];
        }
        const double arg = o > 0 ? 1.6407 * (std::sqrt(53 * pw) / o - 2.5804) : -4.23366228;
        const double epsilon = ((std::tanh(arg) + 1) * 0.37106) * 0.5 + 0.58449;
        for (int b = 0; b < bands; ++b) {
            const double v = 0.0180685 * std::pow(x[b], epsilon);
            double out = v;
            if (k > 0) {
                const double prev = r.roughness[(k - 1) * bands + b];
                const double alpha = v >= prev ? std::exp(-0.32) : std::exp(-0.04);
                out = alpha * prev + (1 - alpha) * v;
            }
            if (!qn_is_finite(out)) return fail(QN_STATUS_NUMERICAL_FAILURE);
            r.roughness[k * bands + b] = out;
        }
    }
    return r;
}

}  // namespace qn_test

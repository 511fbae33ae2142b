#include "support/dw_literal.h"

#include <cmath>
#include <vector>

#include "fft/fft.h"
#include "base/checks.h"
#include "roughness_dw/dw_setup.h"

namespace qn_test {

using namespace qn_dw;

std::vector<double> dw_literal(const double *samples, int32_t n, int32_t *code,
                               std::vector<dw_frame_detail> *details) {
    *code = 0;
    const double fs = 48000.0;
    qn_dw_setup s;
    if (!qn_dw_prepare(&s, fs)) {
        *code = -2;
        return {};
    }
    const int N = s.length;
    if (n < N) {
        *code = -3;
        return {};
    }
    const int last = (n - N) / (N / 2);
    qn_fft_cplan_ptr first(qn_fft_cplan_make(static_cast<std::size_t>(N)));
    qn_fft_cplan_ptr second(qn_fft_cplan_make(static_cast<std::size_t>(N)));
    std::vector<double> result(static_cast<std::size_t>(last + 1));
    std::vector<double> x(2 * static_cast<std::size_t>(N)), b(2 * static_cast<std::size_t>(N));
    std::vector<double> h(static_cast<std::size_t>(N) * 47);

    for (int f = 0; f <= last; ++f) {
        const int64_t start = int64_t{f} * (N / 2);
        for (int j = 0; j < N; ++j) {
            x[2 * j] = samples[start + j] * s.window[j] * s.scale;
            x[2 * j + 1] = 0;
        }
        qn_fft_cforward(first.get(), x.data(), 1.0);
        for (int k = 0; k < N; ++k) {
            x[2 * k] *= s.transmission[k];
            x[2 * k + 1] *= s.transmission[k];
        }
        struct component {
            int k;
            double a, l, z;
        };
        std::vector<component> comps;
        for (int k = s.bin_lo; k <= s.bin_hi; ++k) {
            const double a = std::sqrt(x[2 * k] * x[2 * k] + x[2 * k + 1] * x[2 * k + 1]);
            if (!qn_is_finite(a)) {
                *code = -5;
                return {};
            }
            const double l = a <= 0 ? -400.0 : 20.0 * std::log10(a);
            if (l > s.threshold[k]) comps.push_back({k, a, l, s.rate[k]});
        }
        // Excitation rows M[1 ... 47] of every component.
        std::vector<std::vector<double>> M(comps.size(), std::vector<double>(48, 0.0));
        std::vector<int> P(comps.size()), Q(comps.size());
        for (std::size_t c = 0; c < comps.size(); ++c) {
            const double L = comps[c].l, z = comps[c].z, fk = comps[c].k * fs / N;
            const double slope = std::min(0.0, 0.2 * L - 230.0 / fk - 24.0);
            const int p = static_cast<int>(std::floor(2 * z)), q = static_cast<int>(std::ceil(2 * z));
            P[c] = p;
            Q[c] = q;
            for (int i = 1; i <= std::min(p, 47); ++i) {
                const double lambda = L - 27.0 * (z - 0.5 * i);
                if (lambda > s.channel_threshold[i - 1]) M[c][i] = std::pow(10.0, lambda / 20.0);
            }
            for (int i = std::max(q, 1); i <= 47; ++i) {
                const double lambda = L + slope * (0.5 * i - z);
                if (lambda > s.channel_threshold[i - 1]) M[c][i] = std::pow(10.0, lambda / 20.0);
            }
        }
        dw_frame_detail detail;
        for (const component &c : comps) {
            detail.components.push_back(c.k);
            detail.levels.push_back(c.l);
        }
        std::vector<double> m(47, 0.0);
        for (int i = 1; i <= 47; ++i) {
            std::fill(b.begin(), b.end(), 0.0);
            for (std::size_t c = 0; c < comps.size(); ++c) {
                double phi;
                if (i == P[c] || i == Q[c]) phi = 1;
                else if (i == 47) phi = M[c][46] / comps[c].a;
                else if (i < Q[c]) phi = M[c][i + 1] / comps[c].a;
                else phi = M[c][i - 1] / comps[c].a;
                b[2 * comps[c].k] += phi * x[2 * comps[c].k];
                b[2 * comps[c].k + 1] += phi * x[2 * comps[c].k + 1];
            }
            qn_fft_cbackward(second.get(), b.data(), 1.0 / N);
            std::vector<double> e(static_cast<std::size_t>(N));
            double rect = 0;
            for (int j = 0; j < N; ++j) {
                e[j] = 2.0 * N * b[2 * j];
                rect += std::fabs(e[j]);
            }
            const double h0 = rect / N;
            for (int j = 0; j < N; ++j) {
                b[2 * j] = std::fabs(e[j]) - h0;
                b[2 * j + 1] = 0;
            }
            qn_fft_cforward(second.get(), b.data(), 1.0);
            const double *weight = &s.modulation_weight[static_cast<std::size_t>(i - 1) * s.weight_bins];
            for (int k = 0; k < N; ++k) {
                const double hk = k < s.weight_bins ? weight[k] : 0.0;
                b[2 * k] *= hk;
                b[2 * k + 1] *= hk;
            }
            qn_fft_cbackward(second.get(), b.data(), 1.0 / N);
            double q = 0;
            for (int j = 0; j < N; ++j) {
                h[static_cast<std::size_t>(i - 1) * N + j] = 2.0 * b[2 * j];
                q += h[static_cast<std::size_t>(i - 1) * N + j] * h[static_cast<std::size_t>(i - 1) * N + j];
            }
            if (!qn_is_finite(rect) || !qn_is_finite(q)) {
                *code = -5;
                return {};
            }
            if (h0 > 0) {
                const double depth = std::sqrt(q / N) / h0;
                if (depth < qn_dw_unmodulated_depth) {
                    // A constant envelope in exact arithmetic: no depth, no envelope.
                    std::fill(h.begin() + static_cast<std::ptrdiff_t>(i - 1) * N,
                              h.begin() + static_cast<std::ptrdiff_t>(i) * N, 0.0);
                } else {
                    m[i - 1] = std::min(1.0, depth);
                }
            }
        }
        std::vector<double> k(45, 0.0);
        for (int j = 1; j <= 45; ++j) {
            const double *xa = &h[static_cast<std::size_t>(j - 1) * N];
            const double *ya = &h[static_cast<std::size_t>(j + 1) * N];
            double mx = 0, my = 0;
            for (int t = 0; t < N; ++t) {
                mx += xa[t];
                my += ya[t];
            }
            mx /= N;
            my /= N;
            double sxy = 0, sxx = 0, syy = 0;
            for (int t = 0; t < N; ++t) {
                sxy += (xa[t] - mx) * (ya[t] - my);
                sxx += (xa[t] - mx) * (xa[t] - mx);
                syy += (ya[t] - my) * (ya[t] - my);
            }
            const double d = std::sqrt(sxx * syy);
            if (!qn_is_finite(d)) {
                *code = -5;
                return {};
            }
            k[j - 1] = d > 0 ? sxy / d : 0.0;
        }
        double sum = 0;
        for (int i = 1; i <= 47; ++i) {
            double prod = m[i - 1];
            if (i >= 3) prod *= k[i - 3];
            if (i <= 45) prod *= k[i - 1];
            sum += s.channel_weight[i - 1] * prod * prod * calibration;
        }
        result[f] = 0.5 * sum;
        if (details) {
            detail.depth = m;
            detail.correlation = k;
            for (int i = 0; i < 47; ++i)
                detail.envelope.emplace_back(h.begin() + static_cast<std::ptrdiff_t>(i) * N,
                                             h.begin() + static_cast<std::ptrdiff_t>(i + 1) * N);
            detail.roughness = result[f];
            details->push_back(std::move(detail));
        }
    }
    *code = last + 1;
    return result;
}

}  // namespace qn_test

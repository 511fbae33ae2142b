#include "support/ecma_tonal_literal.h"

#include <cmath>
#include <cstring>

#include "ecma/front_end.h"
#include "ecma/tonality.h"
#include "fft/fft.h"
#include "base/alloc.h"
#include "base/checks.h"

namespace qn_test {

namespace {

// y[k] from the inputs x[k - 1], x[k - 2] and the outputs before it.
void smooth_in_place(std::vector<double> &x) {
    double x1 = 0, x2 = 0, y1 = 0, y2 = 0, y3 = 0;
    for (double &value : x) {
        const double y = 2.4583765118772867 * y1 - 2.0145383580499785 * y2 + 0.5502770868562115 * y3 +
                         0.003234345947192479 * x1 + 0.0026504133692878285 * x2;
        x2 = x1;
        x1 = value;
        y3 = y2;
        y2 = y1;
        y1 = y;
        value = y;
    }
}

}  // namespace

qn_status ecma_tonal_literal(const double *samples, uint64_t count, qn_sound_field field,
                             std::vector<double> &out) {
    const uint64_t v_frames = ((count + 255) >> 8) + 1;
    out.assign(265 * v_frames, 0.0);
    double *raw = nullptr;
    uint64_t length = 0;
    const qn_status ear = qn_ecma_ear_filter(samples, count, 8192, 2048, true, field, &raw, &length);
    if (ear != QN_STATUS_SUCCESS) return ear;
    const qn_heap_array<double> buffer(raw);
    std::vector<double> band(length), work(16384);
    const qn_fft_rplan_ptr spectrum_plan(qn_fft_rplan_make(16384));
    const uint64_t plane = 53 * v_frames;

    for (int g = 0; g < 4; ++g) {
        const qn_ecma_tonal_group &group = qn_ecma_tonal_groups[g];
        const uint64_t n = group.block_length, hop = n / 4, per_hop = n / 1024;
        const uint64_t blocks = (length - 8192) / hop + 1;
        const uint64_t lags = qn_ecma_tonal_lag_count(g);
        const uint32_t filtered = group.last_filtered - group.first_filtered + 1;
        std::vector<double> store(filtered * blocks * lags, 0.0);
        std::vector<double> acf_work(2 * n), head(n + 1), tail(n + 1);
        const qn_fft_rplan_ptr acf_plan(qn_fft_rplan_make(2 * n));

        for (uint32_t t = group.first_filtered; t <= group.last_filtered; ++t) {
            const qn_status s = qn_ecma_auditory_filter(buffer.get(), length, t, band.data());
            if (s != QN_STATUS_SUCCESS) return s;
            for (uint64_t m = 0; m < blocks; ++m) {
                const double *x = band.data() + 8192 - n + m * hop;
                for (uint64_t i = 0; i < n; ++i) acf_work[i] = std::max(x[i], 0.0);
                for (uint64_t i = n; i < 2 * n; ++i) acf_work[i] = 0;
                head[0] = 0;
                for (uint64_t j = 1; j <= n; ++j) head[j] = head[j - 1] + acf_work[j - 1] * acf_work[j - 1];
                tail[n] = 0;
                for (uint64_t j = n; j-- > 0;) tail[j] = tail[j + 1] + acf_work[j] * acf_work[j];
                const double loudness = qn_ecma_specific_loudness(t, std::sqrt(2 * head[n] / n));
                if (!qn_is_finite(loudness)) return QN_STATUS_NUMERICAL_FAILURE;
                if (loudness == 0) continue;
                if (!qn_fft_rforward(acf_plan.get(), acf_work.data(), 1.0)) return QN_STATUS_NUMERICAL_FAILURE;
                double sum = 0;
                acf_work[0] = acf_work[0] * acf_work[0];
                sum += acf_work[0];
                for (uint64_t k = 1; k < n; ++k) {
                    const double re = acf_work[2 * k - 1], im = acf_work[2 * k];
                    acf_work[2 * k - 1] = re * re + im * im;
                    acf_work[2 * k] = 0;
                    sum += acf_work[2 * k - 1];
                }
                acf_work[2 * n - 1] = acf_work[2 * n - 1] * acf_work[2 * n - 1];
                sum += acf_work[2 * n - 1];
                if (!qn_is_finite(sum)) return QN_STATUS_NUMERICAL_FAILURE;
                if (!qn_fft_rbackward(acf_plan.get(), acf_work.data(), 1.0 / (2 * n)))
                    return QN_STATUS_NUMERICAL_FAILURE;
                double *row = &store[((t - group.first_filtered) * blocks + m) * lags];
                for (uint64_t l = 0; l < lags; ++l) {
                    if (l < 3 * n / 4 && tail[l] > 0 && head[n - l] > 0) {
                        const double r = acf_work[l] / (std::sqrt(tail[l]) * std::sqrt(head[n - l]) + 1e-12);
                        row[l] = loudness * std::min(std::max(r, 0.0), 1.0);
                    }
                }
            }
        }

        std::vector<double> averaged(blocks * lags), a_block(blocks), t_block(blocks), f_block(blocks);
        std::vector<double> a_frame(v_frames), t_frame(v_frames), snr_frame(v_frames);
        for (uint32_t h = group.first_output; h <= group.last_output; ++h) {
            const double fc = qn_ecma_band_centre_hz(h);
            const qn_ecma_lag_window win = qn_ecma_tonal_lag_window(h);
            const uint64_t o = win.first + 1, e = win.end, m_count = win.count;
            const double scale = group.snr_scale / std::pow(fc, group.snr_exponent);
            const qn_ecma_neighbours near = qn_ecma_tonal_neighbours(h);
            const uint32_t from = h - near.below, to = h + near.above;
            const double bands = to - from + 1;
            for (uint64_t m = 0; m < blocks; ++m) {
                for (uint64_t l = 0; l < lags; ++l) {
                    double sum = 0;
                    for (uint32_t t = from; t <= to; ++t)
                        sum += store[((t - group.first_filtered) * blocks + m) * lags + l] / bands;
                    averaged[m * lags + l] = sum;
                }
            }
            for (uint64_t m = 0; m < blocks; ++m) {
                const bool three = h < 16 && m > 0 && m < blocks - 1;
                auto value = [&](uint64_t l) {
                    if (!three) return averaged[m * lags + l];
                    return (averaged[(m - 1) * lags + l] + averaged[m * lags + l] + averaged[(m + 1) * lags + l]) / 3;
                };
                const double loudness = value(0);
                if (loudness == 0) {
                    a_block[m] = t_block[m] = f_block[m] = 0;
                    continue;
                }
                std::fill(work.begin(), work.end(), 0.0);
                for (uint64_t l = o - 1; l <= e - 1; ++l) work[l] = value(l);
                double mean = 0;
                for (uint64_t l = o - 1; l <= e - 1; ++l) mean += work[l] / static_cast<double>(m_count);
                for (uint64_t l = o - 1; l <= e - 1; ++l) work[l] -= mean;
                if (!qn_fft_rforward(spectrum_plan.get(), work.data(), 1.0)) return QN_STATUS_NUMERICAL_FAILURE;
                std::vector<double> power(8193);
                power[0] = work[0] * work[0];
                for (uint64_t k = 1; k < 8192; ++k)
                    power[k] = work[2 * k - 1] * work[2 * k - 1] + work[2 * k] * work[2 * k];
                power[8192] = work[16383] * work[16383];
                double total = 0;
                for (double p : power) total += p;
                if (!qn_is_finite(total)) return QN_STATUS_NUMERICAL_FAILURE;
                uint64_t peak = 0;
                for (uint64_t k = 1; k <= 8192; ++k)
                    if (power[k] > power[peak]) peak = k;
                a_block[m] = std::min(4 * std::sqrt(power[peak]) / static_cast<double>(m_count), loudness);
                t_block[m] = loudness;
                f_block[m] = static_cast<double>(peak) * 48000 / 16384;
            }
            for (uint64_t k = 0; k < v_frames; ++k) {
                const uint64_t i = k / per_hop, i2 = i + 1 < blocks ? i + 1 : i;
                const double t = static_cast<double>(k % per_hop) / static_cast<double>(per_hop);
                a_frame[k] = (1 - t) * a_block[i] + t * a_block[i2];
                t_frame[k] = (1 - t) * t_block[i] + t * t_block[i2];
                out[2 * plane + 53 * k + h] = (1 - t) * f_block[i] + t * f_block[i2];
                snr_frame[k] = a_frame[k] / (std::max(t_frame[k] - a_frame[k], 0.0) + 1e-12);
            }
            smooth_in_place(a_frame);
            smooth_in_place(t_frame);
            smooth_in_place(snr_frame);
            for (uint64_t k = 0; k < v_frames; ++k) {
                const double r = snr_frame[k] / scale;
                const double w = r > 0.07 ? 1 - std::exp(-20 * (r - 0.07)) : 0.0;
                const double tonal = std::max(w * a_frame[k], 0.0);
                out[53 * k + h] = tonal;
                out[plane + 53 * k + h] = std::max(t_frame[k] - tonal, 0.0);
            }
        }
    }

    for (uint64_t k = 0; k < v_frames; ++k) {
        double noise_sum = 0, tonal_max = 0, total_max = 0;
        for (int b = 0; b < 53; ++b) {
            const double tonal = out[53 * k + b], noise = out[plane + 53 * k + b];
            noise_sum += noise;
            if (!std::isnan(tonal)) tonal_max = std::max(tonal_max, tonal);
            if (!std::isnan(tonal + noise)) total_max = std::max(total_max, tonal + noise);
        }
        const double ratio = tonal_max / (noise_sum + 1e-12);
        const double q = ratio > 0.003 ? 1 - std::exp(-35 * (ratio - 0.003)) : 0.0;
        const double exponent = 0.2918 / (total_max + 1e-12) + 0.5459;
        for (int b = 0; b < 53; ++b) {
            const double tonal = out[53 * k + b], noise = out[plane + 53 * k + b];
            out[3 * plane + 53 * k + b] = 2.8761365350855073 * q * tonal;
            const double weighted = 0.5331 * noise;
            const double mu = std::isnan(tonal) ? weighted : std::max(weighted, tonal);
            out[4 * plane + 53 * k + b] =
                mu > 0 ? mu * std::pow(std::pow(tonal / mu, exponent) + std::pow(weighted / mu, exponent), 1 / exponent)
                       : 0.0;
        }
    }
    for (double value : out)
        if (!qn_is_finite(value)) return QN_STATUS_NUMERICAL_FAILURE;
    return QN_STATUS_SUCCESS;
}

}  // namespace qn_test

#include "roughness_dw/dw_setup.h"

#include <cmath>
#include <numbers>

using namespace qn_dw;

double qn_dw_lookup(const qn_dw_point *table, std::size_t count, double x) noexcept {
    for (std::size_t i = 0; i + 1 < count; ++i) {
        if (x <= table[i + 1].x)
            return table[i].y + (table[i + 1].y - table[i].y) * (x - table[i].x) / (table[i + 1].x - table[i].x);
    }
    return table[count - 1].y;
}

namespace {


double rate_of_frequency(double hz) {
    if (hz <= 0) return 0;
    if (hz >= 20000) return 24.5;
    return qn_dw_lookup(bark_table, std::size(bark_table), hz);
}

double threshold_at(double z) {
    if (z <= 0 || z >= 25) return 130;
    return qn_dw_lookup(quiet_threshold, std::size(quiet_threshold), z);
}

double transmission_db_at(double z) {
    if (z <= 0) return 0;
    if (z >= 26) return -999;
    return qn_dw_lookup(a0_table, std::size(a0_table), z);
}

// g between whole-Bark points, 0.15 at or below 0 Bark, 0.3 at or above 24.
double channel_weight_at(double z) {
    if (z <= 0) return g_table[0];
    if (z >= 24) return g_table[24];
    const int i = static_cast<int>(std::floor(z));
    return g_table[i] + (g_table[i + 1] - g_table[i]) * (z - i);
}

}  // namespace

bool qn_dw_prepare(qn_dw_setup *s, double fs) noexcept {
    const int n = static_cast<int>(0.2 * fs);
    s->length = n;
    s->hop = n / 2;
    s->fs = fs;
    s->bin_lo = static_cast<int>(std::round(20.0 * n / fs));
    const int top = static_cast<int>(std::round(20000.0 * n / fs));
    s->bin_hi = top < n / 2 ? top : n / 2;
    s->bin_end = (s->bin_hi + qn_dw_bin_block) / qn_dw_bin_block * qn_dw_bin_block;

    // Per-bin tables cover N/2 + 1 bins, and whole blocks beyond bin_hi.
    const int half = n / 2 + 1;
    const uint64_t bins = static_cast<uint64_t>(half > s->bin_end ? half : s->bin_end);
    s->window = qn_alloc_array<double>(static_cast<uint64_t>(n));
    s->scaled_window = qn_alloc_array<double>(static_cast<uint64_t>(n));
    s->rate = qn_alloc_array_zeroed<double>(bins);
    s->threshold = qn_alloc_array<double>(bins);
    s->transmission = qn_alloc_array<double>(static_cast<uint64_t>(n) > bins ? static_cast<uint64_t>(n) : bins);
    s->lower_ratio = qn_alloc_array_zeroed<double>(bins);
    s->slope_term = qn_alloc_array_zeroed<double>(bins);
    const int blocks = s->bin_end / qn_dw_bin_block;
    s->block_rate_low = qn_alloc_array<double>(static_cast<uint64_t>(blocks));
    s->block_rate_high = qn_alloc_array<double>(static_cast<uint64_t>(blocks));
    if (!s->window || !s->scaled_window || !s->rate || !s->threshold || !s->transmission || !s->lower_ratio ||
        !s->slope_term || !s->block_rate_low || !s->block_rate_high)
        return false;

    // Periodic Blackman window; the scale makes 20 log10 |X| the level of a
    // sinusoid centred on a bin.
    double sum = 0;
    for (int j = 0; j < n; ++j) {
        const double w = 0.42 - 0.5 * std::cos(2.0 * std::numbers::pi * j / n) +
                         0.08 * std::cos(4.0 * std::numbers::pi * j / n);
        s->window[j] = w;
        sum += w;
    }
    s->scale = spectrum_reference / ((sum / n) * n);
    for (int j = 0; j < n; ++j) s->scaled_window[j] = s->window[j] * s->scale;

    const double spacing = fs / n;
    for (uint64_t k = 0; k < bins; ++k) s->threshold[k] = HUGE_VAL;
    for (int j = 0; j < n; ++j) s->transmission[j] = 1.0;
    for (int k = s->bin_lo; k <= s->bin_hi; ++k) {
        const double f = k * spacing;
        const double z = rate_of_frequency(f);
        s->rate[k] = z;
        s->threshold[k] = threshold_at(z);
        s->transmission[k] = std::pow(10.0, transmission_db_at(z) / 20.0);
        s->lower_ratio[k] = std::pow(10.0, -27.0 * z / 20.0);
        s->slope_term[k] = 230.0 / f;
    }

    // The rate rises with the bin, so a block's extremes are those of its
    // first and last analysed bins.
    for (int b = 0; b < blocks; ++b) {
        const int first = b * qn_dw_bin_block, last = first + qn_dw_bin_block - 1;
        s->block_rate_low[b] = s->rate[first > s->bin_lo ? first : s->bin_lo];
        s->block_rate_high[b] = s->rate[last < s->bin_hi ? last : s->bin_hi];
    }

    // Each channel's threshold is that of the bin at its centre frequency.
    for (int c = 1; c <= channel_count; ++c) {
        const double centre_hz = bark_table[c].x;  // the point at 0.5 c Bark
        const int bin = static_cast<int>(std::round(centre_hz * n / fs));
        s->channel_threshold[qn_dw_channel_index(c)] = s->threshold[bin];
        s->channel_weight[qn_dw_channel_index(c)] = channel_weight_at(0.5 * c);
        s->channel_gain[qn_dw_channel_index(c)] = std::pow(10.0, 27.0 * (0.5 * c) / 20.0);
    }

    // Modulation weighting: bins 2 ... K - 1 of each row, K from the table's
    // upper bound.
    int widest = 0;
    for (const modulation_group &group : modulation_groups) {
        const double f_max = group.points[group.count - 1].x;
        int k_end = static_cast<int>(std::floor((f_max / fs) * n));
        if (k_end > n) k_end = n;
        for (int c = group.first_channel; c <= group.last_channel; ++c)
            s->channel_weight_end[qn_dw_channel_index(c)] = k_end < 3 ? 0 : k_end;
        if (k_end > widest) widest = k_end;
    }
    s->weight_bins = widest;
    s->modulation_weight = qn_alloc_array_zeroed<double>(static_cast<uint64_t>(channel_count) *
                                                          static_cast<uint64_t>(widest > 0 ? widest : 1));
    if (!s->modulation_weight) return false;
    for (const modulation_group &group : modulation_groups) {
        const double f_max = group.points[group.count - 1].x;
        for (int c = group.first_channel; c <= group.last_channel; ++c) {
            double *row = &s->modulation_weight[static_cast<std::size_t>(qn_dw_channel_index(c)) *
                                                static_cast<std::size_t>(widest)];
            for (int k = 2; k < s->channel_weight_end[qn_dw_channel_index(c)]; ++k) {
                const double f = k * spacing;
                row[k] = (f <= 0 || f >= f_max) ? 0.0 : qn_dw_lookup(group.points, group.count, f);
            }
        }
    }
    return true;
}

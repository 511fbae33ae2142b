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

    const std::size_t half = static_cast<std::size_t>(n / 2 + 1);
    s->window = qn_alloc_array<double>(static_cast<uint64_t>(n));
    s->rate = qn_alloc_array_zeroed<double>(half);
    s->threshold = qn_alloc_array_zeroed<double>(half);
    s->transmission = qn_alloc_array<double>(static_cast<uint64_t>(n));
    if (!s->window || !s->rate || !s->threshold || !s->transmission) return false;

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

    const double spacing = fs / n;
    for (int j = 0; j < n; ++j) s->transmission[j] = 1.0;
    for (int k = s->bin_lo; k <= s->bin_hi; ++k) {
        const double z = rate_of_frequency(k * spacing);
        s->rate[k] = z;
        s->threshold[k] = threshold_at(z);
        s->transmission[k] = std::pow(10.0, transmission_db_at(z) / 20.0);
    }

    // Each channel's threshold is that of the bin at its centre frequency.
    for (int c = 1; c <= channel_count; ++c) {
        const double centre_hz = bark_table[c].x;  // the point at 0.5 c Bark
        const int bin = static_cast<int>(std::round(centre_hz * n / fs));
        s->channel_threshold[qn_dw_channel_index(c)] = s->threshold[bin];
        s->channel_weight[qn_dw_channel_index(c)] = channel_weight_at(0.5 * c);
    }

    s->lowest_channel_threshold = s->channel_threshold[0];
    for (double t : s->channel_threshold)
        if (t < s->lowest_channel_threshold) s->lowest_channel_threshold = t;

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

#include "support/ecma_aggregate_literal.h"

#include <algorithm>
#include <cmath>

namespace qn_test {

namespace {
constexpr int bands = 53;
}

double percentile_literal(std::vector<double> values, double fraction) {
    std::sort(values.begin(), values.end());
    const double h = fraction * static_cast<double>(values.size() - 1);
    const auto i = static_cast<std::size_t>(std::floor(h));
    if (i + 1 >= values.size()) return values[i];
    return values[i] + (h - std::floor(h)) * (values[i + 1] - values[i]);
}

ecma_aggregate_literal_result ecma_aggregate_literal(qn_ecma_metric metric, const std::vector<double> &specific) {
    const std::size_t frames = specific.size() / bands;
    const std::size_t first = metric == QN_ECMA_LOUDNESS    ? 57
                              : metric == QN_ECMA_ROUGHNESS ? 16
                                                            : 36;
    const double p = 1 / std::log10(2.0);
    const auto count = static_cast<double>(frames - first);
    ecma_aggregate_literal_result r;
    for (std::size_t l = 0; l < frames; ++l) {
        double sum = 0;
        for (int z = 0; z < bands; ++z) sum += specific[l * bands + z];
        r.series.push_back(0.5 * sum);
    }
    for (int z = 0; z < bands; ++z) {
        double sum = 0;
        for (std::size_t l = first; l < frames; ++l) {
            const double x = specific[l * bands + z];
            sum += metric == QN_ECMA_LOUDNESS ? std::pow(x, p) : x;
        }
        r.averaged.push_back(metric == QN_ECMA_LOUDNESS ? std::pow(sum / count, 1 / p) : sum / count);
    }
    const std::vector<double> used(r.series.begin() + static_cast<std::ptrdiff_t>(first), r.series.end());
    if (metric == QN_ECMA_LOUDNESS) {
        double sum = 0;
        for (double x : used) sum += std::pow(x, p);
        r.value = std::pow(sum / count, 1 / p);
    } else {
        r.value = percentile_literal(used, 0.9);
    }
    return r;
}

double ecma_loudness_exponent(double largest) { return 0.2918 / (largest + 1e-12) + 0.5459; }

std::vector<double> ecma_specific_loudness_literal(const double *tonal, const double *noise, uint64_t frames) {
    std::vector<double> out(frames * bands);
    for (uint64_t l = 0; l < frames; ++l) {
        double largest = 0;
        for (int z = 0; z < bands; ++z) largest = std::max(largest, tonal[l * bands + z] + noise[l * bands + z]);
        const double e = ecma_loudness_exponent(largest);
        for (int z = 0; z < bands; ++z) {
            const double t = tonal[l * bands + z], n = 0.5331 * noise[l * bands + z];
            out[l * bands + z] = std::pow(std::pow(t, e) + std::pow(n, e), 1 / e);
        }
    }
    return out;
}

}  // namespace qn_test

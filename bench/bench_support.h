// What the signal benchmarks share: the test signal, the real-time counter
// and the minimum over repetitions.
#ifndef QN_BENCH_SUPPORT_H
#define QN_BENCH_SUPPORT_H

#include <benchmark/benchmark.h>

#include <algorithm>
#include <vector>

#include "support/signals.h"

namespace qn_bench {

// A 1 kHz tone, 70 Hz modulated, over pink noise: every band and channel
// busy. Made once per length.
inline std::vector<double> tone_over_noise(std::size_t n) {
    auto x = qn_test::pink_noise(0.05, n, 42);
    const auto tone = qn_test::am_tone(1000, 70, 1.0, 0.1, n);
    for (std::size_t i = 0; i < n; ++i) x[i] += tone[i];
    return x;
}

// "x_realtime": seconds of signal per second of work.
inline void set_realtime(benchmark::State &state, std::size_t samples) {
    state.counters["x_realtime"] = benchmark::Counter(static_cast<double>(samples) / 48000.0,
                                                      benchmark::Counter::kIsIterationInvariantRate);
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * samples));
}

inline double minimum(const std::vector<double> &v) { return *std::min_element(v.begin(), v.end()); }

// The library's heap use, counted by the benchmarks' allocator: the peak
// starts again from what is held now, and is read in MiB.
void reset_peak_memory();
double peak_memory_mib();

}  // namespace qn_bench

// Virtual machines are noisy: with --benchmark_repetitions the minimum is
// the figure to read.
#define QN_MIN_STATISTIC ComputeStatistics("min", qn_bench::minimum)

#endif

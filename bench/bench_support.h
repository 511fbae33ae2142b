// What the signal benchmarks share: the test signal, the real-time counter
// and the minimum over repetitions.
#ifndef QN_BENCH_SUPPORT_H
#define QN_BENCH_SUPPORT_H

#include <benchmark/benchmark.h>

#include <algorithm>
#include <vector>

#include "base/simd.h"
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

// True when this processor runs the vector path, which then labels the
// benchmark's rows; otherwise the benchmark is skipped with the reason.
inline bool take_path(benchmark::State &state, qn_simd path) {
    if (!qn_simd_available(path)) {
        state.SkipWithError("vector path not on this processor");
        return false;
    }
    state.SetLabel(qn_simd_name(path));
    return true;
}

inline double minimum(const std::vector<double> &v) { return *std::min_element(v.begin(), v.end()); }

// The most heap the library held at once since the last reset, in bytes
// (counted by the benchmarks' allocator).
void reset_heap_peak();
std::size_t heap_peak();

}  // namespace qn_bench

// Virtual machines are noisy: with --benchmark_repetitions the minimum is
// the figure to read.
#define QN_MIN_STATISTIC ComputeStatistics("min", qn_bench::minimum)

#endif

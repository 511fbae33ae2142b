// Daniel & Weber roughness of 60 s of tone over noise: the library's engine,
// and the literal method (three complex transforms per channel) on 2 s for
// the speed-up.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <vector>

#include "quarnelo.h"
#include "support/dw_literal.h"
#include "support/signals.h"

namespace {

std::vector<double> tone_over_noise(std::size_t n) {
    auto x = qn_test::pink_noise(0.05, n, 42);
    const auto tone = qn_test::am_tone(1000, 70, 1.0, 0.1, n);
    for (std::size_t i = 0; i < n; ++i) x[i] += tone[i];
    return x;
}

double minimum(const std::vector<double> &v) { return *std::min_element(v.begin(), v.end()); }

void set_realtime(benchmark::State &state, std::size_t samples) {
    state.counters["x_realtime"] = benchmark::Counter(static_cast<double>(samples) / 48000.0,
                                                      benchmark::Counter::kIsIterationInvariantRate);
}

}  // namespace

static void BM_RoughnessDw60s(benchmark::State &state) {
    static const auto x = tone_over_noise(60 * 48000);
    uint64_t frames = 0;
    if (qn_roughness_frame_count(x.size(), 48000, &frames) != QN_STATUS_SUCCESS) return;
    std::vector<double> r(frames);
    for (auto _ : state) {
        benchmark::DoNotOptimize(qn_roughness_dw(x.data(), x.size(), 48000, r.data(), r.size(), &frames));
    }
    set_realtime(state, x.size());
}
BENCHMARK(BM_RoughnessDw60s)->Unit(benchmark::kMillisecond)->ComputeStatistics("min", minimum);

static void BM_RoughnessDwLiteral2s(benchmark::State &state) {
    static const auto x = tone_over_noise(2 * 48000);
    for (auto _ : state) {
        int32_t code = 0;
        auto r = qn_test::dw_literal(x.data(), static_cast<int32_t>(x.size()), &code);
        benchmark::DoNotOptimize(r.data());
    }
    set_realtime(state, x.size());
}
BENCHMARK(BM_RoughnessDwLiteral2s)->Unit(benchmark::kMillisecond)->ComputeStatistics("min", minimum);

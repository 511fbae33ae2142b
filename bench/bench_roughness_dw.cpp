// Daniel & Weber roughness of 60 s of tone over noise: the library's engine
// through the export, the engine on each vector path this processor has,
// and the literal method (three complex transforms per channel) on 2 s for
// the speed-up.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <vector>

#include "quarnelo.h"
#include "roughness_dw/dw_engine.h"
#include "support/dw_literal.h"
#include "bench_support.h"

using qn_bench::set_realtime;
using qn_bench::tone_over_noise;

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
BENCHMARK(BM_RoughnessDw60s)->Unit(benchmark::kMillisecond)->QN_MIN_STATISTIC;

// The engine's own kernels on one path (the transforms run on the fastest
// path whatever the engine's).
template <qn_simd Path>
static void BM_RoughnessDwPath60s(benchmark::State &state) {
    if (!qn_bench::take_path(state, Path)) return;
    static const auto x = tone_over_noise(60 * 48000);
    const auto n = static_cast<int32_t>(x.size());
    std::vector<double> r(static_cast<std::size_t>((n - 9600) / 4800 + 1));
    for (auto _ : state) {
        int32_t frames = static_cast<int32_t>(r.size());
        benchmark::DoNotOptimize(qn_roughness_dw_core_with(Path, x.data(), n, r.data(), &frames, 48000.0));
    }
    set_realtime(state, x.size());
}
BENCHMARK(BM_RoughnessDwPath60s<qn_simd::baseline>)->Unit(benchmark::kMillisecond)->QN_MIN_STATISTIC;
BENCHMARK(BM_RoughnessDwPath60s<qn_simd::avx2>)->Unit(benchmark::kMillisecond)->QN_MIN_STATISTIC;
BENCHMARK(BM_RoughnessDwPath60s<qn_simd::avx512>)->Unit(benchmark::kMillisecond)->QN_MIN_STATISTIC;

static void BM_RoughnessDwLiteral2s(benchmark::State &state) {
    static const auto x = tone_over_noise(2 * 48000);
    for (auto _ : state) {
        int32_t code = 0;
        auto r = qn_test::dw_literal(x.data(), static_cast<int32_t>(x.size()), &code);
        benchmark::DoNotOptimize(r.data());
    }
    set_realtime(state, x.size());
}
BENCHMARK(BM_RoughnessDwLiteral2s)->Unit(benchmark::kMillisecond)->QN_MIN_STATISTIC;

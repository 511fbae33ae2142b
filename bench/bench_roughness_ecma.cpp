// ECMA-418-2 roughness of tone over noise at 6 s, 60 s and 600 s: speed
// (x_realtime) and working memory (work_MiB: the growth of the peak
// resident set during the call, the signal and the output being resident
// before it). The engine with the literal transforms (two complex
// transforms of 16384 and one of 512 per block and band) on 6 s gives the
// speed-up of the reorganised ones.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "bench_support.h"
#include "ecma/rough_kernels.h"
#include "ecma/roughness.h"
#include "quarnelo.h"

using qn_bench::set_realtime;
using qn_bench::tone_over_noise;

namespace {

// A field of /proc/self/status in kB, or -1.
long status_kb(const char *field) {
    FILE *f = std::fopen("/proc/self/status", "r");
    if (!f) return -1;
    char line[256];
    long value = -1;
    const std::size_t length = std::strlen(field);
    while (std::fgets(line, sizeof line, f))
        if (std::strncmp(line, field, length) == 0 && line[length] == ':') value = std::atol(line + length + 1);
    std::fclose(f);
    return value;
}

// Resets the peak resident set to the current one (Linux 4.0 on).
bool reset_peak() {
    FILE *f = std::fopen("/proc/self/clear_refs", "w");
    if (!f) return false;
    const bool ok = std::fputs("5", f) >= 0;
    return std::fclose(f) == 0 && ok;
}

void run(benchmark::State &state, std::size_t seconds, qn_ecma_rough_transforms transforms,
         qn_simd path = qn_simd_best()) {
    if (!qn_bench::take_path(state, path)) return;
    const auto x = tone_over_noise(seconds * 48000);
    std::vector<double> out(53 * qn_ecma_rough_frames(x.size()), 0.0);  // touched: resident
    double growth_kb = 0;
    for (auto _ : state) {
        const bool measured = reset_peak();
        const long before = status_kb("VmRSS");
        const qn_status status = qn_ecma_rough_run(x.data(), x.size(), QN_SOUND_FIELD_FREE, out.data(), path,
                                                   transforms);
        if (status != QN_STATUS_SUCCESS) state.SkipWithError("analysis failed");
        // Freed blocks stay resident in the heap, so the first call shows
        // the growth; later ones reuse the same pages.
        if (measured && before >= 0) growth_kb = std::max(growth_kb, static_cast<double>(status_kb("VmHWM") - before));
        benchmark::DoNotOptimize(out.data());
    }
    set_realtime(state, x.size());
    state.counters["work_MiB"] = growth_kb / 1024.0;
}

}  // namespace

static void BM_RoughnessEcma6s(benchmark::State &state) { run(state, 6, qn_ecma_rough_transforms::fast); }
BENCHMARK(BM_RoughnessEcma6s)->Unit(benchmark::kMillisecond)->QN_MIN_STATISTIC;

static void BM_RoughnessEcma60s(benchmark::State &state) { run(state, 60, qn_ecma_rough_transforms::fast); }
BENCHMARK(BM_RoughnessEcma60s)->Unit(benchmark::kMillisecond)->Iterations(2)->QN_MIN_STATISTIC;

// The same on each vector path (the export takes the fastest).
template <qn_simd Path>
static void BM_RoughnessEcma60sOn(benchmark::State &state) {
    run(state, 60, qn_ecma_rough_transforms::fast, Path);
}
BENCHMARK(BM_RoughnessEcma60sOn<qn_simd::baseline>)->Unit(benchmark::kMillisecond)->Iterations(1)->QN_MIN_STATISTIC;
BENCHMARK(BM_RoughnessEcma60sOn<qn_simd::avx2>)->Unit(benchmark::kMillisecond)->Iterations(1)->QN_MIN_STATISTIC;
BENCHMARK(BM_RoughnessEcma60sOn<qn_simd::avx512>)->Unit(benchmark::kMillisecond)->Iterations(1)->QN_MIN_STATISTIC;

static void BM_RoughnessEcma600s(benchmark::State &state) { run(state, 600, qn_ecma_rough_transforms::fast); }
BENCHMARK(BM_RoughnessEcma600s)->Unit(benchmark::kMillisecond)->Iterations(1);

static void BM_RoughnessEcmaLiteralTransforms6s(benchmark::State &state) {
    run(state, 6, qn_ecma_rough_transforms::literal);
}
BENCHMARK(BM_RoughnessEcmaLiteralTransforms6s)->Unit(benchmark::kMillisecond)->Iterations(1);

// The engine's sum of the pairs' products for one quarter of one band, on
// each vector path: eight rows of 512 complex values and their factors.

template <qn_simd Path>
static void BM_RoughnessEcmaProducts(benchmark::State &state) {
    if (!qn_bench::take_path(state, Path)) return;
    constexpr std::size_t stride = 1032, rows = 8, count = 1024;
    std::vector<double> z(rows * stride, 0.5), kr(rows * stride, 0.25), ki(rows * stride, -0.125), v(count);
    const qn_ecma_rough_kernels &k = qn_ecma_rough_kernels_for(Path);
    for (auto _ : state) {
        k.accumulate(v.data(), z.data(), kr.data(), ki.data(), stride, rows, count);
        benchmark::DoNotOptimize(v.data());
    }
}
BENCHMARK(BM_RoughnessEcmaProducts<qn_simd::baseline>);
BENCHMARK(BM_RoughnessEcmaProducts<qn_simd::avx2>);
BENCHMARK(BM_RoughnessEcmaProducts<qn_simd::avx512>);

// The hearing model's band signals, one second of signal through the ear
// filter and the 53 auditory filters into the rings: with the rings of the
// fluctuation engine (65536 samples a band, far larger than the caches)
// and with rings of 4096 samples, which stay in the second-level cache.
#include <benchmark/benchmark.h>

#include <memory>

#include "bench_support.h"
#include "ecma/band_signals.h"

namespace {

void run(benchmark::State &state, uint64_t span) {
    const auto x = qn_bench::tone_over_noise(48000);
    auto bands = std::make_unique<qn_ecma_band_signals>();
    if (!qn_ecma_band_signals_init(bands.get(), QN_SOUND_FIELD_FREE, span, qn_simd_best())) {
        state.SkipWithError("no memory");
        return;
    }
    for (auto _ : state) {
        if (!qn_ecma_band_signals_run(bands.get(), x.data(), x.size())) state.SkipWithError("not finite");
        benchmark::ClobberMemory();
    }
    qn_bench::set_realtime(state, x.size());
}

}  // namespace

static void BM_EcmaBandSignals1s(benchmark::State &state) { run(state, static_cast<uint64_t>(state.range(0))); }
BENCHMARK(BM_EcmaBandSignals1s)->Arg(4096)->Arg(65536)->Unit(benchmark::kMillisecond)->QN_MIN_STATISTIC;

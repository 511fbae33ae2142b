// ECMA-418-2 fluctuation strength of tone over noise (every band busy, every
// block analysed): the analysis at 6, 60 and 600 s with its real-time factor
// and its working memory (the most the library holds at once, counted by
// the benchmarks' allocator; the caller's signal and output arrays are not
// part of it); 60 s on each vector path; the engine with the literal
// transforms (two complex transforms of 65536 per block and band) on 6 s
// for the speed-up of the folded segments; and the parts per second of
// signal: the envelopes (a segment's fold per hop and band, a block's
// envelope from its folds) and the band analysis of each envelope.
#include <benchmark/benchmark.h>

#include <cmath>
#include <memory>
#include <vector>

#include "bench_support.h"
#include "ecma/fluctuation.h"
#include "quarnelo.h"

using qn_bench::set_realtime;
using qn_bench::tone_over_noise;

namespace {

void run(benchmark::State &state, std::size_t seconds, qn_simd path, qn_ecma_fluct_transforms transforms) {
    if (!qn_bench::take_path(state, path)) return;
    const auto x = tone_over_noise(seconds * 48000);
    std::vector<double> out(53 * qn_ecma_fluct_frames(x.size()), 0.0);
    qn_bench::reset_heap_peak();
    for (auto _ : state) {
        if (qn_ecma_fluct_run(x.data(), x.size(), QN_SOUND_FIELD_FREE, out.data(), path, transforms) !=
            QN_STATUS_SUCCESS)
            state.SkipWithError("analysis failed");
        benchmark::DoNotOptimize(out.data());
    }
    state.counters["peak_MiB"] = static_cast<double>(qn_bench::heap_peak()) / (1024.0 * 1024.0);
    set_realtime(state, x.size());
}

}  // namespace

static void BM_FluctuationEcma(benchmark::State &state) {
    run(state, static_cast<std::size_t>(state.range(0)), qn_simd_best(), qn_ecma_fluct_transforms::fast);
}
BENCHMARK(BM_FluctuationEcma)->Arg(6)->Arg(60)->Unit(benchmark::kMillisecond)->QN_MIN_STATISTIC;
BENCHMARK(BM_FluctuationEcma)->Arg(600)->Unit(benchmark::kMillisecond)->Iterations(1);

template <qn_simd Path>
static void BM_FluctuationEcma60sOn(benchmark::State &state) {
    run(state, 60, Path, qn_ecma_fluct_transforms::fast);
}
BENCHMARK(BM_FluctuationEcma60sOn<qn_simd::baseline>)->Unit(benchmark::kMillisecond)->Iterations(1)->QN_MIN_STATISTIC;
BENCHMARK(BM_FluctuationEcma60sOn<qn_simd::avx2>)->Unit(benchmark::kMillisecond)->Iterations(1)->QN_MIN_STATISTIC;
BENCHMARK(BM_FluctuationEcma60sOn<qn_simd::avx512>)->Unit(benchmark::kMillisecond)->Iterations(1)->QN_MIN_STATISTIC;

static void BM_FluctuationEcmaLiteralTransforms6s(benchmark::State &state) {
    run(state, 6, qn_simd_best(), qn_ecma_fluct_transforms::literal);
}
BENCHMARK(BM_FluctuationEcmaLiteralTransforms6s)->Unit(benchmark::kMillisecond)->Iterations(1);

// The envelopes of one second of signal, 2.93 hops of 53 bands: a
// segment's fold for each, and a block's envelope from four folds.
static void BM_FluctuationEnvelopes1s(benchmark::State &state) {
    constexpr std::size_t span = 32768, hops_per_block = 4;
    const auto ring = tone_over_noise(span);
    std::unique_ptr<qn_ecma_fluct_envelope_work, void (*)(qn_ecma_fluct_envelope_work *)> work(
        qn_ecma_fluct_envelope_make(qn_ecma_fluct_transforms::fast), qn_ecma_fluct_envelope_free);
    std::vector<double> folds(hops_per_block * qn_ecma_fluct_fold_values), instants(qn_ecma_fluct_points),
        sum(qn_ecma_fluct_fold_values), envelope(qn_ecma_fluct_points);
    const double per_second = 48000.0 / 16384.0 * 53;
    for (auto _ : state) {
        for (int i = 0; i < static_cast<int>(std::lround(per_second)); ++i) {
            const std::size_t q = static_cast<std::size_t>(i) % hops_per_block;
            qn_ecma_fluct_segment_fold(work.get(), ring.data(), span - 1, 16384 * (q % 2),
                                       folds.data() + q * qn_ecma_fluct_fold_values, instants.data() + 512 * q);
            std::fill(sum.begin(), sum.end(), 0.0);
            for (std::size_t p = 0; p < hops_per_block; ++p)
                qn_ecma_fluct_fold_add(sum.data(), folds.data() + p * qn_ecma_fluct_fold_values, static_cast<int>(p));
            qn_ecma_fluct_fold_envelope(work.get(), sum.data(), instants.data(), envelope.data());
        }
        benchmark::DoNotOptimize(envelope.data());
    }
    set_realtime(state, 48000);
}
BENCHMARK(BM_FluctuationEnvelopes1s)->Unit(benchmark::kMillisecond)->QN_MIN_STATISTIC;

// The band analysis of 2.93 x 53 envelopes of a busy band (noise swelling
// at 4 Hz), one second of signal's worth.
static void BM_FluctuationBandAnalysis1s(benchmark::State &state) {
    const auto noise = qn_test::white_noise(1.0, qn_ecma_fluct_points, 9);
    std::vector<double> envelope(qn_ecma_fluct_points);
    double re = 0, im = 0;
    for (int n = 0; n < qn_ecma_fluct_points; ++n) {
        re = 0.9 * re + noise[n];
        im = 0.9 * im + noise[(n * 7) % qn_ecma_fluct_points];
        envelope[n] = 0.01 * std::hypot(re, im) * (1 + 0.5 * std::sin(2 * M_PI * 4 * n / 1500.0));
    }
    std::unique_ptr<qn_ecma_fluct_band_work, void (*)(qn_ecma_fluct_band_work *)> work(
        qn_ecma_fluct_band_work_make(), qn_ecma_fluct_band_work_free);
    const long per_second = std::lround(48000.0 / 16384.0 * 53);
    for (auto _ : state) {
        qn_ecma_fluct_band_result r{};
        for (long i = 0; i < per_second; ++i) qn_ecma_fluct_band(envelope.data(), 17, work.get(), &r);
        benchmark::DoNotOptimize(r);
    }
    set_realtime(state, 48000);
}
BENCHMARK(BM_FluctuationBandAnalysis1s)->Unit(benchmark::kMillisecond)->QN_MIN_STATISTIC;

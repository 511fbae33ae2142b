// ECMA-418-2 tonality of tone over noise: the analysis at 6, 60 and 600 s
// with its real-time factor and its working memory (the most the library
// holds at once, counted by the benchmarks' allocator; the caller's signal
// and output arrays are not part of it), the literal whole-signal method on
// 2 s for the speed-up, and two of its parts per second of signal: the
// front end (ear filter and 53 auditory filters) and the periodicity
// spectra (one per output band and block). The rest is mostly the
// autocorrelations.
#include <benchmark/benchmark.h>

#include <cmath>
#include <vector>

#include "bench_support.h"
#include "ecma/band_bank.h"
#include "ecma/front_end.h"
#include "ecma/periodicity.h"
#include "ecma/tonal_kernels.h"
#include "ecma/tonality.h"
#include "quarnelo.h"
#include "support/ecma_tonal_literal.h"

using qn_bench::set_realtime;
using qn_bench::tone_over_noise;

static void BM_TonalityEcma(benchmark::State &state) {
    const auto x = tone_over_noise(static_cast<std::size_t>(state.range(0)) * 48000);
    uint64_t frames = 0;
    if (qn_ecma_tonal_frame_count(x.size(), 48000, &frames) != QN_STATUS_SUCCESS) return;
    std::vector<double> out(265 * frames);
    qn_bench::reset_heap_peak();
    for (auto _ : state) {
        benchmark::DoNotOptimize(qn_ecma_tonal_analysis(x.data(), x.size(), 48000, QN_SOUND_FIELD_FREE, out.data(),
                                                        out.size(), &frames));
    }
    state.counters["peak_MiB"] = static_cast<double>(qn_bench::heap_peak()) / (1024.0 * 1024.0);
    set_realtime(state, x.size());
}
BENCHMARK(BM_TonalityEcma)->Arg(6)->Arg(60)->Arg(600)->Unit(benchmark::kMillisecond);

// The analysis of 6 and 60 s on each vector path (the export takes the
// fastest).
template <qn_simd Path>
static void BM_TonalityEcmaOn(benchmark::State &state) {
    const auto x = tone_over_noise(static_cast<std::size_t>(state.range(0)) * 48000);
    if (!qn_bench::take_path(state, Path)) return;
    uint64_t frames = 0;
    if (qn_ecma_tonal_frame_count(x.size(), 48000, &frames) != QN_STATUS_SUCCESS) return;
    std::vector<double> out(265 * frames);
    for (auto _ : state) {
        if (qn_ecma_tonal_run(x.data(), x.size(), QN_SOUND_FIELD_FREE, out.data(), frames, Path) !=
            QN_STATUS_SUCCESS)
            state.SkipWithError("analysis failed");
        benchmark::DoNotOptimize(out.data());
    }
    set_realtime(state, x.size());
}
BENCHMARK(BM_TonalityEcmaOn<qn_simd::baseline>)->Arg(6)->Arg(60)->Unit(benchmark::kMillisecond)->QN_MIN_STATISTIC;
BENCHMARK(BM_TonalityEcmaOn<qn_simd::avx2>)->Arg(6)->Arg(60)->Unit(benchmark::kMillisecond)->QN_MIN_STATISTIC;
BENCHMARK(BM_TonalityEcmaOn<qn_simd::avx512>)->Arg(6)->Arg(60)->Unit(benchmark::kMillisecond)->QN_MIN_STATISTIC;

static void BM_TonalityEcmaLiteral2s(benchmark::State &state) {
    static const auto x = tone_over_noise(2 * 48000);
    for (auto _ : state) {
        std::vector<double> out;
        benchmark::DoNotOptimize(qn_test::ecma_tonal_literal(x.data(), x.size(), QN_SOUND_FIELD_FREE, out));
    }
    set_realtime(state, x.size());
}
BENCHMARK(BM_TonalityEcmaLiteral2s)->Unit(benchmark::kMillisecond)->QN_MIN_STATISTIC;

// The ear filter and all 53 auditory filters over 6 s, in the engine's
// chunks.
template <qn_simd Path>
static void BM_EcmaFrontEnd6s(benchmark::State &state) {
    static const auto x = tone_over_noise(6 * 48000);
    if (!qn_bench::take_path(state, Path)) return;
    constexpr std::size_t chunk = 8192, stride = chunk + 24;
    std::vector<double> ear(chunk), rows(53 * stride);
    for (auto _ : state) {
        qn_ecma_ear_stream stream;
        qn_ecma_band_bank bank;
        if (qn_ecma_ear_stream_init(&stream, x.data(), x.size(), 8192, 2048, true, 0) != QN_STATUS_SUCCESS ||
            !qn_ecma_band_bank_init(&bank, 0, 53, Path))
            return;
        for (uint64_t at = 0; at < stream.length; at += chunk) {
            const std::size_t n = stream.length - at < chunk ? stream.length - at : chunk;
            qn_ecma_ear_stream_read(&stream, ear.data(), n);
            qn_ecma_band_bank_run(&bank, ear.data(), n, rows.data(), stride);
        }
        benchmark::DoNotOptimize(rows.data());
    }
    set_realtime(state, x.size());
}
BENCHMARK(BM_EcmaFrontEnd6s<qn_simd::baseline>)->Unit(benchmark::kMillisecond)->QN_MIN_STATISTIC;
BENCHMARK(BM_EcmaFrontEnd6s<qn_simd::avx2>)->Unit(benchmark::kMillisecond)->QN_MIN_STATISTIC;
BENCHMARK(BM_EcmaFrontEnd6s<qn_simd::avx512>)->Unit(benchmark::kMillisecond)->QN_MIN_STATISTIC;

// The tonality's kernels on one vector path, at the sizes of the group of
// 2048-sample blocks: range 0 picks the kernel (energies of a batch of
// blocks, the normalisation of one block's lags, the average of three
// X), each run
// 100 times an iteration.
template <qn_simd Path>
static void BM_EcmaTonalKernels(benchmark::State &state) {
    if (!qn_bench::take_path(state, Path)) return;
    const qn_ecma_tonal_kernels &k = qn_ecma_tonal_kernels_for(Path);
    constexpr uint32_t n = 2048, bins = 45, count = 100;
    const uint32_t lags = qn_ecma_tonal_lag_count(2);
    std::vector<double> x[qn_ecma_acf_batch], w[qn_ecma_acf_batch], head[qn_ecma_acf_batch],
        tail[qn_ecma_acf_batch];
    const double *xs[qn_ecma_acf_batch];
    double *ws[qn_ecma_acf_batch], *heads[qn_ecma_acf_batch], *tails[qn_ecma_acf_batch];
    for (int s = 0; s < qn_ecma_acf_batch; ++s) {
        x[s] = qn_test::uniform_values(n, 1 + s);
        w[s].assign(2 * n, 0.0);
        head[s].assign(n + 1, 0.0);
        tail[s].assign(n + 1, 0.0);
        xs[s] = x[s].data();
        ws[s] = w[s].data();
        heads[s] = head[s].data();
        tails[s] = tail[s].data();
    }
    double energy[qn_ecma_acf_batch];
    k.energies(xs, n, lags, ws, heads, tails, energy);
    const auto acf = qn_test::uniform_values(3 * lags, 9), u = qn_test::uniform_values(count, 10);
    std::vector<double> out(lags), re(bins), im(bins);
    for (uint32_t i = 0; i < bins; ++i) {
        re[i] = std::cos(0.01 * i);
        im[i] = -std::sin(0.01 * i);
    }
    for (auto _ : state) {
        for (int r = 0; r < 100; ++r) {
            switch (state.range(0)) {
            case 0: k.energies(xs, n, lags, ws, heads, tails, energy); break;
            case 1: k.normalise(acf.data(), heads[0], tails[0], n, lags, 1.0, 1.0, out.data()); break;
            case 2: k.average(acf.data(), lags, 3, lags, 3.0, out.data()); break;
            default: k.powers(u.data(), count, re.data(), im.data(), bins, out.data()); break;
            }
            benchmark::DoNotOptimize(out.data());
            benchmark::DoNotOptimize(energy);
        }
    }
}
BENCHMARK(BM_EcmaTonalKernels<qn_simd::avx2>)->DenseRange(0, 3)->QN_MIN_STATISTIC;
BENCHMARK(BM_EcmaTonalKernels<qn_simd::avx512>)->DenseRange(0, 3)->QN_MIN_STATISTIC;

namespace {

// A lag window like the normalised autocorrelation of a tone in band h:
// a decaying cosine at the band centre with noise, clamped at 0.
std::vector<double> window_of(uint32_t band, uint64_t seed) {
    const qn_ecma_lag_window w = qn_ecma_tonal_lag_window(band);
    const double f = qn_ecma_band_centre_hz(band) / 48000.0;
    std::vector<double> v(w.count);
    for (uint32_t j = 0; j < w.count; ++j) {
        seed ^= seed << 13;
        seed ^= seed >> 7;
        seed ^= seed << 17;
        const double noise = static_cast<double>(seed >> 11) * 0x1p-53 - 0.5;
        const double r = 0.6 * std::cos(2 * M_PI * f * (w.first + j)) * std::exp(-0.002 * j) + 0.3 * noise;
        v[j] = r < 0 ? 0.0 : r;
    }
    return v;
}

}  // namespace

// The periodicity spectra of one second of signal: for every output band,
// one per block of its group (48000 / hop blocks), through the search the
// engine uses (range 0) or the full transform (range 1).
static void BM_EcmaPeriodicityPerSecond(benchmark::State &state) {
    const bool full = state.range(0) == 1;
    qn_ecma_periodicity p{};
    if (!qn_ecma_periodicity_init(&p, qn_simd_best())) return;
    std::vector<std::vector<double>> windows(53);
    for (uint32_t h = 0; h < 53; ++h) windows[h] = window_of(h, h + 1);
    for (auto _ : state) {
        for (const qn_ecma_tonal_group &g : qn_ecma_tonal_groups) {
            const uint32_t blocks = 48000 / (g.block_length / 4);
            for (uint32_t m = 0; m < blocks; ++m) {
                for (uint32_t h = g.first_output; h <= g.last_output; ++h) {
                    const qn_ecma_lag_window w = qn_ecma_tonal_lag_window(h);
                    double power = 0;
                    uint32_t bin = 0;
                    if (full)
                        qn_ecma_periodicity_peak_full(&p, windows[h].data(), w.first, w.count, &power, &bin);
                    else
                        qn_ecma_periodicity_peak(&p, windows[h].data(), w.first, w.count, &power, &bin);
                    benchmark::DoNotOptimize(power);
                }
            }
        }
    }
    set_realtime(state, 48000);
}
BENCHMARK(BM_EcmaPeriodicityPerSecond)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->QN_MIN_STATISTIC;

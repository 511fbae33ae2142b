// ECMA-418-2 loudness and the reductions over time: the loudness of a
// signal at 6 and 60 s (real-time factor and the most heap held, which
// holds the tonal analysis's arrays for the whole signal), and, per hour of
// signal, the reductions of given specific values (loudness: a power per
// value; roughness: a sum per value and the percentile of the series), the
// percentile alone over an hour of roughness frames, and the combination of
// two ears.
#include <benchmark/benchmark.h>

#include <vector>

#include "bench_support.h"
#include "quarnelo.h"

using qn_bench::set_realtime;
using qn_bench::tone_over_noise;

namespace {

// Specific values in [0, 2) for `frames` frames of 53 bands.
std::vector<double> specific_values(uint64_t frames) {
    auto v = qn_test::uniform_values(frames * QN_ECMA_BANDS, 5);
    for (double &x : v) x += 1;
    return v;
}

// Frames per hour: 187.5 per second for loudness, 50 for roughness.
constexpr uint64_t loudness_frames_per_hour = 675000;
constexpr uint64_t roughness_frames_per_hour = 180000;

}  // namespace

static void BM_LoudnessEcma(benchmark::State &state) {
    const auto x = tone_over_noise(static_cast<std::size_t>(state.range(0)) * 48000);
    uint64_t frames = 0;
    if (qn_ecma_tonal_frame_count(x.size(), 48000, &frames) != QN_STATUS_SUCCESS) return;
    std::vector<double> series(frames), averaged(QN_ECMA_BANDS);
    double value = 0;
    qn_bench::reset_heap_peak();
    for (auto _ : state) {
        benchmark::DoNotOptimize(qn_loudness_ecma(x.data(), x.size(), 48000, QN_SOUND_FIELD_FREE, series.data(),
                                                  frames, averaged.data(), QN_ECMA_BANDS, &value, nullptr, 0,
                                                  &frames));
    }
    state.counters["peak_MiB"] = static_cast<double>(qn_bench::heap_peak()) / (1024.0 * 1024.0);
    set_realtime(state, x.size());
}
BENCHMARK(BM_LoudnessEcma)->Arg(6)->Arg(60)->Unit(benchmark::kMillisecond)->QN_MIN_STATISTIC;

// The reduction of one minute of frames, reported as time per hour of
// signal ("x_realtime": hours of signal per second of work, times 3600).
static void BM_EcmaAggregatePerHour(benchmark::State &state) {
    const bool loudness = state.range(0) == 0;
    const uint64_t frames = (loudness ? loudness_frames_per_hour : roughness_frames_per_hour) / 60;
    const auto specific = specific_values(frames);
    std::vector<double> series(frames), averaged(QN_ECMA_BANDS);
    double value = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(qn_ecma_aggregate(loudness ? QN_ECMA_LOUDNESS : QN_ECMA_ROUGHNESS, specific.data(),
                                                   frames, series.data(), frames, averaged.data(), QN_ECMA_BANDS,
                                                   &value));
    }
    state.SetLabel(loudness ? "loudness" : "roughness");
    set_realtime(state, 60 * 48000);
}
BENCHMARK(BM_EcmaAggregatePerHour)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->QN_MIN_STATISTIC;

// The 90th percentile of an hour of roughness frames, found without a copy.
static void BM_EcmaPercentileOfAnHour(benchmark::State &state) {
    const auto series = specific_values(roughness_frames_per_hour / QN_ECMA_BANDS + 1);
    double value = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(
            qn_ecma_single_value(QN_ECMA_ROUGHNESS, series.data(), roughness_frames_per_hour, &value));
    }
    set_realtime(state, 3600 * 48000);
}
BENCHMARK(BM_EcmaPercentileOfAnHour)->Unit(benchmark::kMillisecond)->QN_MIN_STATISTIC;

// Two ears of a minute of loudness frames combined.
static void BM_EcmaBinauralMinute(benchmark::State &state) {
    const uint64_t count = loudness_frames_per_hour / 60 * QN_ECMA_BANDS;
    const auto left = specific_values(count / QN_ECMA_BANDS), right = specific_values(count / QN_ECMA_BANDS + 1);
    std::vector<double> out(count);
    for (auto _ : state) {
        benchmark::DoNotOptimize(qn_ecma_binaural(left.data(), right.data() + 1, count, out.data(), count));
    }
    set_realtime(state, 60 * 48000);
}
BENCHMARK(BM_EcmaBinauralMinute)->Unit(benchmark::kMillisecond)->QN_MIN_STATISTIC;

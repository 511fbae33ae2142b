// Stationary and time-varying loudness of 60 s of signal, and sharpness,
// with the straightforward scalar method alongside for the speed-up.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <vector>

#include "loudness/filter_bank.h"
#include "quarnelo.h"
#include "support/reference_loudness.h"
#include "bench_support.h"

namespace {

const std::vector<double> &signal_60s() {
    static const std::vector<double> x = qn_bench::tone_over_noise(60 * 48000);
    return x;
}

}  // namespace

using qn_bench::set_realtime;

static void BM_LoudnessStationary60s(benchmark::State &state) {
    const auto &x = signal_60s();
    double loudness = 0, specific[240];
    for (auto _ : state) {
        benchmark::DoNotOptimize(qn_loudness_stationary(x.data(), x.size(), 48000, QN_SOUND_FIELD_FREE,
                                                        &loudness, specific, 240));
    }
    set_realtime(state, x.size());
}
BENCHMARK(BM_LoudnessStationary60s)->Unit(benchmark::kMillisecond)->QN_MIN_STATISTIC;

static void BM_ThirdOctaveLevelsScalar60s(benchmark::State &state) {
    const auto &x = signal_60s();
    for (auto _ : state) {
        auto levels = qn_test::reference_third_octave_levels(x.data(), x.size(), 0);
        benchmark::DoNotOptimize(levels.data());
    }
    set_realtime(state, x.size());
}
BENCHMARK(BM_ThirdOctaveLevelsScalar60s)->Unit(benchmark::kMillisecond)->QN_MIN_STATISTIC;

static void BM_LoudnessTime60s(benchmark::State &state) {
    const auto &x = signal_60s();
    uint64_t frames = 0;
    if (qn_loudness_time_frame_count(x.size(), 48000, &frames) != QN_STATUS_SUCCESS) return;
    std::vector<double> loudness(frames), specific(frames * 240);
    for (auto _ : state) {
        benchmark::DoNotOptimize(qn_loudness_time(x.data(), x.size(), 48000, QN_SOUND_FIELD_FREE,
                                                  loudness.data(), frames, specific.data(), specific.size(),
                                                  &frames));
    }
    set_realtime(state, x.size());
}
BENCHMARK(BM_LoudnessTime60s)->Unit(benchmark::kMillisecond)->QN_MIN_STATISTIC;

static void BM_LoudnessTimeScalar60s(benchmark::State &state) {
    const auto &x = signal_60s();
    for (auto _ : state) {
        auto r = qn_test::reference_loudness_time(x.data(), x.size(), QN_SOUND_FIELD_FREE);
        benchmark::DoNotOptimize(r.loudness.data());
    }
    set_realtime(state, x.size());
}
BENCHMARK(BM_LoudnessTimeScalar60s)->Unit(benchmark::kMillisecond)->Iterations(1);

static void BM_SharpnessDin(benchmark::State &state) {
    std::vector<double> specific(240);
    for (int k = 0; k < 240; ++k) specific[k] = 1.0 + (k % 17) * 0.1;
    double s = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(qn_sharpness_din(specific.data(), 240, &s));
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_SharpnessDin);

// Stationary and time-varying loudness of 60 s of signal, and sharpness,
// with the straightforward scalar method alongside for the speed-up.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <vector>

#include "base/simd.h"
#include "loudness/filter_bank.h"
#include "loudness/loudness.h"
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

// The band levels alone on each vector path this processor has (the
// stationary method adds a few microseconds of core loudness).
static void BM_ThirdOctaveLevels60s(benchmark::State &state) {
    const auto path = static_cast<qn_simd>(state.range(0));
    if (!qn_bench::take_path(state, path)) return;
    const auto &x = signal_60s();
    double levels[28];
    for (auto _ : state) benchmark::DoNotOptimize(qn_third_octave_levels_with(path, x.data(), x.size(), 0, levels));
    set_realtime(state, x.size());
}
BENCHMARK(BM_ThirdOctaveLevels60s)->DenseRange(0, 2)->Unit(benchmark::kMillisecond)->QN_MIN_STATISTIC;

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
    // The library's own heap during one more call (none for such a signal).
    qn_bench::reset_heap_peak();
    const std::size_t before = qn_bench::heap_peak();
    benchmark::DoNotOptimize(qn_loudness_time(x.data(), x.size(), 48000, QN_SOUND_FIELD_FREE, loudness.data(),
                                              frames, specific.data(), specific.size(), &frames));
    state.counters["heap_kB"] = static_cast<double>(qn_bench::heap_peak() - before) / 1e3;
    set_realtime(state, x.size());
}
BENCHMARK(BM_LoudnessTime60s)->Unit(benchmark::kMillisecond)->QN_MIN_STATISTIC;

// The time-varying method on each vector path this processor has.
static void BM_LoudnessTimePath60s(benchmark::State &state) {
    const auto path = static_cast<qn_simd>(state.range(0));
    if (!qn_bench::take_path(state, path)) return;
    const auto &x = signal_60s();
    const uint64_t frames = (x.size() - 1) / 96 + 1;
    std::vector<double> loudness(frames), specific(frames * 240);
    for (auto _ : state) {
        benchmark::DoNotOptimize(qn_loudness_time_compute(path, x.data(), x.size(), QN_SOUND_FIELD_FREE, frames,
                                                          loudness.data(), specific.data()));
    }
    set_realtime(state, x.size());
}
BENCHMARK(BM_LoudnessTimePath60s)->DenseRange(0, 2)->Unit(benchmark::kMillisecond)->QN_MIN_STATISTIC;

// The meter on the same 60 s in blocks of state.range(0) samples, every
// frame read as its block completes it, with its specific loudness when
// state.range(1) is 1. The counter "meter_kB" is the meter's own memory.
static void BM_LoudnessMeter60s(benchmark::State &state) {
    const auto &x = signal_60s();
    const auto block = static_cast<std::size_t>(state.range(0));
    const bool patterns = state.range(1) != 0;
    std::vector<double> loudness(block / 96 + 2), specific(patterns ? loudness.size() * 240 : 0);
    for (auto _ : state) {
        qn_loudness_meter *meter = nullptr;
        if (qn_loudness_meter_create(48000, QN_SOUND_FIELD_FREE, &meter) != QN_STATUS_SUCCESS) return;
        uint64_t frames = 0;
        for (std::size_t at = 0; at < x.size(); at += block) {
            const std::size_t n = std::min(block, x.size() - at);
            benchmark::DoNotOptimize(qn_loudness_meter_add(meter, x.data() + at, n, loudness.data(), loudness.size(),
                                                           patterns ? specific.data() : nullptr, specific.size(),
                                                           &frames));
        }
        qn_loudness_meter_destroy(meter);
    }
    qn_bench::reset_heap_peak();
    const std::size_t before = qn_bench::heap_peak();
    qn_loudness_meter *meter = nullptr;
    if (qn_loudness_meter_create(48000, QN_SOUND_FIELD_FREE, &meter) == QN_STATUS_SUCCESS) {
        state.counters["meter_kB"] = static_cast<double>(qn_bench::heap_peak() - before) / 1e3;
        qn_loudness_meter_destroy(meter);
    }
    set_realtime(state, x.size());
}
BENCHMARK(BM_LoudnessMeter60s)
    ->ArgsProduct({{64, 480, 4096, 65536}, {0, 1}})
    ->ArgNames({"block", "patterns"})
    ->Unit(benchmark::kMillisecond)
    ->QN_MIN_STATISTIC;

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

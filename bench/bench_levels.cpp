// Sound levels and third-octave band levels of 60 s of signal: the one-call
// analyses and the meters in blocks, and the band levels on each vector
// path. What a minute of a channel costs; a stereo minute is twice that.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <vector>

#include "base/simd.h"
#include "bench_support.h"
#include "loudness/band_levels.h"
#include "quarnelo.h"

namespace {

const std::vector<double> &signal_60s() {
    static const std::vector<double> x = qn_bench::tone_over_noise(60 * 48000);
    return x;
}

}  // namespace

using qn_bench::set_realtime;

static void BM_SoundLevels60s(benchmark::State &state) {
    const auto &x = signal_60s();
    uint64_t points = 0;
    if (qn_sound_level_point_count(x.size(), 48000, &points) != QN_STATUS_SUCCESS) return;
    std::vector<double> levels(QN_SOUND_LEVELS), laf(points), las(points);
    for (auto _ : state) {
        benchmark::DoNotOptimize(qn_sound_levels(x.data(), x.size(), 48000, levels.data(), levels.size(), laf.data(),
                                                 points, las.data(), points, &points));
    }
    set_realtime(state, x.size());
}
BENCHMARK(BM_SoundLevels60s)->Unit(benchmark::kMillisecond)->QN_MIN_STATISTIC;

// The meter in blocks of state.range(0) samples, both series read as each
// block completes them. "meter_kB" is the meter's own memory.
static void BM_SoundLevelMeter60s(benchmark::State &state) {
    const auto &x = signal_60s();
    const auto block = static_cast<std::size_t>(state.range(0));
    std::vector<double> laf(block / 480 + 2), las(laf.size());
    for (auto _ : state) {
        qn_sound_level_meter *meter = nullptr;
        if (qn_sound_level_meter_create(48000, &meter) != QN_STATUS_SUCCESS) return;
        uint64_t points = 0;
        for (std::size_t at = 0; at < x.size(); at += block) {
            const std::size_t n = std::min(block, x.size() - at);
            benchmark::DoNotOptimize(qn_sound_level_meter_add(meter, x.data() + at, n, laf.data(), laf.size(),
                                                              las.data(), las.size(), &points));
        }
        double levels[QN_SOUND_LEVELS];
        benchmark::DoNotOptimize(qn_sound_level_meter_levels(meter, levels, QN_SOUND_LEVELS));
        qn_sound_level_meter_destroy(meter);
    }
    qn_bench::reset_heap_peak();
    const std::size_t before = qn_bench::heap_peak();
    qn_sound_level_meter *meter = nullptr;
    if (qn_sound_level_meter_create(48000, &meter) == QN_STATUS_SUCCESS) {
        state.counters["meter_kB"] = static_cast<double>(qn_bench::heap_peak() - before) / 1e3;
        qn_sound_level_meter_destroy(meter);
    }
    set_realtime(state, x.size());
}
BENCHMARK(BM_SoundLevelMeter60s)->Arg(480)->Arg(4096)->Arg(65536)->Unit(benchmark::kMillisecond)->QN_MIN_STATISTIC;

// Band levels with 100 ms intervals, in one call.
static void BM_BandLevels60s(benchmark::State &state) {
    const auto &x = signal_60s();
    uint64_t points = 0;
    if (qn_band_level_point_count(x.size(), 48000, 4800, &points) != QN_STATUS_SUCCESS) return;
    std::vector<double> levels(28), series(points * 28);
    for (auto _ : state) {
        benchmark::DoNotOptimize(qn_band_levels(x.data(), x.size(), 48000, 4800, levels.data(), 28, series.data(),
                                                series.size(), &points));
    }
    set_realtime(state, x.size());
}
BENCHMARK(BM_BandLevels60s)->Unit(benchmark::kMillisecond)->QN_MIN_STATISTIC;

// The band-level meter in blocks of state.range(0) samples.
static void BM_BandLevelMeter60s(benchmark::State &state) {
    const auto &x = signal_60s();
    const auto block = static_cast<std::size_t>(state.range(0));
    std::vector<double> series((block / 4800 + 2) * 28);
    for (auto _ : state) {
        qn_band_level_meter *meter = nullptr;
        if (qn_band_level_meter_create(48000, 4800, &meter) != QN_STATUS_SUCCESS) return;
        uint64_t points = 0;
        for (std::size_t at = 0; at < x.size(); at += block) {
            const std::size_t n = std::min(block, x.size() - at);
            benchmark::DoNotOptimize(
                qn_band_level_meter_add(meter, x.data() + at, n, series.data(), series.size(), &points));
        }
        double levels[28];
        benchmark::DoNotOptimize(qn_band_level_meter_levels(meter, levels, 28));
        qn_band_level_meter_destroy(meter);
    }
    set_realtime(state, x.size());
}
BENCHMARK(BM_BandLevelMeter60s)->Arg(480)->Arg(4096)->Arg(65536)->Unit(benchmark::kMillisecond)->QN_MIN_STATISTIC;

// The band levels' run on each vector path this processor has.
static void BM_BandLevelPath60s(benchmark::State &state) {
    const auto path = static_cast<qn_simd>(state.range(0));
    if (!qn_bench::take_path(state, path)) return;
    const auto &x = signal_60s();
    std::vector<double> series((x.size() / 4800) * 28);
    for (auto _ : state) {
        qn_band_level_state s;
        qn_band_level_start(&s, 4800, path);
        benchmark::DoNotOptimize(qn_band_level_run(&s, x.data(), x.size(), series.data()));
    }
    set_realtime(state, x.size());
}
BENCHMARK(BM_BandLevelPath60s)->DenseRange(0, 2)->Unit(benchmark::kMillisecond)->QN_MIN_STATISTIC;

static void BM_SharpnessWeightings(benchmark::State &state) {
    std::vector<double> specific(240);
    for (int k = 0; k < 240; ++k) specific[k] = 1.0 + (k % 17) * 0.1;
    const auto weighting = static_cast<qn_sharpness_weighting>(state.range(0));
    double s = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(qn_sharpness(specific.data(), 240, weighting, &s));
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_SharpnessWeightings)->DenseRange(0, 3);

// The ECMA-418-2 metrics together. A stream fed one second at a time and
// read after every block, at 6, 60 and 600 s of signal, of tonality, its
// loudness and roughness (range 1 = 0), of fluctuation strength alone (1)
// and of all four (2): its real-time factor and the most heap the library
// held (peak_MiB, from the benchmarks' counting allocator; the caller's
// blocks and read buffers are not part of it). Then tonality and roughness
// of 6 s in one pass (qn_ecma_analysis) against the two exports one after
// the other, and the four metrics in one pass
// (qn_ecma_analysis_with_fluctuation) at 60 and 600 s, with the most heap
// held.
#include <benchmark/benchmark.h>

#include <vector>

#include "bench_support.h"
#include "quarnelo.h"

using qn_bench::set_realtime;
using qn_bench::tone_over_noise;

namespace {

constexpr qn_ecma_metric all_metrics = QN_ECMA_TONALITY | QN_ECMA_LOUDNESS | QN_ECMA_ROUGHNESS;
constexpr qn_ecma_metric metric_sets[] = {all_metrics, QN_ECMA_FLUCTUATION, all_metrics | QN_ECMA_FLUCTUATION};
constexpr const char *metric_set_names[] = {"tonality, loudness, roughness", "fluctuation", "all four"};
constexpr qn_ecma_metric each_metric[] = {QN_ECMA_TONALITY, QN_ECMA_LOUDNESS, QN_ECMA_ROUGHNESS,
                                          QN_ECMA_FLUCTUATION};

// Reads what waits of one metric.
bool drain(qn_ecma_stream *s, qn_ecma_metric metric, std::vector<double> &buffer) {
    uint64_t got = 0;
    do {
        if (qn_ecma_stream_read(s, metric, buffer.data(), buffer.size(), &got) != QN_STATUS_SUCCESS) return false;
    } while (got > 0);
    return true;
}

}  // namespace

static void BM_EcmaStream(benchmark::State &state) {
    // Ten seconds of signal, fed round and round.
    static const auto x = tone_over_noise(10 * 48000);
    const uint64_t seconds = static_cast<uint64_t>(state.range(0));
    const qn_ecma_metric metrics = metric_sets[state.range(1)];
    state.SetLabel(metric_set_names[state.range(1)]);
    std::vector<double> buffer(265 * 64);
    qn_bench::reset_heap_peak();
    for (auto _ : state) {
        qn_ecma_stream *s = nullptr;
        if (qn_ecma_stream_create(48000, QN_SOUND_FIELD_FREE, metrics, &s) != QN_STATUS_SUCCESS) {
            state.SkipWithError("create failed");
            break;
        }
        bool ok = true;
        for (uint64_t t = 0; ok && t < seconds; ++t) {
            ok = qn_ecma_stream_add(s, x.data() + (t % 10) * 48000, 48000) == QN_STATUS_SUCCESS;
            for (qn_ecma_metric m : each_metric)
                if (metrics & m) ok = ok && drain(s, m, buffer);
        }
        ok = ok && qn_ecma_stream_finish(s) == QN_STATUS_SUCCESS;
        for (qn_ecma_metric m : each_metric)
            if (metrics & m) ok = ok && drain(s, m, buffer);
        qn_ecma_stream_destroy(s);
        if (!ok) state.SkipWithError("stream failed");
    }
    state.counters["peak_MiB"] = static_cast<double>(qn_bench::heap_peak()) / (1024.0 * 1024.0);
    set_realtime(state, seconds * 48000);
}
BENCHMARK(BM_EcmaStream)->ArgsProduct({{6}, {0, 1, 2}})->Unit(benchmark::kMillisecond)->QN_MIN_STATISTIC;
BENCHMARK(BM_EcmaStream)->ArgsProduct({{60, 600}, {0, 1, 2}})->Unit(benchmark::kMillisecond)->Iterations(1);

// Tonality and roughness of 6 s: range 0 runs them in one pass, range 1
// through their own exports one after the other.
static void BM_EcmaTonalityAndRoughness6s(benchmark::State &state) {
    static const auto x = tone_over_noise(6 * 48000);
    uint64_t vt = 0, vr = 0;
    if (qn_ecma_tonal_frame_count(x.size(), 48000, &vt) != QN_STATUS_SUCCESS ||
        qn_ecma_roughness_frame_count(x.size(), 48000, &vr) != QN_STATUS_SUCCESS)
        return;
    std::vector<double> tonal(265 * vt), rough(53 * vr);
    const bool one_pass = state.range(0) == 0;
    state.SetLabel(one_pass ? "one pass" : "separately");
    qn_bench::reset_heap_peak();
    for (auto _ : state) {
        qn_status s = QN_STATUS_SUCCESS;
        if (one_pass) {
            s = qn_ecma_analysis(x.data(), x.size(), 48000, QN_SOUND_FIELD_FREE, tonal.data(), tonal.size(), nullptr,
                                 0, rough.data(), rough.size());
        } else {
            s = qn_ecma_tonal_analysis(x.data(), x.size(), 48000, QN_SOUND_FIELD_FREE, tonal.data(), tonal.size(),
                                       &vt);
            if (s == QN_STATUS_SUCCESS)
                s = qn_roughness_ecma(x.data(), x.size(), 48000, QN_SOUND_FIELD_FREE, rough.data(), rough.size(), &vr);
        }
        if (s != QN_STATUS_SUCCESS) state.SkipWithError("analysis failed");
        benchmark::DoNotOptimize(rough.data());
    }
    state.counters["peak_MiB"] = static_cast<double>(qn_bench::heap_peak()) / (1024.0 * 1024.0);
    set_realtime(state, x.size());
}
BENCHMARK(BM_EcmaTonalityAndRoughness6s)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->QN_MIN_STATISTIC;

// The three metrics of one channel of 60 s: range 0 in one pass (the
// tonal analysis with its total specific loudness, and roughness), range 1
// through their own exports one after the other, as a host without the
// one-pass call would run them.
static void BM_EcmaThreeMetrics60s(benchmark::State &state) {
    static const auto x = tone_over_noise(60 * 48000);
    uint64_t vt = 0, vr = 0;
    if (qn_ecma_tonal_frame_count(x.size(), 48000, &vt) != QN_STATUS_SUCCESS ||
        qn_ecma_roughness_frame_count(x.size(), 48000, &vr) != QN_STATUS_SUCCESS)
        return;
    std::vector<double> tonal(265 * vt), loud(53 * vt), rough(53 * vr), series(vt), averaged(53);
    double value = 0;
    const bool one_pass = state.range(0) == 0;
    state.SetLabel(one_pass ? "one pass" : "three exports");
    for (auto _ : state) {
        qn_status s = QN_STATUS_SUCCESS;
        if (one_pass) {
            s = qn_ecma_analysis(x.data(), x.size(), 48000, QN_SOUND_FIELD_FREE, tonal.data(), tonal.size(),
                                 loud.data(), loud.size(), rough.data(), rough.size());
        } else {
            s = qn_ecma_tonal_analysis(x.data(), x.size(), 48000, QN_SOUND_FIELD_FREE, tonal.data(), tonal.size(),
                                       &vt);
            if (s == QN_STATUS_SUCCESS)
                s = qn_loudness_ecma(x.data(), x.size(), 48000, QN_SOUND_FIELD_FREE, series.data(), series.size(),
                                     averaged.data(), averaged.size(), &value, loud.data(), loud.size(), &vt);
            if (s == QN_STATUS_SUCCESS)
                s = qn_roughness_ecma(x.data(), x.size(), 48000, QN_SOUND_FIELD_FREE, rough.data(), rough.size(), &vr);
        }
        if (s != QN_STATUS_SUCCESS) state.SkipWithError("analysis failed");
        benchmark::DoNotOptimize(rough.data());
    }
    set_realtime(state, x.size());
}
BENCHMARK(BM_EcmaThreeMetrics60s)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->Iterations(1)->Repetitions(3)->QN_MIN_STATISTIC;
// The four metrics of 60 and 600 s in one pass: the caller's arrays (about
// 2.2 doubles per sample) are not counted in the heap held.
static void BM_EcmaAllFour(benchmark::State &state) {
    const auto x = tone_over_noise(static_cast<std::size_t>(state.range(0)) * 48000);
    uint64_t vt = 0, vr = 0, vf = 0;
    if (qn_ecma_tonal_frame_count(x.size(), 48000, &vt) != QN_STATUS_SUCCESS ||
        qn_ecma_roughness_frame_count(x.size(), 48000, &vr) != QN_STATUS_SUCCESS ||
        qn_ecma_fluctuation_frame_count(x.size(), 48000, &vf) != QN_STATUS_SUCCESS)
        return;
    std::vector<double> tonal(265 * vt), rough(53 * vr), fluct(53 * vf);
    qn_bench::reset_heap_peak();
    for (auto _ : state) {
        if (qn_ecma_analysis_with_fluctuation(x.data(), x.size(), 48000, QN_SOUND_FIELD_FREE, tonal.data(),
                                              tonal.size(), nullptr, 0, rough.data(), rough.size(), fluct.data(),
                                              fluct.size()) != QN_STATUS_SUCCESS)
            state.SkipWithError("analysis failed");
        benchmark::DoNotOptimize(fluct.data());
    }
    state.counters["peak_MiB"] = static_cast<double>(qn_bench::heap_peak()) / (1024.0 * 1024.0);
    set_realtime(state, x.size());
}
BENCHMARK(BM_EcmaAllFour)->Arg(60)->Arg(600)->Unit(benchmark::kMillisecond)->Iterations(1);

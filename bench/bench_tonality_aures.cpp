// Aures tonality of 60 s of a tone in noise and of 60 s of a 40-harmonic
// complex: the whole analysis with its peak working memory, the three
// shares of its time (transforms, loudness, component search) measured on
// their own over the same frames, and the literal method on 2 s for the
// speed-up.
#include <benchmark/benchmark.h>

#include <cmath>
#include <limits>
#include <numbers>
#include <vector>

#include "bench_support.h"
#include "fft/fft.h"
#include "quarnelo.h"
#include "support/aures_literal.h"
#include "tonality_aures/components.h"
#include "tonality_aures/engine.h"

namespace {

constexpr int N = qn_aures_frame_length;

double pressure(double level_db) { return 2e-5 * std::pow(10.0, level_db / 20.0); }

// A 1 kHz tone of 60 dB in pink noise of 50 dB.
std::vector<double> tone_in_noise(std::size_t n) {
    auto x = qn_test::pink_noise(pressure(50), n, 42);
    const double a = pressure(60) * std::numbers::sqrt2;
    const double w = 2 * std::numbers::pi * 1000.0 / 48000.0;
    for (std::size_t i = 0; i < n; ++i) x[i] += a * std::sin(w * static_cast<double>(i));
    return x;
}

// 40 equal harmonics of 110 Hz, 60 dB each.
std::vector<double> harmonics(std::size_t n) {
    std::vector<double> x(n, 0.0);
    const double a = pressure(60) * std::numbers::sqrt2;
    for (int h = 1; h <= 40; ++h) {
        const double w = 2 * std::numbers::pi * 110.0 * h / 48000.0, phase = std::numbers::pi * h * h / 40;
        for (std::size_t i = 0; i < n; ++i) x[i] += a * std::sin(w * static_cast<double>(i) + phase);
    }
    return x;
}

const std::vector<double> &signal(int which, std::size_t seconds) {
    static const std::vector<double> noise60 = tone_in_noise(60 * 48000), harmonics60 = harmonics(60 * 48000);
    static const std::vector<double> noise2 = tone_in_noise(2 * 48000), harmonics2 = harmonics(2 * 48000);
    if (seconds == 2) return which == 0 ? noise2 : harmonics2;
    return which == 0 ? noise60 : harmonics60;
}

const char *signal_name(int which) { return which == 0 ? "tone_in_noise" : "harmonics"; }

std::size_t frame_count(std::size_t n) { return (n - N) / qn_aures_hop + 1; }

// The Hann-windowed frames of a signal, and their level spectra.
std::vector<double> windowed_frames(const std::vector<double> &x) {
    const auto win = qn_test::aures_literal_window();
    const std::size_t frames = frame_count(x.size());
    std::vector<double> w(frames * N);
    for (std::size_t k = 0; k < frames; ++k)
        for (std::size_t i = 0; i < N; ++i) w[k * N + i] = win.w[i] * x[k * qn_aures_hop + i];
    return w;
}

}  // namespace

// The whole analysis of 60 s and of 2 s, with the most heap a call held:
// the engine's scratch and plan, and the driver's one double per frame.
static void BM_TonalityAures(benchmark::State &state) {
    const auto &x = signal(static_cast<int>(state.range(0)), static_cast<std::size_t>(state.range(1)));
    state.SetLabel(signal_name(static_cast<int>(state.range(0))));
    uint64_t frames = 0;
    if (qn_tonality_frame_count(x.size(), 48000, &frames) != QN_STATUS_SUCCESS) return;
    std::vector<double> t(frames);
    qn_bench::reset_heap_peak();
    const std::size_t before = qn_bench::heap_peak();
    for (auto _ : state) {
        benchmark::DoNotOptimize(
            qn_tonality_aures(x.data(), x.size(), 48000, QN_SOUND_FIELD_FREE, t.data(), t.size(), &frames));
    }
    qn_bench::set_realtime(state, x.size());
    state.counters["heap_MB"] = static_cast<double>(qn_bench::heap_peak() - before) / 1e6;
}
BENCHMARK(BM_TonalityAures)
    ->ArgNames({"signal", "seconds"})
    ->Args({0, 60})
    ->Args({1, 60})
    ->Args({0, 2})
    ->Args({1, 2})
    ->Unit(benchmark::kMillisecond)
    ->QN_MIN_STATISTIC;

// Share 1: the three complex transforms of length 12000 of every frame.
static void BM_AuresTransforms60s(benchmark::State &state) {
    const std::size_t frames = frame_count(60 * 48000);
    qn_fft_cplan_ptr plan(qn_fft_cplan_make(N));
    std::vector<double> buffer(2 * N, 0.0);
    for (int i = 0; i < N; ++i) buffer[2 * static_cast<std::size_t>(i)] = std::sin(0.01 * i);
    for (auto _ : state) {
        for (std::size_t k = 0; k < frames; ++k) {
            qn_fft_cforward(plan.get(), buffer.data(), 1.0);
            qn_fft_cforward(plan.get(), buffer.data(), 1.0 / N);
            qn_fft_cbackward(plan.get(), buffer.data(), 1.0);
        }
        benchmark::DoNotOptimize(buffer.data());
    }
    qn_bench::set_realtime(state, 60 * 48000);
}
BENCHMARK(BM_AuresTransforms60s)->Unit(benchmark::kMillisecond)->QN_MIN_STATISTIC;

// Share 2: the loudness of every windowed frame and of a residual as long.
static void BM_AuresLoudness60s(benchmark::State &state) {
    const auto frames = windowed_frames(signal(static_cast<int>(state.range(0)), 60));
    state.SetLabel(signal_name(static_cast<int>(state.range(0))));
    const std::size_t count = frames.size() / N;
    for (auto _ : state) {
        double loudness = 0;
        for (std::size_t k = 0; k < count; ++k) {
            qn_aures_frame_loudness(&frames[k * N], N, QN_SOUND_FIELD_FREE, &loudness, 48000.0);
            qn_aures_frame_loudness(&frames[k * N], N, QN_SOUND_FIELD_FREE, &loudness, 48000.0);
        }
        benchmark::DoNotOptimize(loudness);
    }
    qn_bench::set_realtime(state, 60 * 48000);
}
BENCHMARK(BM_AuresLoudness60s)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->QN_MIN_STATISTIC;

// Share 3: the component search of every frame (narrow bands, tonal peaks,
// their bandwidths) from the frames' power ratios, levels computed as the
// engine computes them.
static void BM_AuresComponentSearch60s(benchmark::State &state) {
    const auto &x = signal(static_cast<int>(state.range(0)), 60);
    state.SetLabel(signal_name(static_cast<int>(state.range(0))));
    const std::size_t count = frame_count(x.size());
    constexpr int32_t bins = N / 2 + 1;
    std::vector<double> ratios;
    ratios.reserve(count * bins);
    for (std::size_t k = 0; k < count; ++k) {
        const auto q = qn_test::aures_literal_ratios(&x[k * qn_aures_hop]);
        ratios.insert(ratios.end(), q.begin(), q.begin() + bins);
    }
    std::vector<double> level(N), rate(bins), arrays(8 * bins);
    std::vector<unsigned char> claimed(bins);
    const bool rises = qn_aures_bin_rates(rate.data(), bins, 4.0);
    double *a = arrays.data();
    const qn_aures_search_workspace w = {rate.data(),  rises,        a,            a + bins,
                                         a + 2 * bins, a + 3 * bins, a + 4 * bins, a + 5 * bins,
                                         a + 6 * bins, a + 7 * bins, claimed.data()};
    qn_aures_narrowband records[qn_aures_max_narrowbands];
    std::vector<int32_t> peak_bins(1246);
    std::vector<double> peak_levels(1246), frequencies(1246), bandwidths(1246);
    for (auto _ : state) {
        for (std::size_t k = 0; k < count; ++k) {
            const double *q = &ratios[k * bins];
            for (int32_t m = 0; m < bins; ++m)
                level[static_cast<std::size_t>(m)] =
                    m < 1260 ? 10.0 * std::log10(q[m]) : std::numeric_limits<double>::quiet_NaN();
            const qn_aures_spectrum spectrum = {level.data(), q, bins};
            const int32_t nb = qn_aures_narrowband_search(spectrum, w, records, 4.0);
            const int32_t nt = qn_aures_pick_peaks(level.data(), 9, 1250, records, nb, 48000.0, N, peak_bins.data(),
                                                   peak_levels.data(), frequencies.data(), 1246);
            qn_aures_peak_bandwidths(level.data(), N, peak_bins.data(), peak_levels.data(), nt, bandwidths.data(),
                                     48000.0);
        }
        benchmark::DoNotOptimize(bandwidths.data());
    }
    qn_bench::set_realtime(state, x.size());
}
BENCHMARK(BM_AuresComponentSearch60s)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->QN_MIN_STATISTIC;

static void BM_TonalityAuresLiteral2s(benchmark::State &state) {
    const auto &x = signal(static_cast<int>(state.range(0)), 2);
    state.SetLabel(signal_name(static_cast<int>(state.range(0))));
    for (auto _ : state) {
        int32_t code = 0;
        auto t = qn_test::aures_literal(x.data(), static_cast<int32_t>(x.size()), QN_SOUND_FIELD_FREE, &code);
        benchmark::DoNotOptimize(t.data());
    }
    qn_bench::set_realtime(state, x.size());
}
BENCHMARK(BM_TonalityAuresLiteral2s)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->QN_MIN_STATISTIC;

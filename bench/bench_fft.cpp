// The Fourier transforms: the built-in engine on every vector path against
// FFTW, complex and real, on exactly the lengths the analyses make; the
// transforms of fft.h (whichever backend is built); and the cost of making
// plans. FFTW runs with FFTW_ESTIMATE plans (what a library making plans per
// call could afford), FFTW_MEASURE plans (the engine's target: FFTW at its
// usual best). Measured plans are made before the timed loop and never
// charged. FFTW_PATIENT plans (FFTW's wider search) take minutes to make
// over these lengths; they are measured only when QN_BENCH_FFTW_PATIENT is
// set in the environment.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "fft/builtin.h"
#include "fft/fft.h"
#include "bench_support.h"
#include "support/signals.h"

#if defined(QN_BENCH_HAVE_FFTW)
#include <fftw3.h>
#endif

namespace {

// Values in (-0.5, 0.5).
std::vector<double> bench_signal(std::size_t count) {
    std::vector<double> v = qn_test::uniform_values(count, 7);
    for (double &x : v) x *= 0.5;
    return v;
}

// One iteration is a forward transform and a backward one scaled by 1/n
// (so the data stay as they are): both directions, the scale included.
template <qn_simd Simd>
void BM_FftBuiltinComplex(benchmark::State &state) {
    const auto n = static_cast<std::size_t>(state.range(0));
    qn_fft_builtin_cplan *plan = qn_fft_builtin_cplan_make(n, Simd);
    if (plan == nullptr) {
        state.SkipWithError("no plan (this processor lacks the path)");
        return;
    }
    std::vector<double> data = bench_signal(2 * n);
    const double inv = 1.0 / static_cast<double>(n);
    for (auto _ : state) {
        qn_fft_builtin_cforward(plan, data.data(), 1.0);
        qn_fft_builtin_cbackward(plan, data.data(), inv);
        benchmark::ClobberMemory();
    }
    qn_fft_builtin_cplan_free(plan);
    state.SetItemsProcessed(2 * state.iterations() * state.range(0));
}

template <qn_simd Simd>
void BM_FftBuiltinReal(benchmark::State &state) {
    const auto n = static_cast<std::size_t>(state.range(0));
    qn_fft_builtin_rplan *plan = qn_fft_builtin_rplan_make(n, Simd);
    if (plan == nullptr) {
        state.SkipWithError("no plan (this processor lacks the path)");
        return;
    }
    std::vector<double> data = bench_signal(n);
    const double inv = 1.0 / static_cast<double>(n);
    for (auto _ : state) {
        qn_fft_builtin_rforward(plan, data.data(), 1.0);
        qn_fft_builtin_rbackward(plan, data.data(), inv);
        benchmark::ClobberMemory();
    }
    qn_fft_builtin_rplan_free(plan);
    state.SetItemsProcessed(2 * state.iterations() * state.range(0));
}

// The forward real transform of 2048 samples of which the first
// range(0) are filled and the rest zeros (the fluctuation envelope's
// phases fill 512): skipping the zeros (1) or reading them (0).
void BM_FftBuiltinRealFilled2048(benchmark::State &state) {
    constexpr std::size_t n = 2048;
    const auto filled = static_cast<std::size_t>(state.range(0));
    const bool skip = state.range(1) != 0;
    qn_fft_builtin_rplan *plan = qn_fft_builtin_rplan_make(n);
    std::vector<double> signal = bench_signal(n), data(n);
    std::fill(signal.begin() + static_cast<std::ptrdiff_t>(filled), signal.end(), 0.0);
    for (auto _ : state) {
        std::copy(signal.begin(), signal.begin() + static_cast<std::ptrdiff_t>(filled), data.begin());
        if (skip) {
            qn_fft_builtin_rforward_filled(plan, data.data(), filled, 1.0);
        } else {
            std::fill(data.begin() + static_cast<std::ptrdiff_t>(filled), data.end(), 0.0);
            qn_fft_builtin_rforward(plan, data.data(), 1.0);
        }
        benchmark::ClobberMemory();
    }
    qn_fft_builtin_rplan_free(plan);
    state.SetItemsProcessed(state.iterations() * static_cast<int64_t>(n));
}

void BM_FftComplex(benchmark::State &state) {
    const auto n = static_cast<std::size_t>(state.range(0));
    qn_fft_cplan_ptr plan(qn_fft_cplan_make(n));
    std::vector<double> data = bench_signal(2 * n);
    const double inv = 1.0 / static_cast<double>(n);
    for (auto _ : state) {
        qn_fft_cforward(plan.get(), data.data(), 1.0);
        qn_fft_cbackward(plan.get(), data.data(), inv);
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(2 * state.iterations() * state.range(0));
}

void BM_FftReal(benchmark::State &state) {
    const auto n = static_cast<std::size_t>(state.range(0));
    qn_fft_rplan_ptr plan(qn_fft_rplan_make(n));
    std::vector<double> data = bench_signal(n);
    const double inv = 1.0 / static_cast<double>(n);
    for (auto _ : state) {
        qn_fft_rforward(plan.get(), data.data(), 1.0);
        qn_fft_rbackward(plan.get(), data.data(), inv);
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(2 * state.iterations() * state.range(0));
}

// Plans are made per call, so their making is part of every analysis.
void BM_FftBuiltinComplexPlan(benchmark::State &state) {
    const auto n = static_cast<std::size_t>(state.range(0));
    for (auto _ : state) {
        qn_fft_builtin_cplan *plan = qn_fft_builtin_cplan_make(n);
        benchmark::DoNotOptimize(plan);
        qn_fft_builtin_cplan_free(plan);
    }
}

void BM_FftBuiltinRealPlan(benchmark::State &state) {
    const auto n = static_cast<std::size_t>(state.range(0));
    for (auto _ : state) {
        qn_fft_builtin_rplan *plan = qn_fft_builtin_rplan_make(n);
        benchmark::DoNotOptimize(plan);
        qn_fft_builtin_rplan_free(plan);
    }
}

#if defined(QN_BENCH_HAVE_FFTW)
// FFTW with the same work: in place, forward and backward, the 1/n of the
// backward direction applied in a separate pass (FFTW does not scale; that
// pass alone is BM_FftwScalePass, to be subtracted for FFTW's bare time).
// Planning with FFTW_MEASURE or FFTW_PATIENT overwrites the array, so the
// data are written after the plans.
template <unsigned Flags>
void BM_FftwComplex(benchmark::State &state) {
    const auto n = static_cast<int>(state.range(0));
    auto *data = static_cast<fftw_complex *>(fftw_malloc(sizeof(fftw_complex) * static_cast<std::size_t>(n)));
    fftw_plan fwd = fftw_plan_dft_1d(n, data, data, FFTW_FORWARD, Flags);
    fftw_plan bwd = fftw_plan_dft_1d(n, data, data, FFTW_BACKWARD, Flags);
    const std::vector<double> init = bench_signal(2 * static_cast<std::size_t>(n));
    double *d = reinterpret_cast<double *>(data);
    for (std::size_t i = 0; i < init.size(); ++i) d[i] = init[i];
    const double inv = 1.0 / n;
    for (auto _ : state) {
        fftw_execute(fwd);
        fftw_execute(bwd);
        for (int i = 0; i < 2 * n; ++i) d[i] *= inv;
        benchmark::ClobberMemory();
    }
    fftw_destroy_plan(fwd);
    fftw_destroy_plan(bwd);
    fftw_free(data);
    state.SetItemsProcessed(2 * state.iterations() * state.range(0));
}

// r2c and c2r out of place (n + 2 doubles of spectrum), FFTW's fastest form
// for real data; the packing into r0 r1 i1 ... is not charged to FFTW.
template <unsigned Flags>
void BM_FftwReal(benchmark::State &state) {
    const auto n = static_cast<int>(state.range(0));
    auto *real = static_cast<double *>(fftw_malloc(sizeof(double) * static_cast<std::size_t>(n)));
    auto *spectrum = static_cast<fftw_complex *>(fftw_malloc(sizeof(fftw_complex) * static_cast<std::size_t>(n / 2 + 1)));
    fftw_plan fwd = fftw_plan_dft_r2c_1d(n, real, spectrum, Flags);
    fftw_plan bwd = fftw_plan_dft_c2r_1d(n, spectrum, real, Flags);
    const std::vector<double> init = bench_signal(static_cast<std::size_t>(n));
    for (int i = 0; i < n; ++i) real[i] = init[static_cast<std::size_t>(i)];
    const double inv = 1.0 / n;
    for (auto _ : state) {
        fftw_execute(fwd);
        fftw_execute(bwd);
        for (int i = 0; i < n; ++i) real[i] *= inv;
        benchmark::ClobberMemory();
    }
    fftw_destroy_plan(fwd);
    fftw_destroy_plan(bwd);
    fftw_free(spectrum);
    fftw_free(real);
    state.SetItemsProcessed(2 * state.iterations() * state.range(0));
}

// The scale pass of the two FFTW benchmarks alone (range: doubles scaled).
void BM_FftwScalePass(benchmark::State &state) {
    const auto count = static_cast<std::size_t>(state.range(0));
    std::vector<double> data = bench_signal(count);
    double hidden = 1.0;  // unknown to the compiler, so the loop stays
    benchmark::DoNotOptimize(hidden);
    const double factor = hidden;
    for (auto _ : state) {
        for (double &x : data) x *= factor;
        benchmark::ClobberMemory();
    }
}
#endif

// Every length a metric makes a plan for at 48 kHz, each once:
//   complex   512  ECMA-418-2 roughness, envelope spectra
//           12000  Aures tonality, frames and residuals
//           16384  ECMA-418-2 roughness, analytic signal in its literal form
//   real  64 ... 4096  ECMA-418-2 tonality, coarse periodicity search
//          2048 ... 16384  ECMA-418-2 tonality, autocorrelation (2 N)
//           16384  ECMA-418-2 tonality periodicity spectrum; roughness blocks
//            9600  Daniel-Weber roughness, 200 ms frames
//             512  ECMA-418-2 roughness, envelope spectra
void complex_lengths(benchmark::internal::Benchmark *b) {
    b->QN_MIN_STATISTIC;
    for (int n : {512, 12000, 16384}) b->Arg(n);
}

void real_lengths(benchmark::internal::Benchmark *b) {
    b->QN_MIN_STATISTIC;
    for (int n : {64, 128, 256, 512, 1024, 2048, 4096, 8192, 9600, 16384}) b->Arg(n);
}

}  // namespace

BENCHMARK(BM_FftBuiltinComplex<qn_simd::avx512>)->Apply(complex_lengths);
BENCHMARK(BM_FftBuiltinReal<qn_simd::avx512>)->Apply(real_lengths);
BENCHMARK(BM_FftBuiltinComplex<qn_simd::avx2>)->Apply(complex_lengths);
BENCHMARK(BM_FftBuiltinReal<qn_simd::avx2>)->Apply(real_lengths);
#if defined(QN_BENCH_HAVE_FFTW)
BENCHMARK(BM_FftwComplex<FFTW_ESTIMATE>)->Apply(complex_lengths);
BENCHMARK(BM_FftwReal<FFTW_ESTIMATE>)->Apply(real_lengths);
BENCHMARK(BM_FftwComplex<FFTW_MEASURE>)->Apply(complex_lengths);
BENCHMARK(BM_FftwReal<FFTW_MEASURE>)->Apply(real_lengths);
// The patient plans, on request (see the top of the file).
[[maybe_unused]] const bool patient_registered = [] {
    if (std::getenv("QN_BENCH_FFTW_PATIENT") == nullptr) return false;
    benchmark::RegisterBenchmark("BM_FftwComplex<FFTW_PATIENT>", BM_FftwComplex<FFTW_PATIENT>)
        ->Apply(complex_lengths);
    benchmark::RegisterBenchmark("BM_FftwReal<FFTW_PATIENT>", BM_FftwReal<FFTW_PATIENT>)->Apply(real_lengths);
    return true;
}();
BENCHMARK(BM_FftwScalePass)->QN_MIN_STATISTIC->Arg(64)->Arg(128)->Arg(256)->Arg(512)->Arg(1024)->Arg(2048)->Arg(4096)
    ->Arg(8192)->Arg(9600)->Arg(16384)->Arg(24000)->Arg(32768);
#endif
BENCHMARK(BM_FftBuiltinComplex<qn_simd::baseline>)->Apply(complex_lengths);
BENCHMARK(BM_FftBuiltinReal<qn_simd::baseline>)->Apply(real_lengths);
BENCHMARK(BM_FftComplex)->Apply(complex_lengths);
BENCHMARK(BM_FftReal)->Apply(real_lengths);
BENCHMARK(BM_FftBuiltinComplexPlan)->Apply(complex_lengths);
BENCHMARK(BM_FftBuiltinRealPlan)->Apply(real_lengths);
BENCHMARK(BM_FftBuiltinRealFilled2048)->QN_MIN_STATISTIC->Args({512, 0})->Args({512, 1})->Args({1024, 0})->Args({1024, 1});

// The Fourier transforms: the built-in engine against FFTW (FFTW_ESTIMATE
// plans, as a library making plans per call would use them), complex and
// real, on the lengths the analyses use; the transforms of fft.h (whichever
// backend is built); and the cost of making plans.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <vector>

#include "fft/builtin.h"
#include "fft/fft.h"
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
        state.SkipWithError("no plan (AVX2 missing?)");
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
        state.SkipWithError("no plan (AVX2 missing?)");
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
void BM_FftwComplex(benchmark::State &state) {
    const auto n = static_cast<int>(state.range(0));
    auto *data = static_cast<fftw_complex *>(fftw_malloc(sizeof(fftw_complex) * static_cast<std::size_t>(n)));
    fftw_plan fwd = fftw_plan_dft_1d(n, data, data, FFTW_FORWARD, FFTW_ESTIMATE);
    fftw_plan bwd = fftw_plan_dft_1d(n, data, data, FFTW_BACKWARD, FFTW_ESTIMATE);
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
void BM_FftwReal(benchmark::State &state) {
    const auto n = static_cast<int>(state.range(0));
    auto *real = static_cast<double *>(fftw_malloc(sizeof(double) * static_cast<std::size_t>(n)));
    auto *spectrum = static_cast<fftw_complex *>(fftw_malloc(sizeof(fftw_complex) * static_cast<std::size_t>(n / 2 + 1)));
    fftw_plan fwd = fftw_plan_dft_r2c_1d(n, real, spectrum, FFTW_ESTIMATE);
    fftw_plan bwd = fftw_plan_dft_c2r_1d(n, spectrum, real, FFTW_ESTIMATE);
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

void fft_lengths(benchmark::internal::Benchmark *b) {
    for (int n : {512, 2048, 9600, 12000, 16384}) b->Arg(n);
}

}  // namespace

BENCHMARK(BM_FftBuiltinComplex<qn_simd::avx2>)->Apply(fft_lengths);
BENCHMARK(BM_FftBuiltinReal<qn_simd::avx2>)->Apply(fft_lengths);
#if defined(QN_BENCH_HAVE_FFTW)
BENCHMARK(BM_FftwComplex)->Apply(fft_lengths);
BENCHMARK(BM_FftwReal)->Apply(fft_lengths);
BENCHMARK(BM_FftwScalePass)->Arg(512)->Arg(1024)->Arg(2048)->Arg(4096)->Arg(9600)->Arg(12000)
    ->Arg(16384)->Arg(19200)->Arg(24000)->Arg(32768);
#endif
BENCHMARK(BM_FftBuiltinComplex<qn_simd::baseline>)->Apply(fft_lengths);
BENCHMARK(BM_FftBuiltinReal<qn_simd::baseline>)->Apply(fft_lengths);
BENCHMARK(BM_FftComplex)->Apply(fft_lengths);
BENCHMARK(BM_FftReal)->Apply(fft_lengths);
BENCHMARK(BM_FftBuiltinComplexPlan)->Apply(fft_lengths);
BENCHMARK(BM_FftBuiltinRealPlan)->Apply(fft_lengths);

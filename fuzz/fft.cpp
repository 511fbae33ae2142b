// Fuzzes the library's Fourier transforms: complex and real plans of any
// length up to 20000 (mixed-radix, and Bluestein's algorithm for lengths
// with a prime factor above 61), on the baseline vector path and on every
// wider one this processor has (AVX2, AVX-512), which must agree bit for
// bit; a round trip returns the signal;
// short transforms match the plain DFT; a plan that cannot get its memory
// is refused without a leak.
#include <cmath>
#include <cstring>
#include <vector>

#include "carve.h"
#include "fft/builtin.h"
#include "fft/kernels.h"
#include "base/simd.h"
#include "outcomes.h"
#include "support/alloc_hook.h"

namespace {

const bool has_avx2 = qn_simd_available(qn_simd::avx2);

[[maybe_unused]] const bool expected =
    qn_fuzz_expect("complex transform", {"mixed radix", "Bluestein", "length 1", "no memory", "length 0"}) &&
    qn_fuzz_expect("real transform", {"even length", "odd length", "Bluestein", "no memory", "length 0"}) &&
    qn_fuzz_expect("vector paths", has_avx2 ? std::vector<std::string>{"alike"}
                                            : std::vector<std::string>{"baseline only"});

std::size_t largest_prime_factor(std::size_t n) {
    std::size_t largest = 1;
    for (std::size_t p = 2; p * p <= n; ++p)
        while (n % p == 0) {
            largest = p;
            n /= p;
        }
    return n > 1 ? n : largest;
}

// Lengths: short ones, products of small primes, and a prime above 61
// times a small number, where Bluestein's algorithm takes over.
std::size_t carve_length(carver &in) {
    static constexpr std::size_t large_primes[] = {67, 71, 97, 101, 127, 131, 251, 257, 499, 509, 1009, 2003, 4099};
    switch (in.take<uint8_t>() % 4) {
    case 0:
        return in.range(0, 130);
    case 1:
        return large_primes[in.range(0, std::size(large_primes) - 1)] * in.range(1, 4);
    case 2: {
        std::size_t n = 1;
        for (int i = 0; i < 6; ++i) n *= std::size_t{1} << in.range(0, 2);
        return n * in.range(1, 9) * in.range(1, 7) * (in.flag() ? 61 : 1);
    }
    default:
        return in.range(1, 20000);
    }
}

// The complex spectrum by the definition, in long double.
std::vector<long double> plain_dft(const std::vector<double> &x, std::size_t n) {
    std::vector<long double> out(2 * n, 0.0L);
    const long double two_pi = 6.283185307179586476925286766559L;
    for (std::size_t k = 0; k < n; ++k)
        for (std::size_t j = 0; j < n; ++j) {
            const long double a = -two_pi * static_cast<long double>((j * k) % n) / static_cast<long double>(n);
            out[2 * k] += x[2 * j] * cosl(a) - x[2 * j + 1] * sinl(a);
            out[2 * k + 1] += x[2 * j] * sinl(a) + x[2 * j + 1] * cosl(a);
        }
    return out;
}

double rms(const std::vector<double> &v) {
    double sum = 0;
    for (double d : v) sum += d * d;
    return std::sqrt(sum / static_cast<double>(v.empty() ? 1 : v.size()));
}

template <class Plan, class Make, class Free, class Forward, class Backward>
void check_plan(const char *family, const char *kind, std::size_t n, int64_t fail_at, std::vector<double> x,
                Make make, Free release, Forward forward, Backward backward) {
    qn_test_fail_allocation_at(fail_at);
    Plan *plan = make(n, qn_simd::baseline);
    qn_test_fail_allocation_at(-1);
    if (n == 0) {
        QN_FUZZ_ASSERT(plan == nullptr);
        QN_FUZZ_OUTCOME(family, "length 0");
        return;
    }
    if (plan == nullptr) {
        QN_FUZZ_ASSERT(fail_at >= 0);
        QN_FUZZ_ASSERT(qn_test_live_allocations() == 0);
        QN_FUZZ_OUTCOME(family, "no memory");
        return;
    }
    QN_FUZZ_OUTCOME(family, kind);
    const std::vector<double> original = x;
    QN_FUZZ_ASSERT(forward(plan, x.data(), 1.0));
    if (has_avx2) {
        for (qn_simd path : {qn_simd::avx2, qn_simd::avx512}) {
            if (!qn_simd_available(path)) continue;
            Plan *wide = make(n, path);
            QN_FUZZ_ASSERT(wide != nullptr);
            std::vector<double> y = original;
            QN_FUZZ_ASSERT(forward(wide, y.data(), 1.0));
            QN_FUZZ_ASSERT(std::memcmp(x.data(), y.data(), x.size() * sizeof(double)) == 0);
            release(wide);
        }
        QN_FUZZ_OUTCOME("vector paths", "alike");
    } else {
        QN_FUZZ_OUTCOME("vector paths", "baseline only");
    }
    if (std::strcmp(family, "complex transform") == 0 && n <= 64) {
        const std::vector<long double> exact = plain_dft(original, n);
        for (std::size_t i = 0; i < x.size(); ++i)
            QN_FUZZ_ASSERT(std::fabs(static_cast<double>(exact[i] - x[i])) <= 1e-12 * (1 + rms(original) * n));
    }
    QN_FUZZ_ASSERT(backward(plan, x.data(), 1.0 / static_cast<double>(n)));
    const double tolerance = 1e-13 * std::log2(static_cast<double>(n) + 2) * (1 + rms(original));
    for (std::size_t i = 0; i < x.size(); ++i) QN_FUZZ_ASSERT(std::fabs(x[i] - original[i]) <= tolerance);
    release(plan);
    QN_FUZZ_ASSERT(qn_test_live_allocations() == 0);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, std::size_t size) {
    carver in(data, size);
    const bool real = in.flag();
    const std::size_t n = carve_length(in);
    const int64_t fail_at = (in.take<uint8_t>() & 7u) == 0 ? static_cast<int64_t>(in.range(0, 8)) : -1;
    // The bytes as values in -1 ... 1, repeated to fill the transform.
    std::vector<double> pattern = in.rest_as_doubles(4096, 1.0 / 32768.0);
    if (pattern.empty()) pattern.push_back(0.5);
    std::vector<double> x(real ? n : 2 * n);
    for (std::size_t i = 0; i < x.size(); ++i) x[i] = pattern[i % pattern.size()];

    const bool bluestein = largest_prime_factor(n) > qn_fft_max_generic_radix;
    if (real) {
        const char *kind = bluestein ? "Bluestein" : n % 2 == 0 ? "even length" : "odd length";
        check_plan<qn_fft_builtin_rplan>("real transform", kind, n, fail_at, x, qn_fft_builtin_rplan_make,
                                         qn_fft_builtin_rplan_free, qn_fft_builtin_rforward, qn_fft_builtin_rbackward);
    } else {
        const char *kind = n == 1 ? "length 1" : bluestein ? "Bluestein" : "mixed radix";
        check_plan<qn_fft_builtin_cplan>("complex transform", kind, n, fail_at, x, qn_fft_builtin_cplan_make,
                                         qn_fft_builtin_cplan_free, qn_fft_builtin_cforward, qn_fft_builtin_cbackward);
    }
    return 0;
}

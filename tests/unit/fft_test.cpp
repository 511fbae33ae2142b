// The Fourier transforms: accuracy against a DFT evaluated in long double,
// round trips, scale factors, the packed real layout, plan failures and
// allocation failures, threads.
//
// Every accuracy check runs on each engine: the transforms of fft.h (the
// backend the library is built on) and the built-in engine with its SSE2
// kernels and, where the processor has them, its AVX2 and AVX-512 kernels. The
// reference of a length is computed once and shared by all of them.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "fft/builtin.h"
#include "fft/fft.h"
#include "fft/packed_power.h"
#include "support/signals.h"
#include "support/alloc_hook.h"

namespace {

using ldouble = long double;

// ------------------------------------------------------------------ engines

struct complex_engine {
    const char *name;
    void *(*make)(std::size_t n);
    void (*free)(void *plan);
    bool (*forward)(void *plan, double *data, double scale);
    bool (*backward)(void *plan, double *data, double scale);
};

struct real_engine {
    const char *name;
    void *(*make)(std::size_t n);
    void (*free)(void *plan);
    bool (*forward)(void *plan, double *data, double scale);
    bool (*backward)(void *plan, double *data, double scale);
};

template <qn_simd Simd>
complex_engine builtin_complex(const char *name) {
    return {name,
            [](std::size_t n) -> void * { return qn_fft_builtin_cplan_make(n, Simd); },
            [](void *p) { qn_fft_builtin_cplan_free(static_cast<qn_fft_builtin_cplan *>(p)); },
            [](void *p, double *d, double s) {
                return qn_fft_builtin_cforward(static_cast<qn_fft_builtin_cplan *>(p), d, s);
            },
            [](void *p, double *d, double s) {
                return qn_fft_builtin_cbackward(static_cast<qn_fft_builtin_cplan *>(p), d, s);
            }};
}

template <qn_simd Simd>
real_engine builtin_real(const char *name) {
    return {name,
            [](std::size_t n) -> void * { return qn_fft_builtin_rplan_make(n, Simd); },
            [](void *p) { qn_fft_builtin_rplan_free(static_cast<qn_fft_builtin_rplan *>(p)); },
            [](void *p, double *d, double s) {
                return qn_fft_builtin_rforward(static_cast<qn_fft_builtin_rplan *>(p), d, s);
            },
            [](void *p, double *d, double s) {
                return qn_fft_builtin_rbackward(static_cast<qn_fft_builtin_rplan *>(p), d, s);
            }};
}

std::vector<complex_engine> complex_engines() {
    std::vector<complex_engine> engines = {
        {"fft.h", [](std::size_t n) -> void * { return qn_fft_cplan_make(n); },
         [](void *p) { qn_fft_cplan_free(static_cast<qn_fft_cplan *>(p)); },
         [](void *p, double *d, double s) { return qn_fft_cforward(static_cast<qn_fft_cplan *>(p), d, s); },
         [](void *p, double *d, double s) { return qn_fft_cbackward(static_cast<qn_fft_cplan *>(p), d, s); }},
        builtin_complex<qn_simd::baseline>("built-in SSE2"),
    };
    if (qn_simd_available(qn_simd::avx2)) engines.push_back(builtin_complex<qn_simd::avx2>("built-in AVX2"));
    if (qn_simd_available(qn_simd::avx512))
        engines.push_back(builtin_complex<qn_simd::avx512>("built-in AVX-512"));
    return engines;
}

std::vector<real_engine> real_engines() {
    std::vector<real_engine> engines = {
        {"fft.h", [](std::size_t n) -> void * { return qn_fft_rplan_make(n); },
         [](void *p) { qn_fft_rplan_free(static_cast<qn_fft_rplan *>(p)); },
         [](void *p, double *d, double s) { return qn_fft_rforward(static_cast<qn_fft_rplan *>(p), d, s); },
         [](void *p, double *d, double s) { return qn_fft_rbackward(static_cast<qn_fft_rplan *>(p), d, s); }},
        builtin_real<qn_simd::baseline>("built-in SSE2"),
    };
    if (qn_simd_available(qn_simd::avx2)) engines.push_back(builtin_real<qn_simd::avx2>("built-in AVX2"));
    if (qn_simd_available(qn_simd::avx512))
        engines.push_back(builtin_real<qn_simd::avx512>("built-in AVX-512"));
    return engines;
}

// Runs one transform on a copy of `input` with a plan made for the call.
template <class Engine>
std::vector<double> transform(const Engine &e, std::size_t n, const std::vector<double> &input,
                              bool forward, double scale = 1.0) {
    void *plan = e.make(n);
    EXPECT_NE(plan, nullptr) << e.name << " n " << n;
    std::vector<double> data = input;
    if (plan == nullptr) return std::vector<double>(input.size(), NAN);
    EXPECT_TRUE(forward ? e.forward(plan, data.data(), scale) : e.backward(plan, data.data(), scale));
    e.free(plan);
    return data;
}

// -------------------------------------------------------------- references

// Uniform values in (-1, 1).
std::vector<double> random_values(std::size_t count, uint64_t seed) { return qn_test::uniform_values(count, seed); }

// cos and sin of 2 pi t / n in long double, t < n.
struct roots_ld {
    std::vector<ldouble> c, s;
    explicit roots_ld(std::size_t n) : c(n), s(n) {
        const ldouble two_pi = 6.283185307179586476925286766559005768L;
        for (std::size_t t = 0; t < n; ++t) {
            const ldouble a = two_pi * static_cast<ldouble>(t) / static_cast<ldouble>(n);
            c[t] = cosl(a);
            s[t] = sinl(a);
        }
    }
};

// Bins `bins` of the DFT of the complex sequence x (n values, interleaved),
// sign -1 forward, +1 backward; in long double, term by term.
std::vector<ldouble> naive_dft(const std::vector<double> &x, std::size_t n, int sign,
                               const roots_ld &w, const std::vector<std::size_t> &bins) {
    std::vector<ldouble> out(2 * bins.size());
    for (std::size_t b = 0; b < bins.size(); ++b) {
        const std::size_t k = bins[b];
        ldouble re = 0, im = 0;
        std::size_t t = 0;
        for (std::size_t j = 0; j < n; ++j) {
            const ldouble c = w.c[t], s = sign * w.s[t];
            const ldouble xr = x[2 * j], xi = x[2 * j + 1];
            re += xr * c - xi * s;
            im += xr * s + xi * c;
            t += k;
            if (t >= n) t -= n;
        }
        out[2 * b] = re;
        out[2 * b + 1] = im;
    }
    return out;
}

std::vector<std::size_t> all_bins(std::size_t n) {
    std::vector<std::size_t> bins(n);
    for (std::size_t k = 0; k < n; ++k) bins[k] = k;
    return bins;
}

// A mixed-radix transform in long double, the reference for lengths where
// the term-by-term sum would take too long. It is checked against the
// term-by-term sum below.
void reference_fft_rec(const ldouble *in, std::size_t stride, ldouble *out, std::size_t n,
                       std::size_t top, int sign, const roots_ld &w) {
    if (n == 1) {
        out[0] = in[0];
        out[1] = in[1];
        return;
    }
    std::size_t p = 2;
    while (n % p != 0) ++p;
    const std::size_t m = n / p;
    for (std::size_t r = 0; r < p; ++r)
        reference_fft_rec(in + 2 * r * stride, stride * p, out + 2 * r * m, m, top, sign, w);
    std::vector<ldouble> y(out, out + 2 * n);
    const std::size_t step = top / n;
    for (std::size_t k = 0; k < m; ++k) {
        for (std::size_t t = 0; t < p; ++t) {
            ldouble re = 0, im = 0;
            for (std::size_t r = 0; r < p; ++r) {
                const std::size_t e = (r * (k + m * t)) % n * step;
                const ldouble c = w.c[e], s = sign * w.s[e];
                const ldouble yr = y[2 * (r * m + k)], yi = y[2 * (r * m + k) + 1];
                re += yr * c - yi * s;
                im += yr * s + yi * c;
            }
            out[2 * (k + m * t)] = re;
            out[2 * (k + m * t) + 1] = im;
        }
    }
}

std::vector<ldouble> reference_fft(const std::vector<double> &x, std::size_t n, int sign,
                                   const roots_ld &w) {
    std::vector<ldouble> in(x.begin(), x.end()), out(2 * n);
    reference_fft_rec(in.data(), 1, out.data(), n, n, sign, w);
    return out;
}

// sqrt(sum |got - ref|^2 / sum |ref|^2); ref all zero compares absolutely.
template <class T>
double relative_rms(const std::vector<double> &got, const std::vector<T> &ref) {
    ldouble num = 0, den = 0;
    for (std::size_t i = 0; i < ref.size(); ++i) {
        const ldouble d = static_cast<ldouble>(got[i]) - static_cast<ldouble>(ref[i]);
        num += d * d;
        den += static_cast<ldouble>(ref[i]) * static_cast<ldouble>(ref[i]);
    }
    return static_cast<double>(den == 0 ? sqrtl(num) : sqrtl(num / den));
}

// The bound every transform meets.
double error_bound(std::size_t n) { return 1e-15 * std::log2(static_cast<double>(n)) + 1e-16; }

// ---------------------------------------------------------------- lengths

std::vector<std::size_t> small_lengths() {
    std::vector<std::size_t> v;
    for (std::size_t n = 1; n <= 64; ++n) v.push_back(n);
    return v;
}
// Primes above the generic radices go through Bluestein's algorithm.
const std::vector<std::size_t> k_primes = {67, 97, 127, 251, 257, 509, 1021, 2039, 4093};
const std::vector<std::size_t> k_prime_powers = {121, 125, 169, 243, 343, 625,  729,
                                                 1331, 2187, 2197, 2401, 3125, 4096, 4489};
// Mixed factors: generic radices in the middle of the passes, with an even
// (98, 154, 2310, 30030) and an odd (1155) number of interleaved transforms.
const std::vector<std::size_t> k_composites = {96,   98,   100,  154,  360,  1000,  1155,
                                               2310, 4800, 6000, 6561, 10240, 30030};
// The lengths the analyses use.
const std::vector<std::size_t> k_library = {512,  1024, 2048,  4096,  8192,  16384,
                                            32768, 9600, 12000, 19200, 24000};

// Worst error per group and engine, printed once at the end of the program
// so that a run shows the margin to the bound.
struct error_table {
    std::map<std::string, std::map<std::string, std::pair<double, std::size_t>>> worst;
    void note(const std::string &group, const char *engine, double err, std::size_t n) {
        auto &slot = worst[group][engine];
        if (err >= slot.first) slot = {err, n};
    }
    ~error_table() {
        for (const auto &[group, engines] : worst)
            for (const auto &[engine, e] : engines)
                std::printf("[fft accuracy] %-28s %-14s worst relative RMS %.3g at n = %zu "
                            "(bound there %.3g)\n",
                            group.c_str(), engine.c_str(), e.first, e.second, error_bound(e.second));
    }
};
error_table g_errors;

// Forward and backward on every engine against a reference of all bins.
void check_complex_lengths(const std::string &group, const std::vector<std::size_t> &lengths,
                           bool use_reference_fft) {
    const auto engines = complex_engines();
    for (std::size_t n : lengths) {
        const std::vector<double> x = random_values(2 * n, n);
        const roots_ld w(n);
        for (int sign : {-1, +1}) {
            const std::vector<ldouble> ref =
                use_reference_fft ? reference_fft(x, n, sign, w) : naive_dft(x, n, sign, w, all_bins(n));
            for (const complex_engine &e : engines) {
                const std::vector<double> got = transform(e, n, x, sign < 0);
                const double err = relative_rms(got, ref);
                g_errors.note(group + (sign < 0 ? " forward" : " backward"), e.name, err, n);
                EXPECT_LT(err, error_bound(n))
                    << e.name << " n " << n << (sign < 0 ? " forward" : " backward");
            }
        }
    }
}

}  // namespace

// ------------------------------------------------------------ complex tests

TEST(FftComplex, SmallLengthsMatchNaiveDft) { check_complex_lengths("complex 1..64", small_lengths(), false); }

TEST(FftComplex, PrimesMatchNaiveDft) { check_complex_lengths("complex primes", k_primes, false); }

TEST(FftComplex, PrimePowersMatchNaiveDft) {
    check_complex_lengths("complex prime powers", k_prime_powers, false);
}

TEST(FftComplex, CompositeLengthsMatchReference) {
    check_complex_lengths("complex composites", k_composites, true);
}

TEST(FftComplex, LibraryLengthsMatchReference) {
    check_complex_lengths("complex library lengths", k_library, true);
}

// The long-double reference of the library lengths is itself checked, bin by
// bin, against the term-by-term sum on a spread of bins.
TEST(FftComplex, ReferenceTransformMatchesNaiveDft) {
    for (std::size_t n : {360, 2048, 12000, 24000, 32768}) {
        const std::vector<double> x = random_values(2 * n, n);
        const roots_ld w(n);
        std::vector<std::size_t> bins = {0, 1, 2, n / 2, n - 1};
        for (std::size_t i = 1; i <= 11; ++i) bins.push_back((i * 7919 * n / 97 + i) % n);
        const std::vector<ldouble> full = reference_fft(x, n, -1, w);
        const std::vector<ldouble> some = naive_dft(x, n, -1, w, bins);
        // Both sums carry long-double rounding only: they agree to far below
        // the error of any double transform (measured against the RMS bin).
        ldouble power = 0;
        for (ldouble v : full) power += v * v;
        const double rms = static_cast<double>(sqrtl(power / static_cast<ldouble>(n)));
        for (std::size_t b = 0; b < bins.size(); ++b) {
            for (int part = 0; part < 2; ++part) {
                const ldouble d = full[2 * bins[b] + part] - some[2 * b + part];
                EXPECT_LT(static_cast<double>(fabsl(d)), 1e-16 * rms) << "n " << n << " bin " << bins[b];
            }
        }
    }
}

TEST(FftComplex, RoundTripRestoresInput) {
    std::vector<std::size_t> lengths = small_lengths();
    lengths.insert(lengths.end(), k_primes.begin(), k_primes.end());
    lengths.insert(lengths.end(), k_prime_powers.begin(), k_prime_powers.end());
    lengths.insert(lengths.end(), k_composites.begin(), k_composites.end());
    lengths.insert(lengths.end(), k_library.begin(), k_library.end());
    for (const complex_engine &e : complex_engines()) {
        for (std::size_t n : lengths) {
            const std::vector<double> x = random_values(2 * n, 7 * n + 1);
            void *plan = e.make(n);
            ASSERT_NE(plan, nullptr) << e.name << " n " << n;
            std::vector<double> data = x;
            ASSERT_TRUE(e.forward(plan, data.data(), 1.0));
            ASSERT_TRUE(e.backward(plan, data.data(), 1.0 / static_cast<double>(n)));
            e.free(plan);
            const double err = relative_rms(data, x);
            g_errors.note("complex round trip", e.name, err, n);
            EXPECT_LT(err, error_bound(n)) << e.name << " n " << n;
        }
    }
}

// The scale multiplies the result, whatever it is (zero and negative too),
// on every kind of plan: trivial, one pass, several passes, Bluestein. It may
// be applied at any step, so the two results agree to the rounding of a
// transform, not bit for bit.
TEST(FftComplex, ScaleMultipliesTheResult) {
    for (const complex_engine &e : complex_engines()) {
        for (std::size_t n : {1, 2, 7, 8, 64, 67, 134, 9600}) {
            const std::vector<double> x = random_values(2 * n, n + 3);
            for (bool forward : {true, false}) {
                const std::vector<double> unit = transform(e, n, x, forward, 1.0);
                for (double scale : {0.0, -1.0, 0.25, 1.0 / 3.0, 1e-3, 1e6}) {
                    const std::vector<double> got = transform(e, n, x, forward, scale);
                    std::vector<double> want(unit.size());
                    for (std::size_t i = 0; i < unit.size(); ++i) want[i] = unit[i] * scale;
                    EXPECT_LT(relative_rms(got, want), error_bound(n))
                        << e.name << " n " << n << " scale " << scale << (forward ? " fwd" : " bwd");
                }
            }
        }
    }
}

// Known transforms: an impulse at 1 gives the roots of unity, a constant gives
// n at bin 0.
TEST(FftComplex, ImpulseAndConstant) {
    for (const complex_engine &e : complex_engines()) {
        for (std::size_t n : {3, 16, 12000}) {
            std::vector<double> impulse(2 * n, 0.0), constant(2 * n, 0.0);
            impulse[2] = 1.0;
            for (std::size_t j = 0; j < n; ++j) constant[2 * j] = 1.0;
            const std::vector<double> a = transform(e, n, impulse, true);
            const std::vector<double> b = transform(e, n, constant, true);
            const roots_ld w(n);
            for (std::size_t k = 0; k < n; ++k) {
                EXPECT_NEAR(a[2 * k], static_cast<double>(w.c[k]), 1e-15) << e.name << " n " << n << " k " << k;
                EXPECT_NEAR(a[2 * k + 1], -static_cast<double>(w.s[k]), 1e-15) << e.name << " n " << n << " k " << k;
                EXPECT_NEAR(b[2 * k], k == 0 ? static_cast<double>(n) : 0.0, 1e-12 * n) << e.name << " k " << k;
                EXPECT_NEAR(b[2 * k + 1], 0.0, 1e-12 * n) << e.name << " k " << k;
            }
        }
    }
}

// --------------------------------------------------------------- real tests

namespace {

// The packed layout of the spectrum of a real signal from its full spectrum.
template <class T>
std::vector<T> pack(const std::vector<T> &full, std::size_t n) {
    std::vector<T> packed(n);
    packed[0] = full[0];
    for (std::size_t i = 1; i < n; ++i) packed[i] = full[i + 1];
    return packed;
}

// The full Hermitian spectrum (interleaved) of a packed one.
std::vector<double> unpack(const std::vector<double> &packed, std::size_t n) {
    std::vector<double> full(2 * n, 0.0);
    full[0] = packed[0];
    for (std::size_t k = 1; k <= n / 2; ++k) {
        const double re = packed[2 * k - 1];
        const double im = 2 * k < n ? packed[2 * k] : 0.0;
        full[2 * k] = re;
        full[2 * k + 1] = im;
        full[2 * (n - k)] = re;
        full[2 * (n - k) + 1] = -im;
    }
    return full;
}

std::vector<double> as_complex(const std::vector<double> &real) {
    std::vector<double> z(2 * real.size(), 0.0);
    for (std::size_t j = 0; j < real.size(); ++j) z[2 * j] = real[j];
    return z;
}

std::vector<std::size_t> real_lengths() {
    std::vector<std::size_t> v = small_lengths();
    // Odd and even, Bluestein for n and for n / 2, and the library lengths.
    for (std::size_t n : {67, 97, 134, 250, 1000, 1001, 2187, 4093, 8186}) v.push_back(n);
    v.insert(v.end(), k_library.begin(), k_library.end());
    return v;
}

}  // namespace

// Forward: against the long-double reference of the same signal as complex
// data, and against the complex transform of fft.h. Backward: from a random
// packed spectrum (any n doubles are one), against the reference of the
// Hermitian spectrum.
TEST(FftReal, MatchesReferenceAndComplexTransform) {
    const auto engines = real_engines();
    const complex_engine complex = complex_engines()[0];
    for (std::size_t n : real_lengths()) {
        const std::string group = n <= 64 ? "real 1..64" : "real larger";
        const roots_ld w(n);
        const bool naive = n <= 4096;
        const std::vector<double> x = random_values(n, 3 * n);
        const std::vector<double> xc = as_complex(x);
        const std::vector<ldouble> ref_full =
            naive ? naive_dft(xc, n, -1, w, all_bins(n)) : reference_fft(xc, n, -1, w);
        const std::vector<ldouble> ref = pack(ref_full, n);
        const std::vector<double> via_complex = pack(transform(complex, n, xc, true), n);

        const std::vector<double> spectrum = random_values(n, 5 * n);
        const std::vector<double> full = unpack(spectrum, n);
        const std::vector<ldouble> back_full =
            naive ? naive_dft(full, n, +1, w, all_bins(n)) : reference_fft(full, n, +1, w);
        std::vector<ldouble> back(n);
        for (std::size_t j = 0; j < n; ++j) back[j] = back_full[2 * j];

        for (const real_engine &e : engines) {
            const std::vector<double> got = transform(e, n, x, true);
            const double err = relative_rms(got, ref);
            g_errors.note(group + " forward", e.name, err, n);
            EXPECT_LT(err, error_bound(n)) << e.name << " forward n " << n;
            EXPECT_LT(relative_rms(got, via_complex), error_bound(n)) << e.name << " vs complex, n " << n;

            const std::vector<double> signal = transform(e, n, spectrum, false);
            const double berr = relative_rms(signal, back);
            g_errors.note(group + " backward", e.name, berr, n);
            EXPECT_LT(berr, error_bound(n)) << e.name << " backward n " << n;
        }
    }
}

TEST(FftReal, RoundTripAndScale) {
    for (const real_engine &e : real_engines()) {
        for (std::size_t n : real_lengths()) {
            const std::vector<double> x = random_values(n, 11 * n);
            void *plan = e.make(n);
            ASSERT_NE(plan, nullptr) << e.name << " n " << n;
            std::vector<double> data = x;
            ASSERT_TRUE(e.forward(plan, data.data(), 1.0));
            ASSERT_TRUE(e.backward(plan, data.data(), 1.0 / static_cast<double>(n)));
            const double err = relative_rms(data, x);
            g_errors.note("real round trip", e.name, err, n);
            EXPECT_LT(err, error_bound(n)) << e.name << " n " << n;

            // The scale multiplies both directions.
            std::vector<double> unit = x, scaled = x;
            ASSERT_TRUE(e.forward(plan, unit.data(), 1.0));
            ASSERT_TRUE(e.forward(plan, scaled.data(), -0.3));
            for (double &v : unit) v *= -0.3;
            EXPECT_LT(relative_rms(scaled, unit), error_bound(n)) << e.name << " forward scale, n " << n;
            unit = x;
            scaled = x;
            ASSERT_TRUE(e.backward(plan, unit.data(), 1.0));
            ASSERT_TRUE(e.backward(plan, scaled.data(), 2.5));
            for (double &v : unit) v *= 2.5;
            EXPECT_LT(relative_rms(scaled, unit), error_bound(n)) << e.name << " backward scale, n " << n;
            e.free(plan);
        }
    }
}

// The layout spelled out for n = 1, 2, 3, 4: r0 | r0 r1 | r0 r1 i1 | r0 r1 i1 r2.
TEST(FftReal, PackedLayoutOfShortLengths) {
    for (const real_engine &e : real_engines()) {
        EXPECT_EQ(transform(e, 1, {2.5}, true), (std::vector<double>{2.5}));
        EXPECT_EQ(transform(e, 1, {2.5}, true, -2.0), (std::vector<double>{-5.0}));
        EXPECT_EQ(transform(e, 2, {1.0, 3.0}, true), (std::vector<double>{4.0, -2.0}));
        EXPECT_EQ(transform(e, 2, {4.0, -2.0}, false, 0.5), (std::vector<double>{1.0, 3.0}));
        const std::vector<double> three = transform(e, 3, {1.0, 2.0, 4.0}, true);
        // X1 = 1 + 2 w + 4 w^2, w = e^(-2 pi i / 3): -2 + i sqrt(3)
        ASSERT_EQ(three.size(), 3u);
        EXPECT_NEAR(three[0], 7.0, 1e-15);
        EXPECT_NEAR(three[1], -2.0, 1e-15);
        EXPECT_NEAR(three[2], std::sqrt(3.0), 1e-15);
        const std::vector<double> four = transform(e, 4, {1.0, 2.0, 3.0, 5.0}, true);
        // X0 = 11, X1 = (1 - 3) - i (2 - 5) = -2 + 3i, X2 = 1 - 2 + 3 - 5 = -3
        ASSERT_EQ(four.size(), 4u);
        EXPECT_NEAR(four[0], 11.0, 1e-15);
        EXPECT_NEAR(four[1], -2.0, 1e-15);
        EXPECT_NEAR(four[2], 3.0, 1e-15);
        EXPECT_NEAR(four[3], -3.0, 1e-15);
    }
}

// ----------------------------------------------------------- plan handling

TEST(FftPlans, LengthZeroAndNullArguments) {
    EXPECT_EQ(qn_fft_cplan_make(0), nullptr);
    EXPECT_EQ(qn_fft_rplan_make(0), nullptr);
    EXPECT_EQ(qn_fft_builtin_cplan_make(0), nullptr);
    EXPECT_EQ(qn_fft_builtin_rplan_make(0), nullptr);
    qn_fft_cplan_free(nullptr);
    qn_fft_rplan_free(nullptr);
    EXPECT_EQ(qn_fft_cplan_length(nullptr), 0u);
    EXPECT_EQ(qn_fft_rplan_length(nullptr), 0u);
    double data[8] = {1, 2, 3, 4, 5, 6, 7, 8};
    EXPECT_FALSE(qn_fft_cforward(nullptr, data, 1.0));
    EXPECT_FALSE(qn_fft_cbackward(nullptr, data, 1.0));
    EXPECT_FALSE(qn_fft_rforward(nullptr, data, 1.0));
    EXPECT_FALSE(qn_fft_rbackward(nullptr, data, 1.0));
    EXPECT_EQ(data[0], 1.0);

    qn_fft_cplan_ptr c(qn_fft_cplan_make(4));
    qn_fft_rplan_ptr r(qn_fft_rplan_make(6));
    ASSERT_TRUE(c && r);
    EXPECT_EQ(qn_fft_cplan_length(c.get()), 4u);
    EXPECT_EQ(qn_fft_rplan_length(r.get()), 6u);
    EXPECT_FALSE(qn_fft_cforward(c.get(), nullptr, 1.0));
    EXPECT_FALSE(qn_fft_cbackward(c.get(), nullptr, 1.0));
    EXPECT_FALSE(qn_fft_rforward(r.get(), nullptr, 1.0));
    EXPECT_FALSE(qn_fft_rbackward(r.get(), nullptr, 1.0));
}

// Lengths that could never be allocated are refused before anything is
// requested (a request that the heap refuses is the allocation-failure test's
// business).
TEST(FftPlans, HugeLengthsAreRefused) {
    for (std::size_t n : {SIZE_MAX, SIZE_MAX / 2, std::size_t{1} << 62, std::size_t{1} << 56}) {
        qn_test_allocation_failure none(-1);
        EXPECT_EQ(qn_fft_cplan_make(n), nullptr) << n;
        EXPECT_EQ(qn_fft_rplan_make(n), nullptr) << n;
        EXPECT_EQ(qn_fft_builtin_cplan_make(n), nullptr) << n;
        EXPECT_EQ(qn_fft_builtin_rplan_make(n), nullptr) << n;
        EXPECT_EQ(qn_test_allocation_count(), 0) << n;
    }
}

namespace {

// Fails each of the library's heap requests of one plan creation in turn
// (and then all of them from each point on): every failure is a null plan
// with nothing left allocated, and the plan made without failures works.
template <class Make, class Free>
void check_allocation_failures(const char *what, std::size_t n, Make make, Free release) {
    const int64_t before = qn_test_live_allocations();
    int64_t requests = 0;
    {
        qn_test_allocation_failure none(-1);
        auto *plan = make(n);
        requests = qn_test_allocation_count();
        ASSERT_NE(plan, nullptr) << what << " n " << n;
        release(plan);
    }
    EXPECT_GE(requests, 1) << what << " n " << n;
    for (bool sticky : {false, true}) {
        for (int64_t i = 0; i < requests; ++i) {
            qn_test_allocation_failure failure(i, sticky);
            auto *plan = make(n);
            EXPECT_EQ(plan, nullptr) << what << " n " << n << " failing request " << i;
            if (plan != nullptr) release(plan);
            EXPECT_EQ(qn_test_live_allocations(), before)
                << what << " n " << n << " failing request " << i << " leaked";
        }
    }
    EXPECT_EQ(qn_test_live_allocations(), before);
}

}  // namespace

TEST(FftPlans, AllocationFailureGivesNullAndLeaksNothing) {
    // Trivial, powers of two, mixed radix, generic radix, Bluestein; odd and
    // even real lengths, with a Bluestein half.
    for (std::size_t n : {1, 2, 15, 49, 512, 9600, 67, 4093}) {
        check_allocation_failures("complex", n, [](std::size_t m) { return qn_fft_cplan_make(m); },
                                  [](qn_fft_cplan *p) { qn_fft_cplan_free(p); });
        check_allocation_failures("built-in complex", n,
                                  [](std::size_t m) { return qn_fft_builtin_cplan_make(m); },
                                  [](qn_fft_builtin_cplan *p) { qn_fft_builtin_cplan_free(p); });
    }
    for (std::size_t n : {1, 2, 15, 134, 512, 12000, 4093}) {
        check_allocation_failures("real", n, [](std::size_t m) { return qn_fft_rplan_make(m); },
                                  [](qn_fft_rplan *p) { qn_fft_rplan_free(p); });
        check_allocation_failures("built-in real", n,
                                  [](std::size_t m) { return qn_fft_builtin_rplan_make(m); },
                                  [](qn_fft_builtin_rplan *p) { qn_fft_builtin_rplan_free(p); });
    }
}

// Data at any address of a double: a buffer one double off 32-byte alignment
// gives the same transform.
TEST(FftPlans, UnalignedDataGivesTheSameResult) {
    for (std::size_t n : {16, 9600, 67}) {
        const std::vector<double> x = random_values(2 * n, n);
        std::vector<double> aligned_buf(2 * n + 8), odd_buf(2 * n + 8);
        double *aligned = aligned_buf.data();
        while (reinterpret_cast<uintptr_t>(aligned) % 32 != 0) ++aligned;
        double *odd = odd_buf.data();
        while (reinterpret_cast<uintptr_t>(odd) % 32 != 8) ++odd;
        std::copy(x.begin(), x.end(), aligned);
        std::copy(x.begin(), x.end(), odd);
        qn_fft_cplan_ptr c(qn_fft_cplan_make(n));
        ASSERT_TRUE(c);
        ASSERT_TRUE(qn_fft_cforward(c.get(), aligned, 1.0));
        ASSERT_TRUE(qn_fft_cforward(c.get(), odd, 1.0));
        EXPECT_LT(relative_rms(std::vector<double>(odd, odd + 2 * n),
                               std::vector<double>(aligned, aligned + 2 * n)),
                  error_bound(n))
            << "complex n " << n;

        std::copy(x.begin(), x.begin() + n, aligned);
        std::copy(x.begin(), x.begin() + n, odd);
        qn_fft_rplan_ptr r(qn_fft_rplan_make(n));
        ASSERT_TRUE(r);
        ASSERT_TRUE(qn_fft_rforward(r.get(), aligned, 1.0));
        ASSERT_TRUE(qn_fft_rforward(r.get(), odd, 1.0));
        EXPECT_LT(relative_rms(std::vector<double>(odd, odd + n), std::vector<double>(aligned, aligned + n)),
                  error_bound(n))
            << "real n " << n;
    }
}

// Plans made, run and destroyed on several threads at once give the results
// of a single thread.
TEST(FftPlans, ThreadsDoNotInterfere) {
    const std::vector<std::size_t> lengths = {64, 100, 512, 9600, 12000, 67, 2048};
    auto work = [&](std::size_t n) {
        std::vector<double> c = random_values(2 * n, n), r = random_values(n, n + 1);
        qn_fft_cplan_ptr cp(qn_fft_cplan_make(n));
        qn_fft_rplan_ptr rp(qn_fft_rplan_make(n));
        if (!cp || !rp) return std::vector<double>();
        qn_fft_cforward(cp.get(), c.data(), 1.0);
        qn_fft_rforward(rp.get(), r.data(), 1.0);
        c.insert(c.end(), r.begin(), r.end());
        return c;
    };
    std::vector<std::vector<double>> serial;
    for (std::size_t n : lengths) serial.push_back(work(n));

    constexpr int k_threads = 4, k_rounds = 20;
    std::vector<int> mismatches(k_threads, 0);
    std::vector<std::thread> threads;
    for (int t = 0; t < k_threads; ++t) {
        threads.emplace_back([&, t] {
            for (int round = 0; round < k_rounds; ++round) {
                const std::size_t i = static_cast<std::size_t>(round + t) % lengths.size();
                const std::vector<double> got = work(lengths[i]);
                if (got.empty() || relative_rms(got, serial[i]) > 1e-15) ++mismatches[t];
            }
        });
    }
    for (std::thread &th : threads) th.join();
    for (int t = 0; t < k_threads; ++t) EXPECT_EQ(mismatches[t], 0) << "thread " << t;
}

// ------------------------------------------------------- built-in engine

// The AVX2 and AVX-512 kernels run the same operations as the SSE2 ones,
// lane by lane, so a result does not depend on the processor it was
// computed on. Lengths cover every radix in the first, middle and last
// passes with one, two and four transforms side by side.
TEST(FftBuiltin, EveryPathGivesTheBitsOfSse2) {
    const complex_engine c_sse = builtin_complex<qn_simd::baseline>("SSE2");
    const real_engine r_sse = builtin_real<qn_simd::baseline>("SSE2");
    std::vector<std::size_t> lengths = small_lengths();
    for (std::size_t n : {67, 98, 134, 1000, 1001, 1155, 4096, 4800, 9600, 12000, 16384, 24000, 30030,
                          32768, 2 * 2 * 2 * 2 * 7 * 11, 4 * 13 * 13, 8 * 8 * 8 * 3 * 5})
        lengths.push_back(n);
    int compared = 0;
    for (qn_simd path : {qn_simd::avx2, qn_simd::avx512}) {
        if (!qn_simd_available(path)) {
            std::printf("[ note ] this processor has no %s: its FFT kernels were not compared\n",
                        qn_simd_name(path));
            continue;
        }
        ++compared;
        const complex_engine c_vec = path == qn_simd::avx2 ? builtin_complex<qn_simd::avx2>("AVX2")
                                                           : builtin_complex<qn_simd::avx512>("AVX-512");
        const real_engine r_vec = path == qn_simd::avx2 ? builtin_real<qn_simd::avx2>("AVX2")
                                                        : builtin_real<qn_simd::avx512>("AVX-512");
        for (std::size_t n : lengths) {
            const std::vector<double> x = random_values(2 * n, n);
            const std::vector<double> xr(x.begin(), x.begin() + n);
            for (bool forward : {true, false}) {
                const std::vector<double> a = transform(c_sse, n, x, forward, 0.5);
                const std::vector<double> b = transform(c_vec, n, x, forward, 0.5);
                EXPECT_EQ(std::memcmp(a.data(), b.data(), a.size() * sizeof(double)), 0)
                    << qn_simd_name(path) << " complex n " << n << (forward ? " forward" : " backward");
                const std::vector<double> ra = transform(r_sse, n, xr, forward, 0.5);
                const std::vector<double> rb = transform(r_vec, n, xr, forward, 0.5);
                EXPECT_EQ(std::memcmp(ra.data(), rb.data(), ra.size() * sizeof(double)), 0)
                    << qn_simd_name(path) << " real n " << n << (forward ? " forward" : " backward");
            }
        }
    }
    if (compared == 0) GTEST_SKIP() << "this processor has neither AVX2 nor AVX-512";
}

TEST(FftBuiltin, MissingPathsAreRefused) {
    int checked = 0;
    for (qn_simd path : {qn_simd::avx2, qn_simd::avx512}) {
        if (qn_simd_available(path)) continue;
        ++checked;
        EXPECT_EQ(qn_fft_builtin_cplan_make(16, path), nullptr) << qn_simd_name(path);
        EXPECT_EQ(qn_fft_builtin_rplan_make(16, path), nullptr) << qn_simd_name(path);
    }
    if (checked == 0) GTEST_SKIP() << "this processor has every path";
}

namespace {

// The pruned forward transform at its wanted bins against the full one, on
// every path, with the bits the same on every path.
// A real signal filled up to a point and zeros after it: the transform
// that skips the zeros gives the bits of the full one, whatever lies in the
// room of the zeros (NaN here) and with zeros of both signs among the
// samples, on every path and through fft.h. Lengths with first passes of
// radix 8, 4 and 2 and with none that skips (one pass, odd, Bluestein).
TEST(FftBuiltin, FilledForwardIsTheFullTransform) {
    const std::size_t lengths[] = {2048, 4096, 1024, 256, 64, 32, 12, 16, 8, 1000, 9600, 1001, 2, 1};
    for (std::size_t n : lengths) {
        const std::vector<double> x = random_values(n, n + 7);
        for (std::size_t filled : {std::size_t{0}, std::size_t{1}, n / 8, n / 4, n / 4 + 1, n / 2, n / 2 + 3, n}) {
            if (filled > n) continue;
            std::vector<double> zeros(n, 0.0), room(n, NAN);
            for (std::size_t i = 0; i < filled; ++i) zeros[i] = room[i] = i % 5 == 3 ? -0.0 : (i % 7 == 2 ? 0.0 : x[i]);
            for (qn_simd path : qn_simd_paths) {
                if (!qn_simd_available(path)) continue;
                qn_fft_builtin_rplan *plan = qn_fft_builtin_rplan_make(n, path);
                ASSERT_NE(plan, nullptr);
                std::vector<double> full = zeros, skipped = room;
                ASSERT_TRUE(qn_fft_builtin_rforward(plan, full.data(), 0.5));
                ASSERT_TRUE(qn_fft_builtin_rforward_filled(plan, skipped.data(), filled, 0.5));
                qn_fft_builtin_rplan_free(plan);
                EXPECT_EQ(std::memcmp(full.data(), skipped.data(), n * sizeof(double)), 0)
                    << "n " << n << " filled " << filled << " " << qn_simd_name(path);
            }
            qn_fft_rplan_ptr plan(qn_fft_rplan_make(n));
            ASSERT_NE(plan, nullptr);
            std::vector<double> full = zeros, skipped = room;
            ASSERT_TRUE(qn_fft_rforward(plan.get(), full.data(), 1.0));
            ASSERT_TRUE(qn_fft_rforward_filled(plan.get(), skipped.data(), filled, 1.0));
            EXPECT_EQ(std::memcmp(full.data(), skipped.data(), n * sizeof(double)), 0)
                << "fft.h n " << n << " filled " << filled;
        }
    }
    EXPECT_FALSE(qn_fft_rforward_filled(nullptr, nullptr, 0, 1.0));
}

// The fused forward transform, power spectrum and backward transform give
// the bits of the three steps, on every path and through fft.h: lengths of
// radices 8, 4, 2, 3 and 5, odd, Bluestein (2 x 1009) and tiny, partly
// filled. The powers' total is theirs to rounding, and not finite when they
// are not.
TEST(FftBuiltin, PowerBackwardIsItsThreeSteps) {
    const std::size_t lengths[] = {16384, 2048, 1024, 12, 16, 8, 2, 4, 9600, 1000, 1001, 2018, 1};
    for (std::size_t n : lengths) {
        const std::vector<double> x = random_values(n, n + 3);
        for (std::size_t filled : {n / 4, n / 2, n}) {
            std::vector<double> room(n, NAN);
            std::copy(x.begin(), x.begin() + static_cast<std::ptrdiff_t>(filled), room.begin());
            std::vector<double> zeros = room;
            std::fill(zeros.begin() + static_cast<std::ptrdiff_t>(filled), zeros.end(), 0.0);
            const double scale = 1.0 / static_cast<double>(n);
            for (qn_simd path : qn_simd_paths) {
                if (!qn_simd_available(path)) continue;
                qn_fft_builtin_rplan *plan = qn_fft_builtin_rplan_make(n, path);
                ASSERT_NE(plan, nullptr);
                std::vector<double> steps = zeros, fused = room;
                ASSERT_TRUE(qn_fft_builtin_rforward(plan, steps.data(), 1.0));
                const double sum = qn_fft_packed_power(steps.data(), n);
                ASSERT_TRUE(qn_fft_builtin_rbackward(plan, steps.data(), scale));
                double total = 0;
                ASSERT_TRUE(qn_fft_builtin_rpower_backward(plan, fused.data(), filled, scale, &total));
                qn_fft_builtin_rplan_free(plan);
                EXPECT_EQ(std::memcmp(steps.data(), fused.data(), n * sizeof(double)), 0)
                    << "n " << n << " filled " << filled << " " << qn_simd_name(path);
                EXPECT_NEAR(total, sum, 1e-12 * sum) << "n " << n << " " << qn_simd_name(path);
            }
            qn_fft_rplan_ptr plan(qn_fft_rplan_make(n));
            ASSERT_NE(plan, nullptr);
            std::vector<double> steps = zeros, fused = room;
            ASSERT_TRUE(qn_fft_rforward(plan.get(), steps.data(), 1.0));
            qn_fft_packed_power(steps.data(), n);
            ASSERT_TRUE(qn_fft_rbackward(plan.get(), steps.data(), scale));
            double total = 0;
            ASSERT_TRUE(qn_fft_rpower_backward(plan.get(), fused.data(), filled, scale, &total));
            EXPECT_EQ(std::memcmp(steps.data(), fused.data(), n * sizeof(double)), 0)
                << "fft.h n " << n << " filled " << filled;
        }
    }
    for (double bad : {1e200, double(NAN), double(INFINITY)}) {
        std::vector<double> x(2048, 0.25);
        x[100] = bad;
        qn_fft_rplan_ptr plan(qn_fft_rplan_make(x.size()));
        double total = 0;
        ASSERT_TRUE(qn_fft_rpower_backward(plan.get(), x.data(), x.size(), 1.0, &total));
        EXPECT_FALSE(std::isfinite(total)) << bad;
    }
    double total = 0;
    EXPECT_FALSE(qn_fft_rpower_backward(nullptr, nullptr, 0, 1.0, &total));
}

TEST(FftBuiltin, PrunedForwardMatchesTheFullTransformAtItsEnds) {
    struct pruned_case {
        std::size_t n, keep;
    };
    // Pruned (9600 with the Daniel-Weber envelope bins, powers of two),
    // and lengths and keeps that take the full transform (too few passes
    // left, keep too large, Bluestein's lengths, keep 0).
    const pruned_case cases[] = {{9600, 130}, {9600, 1}, {9600, 40}, {8192, 100}, {4096, 3},
                                 {4800, 150}, {64, 8},   {9600, 4800}, {1009, 20}, {9600, 0}};
    for (const pruned_case &c : cases) {
        const std::vector<double> x = random_values(2 * c.n, c.n + c.keep);
        std::vector<double> baseline_bits;
        for (qn_simd path : qn_simd_paths) {
            if (!qn_simd_available(path)) continue;
            qn_fft_builtin_cplan *plan = qn_fft_builtin_cplan_make(c.n, path);
            ASSERT_NE(plan, nullptr);
            std::vector<double> full = x, ends = x;
            ASSERT_TRUE(qn_fft_builtin_cforward(plan, full.data(), 0.5));
            ASSERT_TRUE(qn_fft_builtin_cforward_ends(plan, ends.data(), c.keep, 0.5));
            qn_fft_builtin_cplan_free(plan);
            double peak = 0;
            for (double v : full) peak = std::max(peak, std::fabs(v));
            std::vector<double> wanted;
            for (std::size_t k = 0; k < c.n; ++k) {
                if (k >= c.keep && k + c.keep <= c.n) continue;
                for (int part = 0; part < 2; ++part) {
                    EXPECT_NEAR(ends[2 * k + part], full[2 * k + part], 1e-13 * peak)
                        << "n " << c.n << " keep " << c.keep << " bin " << k << " " << qn_simd_name(path);
                    wanted.push_back(ends[2 * k + part]);
                }
            }
            if (baseline_bits.empty()) baseline_bits = wanted;
            if (wanted.empty()) continue;  // keep 0: no bin to compare, and memcmp wants real pointers
            ASSERT_EQ(wanted.size(), baseline_bits.size());
            EXPECT_EQ(std::memcmp(wanted.data(), baseline_bits.data(), wanted.size() * sizeof(double)), 0)
                << "n " << c.n << " keep " << c.keep << " " << qn_simd_name(path);
        }
    }
}

}  // namespace

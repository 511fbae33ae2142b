// Powers of ten, logarithms and fourth roots of the vector kernels against
// the C library, and every vector path against the others bit for bit.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>
#include <random>
#include <vector>

#include "loudness/vector_math.h"
#include "support/simd_paths.h"

namespace {

bool same_bits(double a, double b) { return std::memcmp(&a, &b, sizeof a) == 0; }

// Relative difference, with equal special values (and equal zeros) as 0.
double relative(double got, double expected) {
    if (same_bits(got, expected) || got == expected) return 0;
    if (std::isnan(got) && std::isnan(expected)) return 0;
    return std::fabs(got - expected) / std::fabs(expected);
}

constexpr double inf = std::numeric_limits<double>::infinity();
constexpr double nan = std::numeric_limits<double>::quiet_NaN();

struct Function {
    const char *name;
    void (*batch)(qn_simd, const double *, double *, std::size_t) noexcept;
    double (*library)(double);
    std::vector<double> arguments;
};

std::vector<Function> functions() {
    std::mt19937_64 rng(17);
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    std::vector<double> exp_args = {0.0, -0.0, 1.0, 2.0, -1.0, 0.5, 299.999, 300.0, -300.0, 300.5, -300.5,
                                    307.9, 308.5, -310.0, -330.0, inf, -inf, nan, 1e-300, -1e-17};
    for (int k = -40; k <= 40; ++k) exp_args.push_back(k * 0.25);
    for (int i = 0; i < 20000; ++i) exp_args.push_back(-320.0 + 640.0 * unit(rng));
    for (int i = 0; i < 20000; ++i) exp_args.push_back(-3.0 + 6.0 * unit(rng));

    std::vector<double> log_args = {1.0, 2.0, 10.0, 100.0, 0.1, 1e-12, 0.5, 1.4142135623730951, 0.7071067811865476,
                                    1.0 + 1e-15, 1.0 - 1e-16, 1.0 + 1e-9, 0.999999, std::numeric_limits<double>::min(),
                                    std::numeric_limits<double>::denorm_min(), 1e-310, std::numeric_limits<double>::max(),
                                    0.0, -0.0, -1.0, inf, -inf, nan};
    for (int i = 0; i < 20000; ++i) log_args.push_back(std::pow(10.0, -307.0 + 615.0 * unit(rng)));
    for (int i = 0; i < 20000; ++i) log_args.push_back(0.5 + 1.5 * unit(rng));

    std::vector<double> root_args = {0.75, 1.0, 16.0, 0.0, 1e300, 1e-300};
    for (int i = 0; i < 20000; ++i) root_args.push_back(0.75 + std::pow(10.0, -10.0 + 260.0 * unit(rng)));

    return {
        {"exp10", qn_exp10_n, [](double x) { return std::pow(10.0, x); }, exp_args},
        {"log10", qn_log10_n, [](double x) { return std::log10(x); }, log_args},
        {"root4", qn_root4_n, [](double x) { return std::pow(x, 0.25); }, root_args},
    };
}

}  // namespace

TEST(VectorMath, AgreesWithTheCLibrary) {
    for (const Function &f : functions()) {
        for (qn_simd path : qn_test::simd_paths()) {
            std::vector<double> y(f.arguments.size());
            f.batch(path, f.arguments.data(), y.data(), y.size());
            double worst = 0;
            for (std::size_t i = 0; i < y.size(); ++i) {
                const double expected = f.library(f.arguments[i]);
                const double error = relative(y[i], expected);
                ASSERT_LE(error, 1e-15) << f.name << " " << qn_simd_name(path) << " of " << f.arguments[i] << ": "
                                        << y[i] << " vs " << expected;
                worst = std::max(worst, error);
            }
            std::printf("%s on %s: largest relative difference from the C library %.3g\n", f.name,
                        qn_simd_name(path), worst);
        }
    }
}

TEST(VectorMath, EveryPathAndEveryLengthGivesTheSameBits) {
    for (const Function &f : functions()) {
        const std::size_t total = f.arguments.size();
        std::vector<double> baseline(total);
        f.batch(qn_simd::baseline, f.arguments.data(), baseline.data(), total);
        for (qn_simd path : qn_test::simd_paths()) {
            // Every short length and offset, so each value meets every lane
            // and every tail.
            for (std::size_t n = 0; n <= 33; ++n) {
                for (std::size_t at = 0; at + n <= 200; at += 7) {
                    std::vector<double> y(n + 1, -7.0);
                    f.batch(path, f.arguments.data() + at, y.data(), n);
                    for (std::size_t i = 0; i < n; ++i)
                        ASSERT_TRUE(same_bits(y[i], baseline[at + i]) || (std::isnan(y[i]) && std::isnan(baseline[at + i])))
                            << f.name << " " << qn_simd_name(path) << " n " << n << " at " << at + i;
                    ASSERT_EQ(y[n], -7.0) << f.name << ": wrote past n";
                }
            }
            std::vector<double> in_place = f.arguments;
            f.batch(path, in_place.data(), in_place.data(), total);
            for (std::size_t i = 0; i < total; ++i)
                ASSERT_TRUE(same_bits(in_place[i], baseline[i]) || (std::isnan(in_place[i]) && std::isnan(baseline[i])))
                    << f.name << " in place, " << qn_simd_name(path) << " at " << i;
        }
    }
}

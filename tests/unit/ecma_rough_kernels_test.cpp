// The roughness engine's vector kernels against their scalar definitions,
// bit for bit on every path, including the cases the engine's signals
// rarely reach: squares that overflow in the envelope and values that are
// not finite in the band average.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "ecma/rough_kernels.h"
#include "support/simd_paths.h"

namespace {

bool same_bits(double a, double b) { return std::memcmp(&a, &b, sizeof a) == 0; }

std::vector<double> random_values(std::size_t count, double scale, unsigned seed) {
    std::mt19937_64 rng(seed);
    std::uniform_real_distribution<double> value(-scale, scale);
    std::vector<double> v(count);
    for (double &x : v) x = value(rng);
    return v;
}

TEST(EcmaRoughKernels, ProductsSummedOverRows) {
    constexpr std::size_t stride = 80, rows = 3, count = 72;  // whole tiles, then vectors one at a time
    const auto z = random_values(rows * stride, 4.0, 1), k = random_values(rows * stride, 2.0, 2);
    std::vector<double> kr(k.size()), ki(k.size());
    for (std::size_t i = 0; i < k.size(); i += 2) {
        kr[i] = kr[i + 1] = k[i];
        ki[i] = -k[i + 1];
        ki[i + 1] = k[i + 1];
    }
    std::vector<double> expected(count);
    for (std::size_t i = 0; i < count; i += 2) {
        double re = 0, im = 0;
        for (std::size_t j = 0; j < rows; ++j) {
            const std::size_t o = j * stride + i;
            const double pr = k[o] * z[o] + (-k[o + 1]) * z[o + 1], pi = k[o] * z[o + 1] + k[o + 1] * z[o];
            re = j == 0 ? pr : re + pr;
            im = j == 0 ? pi : im + pi;
        }
        expected[i] = re;
        expected[i + 1] = im;
    }
    for (qn_simd path : qn_test::simd_paths()) {
        std::vector<double> v(count);
        qn_ecma_rough_kernels_for(path).accumulate(v.data(), z.data(), kr.data(), ki.data(), stride, rows, count);
        for (std::size_t i = 0; i < count; ++i)
            ASSERT_TRUE(same_bits(v[i], expected[i])) << qn_simd_name(path) << " " << i << ": " << v[i];
    }
}

TEST(EcmaRoughKernels, BandAverage) {
    constexpr uint32_t stride = 13, rows = 5, count = 13;  // vectors and a scalar rest on every path
    const double inf = std::numeric_limits<double>::infinity();
    struct Case {
        const char *name;
        double poison;  // put at row 2, element 11 (the scalar rest on every path), and row 4, element 3
        bool finite;
    };
    for (const Case &c : {Case{"finite", 0.25, true}, Case{"infinite", inf, false},
                          Case{"NaN", std::numeric_limits<double>::quiet_NaN(), false}}) {
        auto x = random_values(rows * stride, 1.0, 3);
        for (double &v : x) v = std::fabs(v);
        x[2 * stride + 11] = c.poison;
        x[4 * stride + 3] = c.poison;
        const double divisor = 0.7;
        std::vector<double> a_expected(x.size()), sum_expected(count, 0.0);
        for (uint32_t m = 0; m < count; ++m) {
            for (uint32_t r = 0; r < rows; ++r) {
                const std::size_t o = r * stride + m;
                const double v = r == 0 || r + 1 == rows ? x[o] / divisor
                                                         : ((x[o] + x[o - stride]) + x[o + stride]) / 3 / divisor;
                a_expected[o] = v;
                sum_expected[m] += v;
            }
        }
        for (qn_simd path : qn_test::simd_paths()) {
            for (bool in_place : {false, true}) {
                const std::string what =
                    std::string(c.name) + ", " + qn_simd_name(path) + (in_place ? ", in place" : "");
                std::vector<double> a = in_place ? x : std::vector<double>(x.size()), sum(count);
                const bool finite = qn_ecma_rough_kernels_for(path).average(in_place ? a.data() : x.data(), stride,
                                                                            rows, count, divisor, a.data(), sum.data());
                EXPECT_EQ(finite, c.finite) << what;
                if (!c.finite) continue;
                for (std::size_t i = 0; i < a.size(); ++i)
                    ASSERT_TRUE(same_bits(a[i], a_expected[i])) << what << " " << i;
                for (uint32_t m = 0; m < count; ++m)
                    ASSERT_TRUE(same_bits(sum[m], sum_expected[m])) << what << " " << m;
            }
        }
    }
}

TEST(EcmaRoughKernels, Envelope) {
    constexpr uint32_t count = 32;
    auto re = random_values(count, 1.0, 4);
    const auto window = random_values(count, 1.0, 5);
    std::vector<std::vector<double>> parts = {random_values(count, 1.0, 6), random_values(count, 1.0, 7),
                                              random_values(count, 1.0, 8), random_values(count, 1.0, 9)};
    // Squares beyond the largest double, at a lane of every width.
    re[5] = 3e200;
    parts[0][5] = 4e200;
    re[18] = -1e160;
    for (int part_count : {1, 4}) {
        std::vector<double> u_expected(count), partial_expected(8, 0.5);
        for (uint32_t i = 0; i < count; ++i) {
            double im = parts[0][i];
            if (part_count == 4) im = ((im + parts[1][i]) + parts[2][i]) + parts[3][i];
            const double m = std::sqrt(re[i] * re[i] + im * im);
            u_expected[i] = (m <= std::numeric_limits<double>::max() ? m : std::hypot(re[i], im)) * window[i];
            partial_expected[i % 8] += u_expected[i] * u_expected[i];
        }
        EXPECT_TRUE(std::isfinite(u_expected[5]) && std::isfinite(u_expected[18]));
        const double *p[4] = {parts[0].data(), parts[1].data(), parts[2].data(), parts[3].data()};
        for (qn_simd path : qn_test::simd_paths()) {
            std::vector<double> u(count), partial(8, 0.5);
            qn_ecma_rough_kernels_for(path).envelope(p, part_count, re.data(), window.data(), count, u.data(),
                                                     partial.data());
            for (uint32_t i = 0; i < count; ++i)
                ASSERT_TRUE(same_bits(u[i], u_expected[i])) << part_count << ", " << qn_simd_name(path) << " " << i;
            for (int l = 0; l < 8; ++l)
                ASSERT_TRUE(same_bits(partial[l], partial_expected[l])) << part_count << ", " << qn_simd_name(path);
        }
    }
}

}  // namespace

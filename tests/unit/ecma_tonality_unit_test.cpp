// The ECMA-418-2 tonality engine: its geometry, and its results against the
// literal whole-signal method, which holds the whole filtered signal and
// every autocorrelation at once.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "ecma/periodicity.h"
#include "ecma/tonal_kernels.h"
#include "ecma/tonality.h"
#include "support/ecma_tonal_literal.h"
#include "support/signals.h"
#include "support/simd_paths.h"

namespace {

const char *array_name(uint64_t a) {
    static const char *names[] = {"tonal loudness", "noise loudness", "frequency", "tonality", "total loudness"};
    return names[a];
}

// The first value where the library's result differs from the literal
// method's by more than the tolerance, described; empty when none.
//
// Bands up to 20 are computed with the literal method's arithmetic, but the
// periodicity spectra of the upper bands are searched without the full
// transform (same bin, powers within rounding), and every band's specific
// tonality and total loudness depend on all bands of the frame. Measured
// against the literal method the values agree within 2e-10 relative (the
// largest differences fall on tonal loudness of some 1e-6 just above the
// signal-to-noise threshold, where the weight amplifies rounding) and
// within 1e-13 of each array's largest value; the tolerance is 1e-9
// relative, and 1e-12 of the array's largest value for values below it.
// The tonal frequencies are the same: a different bin would show only where
// two bins' powers lie within rounding of each other, and would fail here.
std::string first_difference(const std::vector<double> &got, const std::vector<double> &expected, uint64_t frames) {
    if (got.size() != expected.size()) return "sizes differ";
    const uint64_t plane = 53 * frames;
    for (uint64_t a = 0; a < 5; ++a) {
        double largest = 0;
        for (uint64_t i = a * plane; i < (a + 1) * plane; ++i) largest = std::max(largest, std::fabs(expected[i]));
        for (uint64_t i = a * plane; i < (a + 1) * plane; ++i) {
            const double tolerance = a == 2 ? 0.0 : std::max(1e-9 * std::fabs(expected[i]), 1e-12 * largest);
            if (std::fabs(got[i] - expected[i]) <= tolerance) continue;
            const uint64_t k = i % plane / 53, b = i % 53;
            return std::string(array_name(a)) + ", frame " + std::to_string(k) + ", band " + std::to_string(b) +
                   ": got " + std::to_string(got[i]) + ", expected " + std::to_string(expected[i]);
        }
    }
    return "";
}

// A 1 kHz tone and a 3.2 kHz tone over pink noise, with a gap of silence:
// every band busy, tonal and noisy bands, loudness 0 in the gap.
std::vector<double> mixture(std::size_t n, uint64_t seed) {
    auto x = qn_test::pink_noise(0.02, n, seed);
    const auto low = qn_test::sine(1000, 0.05, n);
    const auto high = qn_test::sine(3200, 0.02, n, 0.3);
    for (std::size_t i = 0; i < n; ++i) x[i] += low[i] + high[i];
    for (std::size_t i = n / 3; i < n / 3 + 9000; ++i) x[i] = 0;
    return x;
}

}  // namespace

TEST(EcmaTonalGeometry, LagsWindowsAndNeighbours) {
    const uint32_t stored[] = {2335, 2225, 1113, 563};
    for (int g = 0; g < 4; ++g) EXPECT_EQ(qn_ecma_tonal_lag_count(g), stored[g]) << "group " << g;
    // Band 52: tau_s = 2 ms and tau_e = tau_s + 1 ms, o = 96, e = 144.
    const qn_ecma_lag_window top = qn_ecma_tonal_lag_window(52);
    EXPECT_EQ(top.first, 95u);
    EXPECT_EQ(top.end, 144u);
    EXPECT_EQ(top.count, 49u);
    // Every window lies within the lags its group stores, and shrinks with
    // the band.
    for (int g = 0; g < 4; ++g) {
        const auto &group = qn_ecma_tonal_groups[g];
        for (uint32_t h = group.first_output; h <= group.last_output; ++h) {
            const qn_ecma_lag_window w = qn_ecma_tonal_lag_window(h);
            EXPECT_LE(w.first + w.count, qn_ecma_tonal_lag_count(g)) << h;
            EXPECT_EQ(w.first + w.count, w.end) << h;
            if (h > 0) {
                EXPECT_LE(w.count, qn_ecma_tonal_lag_window(h - 1).count) << h;
            }
        }
    }
    struct Case {
        uint32_t band, below, above;
    };
    const Case cases[] = {{0, 0, 1}, {1, 1, 1}, {2, 2, 2}, {15, 2, 2}, {16, 1, 1}, {24, 1, 1}, {25, 0, 0}, {52, 0, 0}};
    for (const Case &c : cases) {
        const qn_ecma_neighbours near = qn_ecma_tonal_neighbours(c.band);
        EXPECT_EQ(near.below, c.below) << c.band;
        EXPECT_EQ(near.above, c.above) << c.band;
    }
    // Each group filters exactly the bands its output bands average over.
    for (const auto &group : qn_ecma_tonal_groups) {
        const auto low = qn_ecma_tonal_neighbours(group.first_output);
        const auto high = qn_ecma_tonal_neighbours(group.last_output);
        EXPECT_EQ(group.first_filtered, group.first_output - low.below);
        EXPECT_EQ(group.last_filtered, group.last_output + high.above);
    }
}

// The chunked engine, which keeps only the blocks it still needs, against
// the literal method, on every vector path, in both sound fields, and at
// lengths that are multiples of no hop.
TEST(EcmaTonalEngine, EqualsTheLiteralMethod) {
    struct Case {
        const char *what;
        std::vector<double> signal;
        qn_sound_field field;
    };
    const Case cases[] = {
        {"mixture, 2 s + 37, free", mixture(96037, 5), QN_SOUND_FIELD_FREE},
        {"mixture, 1.5 s + 129, diffuse", mixture(72129, 9), QN_SOUND_FIELD_DIFFUSE},
        {"shortest signal, tone", qn_test::sine(440, 0.1, 14592), QN_SOUND_FIELD_FREE},
    };
    for (const Case &c : cases) {
        std::vector<double> expected;
        ASSERT_EQ(qn_test::ecma_tonal_literal(c.signal.data(), c.signal.size(), c.field, expected), QN_STATUS_SUCCESS)
            << c.what;
        const uint64_t frames = qn_ecma_tonal_frames(c.signal.size());
        std::vector<double> first_path;
        for (qn_simd path : qn_test::simd_paths()) {
            std::vector<double> got(265 * frames);
            ASSERT_EQ(qn_ecma_tonal_run(c.signal.data(), c.signal.size(), c.field, got.data(), frames, path),
                      QN_STATUS_SUCCESS)
                << c.what;
            EXPECT_EQ(first_difference(got, expected, frames), "") << c.what << ", " << qn_simd_name(path);
            // The bands whose periodicity spectra take the full transform
            // have the literal method's arithmetic throughout: their tonal
            // and noise loudness and frequency are the same bits.
            for (uint32_t b = 0; b < 53; ++b) {
                if (qn_ecma_periodicity_coarse_length(qn_ecma_tonal_lag_window(b).count) != 0) continue;
                for (uint64_t a = 0; a < 3; ++a)
                    for (uint64_t k = 0; k < frames; ++k) {
                        const uint64_t i = a * 53 * frames + 53 * k + b;
                        ASSERT_EQ(got[i], expected[i]) << c.what << ", " << array_name(a) << ", band " << b
                                                       << ", frame " << k;
                    }
            }
            // Every path gives the same bits.
            if (first_path.empty()) first_path = got;
            EXPECT_EQ(std::memcmp(got.data(), first_path.data(), got.size() * sizeof(double)), 0)
                << c.what << ", " << qn_simd_name(path);
        }
    }
}

// The clamps of the normalisation let a NaN through to the final finite
// test instead of turning it into 0 or 1; both paths give the same bits.
TEST(EcmaTonalKernels, ClampsPassNaNAndPathsAgree) {
    constexpr uint32_t n = 64, lags = 40;
    std::vector<double> acf(2 * n), head(n + 1), tail(n + 1);
    for (uint32_t i = 0; i <= n; ++i) {
        head[i] = 0.5 * i;
        tail[i] = 0.5 * (n - i);
    }
    for (uint32_t l = 0; l < 2 * n; ++l) acf[l] = 40.0 - 1.3 * l;  // above 1, between, below 0
    acf[7] = std::nan("");
    std::vector<std::vector<double>> results;
    for (qn_simd path : qn_test::simd_paths()) {
        std::vector<double> stored(lags, -1.0);
        qn_ecma_tonal_kernels_for(path).normalise(acf.data(), head.data(), tail.data(), n, lags, 2.0, 1.0,
                                                  stored.data());
        EXPECT_TRUE(std::isnan(stored[7])) << qn_simd_name(path);
        EXPECT_EQ(stored[0], 2.0) << "clamped at 1";
        EXPECT_EQ(stored[lags - 1], 0.0) << "clamped at 0";
        std::vector<double> averaged(lags);
        qn_ecma_tonal_kernels_for(path).average(stored.data(), 0, 3, lags, 3.0, averaged.data());
        EXPECT_TRUE(std::isnan(averaged[7]));
        stored.insert(stored.end(), averaged.begin(), averaged.end());
        results.push_back(stored);
    }
    for (std::size_t i = 1; i < results.size(); ++i)
        EXPECT_EQ(std::memcmp(results[i].data(), results[0].data(), results[0].size() * sizeof(double)), 0);
}

// Every kernel on every path against the scalar expressions of its comment,
// bit for bit, at lengths that leave every possible remainder after the
// widest vectors (and some that fill no vector at all).
TEST(EcmaTonalKernels, EveryPathGivesTheScalarBitsAtEveryLength) {
    const auto same = [](const double *a, const double *b, std::size_t count) {
        return std::memcmp(a, b, count * sizeof(double)) == 0;
    };
    for (qn_simd path : qn_test::simd_paths()) {
        const qn_ecma_tonal_kernels &k = qn_ecma_tonal_kernels_for(path);
        const char *name = qn_simd_name(path);

        // energies: blocks of noise, negative half included.
        for (const uint32_t n : {1u, 7u, 64u, 101u}) {
            for (const uint32_t kept : {1u, n / 2 + 1, n}) {
                std::vector<double> x[qn_ecma_acf_batch], w[qn_ecma_acf_batch], head[qn_ecma_acf_batch],
                    tail[qn_ecma_acf_batch];
                const double *xs[qn_ecma_acf_batch];
                double *ws[qn_ecma_acf_batch], *heads[qn_ecma_acf_batch], *tails[qn_ecma_acf_batch];
                double energy[qn_ecma_acf_batch];
                for (int s = 0; s < qn_ecma_acf_batch; ++s) {
                    x[s] = qn_test::uniform_values(n, 100 + s);
                    w[s].assign(n, -7.0);
                    head[s].assign(n + 1, -7.0);
                    tail[s].assign(n + 1, -7.0);
                    xs[s] = x[s].data();
                    ws[s] = w[s].data();
                    heads[s] = head[s].data();
                    tails[s] = tail[s].data();
                }
                k.energies(xs, n, kept, ws, heads, tails, energy);
                for (int s = 0; s < qn_ecma_acf_batch; ++s) {
                    double h = 0, t = 0;
                    for (uint32_t i = 0; i < n; ++i) {
                        const double a = x[s][i] > 0 ? x[s][i] : 0.0;
                        const double b = x[s][n - 1 - i] > 0 ? x[s][n - 1 - i] : 0.0;
                        h += a * a;
                        t += b * b;
                        ASSERT_EQ(w[s][i], a) << name << " energies n " << n << " block " << s << " sample " << i;
                        if (i + 1 >= n - kept + 1) {
                            ASSERT_EQ(head[s][i + 1], h) << name << " head n " << n << " i " << i;
                        }
                        if (n - 1 - i < kept) {
                            ASSERT_EQ(tail[s][n - 1 - i], t) << name << " tail n " << n << " i " << i;
                        }
                    }
                    EXPECT_EQ(energy[s], h) << name << " energy n " << n << " block " << s;
                }
            }
        }

        for (uint32_t count = 1; count <= 27; ++count) {
            const auto a = qn_test::uniform_values(count, 7), b = qn_test::uniform_values(count, 8),
                       c = qn_test::uniform_values(count, 9);

            // normalise: n = 2 count lags' worth of energies.
            const uint32_t n = 2 * count;
            std::vector<double> acf = qn_test::uniform_values(2 * n, 10), head(n + 1), tail(n + 1);
            for (uint32_t i = 0; i <= n; ++i) {
                head[i] = i < 3 ? 0.0 : 0.25 * i;
                tail[i] = 0.25 * (n - i);
            }
            std::vector<double> stored(count + 1, -7.0), expected(count + 1, -7.0);
            for (double divisor : {1.0, 5.0}) {
                k.normalise(acf.data(), head.data(), tail.data(), n, count, 1.5, divisor, stored.data());
                for (uint32_t l = 0; l < count; ++l) {
                    const double q = acf[l] / (std::sqrt(tail[l]) * std::sqrt(head[n - l]) + 1e-12);
                    expected[l] = l < 3 * n / 4 && tail[l] > 0 && head[n - l] > 0
                                      ? 1.5 * (q < 0 ? 0.0 : (q > 1 ? 1.0 : q)) / divisor
                                      : 0.0;
                }
                EXPECT_TRUE(same(stored.data(), expected.data(), count + 1))
                    << name << " normalise, lags " << count << ", divisor " << divisor;
            }

            // average over three rows of a wider table, and their sum.
            const uint64_t stride = count + 5;
            const auto table = qn_test::uniform_values(3 * stride, 11);
            std::vector<double> out(count + 1, -7.0);
            for (double divisor : {3.0, 1.0}) {
                k.average(table.data(), stride, 3, count, divisor, out.data());
                for (uint32_t l = 0; l < count; ++l)
                    expected[l] = ((0 + table[l] / divisor) + table[stride + l] / divisor) + table[2 * stride + l] / divisor;
                expected[count] = -7.0;
                EXPECT_TRUE(same(out.data(), expected.data(), count + 1))
                    << name << " average, lags " << count << ", divisor " << divisor;
            }

            out.assign(count + 1, -7.0);
            k.mean_of_three(a.data(), b.data(), c.data(), count, out.data());
            for (uint32_t l = 0; l < count; ++l) expected[l] = ((a[l] + b[l]) + c[l]) / 3;
            EXPECT_TRUE(same(out.data(), expected.data(), count + 1)) << name << " mean of three, " << count;

            // powers of a polynomial of 9 coefficients at `count` bins.
            const auto u = qn_test::uniform_values(9, 12);
            std::vector<double> re(count), im(count);
            for (uint32_t i = 0; i < count; ++i) {
                re[i] = std::cos(0.1 * i + 0.05);
                im[i] = -std::sin(0.1 * i + 0.05);
            }
            out.assign(count + 1, -7.0);
            k.powers(u.data(), 9, re.data(), im.data(), count, out.data());
            for (uint32_t i = 0; i < count; ++i) {
                double yr = u[8], yi = 0;
                for (uint32_t j = 8; j-- > 0;) {
                    const double nr = yr * re[i] - yi * im[i] + u[j];
                    yi = yr * im[i] + yi * re[i];
                    yr = nr;
                }
                expected[i] = yr * yr + yi * yi;
            }
            EXPECT_TRUE(same(out.data(), expected.data(), count + 1)) << name << " powers, bins " << count;
        }
    }
}

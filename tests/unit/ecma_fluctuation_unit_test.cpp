// The parts of ECMA-418-2 fluctuation strength: the weighting of modulation
// rates, the kernel of the line-pair model against a direct transform, the
// fits (exact recovery of noiseless lines, the closed form against the
// general solve, lines too close to tell apart), the running median and the
// envelope's fast form against the literal one on every vector path, and
// the band analysis on envelopes with and without fluctuation.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <complex>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "base/alloc.h"
#include "ecma/fluct_kernels.h"
#include "ecma/fluctuation.h"
#include "ecma/front_end.h"
#include "support/expect.h"
#include "support/signals.h"
#include "support/simd_paths.h"

namespace {

constexpr int points = 2048;
constexpr double rate = 1500.0;  // envelope samples per second

// An envelope sum_m a_m cos(2 pi f_m t + phase_m) plus a constant.
struct line_spec {
    double rate_hz, amplitude, phase;
};

std::vector<double> envelope_of(double constant, const std::vector<line_spec> &lines) {
    std::vector<double> e(points, constant);
    for (int n = 0; n < points; ++n)
        for (const line_spec &l : lines) e[n] += l.amplitude * std::cos(2 * M_PI * l.rate_hz * n / rate + l.phase);
    return e;
}

const qn_ecma_fluct_turns &turns() {
    static const auto table = [] {
        auto t = std::make_unique<qn_ecma_fluct_turns>();
        qn_ecma_fluct_turns_fill(t.get());
        return t;
    }();
    return *table;
}

// The spectrum of an envelope in the window lead ... 2047 - tail, by a
// direct transform, prepared for the fits.
qn_ecma_fluct_spectrum spectrum_of(const std::vector<double> &e, int lead, int tail) {
    qn_ecma_fluct_spectrum s{};
    for (int k = 0; k < qn_ecma_fluct_bins; ++k) {
        std::complex<double> sum = 0;
        for (int n = lead; n < points - tail; ++n) sum += e[n] * std::polar(1.0, -2 * M_PI * k * n / points);
        s.re[k] = sum.real();
        s.im[k] = sum.imag();
    }
    qn_ecma_fluct_spectrum_prepare(&s, lead, tail, turns());
    return s;
}

TEST(EcmaFluctuationUnit, RateWeightAtItsCheckValues) {
    struct Case {
        double rate, gain, expected;
    } cases[] = {
        {1, 1, 0.351983},      {2, 1, 0.728255},      {4, 1, 0.985631}, {4.8659, 1, 1.0},
        {8, 1, 0.792757},      {16, 1, 0.192434},     {0, 1, 0.0},      {-3, 1, 0.0},
        {8, 0.5, 0.3963785},   {2, 0.5, 0.728255},  // the gain scales only rates above 4.8659 Hz
    };
    for (const Case &c : cases)
        EXPECT_NEAR(qn_ecma_fluct_rate_weight(c.rate, c.gain), c.expected, 1e-6) << c.rate << " Hz, gain " << c.gain;
    // The gain is symmetric in octaves about 1 kHz.
    EXPECT_NEAR(qn_ecma_fluct_gain(125), 0.734376, 1e-6);
    EXPECT_NEAR(qn_ecma_fluct_gain(8000), 0.734376, 1e-6);
    EXPECT_EQ(qn_ecma_fluct_gain(1000), 1.0);
    EXPECT_EQ(qn_ecma_fluct_band_gain(17), qn_ecma_fluct_gain(qn_ecma_band_centre_hz(17)));
}

TEST(EcmaFluctuationUnit, SolveBins) {
    struct Case {
        double rate;
        int bins;
    } cases[] = {{0, 17}, {6.59, 17}, {7.0, 18}, {11.3, 23}, {0.3662109375 * 3, 17},
                 {35, 49}, {200, 49}, {std::nan(""), 17}};
    for (const Case &c : cases) EXPECT_EQ(qn_ecma_fluct_solve_bins(c.rate), c.bins) << c.rate;
}

TEST(EcmaFluctuationUnit, KernelIsTheTransformOfTheShiftedWindow) {
    struct Case {
        int lead, tail;
        double rate_hz;
    } cases[] = {
        {64, 64, 4.1},    {64, 64, -4.1},   {64, 64, 0.0},         {150, 400, 11.3},
        {300, 64, 0.2},   {64, 900, 30.0},  {64, 64, 0.732421875 * 5},  // on a bin
        {1000, 700, 2.5}, {64, 64, -0.125},
    };
    for (const Case &c : cases) {
        qn_ecma_fluct_spectrum s{};
        qn_ecma_fluct_spectrum_prepare(&s, c.lead, c.tail, turns());
        double largest = 0;
        std::vector<std::complex<double>> direct(qn_ecma_fluct_bins);
        for (int k = 0; k < qn_ecma_fluct_bins; ++k) {
            for (int n = c.lead; n < points - c.tail; ++n)
                direct[k] += std::polar(1.0, 2 * M_PI * c.rate_hz * n / rate - 2 * M_PI * k * n / points);
            largest = std::max(largest, std::abs(direct[k]));
        }
        for (int k = 0; k < qn_ecma_fluct_bins; ++k) {
            double re, im;
            qn_ecma_fluct_kernel(s, k, c.rate_hz, &re, &im);
            EXPECT_LE(std::abs(std::complex<double>(re, im) - direct[k]), 1e-6 * std::max(std::abs(direct[k]), 1.0))
                << "window " << c.lead << ", " << c.tail << ", rate " << c.rate_hz << ", bin " << k << ": " << re
                << ", " << im << " vs " << direct[k] << " (largest " << largest << ")";
        }
    }
}

void expect_line(const qn_ecma_fluct_fit &fit, int m, const line_spec &l, const std::string &what) {
    const std::complex<double> c(fit.line_re[m], fit.line_im[m]);
    EXPECT_NEAR(std::abs(c), l.amplitude / 2, 1e-6 * l.amplitude) << what << ": line " << m;
    EXPECT_NEAR(std::remainder(std::arg(c) - l.phase, 2 * M_PI), 0.0, 1e-6) << what << ": line " << m;
}

TEST(EcmaFluctuationUnit, FitsRecoverNoiselessLines) {
    // One line with guards of 64: the constant and the two-sided line value.
    const line_spec one = {4.1, 0.02, 0.7};
    const auto s1 = spectrum_of(envelope_of(0.05, {one}), 64, 64);
    qn_ecma_fluct_fit pair, general;
    qn_ecma_fluct_fit_pair(s1, one.rate_hz, qn_ecma_fluct_solve_bins(one.rate_hz), &pair);
    auto work = std::make_unique<qn_ecma_fluct_lines_work>();
    ASSERT_TRUE(qn_ecma_fluct_fit_lines(s1, &one.rate_hz, 1, qn_ecma_fluct_solve_bins(one.rate_hz), work.get(),
                                        &general));
    for (const auto *fit : {&pair, &general}) {
        EXPECT_NEAR(fit->constant, 0.05, 1e-8);
        expect_line(*fit, 0, one, fit == &pair ? "pair" : "general");
        EXPECT_LE(std::fabs(fit->error), 1e-9 * s1.power_sum[17]);
    }
    // Three lines in the window 150 ... 2047 - 400.
    const std::vector<line_spec> three = {{2.0, 0.030, 0.2}, {4.9, 0.015, -1.1}, {11.3, 0.008, 2.4}};
    const auto s3 = spectrum_of(envelope_of(0.05, three), 150, 400);
    const double rates[3] = {2.0, 4.9, 11.3};
    qn_ecma_fluct_fit fit;
    ASSERT_TRUE(qn_ecma_fluct_fit_lines(s3, rates, 3, qn_ecma_fluct_solve_bins(11.3), work.get(), &fit));
    EXPECT_NEAR(fit.constant, 0.05, 1e-8);
    for (int m = 0; m < 3; ++m) expect_line(fit, m, three[m], "three lines");
    // Out of range.
    EXPECT_FALSE(qn_ecma_fluct_fit_lines(s3, rates, 0, 17, work.get(), &fit));
    EXPECT_FALSE(qn_ecma_fluct_fit_lines(s3, rates, 3, 50, work.get(), &fit));
}

TEST(EcmaFluctuationUnit, NormalEquationsOnEveryPath) {
    // Columns laid out by bin against the inner products summed in order of
    // the bins, for one, a few and the most columns.
    for (int n : {1, 7, 21, 51}) {
        for (int bins : {17, 49}) {
            const std::size_t tn = (static_cast<std::size_t>(n) + 7) / 8 * 8;
            const auto a = qn_test::uniform_values(2 * tn * 49, static_cast<uint64_t>(n + bins));
            const auto p = qn_test::uniform_values(98, 5);
            std::vector<double> re(tn * 49, 0.0), im(tn * 49, 0.0);
            for (int k = 0; k < bins; ++k)
                for (int j = 0; j < n; ++j) {
                    re[k * tn + j] = a[k * tn + j];
                    im[k * tn + j] = a[tn * 49 + k * tn + j];
                }
            std::vector<double> gram(static_cast<std::size_t>(n * n)), b(static_cast<std::size_t>(n));
            for (int i = 0; i < n; ++i) {
                double sb = 0;
                for (int k = 0; k < bins; ++k) sb += re[k * tn + i] * p[k] + im[k * tn + i] * p[49 + k];
                b[i] = sb;
                for (int j = 0; j <= i; ++j) {
                    double sg = 0;
                    for (int k = 0; k < bins; ++k) sg += re[k * tn + i] * re[k * tn + j] + im[k * tn + i] * im[k * tn + j];
                    gram[i * n + j] = gram[j * n + i] = sg;
                }
            }
            for (qn_simd path : qn_test::simd_paths()) {
                std::vector<double> got_gram(gram.size(), -1.0), got_b(b.size(), -1.0);
                qn_ecma_fluct_kernels_for(path).normal_equations(re.data(), im.data(), tn, n, bins, p.data(),
                                                                  p.data() + 49, got_gram.data(), got_b.data());
                EXPECT_EQ(std::memcmp(got_gram.data(), gram.data(), sizeof(double) * gram.size()), 0)
                    << n << " columns, " << bins << " bins, " << qn_simd_name(path);
                EXPECT_EQ(std::memcmp(got_b.data(), b.data(), sizeof(double) * b.size()), 0)
                    << n << " columns, " << bins << " bins, " << qn_simd_name(path);
            }
        }
    }
}

TEST(EcmaFluctuationUnit, ClosedFormIsTheGeneralSolve) {
    const auto noise = qn_test::uniform_values(points, 3);
    auto busy = envelope_of(0.08, {{3.3, 0.03, 1.0}, {9.7, 0.01, -0.4}});
    for (int n = 0; n < points; ++n) busy[n] += 0.004 * noise[n];
    const struct {
        const char *what;
        qn_ecma_fluct_spectrum s;
    } spectra[] = {{"busy, wide window", spectrum_of(busy, 64, 64)},
                   {"busy, short window", spectrum_of(busy, 700, 900)},
                   {"a line alone", spectrum_of(envelope_of(0.05, {{5.5, 0.02, 0.0}}), 64, 64)}};
    auto work = std::make_unique<qn_ecma_fluct_lines_work>();
    for (const auto &sp : spectra) {
        // From the slowest rate of the grid (nearly the constant) to the
        // top of the range, on and off bins.
        for (double f : {0.198, 0.5, 1.0, 2.9296875, 3.3, 4.0, 6.35, 9.7, 20.0, 34.0}) {
            const int bins = qn_ecma_fluct_solve_bins(f);
            qn_ecma_fluct_fit pair, general;
            qn_ecma_fluct_fit_pair(sp.s, f, bins, &pair);
            ASSERT_TRUE(qn_ecma_fluct_fit_lines(sp.s, &f, 1, bins, work.get(), &general));
            const double scale = std::abs(std::complex<double>(general.line_re[0], general.line_im[0])) + 1e-3;
            EXPECT_NEAR(pair.constant, general.constant, 1e-9 * (std::fabs(general.constant) + 1e-3))
                << sp.what << ", " << f << " Hz";
            EXPECT_NEAR(pair.line_re[0], general.line_re[0], 1e-9 * scale) << sp.what << ", " << f << " Hz";
            EXPECT_NEAR(pair.line_im[0], general.line_im[0], 1e-9 * scale) << sp.what << ", " << f << " Hz";
            EXPECT_NEAR(pair.error, general.error, 1e-9 * sp.s.power_sum[bins]) << sp.what << ", " << f << " Hz";
            // The same bits on every vector path.
            for (qn_simd path : qn_test::simd_paths()) {
                qn_ecma_fluct_spectrum on_path = sp.s;
                qn_ecma_fluct_spectrum_prepare(&on_path, on_path.lead, on_path.tail, turns(), path);
                qn_ecma_fluct_fit again;
                qn_ecma_fluct_fit_pair(on_path, f, bins, &again);
                EXPECT_TRUE(again.constant == pair.constant && again.line_re[0] == pair.line_re[0] &&
                            again.line_im[0] == pair.line_im[0] && again.error == pair.error)
                    << sp.what << ", " << f << " Hz, " << qn_simd_name(path);
            }
        }
    }
}

TEST(EcmaFluctuationUnit, TuningFindsTheRateBetweenBins) {
    // From a third of a bin away on either side, the search ends within
    // the 4e-7 x 1500 Hz its end allows.
    for (double truth : {2.3, 4.1, 9.2}) {
        const auto s = spectrum_of(envelope_of(0.05, {{truth, 0.02, 0.4}}), 64, 64);
        for (double start : {truth - 0.25, truth + 0.25}) {
            const double tuned = qn_ecma_fluct_tune_rate(s, start);
            EXPECT_NEAR(tuned, truth, 1e-3) << truth << " Hz from " << start;
        }
    }
}

TEST(EcmaFluctuationUnit, LinesTooCloseToTellApart) {
    // Two rates 1e-7 Hz apart have columns alike to rounding: the pivoted
    // solve keeps one, and the pair fits as well as the single line.
    const auto s = spectrum_of(envelope_of(0.05, {{4.0, 0.02, 0.3}}), 64, 64);
    auto work = std::make_unique<qn_ecma_fluct_lines_work>();
    const double twins[2] = {4.0, 4.0 + 1e-7};
    qn_ecma_fluct_fit two, one;
    ASSERT_TRUE(qn_ecma_fluct_fit_lines(s, twins, 2, 17, work.get(), &two));
    ASSERT_TRUE(qn_ecma_fluct_fit_lines(s, twins, 1, 17, work.get(), &one));
    for (double v : {two.constant, two.line_re[0], two.line_im[0], two.line_re[1], two.line_im[1], two.error})
        EXPECT_TRUE(std::isfinite(v));
    const std::complex<double> sum(two.line_re[0] + two.line_re[1], two.line_im[0] + two.line_im[1]);
    EXPECT_NEAR(std::abs(sum), 0.01, 1e-6);
    EXPECT_NEAR(two.error, one.error, 1e-9 * s.power_sum[17]);
    // A pair at a rate of almost 0 is the constant again.
    qn_ecma_fluct_fit nearly_constant;
    qn_ecma_fluct_fit_pair(s, 1e-9, 17, &nearly_constant);
    EXPECT_TRUE(std::isfinite(nearly_constant.constant) && std::isfinite(nearly_constant.error));
}

TEST(EcmaFluctuationUnit, MedianOnEveryPath) {
    const auto noise = qn_test::uniform_values(points, 11);
    // Rising and falling runs enter above or below the whole window.
    std::vector<double> smooth(points), ties(points, 0.25), steps(points), zero(points, 0.0), rising(points),
        falling(points);
    for (int n = 0; n < points; ++n) {
        smooth[n] = 0.03 * (1 + 0.9 * std::sin(2 * M_PI * 4 * n / rate)) + 0.001 * noise[n];
        steps[n] = std::round(4 * std::fabs(noise[n])) / 4;
        rising[n] = 1e-3 * n;
        falling[n] = 1e-3 * (points - n);
    }
    std::vector<double> rough(noise.begin(), noise.end());
    for (double &v : rough) v = std::fabs(v);
    for (const auto *x : {&smooth, &rough, &ties, &steps, &zero, &rising, &falling}) {
        std::vector<double> expected(points, 0.0);
        for (int i = 64; i < points - 64; ++i) {
            std::vector<double> w(x->begin() + i - 16, x->begin() + i + 17);
            std::nth_element(w.begin(), w.begin() + 16, w.end());
            expected[i] = w[16];
        }
        for (qn_simd path : qn_test::simd_paths()) {
            std::vector<double> got(points, 0.0), first(points, 0.0), second(points, 0.0);
            qn_ecma_fluct_kernels_for(path).median(x->data(), got.data());
            EXPECT_EQ(std::memcmp(got.data() + 64, expected.data() + 64, sizeof(double) * (points - 128)), 0)
                << qn_simd_name(path);
            // Two series at once, this one and the noise.
            qn_ecma_fluct_kernels_for(path).median_pair(x->data(), first.data(), rough.data(), second.data());
            qn_ecma_fluct_kernels_for(path).median(rough.data(), got.data());
            EXPECT_EQ(std::memcmp(first.data() + 64, expected.data() + 64, sizeof(double) * (points - 128)), 0)
                << qn_simd_name(path);
            EXPECT_EQ(std::memcmp(second.data() + 64, got.data() + 64, sizeof(double) * (points - 128)), 0)
                << qn_simd_name(path);
        }
    }
}

TEST(EcmaFluctuationUnit, PhasesGatheredOnEveryPath) {
    // Whole vectors of groups and a remainder; rows longer than the groups.
    const auto x = qn_test::uniform_values(32 * 515, 17);
    constexpr std::size_t row = 530;
    for (std::size_t count : {std::size_t{515}, std::size_t{7}, std::size_t{1}}) {
        std::vector<double> rows(16 * row, -1.0), instants(count, -1.0);
        for (std::size_t m = 0; m < count; ++m) {
            instants[m] = x[32 * m];
            for (std::size_t j = 0; j < 16; ++j) rows[j * row + m] = x[32 * m + 2 * j + 1];
        }
        for (qn_simd path : qn_test::simd_paths()) {
            std::vector<double> got_rows(16 * row, -1.0), got_instants(count, -1.0);
            qn_ecma_fluct_kernels_for(path).gather_phases(x.data(), count, got_rows.data(), row, got_instants.data());
            EXPECT_EQ(got_rows, rows) << count << " groups, " << qn_simd_name(path);
            EXPECT_EQ(got_instants, instants) << count << " groups, " << qn_simd_name(path);
        }
    }
}

TEST(EcmaFluctuationUnit, MagnitudesOnEveryPath) {
    // Values of every size and sign, zeros of both signs, a remainder after
    // whole vectors; then squares that overflow.
    const auto a = qn_test::uniform_values(203, 19), b = qn_test::uniform_values(203, 23);
    std::vector<double> re(203), im(203), expected(203);
    for (std::size_t i = 0; i < re.size(); ++i) {
        re[i] = i % 9 == 4 ? -0.0 : a[i] * std::pow(10.0, 100 * b[i]);
        im[i] = b[i] * std::pow(10.0, 30 * a[i]);
        expected[i] = std::sqrt(re[i] * re[i] + im[i] * im[i]);
    }
    for (qn_simd path : qn_test::simd_paths()) {
        std::vector<double> got(re.size());
        ASSERT_TRUE(qn_ecma_fluct_kernels_for(path).magnitudes(re.data(), im.data(), 203, got.data()));
        EXPECT_EQ(std::memcmp(got.data(), expected.data(), sizeof(double) * got.size()), 0) << qn_simd_name(path);
        std::vector<double> huge = {3.0, 1e200, 4.0}, small = {4.0, 1.0, 3.0};
        EXPECT_FALSE(qn_ecma_fluct_kernels_for(path).magnitudes(huge.data(), small.data(), 3, got.data()))
            << qn_simd_name(path);
    }
}

TEST(EcmaFluctuationUnit, RoundingToDecimalsOnEveryPath) {
    // Ties (k + 0.5) 1e-8, either sign, zeros of both signs, values of
    // every size, and the end that overflows.
    const auto noise = qn_test::uniform_values(1000, 13);
    std::vector<double> x = {0.0, -0.0, 1e-300, -1e-300, 4e-9, -4e-9, 5e-9, -5e-9, 1e30, -1e30, 0.045};
    for (int k = 0; k < 400; ++k) x.push_back((k % 2 == 0 ? 1 : -1) * (k + 0.5) / 1e8);
    for (double v : noise) x.push_back(v * std::pow(10.0, 8 * v));
    for (qn_simd path : qn_test::simd_paths()) {
        std::vector<double> got = x;
        ASSERT_TRUE(qn_ecma_fluct_kernels_for(path).round_decimals(got.data(), static_cast<int>(got.size())));
        for (std::size_t i = 0; i < x.size(); ++i) {
            const double expected = std::round(x[i] * 1e8) / 1e8;
            ASSERT_EQ(std::memcmp(&got[i], &expected, sizeof expected), 0)
                << qn_simd_name(path) << ": " << x[i] << " gives " << got[i] << ", not " << expected;
        }
        std::vector<double> huge = {1.0, 1e301, 2.0};
        EXPECT_FALSE(qn_ecma_fluct_kernels_for(path).round_decimals(huge.data(), 3)) << qn_simd_name(path);
    }
}

TEST(EcmaFluctuationUnit, FastEnvelopeIsTheLiteralOne) {
    // A ring of two blocks of a band-limited noise with a slow swell; the
    // block from a segment boundary and from anywhere.
    constexpr std::size_t span = 2 * 65536, mask = span - 1;
    const auto noise = qn_test::white_noise(1.0, span, 5);
    std::vector<double> ring(span);
    double lowpass = 0;
    for (std::size_t i = 0; i < span; ++i) {
        lowpass = 0.97 * lowpass + noise[i];
        ring[i] = lowpass * std::sin(2 * M_PI * 1000 * i / 48000.0) * (1 + 0.5 * std::sin(2 * M_PI * 3 * i / 48000.0));
    }
    std::unique_ptr<qn_ecma_fluct_envelope_work, void (*)(qn_ecma_fluct_envelope_work *)> literal(
        qn_ecma_fluct_envelope_make(qn_ecma_fluct_transforms::literal), qn_ecma_fluct_envelope_free);
    ASSERT_TRUE(literal);
    for (std::size_t start : {std::size_t{0}, std::size_t{81920}, std::size_t{12345}, std::size_t{120001}}) {
        std::vector<double> expected(points);
        ASSERT_TRUE(qn_ecma_fluct_envelope_literal(literal.get(), ring.data(), mask, start, expected.data()));
        const double largest = *std::max_element(expected.begin(), expected.end());
        for (qn_simd path : qn_test::simd_paths()) {
            std::unique_ptr<qn_ecma_fluct_envelope_work, void (*)(qn_ecma_fluct_envelope_work *)> fast(
                qn_ecma_fluct_envelope_make(qn_ecma_fluct_transforms::fast, path), qn_ecma_fluct_envelope_free);
            ASSERT_TRUE(fast);
            // The block's fold summed in one pass, and by adding the
            // segments' folds one by one (as for the last block).
            std::vector<double> folds(4 * qn_ecma_fluct_fold_values), instants(points);
            std::vector<double> sum(qn_ecma_fluct_fold_values), added(qn_ecma_fluct_fold_values, 0.0);
            const double *each[4];
            for (int q = 0; q < 4; ++q) {
                double *fold = folds.data() + q * qn_ecma_fluct_fold_values;
                ASSERT_TRUE(qn_ecma_fluct_segment_fold(fast.get(), ring.data(), mask, (start + 16384 * q) & mask,
                                                       fold, instants.data() + 512 * q));
                qn_ecma_fluct_fold_add(added.data(), fold, q);
                each[q] = fold;
            }
            qn_ecma_fluct_fold_sum(sum.data(), each);
            EXPECT_TRUE(std::equal(sum.begin(), sum.end(), added.begin())) << qn_simd_name(path);
            std::vector<double> got(points);
            ASSERT_TRUE(qn_ecma_fluct_fold_envelope(fast.get(), sum.data(), instants.data(), got.data()));
            for (int m = 0; m < points; ++m)
                ASSERT_NEAR(got[m], expected[m], 1e-13 * largest)
                    << "start " << start << ", " << qn_simd_name(path) << ", instant " << m;
        }
    }
}

// The band analysis with its own work.
struct band_analysis {
    std::unique_ptr<qn_ecma_fluct_band_work, void (*)(qn_ecma_fluct_band_work *)> work{
        qn_ecma_fluct_band_work_make(), qn_ecma_fluct_band_work_free};
    qn_ecma_fluct_band_result operator()(const std::vector<double> &e, int band = 17) {
        qn_ecma_fluct_band_result r{};
        EXPECT_TRUE(qn_ecma_fluct_band(e.data(), band, work.get(), &r));
        return r;
    }
};

TEST(EcmaFluctuationUnit, BandAnalysis) {
    band_analysis analyse;
    const auto noise = qn_test::uniform_values(points, 21);
    // Nothing to analyse: silence, an envelope below 5 uPa, a steady one,
    // one whose ripple is below 0.1 % of its mean, one that is loud only
    // in its first 500 values (the window ends too early).
    std::vector<double> silence(points, 0.0), faint(points, 4e-6), steady(points, 0.02), ripple(points),
        early(points, 0.0);
    for (int n = 0; n < points; ++n) ripple[n] = 0.02 * (1 + 2e-4 * noise[n]);
    for (int n = 0; n < 500; ++n) early[n] = 0.02 * (1 + 0.5 * std::sin(2 * M_PI * 4 * n / rate));
    for (const auto *e : {&silence, &faint, &steady, &ripple, &early}) EXPECT_FALSE(analyse(*e).reached);

    // A swell at 4 Hz: the weighted power of its line and the power of the
    // whole envelope (constant and line).
    const auto swell = envelope_of(0.05, {{4.0, 0.02, 0.0}});
    const auto r = analyse(swell);
    ASSERT_TRUE(r.reached);
    EXPECT_NEAR(r.power, 0.05 * 0.05 + 2 * 0.01 * 0.01, 2e-5);
    EXPECT_NEAR(r.weighted, 0.01 * 0.01 * qn_ecma_fluct_rate_weight(4.0, 1.0), 2e-6);
    // Twice the depth, four times the weighted power; a slower swell weighs
    // less.
    const auto deeper = analyse(envelope_of(0.05, {{4.0, 0.04, 0.0}}));
    EXPECT_NEAR(deeper.weighted / r.weighted, 4.0, 0.05);
    EXPECT_LT(analyse(envelope_of(0.05, {{1.0, 0.02, 0.0}})).weighted, 0.5 * r.weighted);
    // A quiet stretch of 500 values splits the window; the larger part, up
    // to 64 values before the stretch, sees the same swell.
    auto half = swell;
    std::fill(half.begin() + 1000, half.begin() + 1500, 0.0);
    const auto h = analyse(half);
    ASSERT_TRUE(h.reached);
    EXPECT_NEAR(h.weighted / r.weighted, 1.0, 0.1);
    // A non-finite envelope value is a failure.
    auto broken = swell;
    broken[700] = std::nan("");
    qn_ecma_fluct_band_result bad{};
    EXPECT_FALSE(qn_ecma_fluct_band(broken.data(), 17, analyse.work.get(), &bad));

    // Two bands at once give each band's own result: windows of different
    // lengths either way round, and a band with nothing to analyse.
    const std::vector<double> *pairs[][2] = {{&swell, &half}, {&half, &swell}, {&steady, &swell}, {&swell, &silence}};
    for (const auto &pair : pairs) {
        const double *envelopes[2] = {pair[0]->data(), pair[1]->data()};
        const uint64_t bands[2] = {17, 30};
        qn_ecma_fluct_band_result both[2];
        ASSERT_TRUE(qn_ecma_fluct_bands(envelopes, bands, 2, analyse.work.get(), both));
        for (int j = 0; j < 2; ++j) {
            const auto alone = analyse(*pair[j], static_cast<int>(bands[j]));
            EXPECT_EQ(both[j].reached, alone.reached);
            EXPECT_EQ(both[j].weighted, alone.weighted);
            EXPECT_EQ(both[j].power, alone.power);
        }
    }
}

}  // namespace

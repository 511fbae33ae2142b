// The Aures engine's detectors, weighting, flattening, result codes and
// their statuses.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <numbers>
#include <random>
#include <string>
#include <vector>

#include "fft/fft.h"
#include "support/alloc_hook.h"
#include "support/aures_literal.h"
#include "support/expect.h"
#include "support/signals.h"
#include "tonality_aures/components.h"
#include "tonality_aures/engine.h"
#include "tonality_aures/exports.h"
#include "tonality_aures/weighting.h"

using qn_test::near_relative;

namespace {

constexpr double not_a_number = std::numeric_limits<double>::quiet_NaN();

std::vector<double> tone(double hz, double level_db, std::size_t n) {
    return qn_test::sine(hz, qn_test::rms_for_level(level_db) * std::sqrt(2.0), n);
}

// The narrow-band search with its own workspace, as the engine lends it:
// over levels given in full, or computed on first use from power ratios.
struct search_run {
    std::vector<double> level, rate, arrays;
    std::vector<unsigned char> claimed;
    std::vector<qn_aures_narrowband> records = std::vector<qn_aures_narrowband>(qn_aures_max_narrowbands);
    int32_t count = 0;

    search_run(const std::vector<double> &L, int32_t len, double df, const std::vector<double> *ratio = nullptr)
        : level(L.begin(), L.begin() + len), rate(static_cast<std::size_t>(len)),
          arrays(8 * static_cast<std::size_t>(len)), claimed(static_cast<std::size_t>(len)) {
        const bool rises = qn_aures_bin_rates(rate.data(), len, df);
        double *a = arrays.data();
        const qn_aures_search_workspace w = {rate.data(), rises,       a,           a + len,     a + 2 * len,
                                             a + 3 * len, a + 4 * len, a + 5 * len, a + 6 * len, a + 7 * len,
                                             claimed.data()};
        const qn_aures_spectrum spectrum = {level.data(), ratio ? ratio->data() : nullptr, len};
        count = qn_aures_narrowband_search(spectrum, w, records.data(), df);
    }
};

bool same(double a, double b) { return std::memcmp(&a, &b, sizeof a) == 0; }

::testing::AssertionResult same_records(const search_run &fast, int literal_count,
                                        const std::vector<qn_test::aures_record> &literal) {
    if (fast.count != literal_count)
        return ::testing::AssertionFailure() << fast.count << " records, the literal search " << literal_count;
    for (int r = 0; r < fast.count; ++r) {
        const qn_aures_narrowband &a = fast.records[static_cast<std::size_t>(r)];
        const qn_test::aures_record &b = literal[static_cast<std::size_t>(r)];
        if (a.start != b.start || a.end != b.end || !same(a.centre, b.centre) || !same(a.bandwidth, b.bandwidth) ||
            !same(a.level, b.level) || !same(a.lower_edge_level, b.lower_edge_level) ||
            !same(a.upper_edge_level, b.upper_edge_level))
            return ::testing::AssertionFailure() << "record " << r << " differs: " << a.start << "..." << a.end
                                                 << " against " << b.start << "..." << b.end;
    }
    return ::testing::AssertionSuccess();
}

// The search over L (6001 bins, 4 Hz apart) against the literal search, to
// the bit: over the levels given in full, and over levels computed on first
// use from `ratio` (whose levels L are). Returns the literal search's trace.
qn_test::aures_search_trace expect_search_as_literal(const std::vector<double> &L, const std::vector<double> &ratio,
                                                     const std::string &what) {
    std::vector<qn_test::aures_record> records;
    qn_test::aures_search_trace trace;
    const int literal = qn_test::aures_literal_search(L, 6001, 4.0, records, &trace);
    const search_run full(L, 6001, 4.0);
    EXPECT_TRUE(same_records(full, literal, records)) << what;
    EXPECT_EQ(full.claimed, trace.claimed) << what;
    const search_run lazy(std::vector<double>(6001, not_a_number), 6001, 4.0, &ratio);
    EXPECT_TRUE(same_records(lazy, literal, records)) << what << ", levels on first use";
    EXPECT_EQ(lazy.claimed, trace.claimed) << what << ", levels on first use";
    for (int i = 0; i < 6001; ++i) {
        const double v = lazy.level[static_cast<std::size_t>(i)];
        EXPECT_TRUE(std::isnan(v) || v == L[static_cast<std::size_t>(i)]) << what << ", bin " << i;
    }
    return trace;
}

// A flat spectrum of `len` bins at `floor_db` with single-bin lines.
std::vector<double> lines(std::size_t len, double floor_db, const std::vector<std::pair<int, double>> &at) {
    std::vector<double> L(len, floor_db);
    for (const auto &[bin, level] : at) L[static_cast<std::size_t>(bin)] = level;
    return L;
}

}  // namespace

TEST(AuresComponents, CriticalBandRate) {
    EXPECT_EQ(qn_aures_bark(0), 0.0);
    EXPECT_NEAR(qn_aures_bark(1000), 8.51, 0.01);
    EXPECT_NEAR(qn_aures_bark(5000), 18.6, 0.1);
    std::vector<double> rate(6001);
    EXPECT_TRUE(qn_aures_bin_rates(rate.data(), 6001, 4.0)) << "the bins of a band of rates are one run";
    EXPECT_EQ(rate[250], qn_aures_bark(1000.0));
    int32_t first = 0, last = 0;
    qn_aures_rate_run(rate.data(), 6001, true, rate[100], rate[200], &first, &last);
    EXPECT_EQ(first, 100);
    EXPECT_EQ(last, 200);
    qn_aures_rate_run(rate.data(), 6001, false, rate[100], rate[200], &first, &last);
    EXPECT_EQ(first, 0);
    EXPECT_EQ(last, 6000);
}

TEST(AuresComponents, NarrowBandOfASine) {
    const auto x = tone(1000, 60, 12000);
    const auto L = qn_test::aures_literal_levels(x.data());
    const search_run run(L, 6001, 4.0);
    ASSERT_EQ(run.count, 1);
    const qn_aures_narrowband &r = run.records[0];
    EXPECT_EQ(r.start, 223);
    EXPECT_EQ(r.end, 277);
    EXPECT_EQ(r.centre, std::sqrt(992.0 * 1008.0));
    EXPECT_NEAR(r.bandwidth, 10.667, 0.001);
    EXPECT_NEAR(r.level, 61.76, 0.01);
    EXPECT_EQ(r.lower_edge_level, L[223]);
    EXPECT_EQ(r.upper_edge_level, L[277]);
    for (int v = 0; v < 6001; ++v) EXPECT_EQ(run.claimed[static_cast<std::size_t>(v)], v >= 223 && v <= 277) << v;
}

TEST(AuresComponents, SilenceStopsTheSearchAtOnce) {
    const auto L = qn_test::aures_literal_levels(std::vector<double>(12000, 0.0).data());
    EXPECT_NEAR(L[100], 10 * std::log10(1e-99 / 4e-10), 1e-9);
    const search_run run(L, 6001, 4.0);
    EXPECT_EQ(run.count, 0);
    for (unsigned char c : run.claimed) ASSERT_EQ(c, 0);
}

TEST(AuresComponents, RegionPeaksOnlyBetween20HzAnd5kHz) {
    // A region peaks where the smoothed level (the power mean of a bin and
    // its two neighbours) is highest within bins 5 (20 Hz) ... 1250 (5 kHz):
    // a lone line one bin outside still lifts the bin next to it, a line
    // two bins outside claims nothing.
    struct Case {
        int bin;
        bool claims;
    };
    for (const Case c : {Case{3, false}, Case{4, true}, Case{5, true}, Case{1250, true}, Case{1251, true},
                         Case{1252, false}}) {
        const search_run run(lines(6001, -20, {{c.bin, 40}}), 6001, 4.0);
        bool any = false;
        for (unsigned char claimed : run.claimed) any = any || claimed != 0;
        EXPECT_EQ(any, c.claims) << "line at bin " << c.bin;
        EXPECT_EQ(run.claimed[static_cast<std::size_t>(c.bin)] != 0, c.claims) << "line at bin " << c.bin;
    }
}

TEST(AuresComponents, TonalPeakRules) {
    // Spectra at -20 dB with lines of 30 dB, and one narrow band over bins
    // 500 ... 520.
    struct Case {
        const char *what;
        std::vector<std::pair<int, double>> lines;
        std::vector<int32_t> peaks;
    };
    const Case cases[] = {
        {"bin 8, below 36 Hz", {{8, 30}}, {}},
        {"bin 9, 36 Hz", {{9, 30}}, {9}},
        {"bin 1250, 5 kHz", {{1250, 30}}, {1250}},
        {"bin 1251, above 5 kHz", {{1251, 30}}, {}},
        {"a plateau yields its lower bin", {{100, 30}, {101, 30}}, {100}},
        {"inside the narrow band", {{500, 30}, {520, 30}}, {}},
        {"next to the narrow band", {{499, 30}, {521, 30}}, {499, 521}},
        {"0 dB is not above 0 dB", {{700, 0}}, {}},
        {"just above 0 dB", {{700, 1e-9}}, {700}},
        {"6.9 dB above the bin 9 above", {{800, 30}, {809, 23.1}}, {}},
        {"7 dB above the bins 6 below", {{800, 30}, {794, 23}}, {800}},
        {"bins 7 and 8 away are not compared", {{800, 30}, {793, 29}, {808, 29}}, {793, 800, 808}},
    };
    const qn_aures_narrowband record = {500, 520, 2040, 10, 30, -20, -20};
    for (const Case &c : cases) {
        const auto L = lines(12000, -20, c.lines);
        std::vector<int32_t> bins(1246);
        std::vector<double> levels(1246), freqs(1246);
        const int32_t n = qn_aures_pick_peaks(L.data(), 9, 1250, &record, 1, 48000, 12000, bins.data(),
                                              levels.data(), freqs.data(), 1246);
        ASSERT_GE(n, 0) << c.what;
        bins.resize(static_cast<std::size_t>(n));
        EXPECT_EQ(bins, c.peaks) << c.what;
        for (std::size_t i = 0; i < bins.size(); ++i) {
            EXPECT_EQ(freqs[i], 4.0 * bins[i]) << c.what;
            EXPECT_EQ(levels[i], L[static_cast<std::size_t>(bins[i])]) << c.what;
        }
    }
    const auto L = lines(12000, -20, {{100, 30}, {200, 30}});
    std::vector<int32_t> bins(1);
    std::vector<double> levels(1), freqs(1);
    EXPECT_EQ(qn_aures_pick_peaks(L.data(), 9, 1250, nullptr, 0, 48000, 12000, bins.data(), levels.data(),
                                  freqs.data(), 1),
              qn_aures_step_failed)
        << "more peaks than room";
}

TEST(AuresComponents, OnlyTwentyPassesRun) {
    // 25 lines of distinct levels, 160 Hz apart: each pass claims the region
    // of the highest line left (and no more), so after twenty passes the
    // five lowest lines are left unclaimed. Every line outside a recorded
    // range is a tonal peak.
    std::vector<std::pair<int, double>> at;
    for (int i = 0; i < 25; ++i) at.push_back({100 + 40 * i, 30.0 + ((7 * i) % 25)});
    const auto L = lines(12000, -20, at);
    const search_run run(L, 6001, 4.0);
    int inside = 0;
    for (const auto &[bin, level] : at) {
        EXPECT_EQ(run.claimed[static_cast<std::size_t>(bin)] != 0, level >= 35.0) << "line at bin " << bin;
        for (int32_t r = 0; r < run.count; ++r)
            inside += bin >= run.records[static_cast<std::size_t>(r)].start &&
                      bin <= run.records[static_cast<std::size_t>(r)].end;
    }
    std::vector<int32_t> bins(1246);
    std::vector<double> levels(1246), freqs(1246);
    EXPECT_EQ(qn_aures_pick_peaks(L.data(), 9, 1250, run.records.data(), run.count, 48000, 12000, bins.data(),
                                  levels.data(), freqs.data(), 1246),
              25 - inside);
}

TEST(AuresComponents, SearchAgreesWithTheLiteralSearchOnSignals) {
    // Over levels given in full, and over levels computed on first use from
    // the power ratios, as the engine runs it.
    const std::vector<std::vector<double>> signals = {
        tone(1000, 60, 12000),
        tone(3000, 40, 12000),
        qn_test::white_noise(qn_test::rms_for_level(60), 12000, 1),
        qn_test::pink_noise(qn_test::rms_for_level(50), 12000, 2),
    };
    for (std::size_t s = 0; s < signals.size(); ++s)
        expect_search_as_literal(qn_test::aures_literal_levels(signals[s].data()),
                                 qn_test::aures_literal_ratios(signals[s].data()), "signal " + std::to_string(s));
}

TEST(AuresComponents, SearchAgreesWithTheLiteralSearchOnRandomSpectra) {
    // Spectra of random clusters, plateaus and slopes over a random floor:
    // regions that abut, edges at claimed bins, extensions cut short by
    // claims, regions that fail each test. Both searches, over levels given
    // in full and computed on first use, must agree to the bit; some of the
    // spectra must meet a 3-dB edge that is open at a bin an earlier pass
    // claimed (the level test comes first).
    std::mt19937_64 rng(20240611);
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    int open_claimed = 0, recorded = 0;
    for (int trial = 0; trial < 300; ++trial) {
        std::vector<double> ratio(6001);
        const double floor_db = -30 + 40 * unit(rng);
        for (double &v : ratio) v = floor_db + 6 * unit(rng);
        const int clusters = 1 + static_cast<int>(unit(rng) * 30);
        for (int c = 0; c < clusters; ++c) {
            const int centre = 3 + static_cast<int>(unit(rng) * 1400);
            const int width = 1 + static_cast<int>(unit(rng) * 12);
            const double top = floor_db + 10 + 60 * unit(rng);
            const bool plateau = unit(rng) < 0.3;
            for (int v = centre - width; v <= centre + width; ++v) {
                if (v < 0 || v > 6000) continue;
                const double level = plateau ? top : top - 6.0 * std::abs(v - centre) * unit(rng);
                ratio[static_cast<std::size_t>(v)] = std::max(ratio[static_cast<std::size_t>(v)], level);
            }
        }
        std::vector<double> L(6001);
        for (std::size_t i = 0; i < L.size(); ++i) {
            ratio[i] = std::pow(10.0, ratio[i] / 10);
            L[i] = 10 * std::log10(ratio[i]);
        }
        const auto trace = expect_search_as_literal(L, ratio, "trial " + std::to_string(trial));
        if (::testing::Test::HasFailure()) return;
        open_claimed += trace.open_claimed_edges;
        recorded += trace.records > 0;
    }
    EXPECT_GT(open_claimed, 0) << "no spectrum had an open edge at a claimed bin";
    EXPECT_GT(recorded, 50);
}

TEST(AuresComponents, SpectrumBeyondThreeThousandDecibelsFails) {
    // A sum of three bin powers overflows: the search fails at once.
    auto L = lines(6001, 0, {{3000, 3083}, {3001, 3083}, {3002, 3083}});
    EXPECT_EQ(search_run(L, 6001, 4.0).count, qn_aures_step_failed);
    L = lines(6001, 0, {{3000, 3000}});
    EXPECT_EQ(search_run(L, 6001, 4.0).count, 0);
}

TEST(AuresComponents, PeakBandwidths) {
    // A line on a bin centre and one midway between bins: the Hann window
    // gives 3-dB widths of about 3.987 Hz and 5.72 Hz.
    const auto x = tone(1000, 60, 12000);
    const auto y = tone(1002, 60, 12000);
    const auto L_on = qn_test::aures_literal_levels(x.data());
    const auto L_mid = qn_test::aures_literal_levels(y.data());
    const int32_t on = 250, mid = L_mid[250] >= L_mid[251] ? 250 : 251;
    double bw = 0;
    ASSERT_EQ(qn_aures_peak_bandwidths(L_on.data(), 12000, &on, &L_on[250], 1, &bw, 48000), 0);
    EXPECT_NEAR(bw, 3.987, 0.001);
    ASSERT_EQ(qn_aures_peak_bandwidths(L_mid.data(), 12000, &mid, &L_mid[static_cast<std::size_t>(mid)], 1, &bw,
                                       48000),
              0);
    EXPECT_NEAR(bw, 5.72, 0.01);

    // A peak on a flat spectrum has no crossing: its bandwidth is not a
    // number, and the step fails; a count of 0 succeeds at once.
    const std::vector<double> flat(12000, 10.0);
    const int32_t p = 500;
    const double level = 10.0;
    bw = -1;
    EXPECT_EQ(qn_aures_peak_bandwidths(flat.data(), 12000, &p, &level, 1, &bw, 48000), qn_aures_step_failed);
    EXPECT_EQ(bw, -1);
    EXPECT_EQ(qn_aures_peak_bandwidths(flat.data(), 12000, &p, &level, 0, &bw, 48000), 0);
}

TEST(AuresWeighting, SplExcessOfOneAndTwoComponents) {
    // No residual noise: one component stands above the threshold in quiet
    // only; two mask each other by list position, the earlier one along
    // its upper slope 24 + 230 / f - 0.2 L, the later one along 27 dB/Bark.
    std::vector<double> rate(1251), power(1246, 0.0);
    const bool rises = qn_aures_bin_rates(rate.data(), 1251, 4.0);
    const qn_aures_masking masking = {power.data(), rate.data() + 5, 1246, rises};
    const auto ltq = [](double f) {
        const double v = f / 1000;
        return 3.64 * std::pow(v, -0.8) - 6.5 * std::exp(-0.6 * (v - 3.3) * (v - 3.3)) + 0.001 * std::pow(v, 4);
    };
    const double f1 = 1000, l1 = 60, z1 = qn_aures_bark(f1);
    const int32_t band = 245;
    double excess = -1;
    ASSERT_EQ(qn_aures_spl_excess(masking, &f1, &z1, &l1, &band, 1, &excess), 0);
    EXPECT_TRUE(near_relative(excess, 60 - ltq(1000), 1e-12));

    const double f[2] = {500, 1000}, l[2] = {50, 60}, z[2] = {qn_aures_bark(500), qn_aures_bark(1000)};
    const int32_t bands[2] = {-1, -1};
    double dl[2] = {0, 0};
    ASSERT_EQ(qn_aures_spl_excess(masking, f, z, l, bands, 2, dl), 0);
    const double by_second = std::pow(10, (60 - 27 * (z[1] - z[0])) / 20);
    const double by_first = std::pow(10, (50 - (z[1] - z[0]) * (24 + 230 / 500.0 - 0.2 * 50)) / 20);
    EXPECT_TRUE(near_relative(dl[0], 50 - 10 * std::log10(by_second * by_second + std::pow(10, ltq(500) / 10)), 1e-9));
    EXPECT_TRUE(near_relative(dl[1], 60 - 10 * std::log10(by_first * by_first + std::pow(10, ltq(1000) / 10)), 1e-9));

    // Residual noise in the band takes the excess below 0, stored as 0; a
    // level that is not a number fails the step.
    std::vector<double> loud(1246, 1e7);
    const qn_aures_masking noisy = {loud.data(), rate.data() + 5, 1246, rises};
    ASSERT_EQ(qn_aures_spl_excess(noisy, &f1, &z1, &l1, &band, 1, &excess), 0);
    EXPECT_EQ(excess, 0.0);
    const double bad = not_a_number;
    EXPECT_EQ(qn_aures_spl_excess(masking, &f1, &z1, &bad, &band, 1, &excess), qn_aures_step_failed);
}

TEST(AuresWeighting, SplExcessLeavesOutTheComponentsOwnBins) {
    // Noise only in the component's own bin and its neighbours does not mask it.
    std::vector<double> rate(1251), power(1246, 0.0);
    const bool rises = qn_aures_bin_rates(rate.data(), 1251, 4.0);
    for (int j = 243; j <= 247; ++j) power[static_cast<std::size_t>(j)] = 1e8;
    const qn_aures_masking masking = {power.data(), rate.data() + 5, 1246, rises};
    const double f = 1000, l = 60, z = qn_aures_bark(f);
    int32_t band = 245;
    double excess = 0;
    ASSERT_EQ(qn_aures_spl_excess(masking, &f, &z, &l, &band, 1, &excess), 0);
    EXPECT_GT(excess, 50);
    band = -1;
    ASSERT_EQ(qn_aures_spl_excess(masking, &f, &z, &l, &band, 1, &excess), 0);
    EXPECT_EQ(excess, 0.0);
}

TEST(AuresWeighting, TonalWeight) {
    // The 1 kHz sine of 60 dB: w1 = 1 (no wider than the window), w2 w3.
    {
        const double f = 999.97, B = 10.667, dl = 56.63, bw = 10.668;
        EXPECT_NEAR(qn_aures_tonal_weight(&f, &B, &dl, &bw, 1), 0.7077, 0.0001);
    }
    // Components at 0 Hz or with no excess add nothing; a negative window
    // bandwidth or a value that is not a number is unusable.
    const double f[3] = {0, 1000, 2000}, B[3] = {5, 5, 5}, dl[3] = {40, 0, 30}, bw[3] = {5.72, 5.72, 5.72};
    const double only_third = qn_aures_tonal_weight(f + 2, B + 2, dl + 2, bw + 2, 1);
    EXPECT_GT(only_third, 0);
    EXPECT_EQ(qn_aures_tonal_weight(f, B, dl, bw, 3), only_third);
    EXPECT_EQ(qn_aures_tonal_weight(f, B, dl, bw, 2), 0.0);
    EXPECT_EQ(qn_aures_tonal_weight(f, B, dl, bw, 0), 0.0);
    const double negative = -1, unknown = not_a_number;
    EXPECT_TRUE(std::isnan(qn_aures_tonal_weight(f + 2, B + 2, dl + 2, &negative, 1)));
    EXPECT_TRUE(std::isnan(qn_aures_tonal_weight(&unknown, B, dl, bw, 1)));
    // A band wider than the window is weighted down by its width in Bark.
    const double wide = 100;
    EXPECT_LT(qn_aures_tonal_weight(f + 2, &wide, dl + 2, bw + 2, 1), 0.5 * only_third);
}

TEST(AuresWeighting, LoudnessWeightAndTonality) {
    EXPECT_EQ(qn_aures_loudness_weight(1e-99, 0.0), 0.0) << "a frame without loudness";
    EXPECT_EQ(qn_aures_tonality(0.7, 0.0), 0.0) << "a residual as loud as the frame";
    EXPECT_EQ(qn_aures_tonality(0.0, 1.0), 0.0) << "every component masked";
    EXPECT_TRUE(near_relative(qn_aures_tonality(0.7077, 1.0), 1.0, 0.001));
}

TEST(AuresEngine, FlatteningKeepsPhasesAndMakesTheSpectrumHermitian) {
    const int N = 12000;
    const auto x = tone(1000, 60, N);
    std::vector<double> Y(2 * N);
    for (int i = 0; i < N; ++i) Y[2 * static_cast<std::size_t>(i)] = x[static_cast<std::size_t>(i)];
    qn_fft_cplan_ptr plan(qn_fft_cplan_make(N));
    ASSERT_TRUE(plan && qn_fft_cforward(plan.get(), Y.data(), 1.0));
    const std::vector<double> before = Y;
    const auto mag = [](const std::vector<double> &v, int s) {
        return std::hypot(v[2 * static_cast<std::size_t>(s)], v[2 * static_cast<std::size_t>(s) + 1]);
    };
    const auto phase = [](const std::vector<double> &v, int s) {
        return std::atan2(v[2 * static_cast<std::size_t>(s) + 1], v[2 * static_cast<std::size_t>(s)]);
    };
    // 1000 Hz, 16 Hz wide: bins 248 ... 252 take the mean of bins 247 and 253.
    const double f = 1000, width = 16;
    qn_aures_flatten_tonal(Y.data(), N, &f, &width, 1, 48000);
    const double mean = 0.5 * (mag(before, 253) + mag(before, 247));
    for (int s = 248; s <= 252; ++s) {
        EXPECT_TRUE(near_relative(mag(Y, s), mean, 1e-12)) << "bin " << s;
        EXPECT_NEAR(phase(Y, s), phase(before, s), 1e-12) << "bin " << s;
    }
    EXPECT_EQ(Y[2 * 247], before[2 * 247]);
    EXPECT_EQ(Y[2 * 253], before[2 * 253]);
    for (int s = 1; s < N / 2; ++s) {
        ASSERT_EQ(Y[2 * static_cast<std::size_t>(N - s)], Y[2 * static_cast<std::size_t>(s)]) << s;
        ASSERT_EQ(Y[2 * static_cast<std::size_t>(N - s) + 1], -Y[2 * static_cast<std::size_t>(s) + 1]) << s;
    }
    EXPECT_EQ(Y[1], 0.0);
    EXPECT_EQ(Y[2 * (N / 2) + 1], 0.0);

    // At the ends of the spectrum the outer bins are bin 0 and bin N / 2.
    std::vector<double> Z(2 * N, 1.0);
    Z[0] = 3, Z[1] = 4;              // |Z[0]| = 5
    Z[2 * (N / 2)] = 7, Z[2 * (N / 2) + 1] = 0;
    const double f_ends[2] = {2, 23999}, widths[2] = {4, 20};
    qn_aures_flatten_tonal(Z.data(), N, f_ends, widths, 2, 48000);
    // Bins 0 and 1 (0 ... 4 Hz) take the mean of bins 0 and 2; bin 0 then
    // loses its imaginary part.
    const double mu = 0.5 * (std::sqrt(2.0) + 5);
    EXPECT_TRUE(near_relative(std::hypot(Z[2], Z[3]), mu, 1e-12)) << "bin 1";
    EXPECT_TRUE(near_relative(Z[0], 0.6 * mu, 1e-12)) << "bin 0";
    EXPECT_TRUE(near_relative(Z[2 * (N / 2)], 0.5 * (7 + std::sqrt(2.0)), 1e-12)) << "bin N / 2";
}

TEST(AuresEngine, ResultCodes) {
    const auto x = tone(1000, 60, 18000);
    std::vector<double> out(4, qn_test::sentinel);
    struct Case {
        const char *what;
        const double *samples;
        int32_t n;
        uint32_t field;
        double *out;
        double fs;
        bool null_frames;
        int32_t capacity;
        int32_t expected;
        int32_t frames_after;
    };
    const double inf = std::numeric_limits<double>::infinity();
    const Case cases[] = {
        {"n 0", x.data(), 0, 0, out.data(), 48000, false, 4, qn_aures_invalid_argument, 4},
        {"negative n", x.data(), -5, 0, out.data(), 48000, false, 4, qn_aures_invalid_argument, 4},
        {"null samples", nullptr, 18000, 0, out.data(), 48000, false, 4, qn_aures_invalid_argument, 4},
        {"null out", x.data(), 18000, 0, nullptr, 48000, false, 4, qn_aures_invalid_argument, 4},
        {"null frames", x.data(), 18000, 0, out.data(), 48000, true, 4, qn_aures_invalid_argument, 4},
        {"rate 0", x.data(), 18000, 0, out.data(), 0, false, 4, qn_aures_invalid_rate, 4},
        {"rate negative", x.data(), 18000, 0, out.data(), -48000, false, 4, qn_aures_invalid_rate, 4},
        {"rate NaN before field", x.data(), 18000, 2, out.data(), not_a_number, false, 4, qn_aures_invalid_rate, 4},
        {"rate infinite", x.data(), 18000, 0, out.data(), inf, false, 4, qn_aures_invalid_rate, 4},
        {"field before 44.1 kHz", x.data(), 18000, 2, out.data(), 44100, false, 4, qn_aures_invalid_argument, 4},
        {"44.1 kHz", x.data(), 18000, 1, out.data(), 44100, false, 4, qn_aures_invalid_rate, 4},
        {"too short", x.data(), 11999, 0, out.data(), 48000, false, 4, qn_aures_too_short, 4},
        {"capacity 1 of 2", x.data(), 18000, 0, out.data(), 48000, false, 1, qn_aures_capacity_too_small, 2},
        {"two frames", x.data(), 18000, 1, out.data(), 48000, false, 4, 2, 2},
    };
    for (const Case &c : cases) {
        std::fill(out.begin(), out.end(), qn_test::sentinel);
        int32_t frames = c.capacity;
        EXPECT_EQ(qn_tonality_aures_core(c.samples, c.n, c.field, c.out, c.fs, c.null_frames ? nullptr : &frames),
                  c.expected)
            << c.what;
        EXPECT_EQ(frames, c.frames_after) << c.what;
        if (c.expected < 0) {
            EXPECT_TRUE(qn_test::untouched(out)) << c.what;
        }
    }
}

TEST(AuresEngine, FailuresOfPlanScratchLoudnessAndLevels) {
    const auto x = tone(1000, 60, 12000);
    double out = 0;
    int32_t frames = 1;
    {
        qn_test_allocation_failure fail(0);
        EXPECT_EQ(qn_tonality_aures_core(x.data(), 12000, 0, &out, 48000, &frames), qn_aures_plan_failed);
    }
    qn_test_fail_allocation_at(-1);
    ASSERT_EQ(qn_tonality_aures_core(x.data(), 12000, 0, &out, 48000, &frames), 1);
    const int64_t requests = qn_test_allocation_count();
    {
        qn_test_allocation_failure fail(requests - 1);
        EXPECT_EQ(qn_tonality_aures_core(x.data(), 12000, 0, &out, 48000, &frames), qn_aures_allocation_failed);
    }

    // A 100 Hz tone of 130 dB: its third-octave level is beyond the loudness
    // model.
    const auto loud_low = tone(100, 130, 12000);
    EXPECT_EQ(qn_tonality_aures_core(loud_low.data(), 12000, 0, &out, 48000, &frames), qn_aures_loudness_failed);
    double loudness = 0;
    EXPECT_EQ(qn_aures_frame_loudness(loud_low.data(), 12000, QN_SOUND_FIELD_FREE, &loudness, 48000),
              qn_aures_loudness_failed);
    // A spectrum whose power overflows.
    std::vector<double> huge(12000, 1e300);
    for (std::size_t i = 0; i < huge.size(); i += 2) huge[i] = -1e300;
    EXPECT_EQ(qn_tonality_aures_core(huge.data(), 12000, 0, &out, 48000, &frames), qn_aures_numerical_failure);
}

TEST(AuresEngine, StatusOfEveryResult) {
    struct Case {
        int32_t result, frames_after, frames;
        qn_status status;
    };
    const Case cases[] = {
        {3, 3, 3, QN_STATUS_SUCCESS},
        {qn_aures_capacity_too_small, 3, 3, QN_STATUS_NUMERICAL_FAILURE},
        {qn_aures_allocation_failed, 3, 3, QN_STATUS_ALLOCATION_FAILED},
        {qn_aures_too_short, 3, 3, QN_STATUS_NUMERICAL_FAILURE},
        {qn_aures_invalid_rate, 3, 3, QN_STATUS_NUMERICAL_FAILURE},
        {qn_aures_invalid_argument, 3, 3, QN_STATUS_NUMERICAL_FAILURE},
        {qn_aures_plan_failed, 3, 3, QN_STATUS_ALLOCATION_FAILED},
        {qn_aures_loudness_failed, 3, 3, QN_STATUS_NUMERICAL_FAILURE},
        {qn_aures_numerical_failure, 3, 3, QN_STATUS_NUMERICAL_FAILURE},
        {qn_aures_numerical_failure - 1, 3, 3, QN_STATUS_NUMERICAL_FAILURE},
        {2, 3, 3, QN_STATUS_NUMERICAL_FAILURE},
        {3, 2, 3, QN_STATUS_NUMERICAL_FAILURE},
    };
    for (const Case &c : cases)
        EXPECT_EQ(qn_tonality_aures_status(c.result, c.frames_after, c.frames), c.status) << "result " << c.result;
}

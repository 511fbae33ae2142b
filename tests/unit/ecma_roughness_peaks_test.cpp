// The peak analysis of ECMA-418-2 roughness: band constants, peak search
// and selection, rate refinement, harmonic grouping and the floor.
#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "ecma/roughness.h"
#include "support/expect.h"

namespace {

constexpr double df = 2.9296875;  // Hz per bin
constexpr int band_1khz = 16;     // 938 Hz, best rate 72.2 Hz

std::vector<double> flat(double level = 0.1) { return std::vector<double>(257, level); }

double roughness(const std::vector<double> &v, int band = band_1khz) { return qn_ecma_band_roughness(v.data(), band); }

// The weight a fundamental at `rate` below the best rate receives.
double low_rate_weight(double rate, int band) {
    const auto k = qn_ecma_rough_constants(band);
    if (rate > k.best_rate_hz) return 1.0;
    const double x = 0.7066 * (rate / k.best_rate_hz - k.best_rate_hz / rate);
    return std::pow(1 + x * x, k.low_exponent);
}

TEST(EcmaRoughnessPeaks, BandConstants) {
    // Recomputed independently from the centre frequencies 41.0, 937.7,
    // 4645 and 18428 Hz; band 0 lies below the knee of the high-rate
    // exponent, bands 35 and 52 above 1 kHz.
    struct Case {
        int band;
        double rho, best, high, low;
    } cases[] = {
        {0, 2.2175992945548897, 4.473137266700259, -0.2471, -1.3916062652071473},
        {16, 1.05256821635071, 72.18270253810017, -0.39035496511563084, -1.102644195174712},
        {35, 2.6859741961840253, 72.69369999916792, -0.65758509002525, -0.9548970798737944},
        {52, 4.065041992992009, 72.6937, -0.9979216430883066, -0.8276565427267104},
    };
    for (const Case &c : cases) {
        const auto k = qn_ecma_rough_constants(c.band);
        EXPECT_TRUE(qn_test::near_relative(k.amplitude_divisor, c.rho, 1e-13)) << c.band;
        EXPECT_TRUE(qn_test::near_relative(k.best_rate_hz, c.best, 1e-13)) << c.band;
        EXPECT_TRUE(qn_test::near_relative(k.high_exponent, c.high, 1e-13)) << c.band;
        EXPECT_TRUE(qn_test::near_relative(k.low_exponent, c.low, 1e-13)) << c.band;
    }
}

TEST(EcmaRoughnessPeaks, NoPeakNoRoughness) {
    std::vector<double> rising(257), falling(257), valley(257, 1.0);
    for (int m = 0; m < 257; ++m) {
        rising[m] = m;
        falling[m] = 300 - m;
        valley[m] = std::fabs(m - 128.0);
    }
    EXPECT_EQ(roughness(flat(0)), 0.0);
    EXPECT_EQ(roughness(flat(5)), 0.0);
    EXPECT_EQ(roughness(rising), 0.0);
    EXPECT_EQ(roughness(falling), 0.0);
    EXPECT_EQ(roughness(valley), 0.0);
}

TEST(EcmaRoughnessPeaks, SinglePeakAtABin) {
    // A peak with equal neighbours lies exactly on its bin; its weight is
    // the sum of the three bins over the band's divisor. (The guard in the
    // mean rate of a series leaves a spread of about 1e-9 relative.)
    auto v = flat(0.1);
    v[23] = 1.0;
    v[24] = 4.0;
    v[25] = 1.0;
    const double rate = 24 * df;
    const double expected = 6.0 / qn_ecma_rough_constants(band_1khz).amplitude_divisor * low_rate_weight(rate, band_1khz);
    EXPECT_TRUE(qn_test::near_relative(roughness(v), expected, 1e-9));
}

TEST(EcmaRoughnessPeaks, PlateausTakeTheirMiddleBin) {
    const double rho = qn_ecma_rough_constants(band_1khz).amplitude_divisor;
    // Two equal bins 10 and 11: the peak is bin 10, its neighbours bins 9
    // and 11; the vertex lies half-way, where the bias is nil.
    auto two = flat(0.1);
    two[9] = 1;
    two[10] = two[11] = 4;
    two[12] = 2;
    EXPECT_TRUE(qn_test::near_relative(roughness(two), (4 + 1 + 4) / rho * low_rate_weight(10.5 * df, band_1khz), 1e-8));
    // Three equal bins 10 ... 12: the peak is bin 11, flat on top.
    auto three = flat(0.1);
    three[9] = 1;
    three[10] = three[11] = three[12] = 4;
    three[13] = 2;
    EXPECT_TRUE(qn_test::near_relative(roughness(three), 12 / rho * low_rate_weight(11 * df, band_1khz), 1e-8));
}

TEST(EcmaRoughnessPeaks, OnlyBinsTwoToTwoFiftyFiveCount) {
    auto v = flat(0.1);
    v[40] = 3;
    v[41] = 5;
    v[42] = 2;
    const double reference = roughness(v);
    ASSERT_GT(reference, 0);
    auto edges = v;
    edges[0] = 1e6;
    edges[1] = 50;
    edges[256] = 1e6;
    EXPECT_EQ(roughness(edges), reference);
    // Peaks in bins 0, 1, 2, 255 or 256 alone are no peaks.
    for (int bin : {0, 1, 2, 255, 256}) {
        auto lone = flat(0.1);
        lone[bin] = 10;
        EXPECT_EQ(roughness(lone), 0.0) << bin;
    }
    // Bin 2 is read: it is a neighbour of a peak at bin 3.
    auto low = flat(0.1);
    low[3] = 10;
    auto low2 = low;
    low2[2] = 5;
    EXPECT_NE(roughness(low), roughness(low2));
}

TEST(EcmaRoughnessPeaks, PlateauReachingTheTopEndsTheSearch) {
    auto v = flat(0.1);
    v[30] = 4;  // a peak below ...
    for (int m = 250; m <= 256; ++m) v[m] = 8;  // ... and a rise to a plateau up to 255
    auto alone = flat(0.1);
    alone[30] = 4;
    EXPECT_EQ(roughness(v), roughness(alone));
}

// Twelve equal, equally prominent peaks every 20 bins: a harmonic series
// whose ten lowest members are kept.
TEST(EcmaRoughnessPeaks, TenMostProminentLowerBinFirst) {
    auto series = [](int first, int last) {
        auto v = flat(0.1);
        for (int m = first; m <= last; m += 20) v[m] = 2;
        return v;
    };
    const double twelve = roughness(series(20, 240));
    EXPECT_GT(twelve, 0);
    EXPECT_EQ(twelve, roughness(series(20, 200)));
    EXPECT_NE(twelve, roughness(series(60, 240)));
    // An eleventh, less prominent peak is left out.
    auto eleven = series(20, 200);
    eleven[230] = 1.5;
    EXPECT_EQ(roughness(eleven), roughness(series(20, 200)));
}

TEST(EcmaRoughnessPeaks, SmallPeaksAreDropped) {
    auto v = flat(0);
    v[24] = 10;
    auto with_small = v;
    with_small[96] = 0.49;  // the fourth harmonic, below 5 % of 10
    EXPECT_EQ(roughness(with_small), roughness(v));
    auto with_larger = v;
    with_larger[96] = 0.51;
    EXPECT_NE(roughness(with_larger), roughness(v));
}

TEST(EcmaRoughnessPeaks, HarmonicsAddUp) {
    // A fundamental with its second harmonic outweighs either alone, and
    // an inharmonic companion does not join the series.
    auto fundamental = flat(0);
    fundamental[24] = 4;
    auto both = fundamental;
    both[48] = 4;
    auto inharmonic = fundamental;
    inharmonic[41] = 4;
    EXPECT_GT(roughness(both), roughness(fundamental));
    EXPECT_LT(roughness(inharmonic), roughness(both));
}

TEST(EcmaRoughnessPeaks, RatesAboveTheBestRateWeighLess) {
    auto at_best = flat(0);
    at_best[25] = 4;  // 73 Hz
    auto fast = flat(0);
    fast[100] = 4;  // 293 Hz
    EXPECT_GT(roughness(at_best), 2 * roughness(fast));
}

TEST(EcmaRoughnessPeaks, BelowTheFloorIsZero) {
    auto v = flat(0);
    v[24] = 1;
    const double unit = roughness(v);
    ASSERT_GT(unit, 0);
    // Roughness is proportional to the spectrum's scale (to about 1e-7 near
    // the floor, where the guard of the mean rate begins to show).
    const double scale = 0.074376 / unit;
    auto below = v;
    below[24] = scale * (1 - 1e-6);
    EXPECT_EQ(roughness(below), 0.0);
    auto above = v;
    above[24] = scale * (1 + 1e-6);
    EXPECT_TRUE(qn_test::near_relative(roughness(above), 0.074376, 2e-6));
}

}  // namespace

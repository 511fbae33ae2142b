// The roughness engine's tables, lookup rule, channel numbering, frame
// starts and failure paths.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <vector>

#include "roughness_dw/dw_engine.h"
#include "roughness_dw/dw_setup.h"
#include "support/alloc_hook.h"
#include "support/expect.h"
#include "support/signals.h"
#include "support/simd_paths.h"

using qn_test::near_relative;

namespace {
qn_dw_setup prepared() {
    qn_dw_setup s;
    EXPECT_TRUE(qn_dw_prepare(&s, 48000.0));
    return s;
}
}  // namespace

TEST(DwLookup, InterpolatesOnTheFirstSegment) {
    const qn_dw_point t[] = {{0, 0}, {1, 10}, {2, 10}, {4, 0}};
    struct Case {
        double x, y;
    };
    const Case cases[] = {{0, 0}, {0.5, 5}, {1, 10}, {1.5, 10}, {2, 10}, {3, 5}, {4, 0}};
    for (const Case &c : cases) EXPECT_DOUBLE_EQ(qn_dw_lookup(t, 4, c.x), c.y) << c.x;
}

TEST(DwSetup, FrameGeometryAndAnalysedBins) {
    const qn_dw_setup s = prepared();
    EXPECT_EQ(s.length, 9600);
    EXPECT_EQ(s.hop, 4800);
    EXPECT_EQ(s.bin_lo, 4);
    EXPECT_EQ(s.bin_hi, 4000);
    double sum = 0;
    for (int j = 0; j < 9600; ++j) sum += s.window[j];
    EXPECT_TRUE(near_relative(sum / 9600, 0.42, 1e-12)) << "periodic Blackman window";
    EXPECT_TRUE(near_relative(s.scale, 70710.67811865475 / sum, 1e-15));
}

TEST(DwSetup, PerBinTablesAtTheEnds) {
    const qn_dw_setup s = prepared();
    EXPECT_DOUBLE_EQ(s.rate[4], 0.2) << "20 Hz";
    EXPECT_DOUBLE_EQ(s.rate[200], 8.5) << "1 kHz";
    EXPECT_DOUBLE_EQ(s.rate[4000], 24.5) << "20 kHz";
    EXPECT_DOUBLE_EQ(s.threshold[4000], 60.0);
    EXPECT_TRUE(near_relative(20 * std::log10(s.transmission[4000]), -85.0, 1e-12));
    EXPECT_EQ(s.transmission[200], 1.0) << "0 dB below 10 Bark";
    EXPECT_EQ(s.transmission[3], 1.0) << "outside the analysed bins";
    EXPECT_EQ(s.transmission[5000], 1.0);
    for (int k = 4; k <= 4000; ++k) {
        ASSERT_GT(s.rate[k], s.rate[k - 1] - 1e-12) << "rate rises with frequency at bin " << k;
        ASSERT_TRUE(std::isfinite(s.threshold[k]) && std::isfinite(s.transmission[k])) << k;
    }
}

TEST(DwSetup, ChannelThresholdsAndWeights) {
    const qn_dw_setup s = prepared();
    const double thresholds[47] = {44.285714, 25, 20, 15, 13.076923, 11.153846, 9.457143, 8.1, 7.2, 6.3,
                                   5.65, 5, 4.625, 4.25, 3.875, 3.5, 3.25, 3, 2.75, 2.5, 2.3, 2.1, 1.9, 1.7,
                                   1.046154, 0.392308, -0.294118, -1.029412, -1.764706, -2.5, -3.25, -4,
                                   -3.85, -3.7, -2.6, -1.5, -0.05, 1.4, 2.6, 3.8, 4.4, 5, 6.25, 7.5, 11.25,
                                   15, 31.5};
    const double weights[39] = {0.205, 0.26, 0.32, 0.38, 0.425, 0.47, 0.505, 0.54, 0.595, 0.65,
                                0.705, 0.76, 0.795, 0.83, 0.865, 0.9,  0.94, 0.98, 0.98, 0.98,
                                0.94, 0.9,  0.85, 0.8,  0.75,  0.7,  0.66, 0.62, 0.58, 0.54,
                                0.515, 0.49, 0.46, 0.43, 0.41, 0.39, 0.37, 0.35, 0.325};
    for (int c = 1; c <= 47; ++c) {
        EXPECT_NEAR(s.channel_threshold[qn_dw_channel_index(c)], thresholds[c - 1], 5e-7) << "channel " << c;
        const double g = c <= 39 ? weights[c - 1] : 0.3;
        EXPECT_NEAR(s.channel_weight[qn_dw_channel_index(c)], g, 1e-12) << "channel " << c;
    }
}

TEST(DwSetup, ModulationWeightingRows) {
    const qn_dw_setup s = prepared();
    struct Case {
        int channel;
        int last_filled;  // bins 2 ... last_filled are filled
    };
    // Ends of every group, so an off-by-one in the channel numbering shows.
    const Case cases[] = {{1, 70}, {4, 70}, {5, 99}, {15, 99}, {16, 128}, {20, 128},
                          {21, 128}, {41, 128}, {42, 128}, {46, 128}, {47, 128}};
    for (const Case &c : cases) {
        const double *row = &s.modulation_weight[static_cast<std::size_t>(qn_dw_channel_index(c.channel)) *
                                                 static_cast<std::size_t>(s.weight_bins)];
        EXPECT_EQ(s.channel_weight_end[qn_dw_channel_index(c.channel)], c.last_filled + 1) << c.channel;
        EXPECT_EQ(row[0], 0.0);
        EXPECT_EQ(row[1], 0.0);
        EXPECT_GT(row[2], 0.0) << "channel " << c.channel << " at 10 Hz";
        EXPECT_GT(row[c.last_filled], 0.0) << "channel " << c.channel;
        for (int k = c.last_filled + 1; k < s.weight_bins; ++k) EXPECT_EQ(row[k], 0.0) << c.channel << " bin " << k;
    }
    // Channels 1-4 at 355 Hz (bin 71): the table is not yet 0 there, yet the
    // row stops at bin 70.
    EXPECT_GT(qn_dw_lookup(qn_dw::modulation_h1, 15, 355.0), 0.0);
    EXPECT_EQ(s.modulation_weight[71], 0.0);
}

TEST(DwEngine, FrameStartIn64Bits) {
    // Frame indices from where f * 4800 leaves 32 bits to the last frame of
    // a 2^31 - 1 sample signal.
    struct Case {
        int32_t frame;
        int64_t start;
    };
    const Case cases[] = {{0, 0}, {1, 4800}, {223696, 1073740800}, {223697, 1073745600},
                          {447392, 2147481600}, {447390, 2147472000}};
    for (const Case &c : cases) EXPECT_EQ(qn_dw_frame_start(c.frame, 4800), c.start) << c.frame;
}

TEST(DwEngine, ResultCodes) {
    const auto x = qn_test::am_tone(1000, 70, 1.0, 0.03, 14400);
    std::vector<double> out(4, -1.0);
    int32_t frames = 4;
    EXPECT_EQ(qn_roughness_dw_core(x.data(), 9599, out.data(), &frames, 48000.0), -3);
    EXPECT_EQ(frames, 4) << "untouched when too short";
    frames = 1;
    EXPECT_EQ(qn_roughness_dw_core(x.data(), 14400, out.data(), &frames, 48000.0), -1);
    EXPECT_EQ(frames, 1) << "untouched when the capacity is too small";
    frames = 4;
    EXPECT_EQ(qn_roughness_dw_core(x.data(), 14400, out.data(), &frames, 48000.0), 2);
    EXPECT_EQ(frames, 2);
    EXPECT_EQ(out[2], -1.0) << "only frames 0 and 1 written";
    frames = 1;
    EXPECT_EQ(qn_roughness_dw_core(x.data(), 9600, out.data(), &frames, 48000.0), 1);

    std::vector<double> huge(9600, 1e300);
    for (std::size_t i = 0; i < huge.size(); i += 2) huge[i] = -1e300;
    frames = 1;
    EXPECT_EQ(qn_roughness_dw_core(huge.data(), 9600, out.data(), &frames, 48000.0), -5);
    EXPECT_EQ(frames, 1) << "frame count written before the failure";
}

TEST(DwEngine, EveryPathGivesTheSameBits) {
    // Signals that busy every kernel: components everywhere, single lines
    // (silent neighbours, channels alone), the edges of the analysed range.
    struct Case {
        const char *what;
        std::vector<double> x;
    };
    std::vector<Case> cases;
    {
        auto x = qn_test::pink_noise(0.05, 24000, 42);
        const auto tone = qn_test::am_tone(1000, 70, 1.0, 0.1, 24000);
        for (std::size_t i = 0; i < x.size(); ++i) x[i] += tone[i];
        cases.push_back({"AM tone over pink noise", x});
    }
    cases.push_back({"loud 20 Hz tone", qn_test::sine(20, 20.0, 14400)});
    cases.push_back({"19 kHz tone", qn_test::sine(19000, 0.5, 14400)});
    cases.push_back({"white noise", qn_test::white_noise(0.2, 14400, 9)});
    for (const Case &c : cases) {
        std::vector<double> first;
        for (qn_simd path : qn_test::simd_paths()) {
            std::vector<double> out(8, -1.0);
            int32_t frames = 8;
            const int32_t n = static_cast<int32_t>(c.x.size());
            ASSERT_GT(qn_roughness_dw_core_with(path, c.x.data(), n, out.data(), &frames, 48000.0), 0) << c.what;
            out.resize(static_cast<std::size_t>(frames));
            if (first.empty()) first = out;
            ASSERT_EQ(std::memcmp(out.data(), first.data(), sizeof(double) * out.size()), 0)
                << c.what << " on " << qn_simd_name(path);
        }
    }
}

TEST(DwEngine, EveryAllocationFailureIsReportedAndReleased) {
    const auto x = qn_test::am_tone(1000, 70, 1.0, 0.03, 9600);
    double out = 0;
    int32_t frames = 1;
    ASSERT_EQ(qn_roughness_dw_core(x.data(), 9600, &out, &frames, 48000.0), 1);
    qn_test_fail_allocation_at(-1);
    frames = 1;
    ASSERT_EQ(qn_roughness_dw_core(x.data(), 9600, &out, &frames, 48000.0), 1);
    const int64_t requests = qn_test_allocation_count();
    ASSERT_GT(requests, 5);
    const int64_t live = qn_test_live_allocations();
    for (int64_t i = 0; i < requests; ++i) {
        qn_test_allocation_failure fail(i);
        frames = 1;
        EXPECT_EQ(qn_roughness_dw_core(x.data(), 9600, &out, &frames, 48000.0), -2) << "request " << i;
        EXPECT_EQ(qn_test_live_allocations(), live) << "leak after failing request " << i;
    }
}

namespace {

// The factors of a lone component on every vector path, which must agree to
// the bit; those of the first path are returned.
std::vector<double> factors_on_every_path(const qn_dw_setup &s, int bin, double level) {
    std::vector<double> first;
    for (qn_simd path : qn_test::simd_paths()) {
        std::vector<double> phi(47, -1.0);
        EXPECT_TRUE(qn_dw_channel_factors(path, s, bin, level, phi.data())) << qn_simd_name(path);
        if (first.empty()) first = phi;
        for (int i = 0; i < 47; ++i)
            EXPECT_EQ(std::memcmp(&phi[i], &first[i], sizeof(double)), 0)
                << "bin " << bin << ", channel index " << i << " on " << qn_simd_name(path);
    }
    return first;
}

// The channels a component reaches form one run.
bool one_run(const std::vector<double> &phi) {
    int runs = 0;
    for (std::size_t i = 0; i < phi.size(); ++i)
        if (phi[i] != 0 && (i == 0 || phi[i - 1] == 0)) ++runs;
    return runs == 1;
}

}  // namespace

TEST(DwChannelFactors, ComponentOnBin200) {
    // 60 dB at 1 kHz: 8.5 Bark, so channels 16, 17 and 18 take it whole and
    // channel 15 its excitation at 8 Bark, 13.5 dB down.
    const qn_dw_setup s = prepared();
    const auto phi = factors_on_every_path(s, 200, 60.0);
    EXPECT_TRUE(one_run(phi));
    EXPECT_EQ(phi[qn_dw_channel_index(16)], 1.0);
    EXPECT_EQ(phi[qn_dw_channel_index(17)], 1.0);
    EXPECT_EQ(phi[qn_dw_channel_index(18)], 1.0);
    EXPECT_TRUE(near_relative(phi[qn_dw_channel_index(15)], std::pow(10.0, -13.5 / 20), 1e-12));
    EXPECT_NEAR(phi[qn_dw_channel_index(15)], 0.2113, 1e-4);
    // Above it, down the upper slope: s = 0.2 L - 230 / f - 24 = -12.23 dB
    // per Bark, so channel 19 takes 10^(-12.23 x 0.5 / 20) at 9 Bark.
    const double slope = 0.2 * 60 - 230.0 / 1000 - 24;
    EXPECT_TRUE(near_relative(phi[qn_dw_channel_index(19)], std::pow(10.0, slope * 0.5 / 20), 1e-12));
    EXPECT_TRUE(near_relative(phi[qn_dw_channel_index(22)], std::pow(10.0, slope * 2.0 / 20), 1e-12));
    // Far below and far above, the excitation falls under the thresholds.
    EXPECT_EQ(phi[qn_dw_channel_index(1)], 0.0);
    EXPECT_EQ(phi[qn_dw_channel_index(47)], 0.0);
    for (double v : phi) EXPECT_TRUE(v >= 0 && v <= 1);
}

TEST(DwChannelFactors, ComponentsAtTheEndsOfTheRange) {
    const qn_dw_setup s = prepared();
    // Below 50 Hz (z < 0.5): no lower side; channel 1 takes it whole, the
    // channels above take the excitation of the channel below them.
    EXPECT_LT(s.rate[8], 0.5);
    auto phi = factors_on_every_path(s, 8, 90.0);
    EXPECT_TRUE(one_run(phi));
    EXPECT_EQ(phi[qn_dw_channel_index(1)], 1.0);
    EXPECT_GT(phi[qn_dw_channel_index(2)], 0.0);
    EXPECT_LE(phi[qn_dw_channel_index(3)], phi[qn_dw_channel_index(2)]);
    // At 20 kHz (z = 24.5): every channel is on the lower side, and channel
    // 47 takes the excitation of channel 46.
    phi = factors_on_every_path(s, 4000, 100.0);
    EXPECT_TRUE(one_run(phi));
    EXPECT_NE(phi[qn_dw_channel_index(47)], 0.0);
    EXPECT_TRUE(near_relative(phi[qn_dw_channel_index(47)], std::pow(10.0, -27 * (24.5 - 23) / 20), 1e-12));
    EXPECT_TRUE(near_relative(phi[qn_dw_channel_index(46)], std::pow(10.0, -27 * (24.5 - 23.5) / 20), 1e-12));
    EXPECT_EQ(phi[qn_dw_channel_index(1)], 0.0);
}

TEST(DwChannelFactors, ComponentBetweenChannels) {
    // 70 dB at 800 Hz (bin 160), 7.21 Bark: channels 14 and 15 on either
    // side take it whole, channel 13 its excitation at 7 Bark and channel
    // 16 its excitation at 7.5 Bark.
    const qn_dw_setup s = prepared();
    const double z = s.rate[160];
    ASSERT_GT(z, 7.0);
    ASSERT_LT(z, 7.5);
    const auto phi = factors_on_every_path(s, 160, 70.0);
    EXPECT_TRUE(one_run(phi));
    EXPECT_EQ(phi[qn_dw_channel_index(14)], 1.0);
    EXPECT_EQ(phi[qn_dw_channel_index(15)], 1.0);
    EXPECT_TRUE(near_relative(phi[qn_dw_channel_index(13)], std::pow(10.0, -27 * (z - 7.0) / 20), 1e-12));
    const double slope = 0.2 * 70 - 230.0 / 800 - 24;
    EXPECT_TRUE(near_relative(phi[qn_dw_channel_index(16)], std::pow(10.0, slope * (7.5 - z) / 20), 1e-12));
}

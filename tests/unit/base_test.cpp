// The shared argument checks, the size product, the axes and the test
// allocator's failure switch.
#include <gtest/gtest.h>

#include <cfloat>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <vector>

#include "base/alloc.h"
#include "base/checks.h"
#include "quarnelo.h"
#include "support/alloc_hook.h"

namespace {
constexpr double k_inf = std::numeric_limits<double>::infinity();
constexpr double k_nan = std::numeric_limits<double>::quiet_NaN();
}  // namespace

TEST(FiniteCheck, Table) {
    struct Case {
        double x;
        bool finite;
    };
    const Case cases[] = {
        {0.0, true},        {-0.0, true},      {DBL_MAX, true},           {-DBL_MAX, true},
        {DBL_MIN, true},    {4.9e-324, true},  {-4.9e-324, true},         {1e300, true},
        {k_nan, false},       {-k_nan, false},     {k_inf, false},              {-k_inf, false},
        {std::numeric_limits<double>::signaling_NaN(), false},
    };
    for (const Case &c : cases) EXPECT_EQ(qn_is_finite(c.x), c.finite) << c.x;
}

TEST(SoundFieldCheck, OnlyZeroAndOne) {
    EXPECT_TRUE(qn_check_sound_field(0));
    EXPECT_TRUE(qn_check_sound_field(1));
    for (int32_t f : {2, 3, -1, -2, INT32_MIN, INT32_MAX}) EXPECT_FALSE(qn_check_sound_field(f)) << f;
}

TEST(SignalCheck, OrderOfTests) {
    std::vector<double> x(16, 0.5);
    const uint64_t huge = uint64_t{1} << 60;
    struct Case {
        const double *samples;
        uint64_t count;
        int32_t rate;
        qn_status expected;
    };
    const Case cases[] = {
        {nullptr, 0, 44100, QN_STATUS_NULL_POINTER},
        {nullptr, 16, 48000, QN_STATUS_NULL_POINTER},
        {x.data(), 0, 44100, QN_STATUS_INPUT_TOO_SHORT},
        {x.data(), huge, 44100, QN_STATUS_INVALID_SAMPLE_RATE},
        {x.data(), 16, -48000, QN_STATUS_INVALID_SAMPLE_RATE},
        // 2^60 at 48 kHz is refused before any sample is read (x is short).
        {x.data(), huge, 48000, QN_STATUS_SIZE_OVERFLOW},
        {x.data(), UINT64_MAX, 48000, QN_STATUS_SIZE_OVERFLOW},
        {x.data(), 16, 48000, QN_STATUS_SUCCESS},
        {x.data(), 1, 48000, QN_STATUS_SUCCESS},
    };
    for (const Case &c : cases)
        EXPECT_EQ(qn_check_signal(c.samples, c.count, c.rate), c.expected)
            << "count " << c.count << " rate " << c.rate;
}

TEST(SignalCheck, FindsNonFiniteAnywhere) {
    for (double bad : {k_nan, k_inf, -k_inf}) {
        for (std::size_t where : {std::size_t{0}, std::size_t{7}, std::size_t{1000}, std::size_t{4095}}) {
            std::vector<double> x(4096, 1e-3);
            x[where] = bad;
            EXPECT_EQ(qn_check_signal(x.data(), x.size(), 48000), QN_STATUS_NON_FINITE_INPUT)
                << bad << " at " << where;
            // A count that stops before the bad sample never sees it.
            if (where > 0) {
                EXPECT_EQ(qn_check_signal(x.data(), where, 48000), QN_STATUS_SUCCESS);
            }
        }
    }
    std::vector<double> extremes = {DBL_MAX, -DBL_MAX, 4.9e-324, -0.0};
    EXPECT_EQ(qn_check_signal(extremes.data(), extremes.size(), 48000), QN_STATUS_SUCCESS);
}

TEST(SizeProduct, OverflowAndZero) {
    uint64_t r = 12345;
    EXPECT_FALSE(qn_mul_size(uint64_t{1} << 32, uint64_t{1} << 32, &r));
    EXPECT_EQ(r, 12345u) << "nothing written on overflow";
    EXPECT_TRUE(qn_mul_size(0, UINT64_MAX, &r));
    EXPECT_EQ(r, 0u);
    EXPECT_TRUE(qn_mul_size(UINT64_MAX, 0, &r));
    EXPECT_EQ(r, 0u);
    EXPECT_TRUE(qn_mul_size(UINT64_MAX, 1, &r));
    EXPECT_EQ(r, UINT64_MAX);
    EXPECT_TRUE(qn_mul_size(uint64_t{1} << 31, uint64_t{1} << 32, &r));
    EXPECT_EQ(r, uint64_t{1} << 63);
    EXPECT_FALSE(qn_mul_size(uint64_t{3} << 62, 2, &r));
    EXPECT_FALSE(qn_mul_size(2, 3, nullptr));
}

TEST(Axes, ThirdOctaveCentres) {
    const double *f = qn_third_octave_centres_hz();
    ASSERT_NE(f, nullptr);
    EXPECT_EQ(f, qn_third_octave_centres_hz());
    EXPECT_EQ(f[0], 25.0);
    EXPECT_EQ(f[1], 31.5);
    EXPECT_EQ(f[16], 1000.0);
    EXPECT_EQ(f[27], 12500.0);
    for (int i = 1; i < 28; ++i) {
        EXPECT_GT(f[i], f[i - 1]);
        // Nominal values stay within 3 % of the exact base-10 third octaves.
        const double exact = 1000.0 * std::pow(10.0, (i - 16) / 10.0);
        EXPECT_NEAR(f[i] / exact, 1.0, 0.03) << i;
    }
}

TEST(Axes, BarkAxisHoldsNearestDoubles) {
    const double *z = qn_bark_axis();
    ASSERT_NE(z, nullptr);
    EXPECT_EQ(z, qn_bark_axis());
    EXPECT_EQ(z[0], 0.1);
    EXPECT_EQ(z[2], 0.3);
    EXPECT_NE(z[2], 3 * 0.1) << "3 * 0.1 is not the double nearest to 0.3";
    EXPECT_EQ(z[239], 24.0);
    int differs_from_product = 0;
    for (int i = 0; i < 240; ++i) {
        // strtod gives the double nearest to the decimal text.
        char text[16];
        std::snprintf(text, sizeof text, "%d.%d", (i + 1) / 10, (i + 1) % 10);
        EXPECT_EQ(z[i], std::strtod(text, nullptr)) << "index " << i << " (" << text << ")";
        if (z[i] != (i + 1) * 0.1) ++differs_from_product;
    }
    EXPECT_EQ(differs_from_product, 85);
}

TEST(Allocator, FailureSwitchAndBounds) {
    {
        qn_test_allocation_failure fail(1);
        auto first = qn_alloc_array<double>(10);
        auto second = qn_alloc_array<double>(10);
        auto third = qn_alloc_array<double>(10);
        EXPECT_NE(first, nullptr);
        EXPECT_EQ(second, nullptr);
        EXPECT_NE(third, nullptr);
        EXPECT_EQ(qn_test_allocation_count(), 3);
    }
    {
        qn_test_allocation_failure fail(0, true);
        EXPECT_EQ(qn_alloc_array<double>(1), nullptr);
        EXPECT_EQ(qn_alloc_array_zeroed<double>(1), nullptr);
    }
    EXPECT_EQ(qn_alloc_array<double>(uint64_t{1} << 60), nullptr) << "above the size bound";
    EXPECT_EQ(qn_alloc_array<double>(UINT64_MAX / 4), nullptr) << "bytes overflow";
    auto zeroed = qn_alloc_array_zeroed<double>(64);
    ASSERT_NE(zeroed, nullptr);
    for (int i = 0; i < 64; ++i) EXPECT_EQ(zeroed[i], 0.0);
    const int64_t live = qn_test_live_allocations();
    zeroed.reset();
    EXPECT_EQ(qn_test_live_allocations(), live - 1);
}

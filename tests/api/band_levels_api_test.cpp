// qn_band_levels and the band-level meter: point counts, check orders,
// overlapping buffers, what is written after each failure, the whole-signal
// levels equal to those of the stationary loudness, and the meter equal to
// the one-call analysis bit for bit whatever the block sizes.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <vector>

#include "quarnelo.h"
#include "support/alloc_hook.h"
#include "support/expect.h"
#include "support/signals.h"

using qn_test::same_bits;
using qn_test::sentinel;
using qn_test::sentinel_buffer;
using qn_test::untouched;

namespace {

constexpr uint64_t k_too_many = uint64_t{1} << 60;

struct meter_owner {
    qn_band_level_meter *m = nullptr;
    ~meter_owner() { qn_band_level_meter_destroy(m); }
};

struct results {
    std::vector<double> levels, series;
};

results one_call(const std::vector<double> &x, uint64_t step) {
    uint64_t points = 0;
    EXPECT_EQ(qn_band_level_point_count(x.size(), 48000, step, &points), QN_STATUS_SUCCESS);
    results r{std::vector<double>(28), std::vector<double>(points * 28)};
    EXPECT_EQ(qn_band_levels(x.data(), x.size(), 48000, step, r.levels.data(), 28, r.series.data(), r.series.size(),
                             &points),
              QN_STATUS_SUCCESS);
    return r;
}

results metered(const std::vector<double> &x, uint64_t step, const std::vector<uint64_t> &sizes) {
    meter_owner meter;
    EXPECT_EQ(qn_band_level_meter_create(48000, step, &meter.m), QN_STATUS_SUCCESS);
    results r;
    uint64_t at = 0;
    for (std::size_t k = 0; at < x.size(); ++k) {
        const uint64_t n = std::min<uint64_t>(sizes[k % sizes.size()], x.size() - at);
        uint64_t expected = 0, got = 0;
        EXPECT_EQ(qn_band_level_meter_point_count(meter.m, n, &expected), QN_STATUS_SUCCESS);
        std::vector<double> series(expected * 28);
        EXPECT_EQ(qn_band_level_meter_add(meter.m, x.data() + at, n, series.data(), series.size(), &got),
                  QN_STATUS_SUCCESS);
        EXPECT_EQ(got, expected);
        r.series.insert(r.series.end(), series.begin(), series.end());
        at += n;
    }
    r.levels.resize(28);
    EXPECT_EQ(qn_band_level_meter_levels(meter.m, r.levels.data(), 28), QN_STATUS_SUCCESS);
    return r;
}

std::vector<double> test_signal(std::size_t n) {
    auto x = qn_test::pink_noise(0.3, n, 7);
    const auto tone = qn_test::am_tone(1000, 70, 1.0, 0.2, n);
    for (std::size_t i = 0; i < n; ++i) x[i] += tone[i];
    for (std::size_t i = n / 3; i < n / 2; ++i) x[i] = 0;
    return x;
}

}  // namespace

TEST(BandLevelsApi, PointCounts) {
    struct Case {
        uint64_t count;
        int32_t rate;
        uint64_t step;
        qn_status status;
        uint64_t points;
    };
    const uint64_t before = 777;
    const Case cases[] = {
        {256, 48000, 4800, QN_STATUS_SUCCESS, 0},
        {4800, 48000, 4800, QN_STATUS_SUCCESS, 1},
        {14399, 48000, 4800, QN_STATUS_SUCCESS, 2},
        {1000, 48000, 1, QN_STATUS_SUCCESS, 1000},
        {k_too_many - 1, 48000, 1, QN_STATUS_SUCCESS, k_too_many - 1},
        {255, 48000, 4800, QN_STATUS_INPUT_TOO_SHORT, before},
        {k_too_many, 48000, 4800, QN_STATUS_SIZE_OVERFLOW, before},
        {k_too_many, 48000, 0, QN_STATUS_INVALID_ARGUMENT, before},
        {1000, 48000, k_too_many, QN_STATUS_INVALID_ARGUMENT, before},
        {0, 44100, 0, QN_STATUS_INVALID_SAMPLE_RATE, before},
    };
    for (const Case &c : cases) {
        uint64_t points = before;
        EXPECT_EQ(qn_band_level_point_count(c.count, c.rate, c.step, &points), c.status) << c.count << " / " << c.step;
        EXPECT_EQ(points, c.points) << c.count << " / " << c.step;
    }
    EXPECT_EQ(qn_band_level_point_count(4800, 48000, 4800, nullptr), QN_STATUS_NULL_POINTER);
}

TEST(BandLevelsApi, CheckOrderAndWhatIsWritten) {
    const auto x = test_signal(1000);  // step 400: 2 intervals
    auto with_nan = x;
    with_nan[999] = std::numeric_limits<double>::quiet_NaN();
    std::vector<double> huge(1000);
    for (std::size_t i = 0; i < huge.size(); ++i) huge[i] = (i % 2 ? 1 : -1) * 1e300;
    auto levels = sentinel_buffer(29), series = sentinel_buffer(57);
    auto shared = sentinel_buffer(1100);
    std::copy(x.begin(), x.end(), shared.begin());
    struct Case {
        const char *what;
        const double *samples;
        uint64_t count;
        int32_t rate;
        uint64_t step;
        double *levels;
        uint64_t levels_capacity;
        double *series;
        uint64_t series_capacity;
        qn_status expected;
        uint64_t points_after;
    };
    double *l = levels.data(), *s = series.data();
    const Case cases[] = {
        {"rate first", nullptr, 0, 44100, 0, nullptr, 0, nullptr, 0, QN_STATUS_INVALID_SAMPLE_RATE, 0},
        {"step 0", nullptr, 0, 48000, 0, nullptr, 0, nullptr, 0, QN_STATUS_INVALID_ARGUMENT, 0},
        {"count 2^60", nullptr, k_too_many, 48000, 400, nullptr, 0, nullptr, 0, QN_STATUS_SIZE_OVERFLOW, 0},
        {"255 samples", nullptr, 255, 48000, 400, nullptr, 0, nullptr, 0, QN_STATUS_INPUT_TOO_SHORT, 0},
        {"null levels", nullptr, 1000, 48000, 400, nullptr, 28, s, 56, QN_STATUS_NULL_POINTER, 0},
        {"series size beyond 64 bits", nullptr, k_too_many - 1, 48000, 1, l, 28, s, 56, QN_STATUS_SIZE_OVERFLOW, 0},
        {"levels capacity 27", nullptr, 1000, 48000, 400, l, 27, s, 56, QN_STATUS_OUTPUT_TOO_SMALL, 2},
        {"series capacity 55", nullptr, 1000, 48000, 400, l, 28, s, 55, QN_STATUS_OUTPUT_TOO_SMALL, 2},
        {"levels in the samples", shared.data(), 1000, 48000, 400, shared.data() + 990, 28, nullptr, 0,
         QN_STATUS_INVALID_ARGUMENT, 0},
        {"series in the samples", shared.data(), 1000, 48000, 400, l, 28, shared.data() + 999, 56,
         QN_STATUS_INVALID_ARGUMENT, 0},
        {"series on the levels", x.data(), 1000, 48000, 400, l, 28, l + 27, 56, QN_STATUS_INVALID_ARGUMENT, 0},
        {"null samples", nullptr, 1000, 48000, 400, l, 28, s, 56, QN_STATUS_NULL_POINTER, 0},
        {"NaN last", with_nan.data(), 1000, 48000, 400, l, 28, s, 56, QN_STATUS_NON_FINITE_INPUT, 0},
        {"powers overflow", huge.data(), 1000, 48000, 400, l, 28, s, 56, QN_STATUS_NUMERICAL_FAILURE, 0},
    };
    for (const Case &c : cases) {
        std::fill(levels.begin(), levels.end(), sentinel);
        std::fill(series.begin(), series.end(), sentinel);
        uint64_t points = 4242;
        EXPECT_EQ(qn_band_levels(c.samples, c.count, c.rate, c.step, c.levels, c.levels_capacity, c.series,
                                 c.series_capacity, &points),
                  c.expected)
            << c.what;
        EXPECT_EQ(points, c.points_after) << c.what;
        EXPECT_TRUE(untouched(levels) && untouched(series) && untouched(shared, 1000)) << c.what << ": written";
    }
    EXPECT_EQ(qn_band_levels(x.data(), 1000, 48000, 400, l, 28, s, 56, nullptr), QN_STATUS_NULL_POINTER);

    // Side by side with the samples in one buffer: accepted; nothing beyond
    // 28 levels and 2 x 28 values is written.
    uint64_t points = 0;
    ASSERT_EQ(qn_band_levels(shared.data(), 1000, 48000, 400, shared.data() + 1000, 28, shared.data() + 1028, 60,
                             &points),
              QN_STATUS_SUCCESS);
    EXPECT_EQ(points, 2u);
    EXPECT_TRUE(untouched(shared, 1084));
    const results whole = one_call(x, 400);
    EXPECT_TRUE(same_bits(std::vector<double>(shared.begin() + 1000, shared.begin() + 1084),
                          [&] {
                              auto v = whole.levels;
                              v.insert(v.end(), whole.series.begin(), whole.series.end());
                              return v;
                          }()));
}

TEST(BandLevelsApi, WholeSignalLevelsAreThoseOfTheStationaryLoudness) {
    // qn_loudness_from_levels of the band levels gives the stationary
    // loudness and its pattern exactly.
    for (std::size_t n : {256u, 4799u, 48000u}) {
        const auto x = test_signal(n);
        const results r = one_call(x, 4800);
        double expected = 0, loudness = 0, expected_pattern[240], pattern[240];
        ASSERT_EQ(qn_loudness_stationary(x.data(), n, 48000, QN_SOUND_FIELD_FREE, &expected, expected_pattern, 240),
                  QN_STATUS_SUCCESS);
        ASSERT_EQ(qn_loudness_from_levels(r.levels.data(), 28, QN_SOUND_FIELD_FREE, &loudness, pattern, 240),
                  QN_STATUS_SUCCESS);
        EXPECT_EQ(std::memcmp(&loudness, &expected, sizeof loudness), 0) << n;
        EXPECT_EQ(std::memcmp(pattern, expected_pattern, sizeof pattern), 0) << n;
    }
    // Silence sits on the model's floor, -26.02 dB, in every band and interval.
    const std::vector<double> silence(9600, 0.0);
    const results r = one_call(silence, 4800);
    for (double v : r.levels) EXPECT_NEAR(v, 10 * (-12 + 9.397940008672037), 1e-12);
    for (double v : r.series) EXPECT_NEAR(v, 10 * (-12 + 9.397940008672037), 1e-12);
}

TEST(BandLevelsApi, ATonesBandAndItsIntervals) {
    // 1 kHz at 60 dB for the first second, silence for the next: band 16
    // reads 60 dB in the first 100 ms intervals (after the first) and falls
    // away in the second second; the whole signal is 3 dB below.
    auto x = qn_test::sine(1000, qn_test::rms_for_level(60) * std::sqrt(2.0), 48000);
    x.resize(96000, 0.0);
    const results r = one_call(x, 4800);
    ASSERT_EQ(r.series.size(), 20u * 28);
    for (int k = 1; k < 9; ++k) {
        EXPECT_NEAR(r.series[28 * k + 16], 60.0, 0.5) << "interval " << k;
        EXPECT_LT(r.series[28 * k + 14], 45.0) << "interval " << k << ", two bands below";
    }
    EXPECT_LT(r.series[28 * 15 + 16], 20.0);
    EXPECT_NEAR(r.levels[16], 60.0 - 10 * std::log10(2.0), 0.5);
}

TEST(BandLevelsMeter, ResultsEqualTheWholeSignalWhateverTheBlocks) {
    const auto x = test_signal(30000);
    for (uint64_t step : {1u, 480u, 4800u, 7001u}) {
        const results whole = one_call(x, step);
        const std::vector<std::vector<uint64_t>> block_sizes = {{1}, {255}, {4096}, {4800}, {1u << 30},
                                                                {0, 3, 4799, 1, 9973, 0}};
        for (const auto &sizes : block_sizes) {
            if (step == 1 && sizes[0] == 1) continue;  // 30000 calls: slow for nothing new
            const results m = metered(x, step, sizes);
            EXPECT_TRUE(same_bits(m.levels, whole.levels)) << "step " << step << " first block " << sizes[0];
            EXPECT_TRUE(same_bits(m.series, whole.series)) << "step " << step << " first block " << sizes[0];
        }
    }
    qn_test::xorshift rng(3);
    const results whole = one_call(x, 4800);
    for (int trial = 0; trial < 5; ++trial) {
        std::vector<uint64_t> sizes(30);
        for (uint64_t &s : sizes) s = rng.next() % 3000;
        const results m = metered(x, 4800, sizes);
        EXPECT_TRUE(same_bits(m.levels, whole.levels) && same_bits(m.series, whole.series)) << "trial " << trial;
    }
}

TEST(BandLevelsMeter, ChecksFailuresAndAllocation) {
    EXPECT_EQ(qn_band_level_meter_create(48000, 4800, nullptr), QN_STATUS_NULL_POINTER);
    double not_a_meter = 0;
    auto *made = reinterpret_cast<qn_band_level_meter *>(&not_a_meter);
    EXPECT_EQ(qn_band_level_meter_create(44100, 0, &made), QN_STATUS_INVALID_SAMPLE_RATE);
    EXPECT_EQ(made, nullptr);
    EXPECT_EQ(qn_band_level_meter_create(48000, 0, &made), QN_STATUS_INVALID_ARGUMENT);
    EXPECT_EQ(qn_band_level_meter_create(48000, k_too_many, &made), QN_STATUS_INVALID_ARGUMENT);
    qn_band_level_meter_destroy(nullptr);
    // Fail request i, expect the status, expect no leak: the meter is the one request.
    for (int64_t i = 0;; ++i) {
        const int64_t live = qn_test_live_allocations();
        qn_test_fail_allocation_at(i);
        const qn_status status = qn_band_level_meter_create(48000, 4800, &made);
        qn_test_fail_allocation_at(-1);
        qn_band_level_meter_destroy(made);
        EXPECT_EQ(qn_test_live_allocations(), live) << "request " << i;
        if (status == QN_STATUS_SUCCESS) {
            EXPECT_EQ(i, 1) << "one request";
            break;
        }
        EXPECT_EQ(status, QN_STATUS_ALLOCATION_FAILED) << "request " << i;
        EXPECT_EQ(made, nullptr);
    }

    meter_owner meter;
    ASSERT_EQ(qn_band_level_meter_create(48000, 400, &meter.m), QN_STATUS_SUCCESS);
    const auto x = test_signal(1000);
    auto with_nan = x;
    with_nan[500] = std::numeric_limits<double>::quiet_NaN();
    std::vector<double> wild(1000, 1e300);
    auto series = sentinel_buffer(57), levels = sentinel_buffer(29);
    auto shared = sentinel_buffer(1060);
    std::copy(x.begin(), x.end(), shared.begin());
    struct Case {
        const char *what;
        bool null_meter, null_count;
        const double *samples;
        uint64_t count;
        double *series;
        uint64_t capacity;
        qn_status expected;
        uint64_t points_after;
    };
    const uint64_t before = 4242;
    double *s = series.data();
    const Case cases[] = {
        {"null meter", true, false, x.data(), 1000, s, 56, QN_STATUS_NULL_POINTER, before},
        {"null point count", false, true, x.data(), 1000, s, 56, QN_STATUS_NULL_POINTER, before},
        {"null samples", false, false, nullptr, 1000, s, 56, QN_STATUS_NULL_POINTER, 0},
        {"2^60 samples", false, false, x.data(), k_too_many, s, 56, QN_STATUS_SIZE_OVERFLOW, 0},
        {"capacity 55", false, false, x.data(), 1000, s, 55, QN_STATUS_OUTPUT_TOO_SMALL, 2},
        {"series in the samples", false, false, shared.data(), 1000, shared.data() + 990, 56,
         QN_STATUS_INVALID_ARGUMENT, 0},
        {"NaN", false, false, with_nan.data(), 1000, s, 56, QN_STATUS_NON_FINITE_INPUT, 0},
        {"powers overflow", false, false, wild.data(), 1000, s, 56, QN_STATUS_NUMERICAL_FAILURE, 0},
        {"null samples, none given", false, false, nullptr, 0, nullptr, 0, QN_STATUS_SUCCESS, 0},
    };
    for (const Case &c : cases) {
        std::fill(series.begin(), series.end(), sentinel);
        uint64_t points = before;
        EXPECT_EQ(qn_band_level_meter_add(c.null_meter ? nullptr : meter.m, c.samples, c.count, c.series, c.capacity,
                                          c.null_count ? nullptr : &points),
                  c.expected)
            << c.what;
        EXPECT_EQ(points, c.points_after) << c.what;
        EXPECT_TRUE(untouched(series) && untouched(shared, 1000)) << c.what << ": written";
    }
    EXPECT_EQ(qn_band_level_meter_levels(meter.m, levels.data(), 29), QN_STATUS_INPUT_TOO_SHORT);
    EXPECT_EQ(qn_band_level_meter_levels(meter.m, levels.data(), 27), QN_STATUS_OUTPUT_TOO_SMALL);
    EXPECT_EQ(qn_band_level_meter_levels(nullptr, levels.data(), 29), QN_STATUS_NULL_POINTER);
    EXPECT_EQ(qn_band_level_meter_levels(meter.m, nullptr, 29), QN_STATUS_NULL_POINTER);
    EXPECT_TRUE(untouched(levels));
    uint64_t points = 0;
    EXPECT_EQ(qn_band_level_meter_point_count(nullptr, 10, &points), QN_STATUS_NULL_POINTER);
    EXPECT_EQ(qn_band_level_meter_point_count(meter.m, k_too_many, &points), QN_STATUS_SIZE_OVERFLOW);
    // None of the failures changed the meter, and adding never allocates.
    {
        qn_test_allocation_failure fail(0, true);
        ASSERT_EQ(qn_band_level_meter_add(meter.m, x.data(), 1000, s, 56, &points), QN_STATUS_SUCCESS);
        ASSERT_EQ(qn_band_level_meter_levels(meter.m, levels.data(), 29), QN_STATUS_SUCCESS);
    }
    EXPECT_EQ(points, 2u);
    const results whole = one_call(x, 400);
    EXPECT_TRUE(same_bits(std::vector<double>(levels.begin(), levels.begin() + 28), whole.levels));
    EXPECT_TRUE(same_bits(std::vector<double>(series.begin(), series.begin() + 56), whole.series));
    EXPECT_TRUE(untouched(levels, 28) && untouched(series, 56));
}

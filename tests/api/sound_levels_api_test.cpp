// qn_sound_levels and the sound level meter: point counts, check orders,
// overlapping buffers, what is written after each failure, and the meter's
// results equal to the one-call analysis of the concatenated signal, bit for
// bit, whatever the block sizes.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <vector>

#include "quarnelo.h"
#include "support/alloc_hook.h"
#include "support/expect.h"
#include "support/frame_counts.h"
#include "support/signals.h"

using qn_test::same_bits;
using qn_test::sentinel;
using qn_test::sentinel_buffer;
using qn_test::untouched;

namespace {

constexpr uint64_t k_too_many = uint64_t{1} << 60;

struct meter_owner {
    qn_sound_level_meter *m = nullptr;
    ~meter_owner() { qn_sound_level_meter_destroy(m); }
};

struct results {
    std::vector<double> levels, laf, las;
};

results one_call(const std::vector<double> &x) {
    uint64_t points = 0;
    EXPECT_EQ(qn_sound_level_point_count(x.size(), 48000, &points), QN_STATUS_SUCCESS);
    results r{std::vector<double>(QN_SOUND_LEVELS), std::vector<double>(points), std::vector<double>(points)};
    EXPECT_EQ(qn_sound_levels(x.data(), x.size(), 48000, r.levels.data(), QN_SOUND_LEVELS, r.laf.data(), points,
                              r.las.data(), points, &points),
              QN_STATUS_SUCCESS);
    return r;
}

// Feeds x in blocks whose sizes cycle through `sizes`, each block's points
// asked for first and then delivered into arrays of exactly that size.
results metered(const std::vector<double> &x, const std::vector<uint64_t> &sizes) {
    meter_owner meter;
    EXPECT_EQ(qn_sound_level_meter_create(48000, &meter.m), QN_STATUS_SUCCESS);
    results r;
    uint64_t at = 0;
    for (std::size_t k = 0; at < x.size(); ++k) {
        const uint64_t n = std::min<uint64_t>(sizes[k % sizes.size()], x.size() - at);
        uint64_t expected = 0, got = 0;
        EXPECT_EQ(qn_sound_level_meter_point_count(meter.m, n, &expected), QN_STATUS_SUCCESS);
        std::vector<double> laf(expected), las(expected);
        EXPECT_EQ(qn_sound_level_meter_add(meter.m, x.data() + at, n, laf.data(), laf.size(), las.data(), las.size(),
                                           &got),
                  QN_STATUS_SUCCESS);
        EXPECT_EQ(got, expected);
        r.laf.insert(r.laf.end(), laf.begin(), laf.end());
        r.las.insert(r.las.end(), las.begin(), las.end());
        at += n;
    }
    r.levels.resize(QN_SOUND_LEVELS);
    EXPECT_EQ(qn_sound_level_meter_levels(meter.m, r.levels.data(), QN_SOUND_LEVELS), QN_STATUS_SUCCESS);
    return r;
}

std::vector<double> test_signal(std::size_t n) {
    auto x = qn_test::pink_noise(0.3, n, 11);
    const auto tone = qn_test::sine(63, 2.0, n);
    for (std::size_t i = 0; i < n; ++i) x[i] += tone[i];
    for (std::size_t i = n / 3; i < n / 2; ++i) x[i] = 0;  // a gap of silence
    return x;
}

}  // namespace

TEST(SoundLevelsApi, PointCounts) {
    constexpr uint64_t untouched_count = qn_test::frame_count_before;
    qn_test::expect_frame_counts("qn_sound_level_point_count", qn_sound_level_point_count,
                                 {
                                     {1, 48000, QN_STATUS_SUCCESS, 0},
                                     {480, 48000, QN_STATUS_SUCCESS, 0},
                                     {481, 48000, QN_STATUS_SUCCESS, 1},
                                     {961, 48000, QN_STATUS_SUCCESS, 2},
                                     {48000, 48000, QN_STATUS_SUCCESS, 99},
                                     {k_too_many - 1, 48000, QN_STATUS_SUCCESS, (k_too_many - 2) / 480},
                                     {0, 48000, QN_STATUS_INPUT_TOO_SHORT, untouched_count},
                                     {k_too_many, 48000, QN_STATUS_SIZE_OVERFLOW, untouched_count},
                                     {0, 44100, QN_STATUS_INVALID_SAMPLE_RATE, untouched_count},
                                 });
}

TEST(SoundLevelsApi, CheckOrderAndWhatIsWritten) {
    const auto x = test_signal(1000);  // 2 points
    auto with_nan = x;
    with_nan[999] = std::numeric_limits<double>::quiet_NaN();
    std::vector<double> huge(1000);
    for (std::size_t i = 0; i < huge.size(); ++i) huge[i] = (i % 2 ? 1 : -1) * 1e300;
    auto levels = sentinel_buffer(8), laf = sentinel_buffer(3), las = sentinel_buffer(3);
    // One buffer whose parts overlap the others'.
    auto shared = sentinel_buffer(1010);
    std::copy(x.begin(), x.end(), shared.begin());
    struct Case {
        const char *what;
        const double *samples;
        uint64_t count;
        int32_t rate;
        double *levels;
        uint64_t levels_capacity;
        double *laf;
        uint64_t laf_capacity;
        double *las;
        uint64_t las_capacity;
        qn_status expected;
        uint64_t points_after;
    };
    double *l = levels.data(), *f = laf.data(), *s = las.data();
    const Case cases[] = {
        {"rate first", nullptr, 0, 44100, nullptr, 0, nullptr, 0, nullptr, 0, QN_STATUS_INVALID_SAMPLE_RATE, 0},
        {"count 2^60", nullptr, k_too_many, 48000, nullptr, 0, nullptr, 0, nullptr, 0, QN_STATUS_SIZE_OVERFLOW, 0},
        {"count 0", nullptr, 0, 48000, nullptr, 0, nullptr, 0, nullptr, 0, QN_STATUS_INPUT_TOO_SHORT, 0},
        {"null levels", nullptr, 1000, 48000, nullptr, 7, f, 3, s, 3, QN_STATUS_NULL_POINTER, 0},
        {"levels capacity 6", nullptr, 1000, 48000, l, 6, f, 3, s, 3, QN_STATUS_OUTPUT_TOO_SMALL, 2},
        {"LAF capacity 1", nullptr, 1000, 48000, l, 7, f, 1, s, 3, QN_STATUS_OUTPUT_TOO_SMALL, 2},
        {"LAS capacity 1", nullptr, 1000, 48000, l, 7, nullptr, 0, s, 1, QN_STATUS_OUTPUT_TOO_SMALL, 2},
        {"levels in the samples", shared.data(), 1000, 48000, shared.data() + 993, 7, f, 3, s, 3,
         QN_STATUS_INVALID_ARGUMENT, 0},
        {"LAF in the samples", shared.data(), 1000, 48000, l, 7, shared.data() + 999, 3, s, 3,
         QN_STATUS_INVALID_ARGUMENT, 0},
        {"LAS on LAF", x.data(), 1000, 48000, l, 7, f, 3, f + 1, 2, QN_STATUS_INVALID_ARGUMENT, 0},
        {"LAF on the levels", x.data(), 1000, 48000, l, 7, l + 6, 2, s, 3, QN_STATUS_INVALID_ARGUMENT, 0},
        {"null samples", nullptr, 1000, 48000, l, 7, f, 3, s, 3, QN_STATUS_NULL_POINTER, 0},
        {"NaN last", with_nan.data(), 1000, 48000, l, 7, f, 3, s, 3, QN_STATUS_NON_FINITE_INPUT, 0},
        {"squares overflow", huge.data(), 1000, 48000, l, 7, f, 3, s, 3, QN_STATUS_NUMERICAL_FAILURE, 0},
    };
    for (const Case &c : cases) {
        for (auto *v : {&levels, &laf, &las}) std::fill(v->begin(), v->end(), sentinel);
        std::fill(shared.begin() + 1000, shared.end(), sentinel);
        uint64_t points = 4242;
        EXPECT_EQ(qn_sound_levels(c.samples, c.count, c.rate, c.levels, c.levels_capacity, c.laf, c.laf_capacity,
                                  c.las, c.las_capacity, &points),
                  c.expected)
            << c.what;
        EXPECT_EQ(points, c.points_after) << c.what;
        EXPECT_TRUE(untouched(levels) && untouched(laf) && untouched(las)) << c.what << ": outputs written";
        EXPECT_TRUE(untouched(shared, 1000)) << c.what << ": the shared buffer written";
    }
    EXPECT_EQ(qn_sound_levels(x.data(), 1000, 48000, l, 7, f, 3, s, 3, nullptr), QN_STATUS_NULL_POINTER);

    // Right next to each other, in one buffer with the samples: accepted, and
    // only what is promised is written.
    uint64_t points = 0;
    ASSERT_EQ(qn_sound_levels(shared.data(), 1000, 48000, shared.data() + 1000, 7, shared.data() + 1007, 2, nullptr, 0,
                              &points),
              QN_STATUS_SUCCESS);
    EXPECT_EQ(points, 2u);
    EXPECT_TRUE(untouched(shared, 1009));
    const results whole = one_call(x);
    EXPECT_TRUE(same_bits(std::vector<double>(shared.begin() + 1000, shared.begin() + 1007), whole.levels));
    EXPECT_TRUE(same_bits(std::vector<double>(shared.begin() + 1007, shared.begin() + 1009), whole.laf));
    // Larger capacities are left alone beyond what is written.
    ASSERT_EQ(qn_sound_levels(x.data(), 1000, 48000, l, 8, f, 3, s, 3, &points), QN_STATUS_SUCCESS);
    EXPECT_TRUE(untouched(levels, 7) && untouched(laf, 2) && untouched(las, 2));
}

TEST(SoundLevelsApi, StrongButFiniteSignalsAreRunTwiceAndSucceed) {
    // Beyond the peak that cannot fail, but with finite squares: the checked
    // run succeeds and agrees with a meter fed the same.
    const auto x = qn_test::sine(1000, 1e150, 2000);
    const results whole = one_call(x);
    EXPECT_NEAR(whole.levels[QN_LEVEL_LZEQ], 20 * std::log10(1e150 / std::sqrt(2.0) / 2e-5), 0.05);
    const results m = metered(x, {700});
    EXPECT_TRUE(same_bits(m.levels, whole.levels) && same_bits(m.laf, whole.laf));
}

TEST(SoundLevelsMeter, ResultsEqualTheWholeSignalWhateverTheBlocks) {
    const std::vector<std::vector<uint64_t>> block_sizes = {
        {1}, {479}, {480}, {481}, {4096}, {47999}, {1u << 30}, {1, 7, 480, 0, 96, 12345, 0, 13},
    };
    const auto x = test_signal(100000);  // past the 1 s of settling
    const results whole = one_call(x);
    for (const auto &sizes : block_sizes) {
        const results m = metered(x, sizes);
        EXPECT_TRUE(same_bits(m.levels, whole.levels)) << "first block " << sizes[0];
        EXPECT_TRUE(same_bits(m.laf, whole.laf)) << "first block " << sizes[0];
        EXPECT_TRUE(same_bits(m.las, whole.las)) << "first block " << sizes[0];
    }
    qn_test::xorshift rng(5);
    for (int trial = 0; trial < 5; ++trial) {
        std::vector<uint64_t> sizes(40);
        for (uint64_t &s : sizes) s = rng.next() % 6000;
        const results m = metered(x, sizes);
        EXPECT_TRUE(same_bits(m.levels, whole.levels) && same_bits(m.laf, whole.laf) && same_bits(m.las, whole.las))
            << "trial " << trial;
    }
}

TEST(SoundLevelsMeter, CreateChecksAndAllocationFailure) {
    EXPECT_EQ(qn_sound_level_meter_create(48000, nullptr), QN_STATUS_NULL_POINTER);
    double not_a_meter = 0;
    auto *m = reinterpret_cast<qn_sound_level_meter *>(&not_a_meter);
    EXPECT_EQ(qn_sound_level_meter_create(44100, &m), QN_STATUS_INVALID_SAMPLE_RATE);
    EXPECT_EQ(m, nullptr);
    qn_sound_level_meter_destroy(nullptr);

    // Fail request i, expect the status, expect no leak: the meter is the one request.
    for (int64_t i = 0;; ++i) {
        const int64_t live = qn_test_live_allocations();
        qn_test_fail_allocation_at(i);
        qn_sound_level_meter *made = nullptr;
        const qn_status status = qn_sound_level_meter_create(48000, &made);
        qn_test_fail_allocation_at(-1);
        qn_sound_level_meter_destroy(made);
        EXPECT_EQ(qn_test_live_allocations(), live) << "request " << i;
        if (status == QN_STATUS_SUCCESS) {
            EXPECT_EQ(i, 1) << "one request";
            break;
        }
        EXPECT_EQ(status, QN_STATUS_ALLOCATION_FAILED) << "request " << i;
        EXPECT_EQ(made, nullptr);
    }
    // Adding and reading never ask for memory.
    meter_owner meter;
    ASSERT_EQ(qn_sound_level_meter_create(48000, &meter.m), QN_STATUS_SUCCESS);
    const auto x = test_signal(5000);
    std::vector<double> laf(20), levels(QN_SOUND_LEVELS);
    uint64_t got = 0;
    qn_test_allocation_failure fail(0, true);
    EXPECT_EQ(qn_sound_level_meter_add(meter.m, x.data(), x.size(), laf.data(), laf.size(), nullptr, 0, &got),
              QN_STATUS_SUCCESS);
    EXPECT_EQ(qn_sound_level_meter_levels(meter.m, levels.data(), levels.size()), QN_STATUS_SUCCESS);
}

TEST(SoundLevelsMeter, AddCheckOrderAndWhatIsWritten) {
    meter_owner meter;
    ASSERT_EQ(qn_sound_level_meter_create(48000, &meter.m), QN_STATUS_SUCCESS);
    const auto x = test_signal(1000);  // points at 480 and 960: 2
    auto with_inf = x;
    with_inf[999] = -std::numeric_limits<double>::infinity();
    std::vector<double> huge(1000);
    for (std::size_t i = 0; i < huge.size(); ++i) huge[i] = (i % 2 ? 1 : -1) * 1e300;
    auto laf = sentinel_buffer(4), las = sentinel_buffer(4);
    auto shared = sentinel_buffer(1004);
    std::copy(x.begin(), x.end(), shared.begin());
    struct Case {
        const char *what;
        bool null_meter, null_count;
        const double *samples;
        uint64_t count;
        double *laf;
        uint64_t laf_capacity;
        double *las;
        uint64_t las_capacity;
        qn_status expected;
        uint64_t points_after;
    };
    const uint64_t before = 4242;
    double *f = laf.data(), *s = las.data();
    const Case cases[] = {
        {"null meter", true, false, x.data(), 1000, f, 4, s, 4, QN_STATUS_NULL_POINTER, before},
        {"null point count", false, true, x.data(), 1000, f, 4, s, 4, QN_STATUS_NULL_POINTER, before},
        {"null samples", false, false, nullptr, 1000, f, 4, s, 4, QN_STATUS_NULL_POINTER, 0},
        {"2^60 samples", false, false, x.data(), k_too_many, f, 4, s, 4, QN_STATUS_SIZE_OVERFLOW, 0},
        {"LAF capacity 1", false, false, x.data(), 1000, f, 1, s, 4, QN_STATUS_OUTPUT_TOO_SMALL, 2},
        {"LAS capacity 0", false, false, x.data(), 1000, nullptr, 0, s, 0, QN_STATUS_OUTPUT_TOO_SMALL, 2},
        {"capacity before NaN", false, false, with_inf.data(), 1000, f, 1, nullptr, 0, QN_STATUS_OUTPUT_TOO_SMALL, 2},
        {"LAF in the samples", false, false, shared.data(), 1000, shared.data() + 999, 2, s, 4,
         QN_STATUS_INVALID_ARGUMENT, 0},
        {"LAS on LAF", false, false, x.data(), 1000, f, 4, f + 1, 3, QN_STATUS_INVALID_ARGUMENT, 0},
        {"infinite sample", false, false, with_inf.data(), 1000, f, 4, s, 4, QN_STATUS_NON_FINITE_INPUT, 0},
        {"squares overflow", false, false, huge.data(), 1000, f, 4, s, 4, QN_STATUS_NUMERICAL_FAILURE, 0},
        {"null samples, none given", false, false, nullptr, 0, nullptr, 0, nullptr, 0, QN_STATUS_SUCCESS, 0},
    };
    for (const Case &c : cases) {
        std::fill(laf.begin(), laf.end(), sentinel);
        std::fill(las.begin(), las.end(), sentinel);
        uint64_t points = before;
        EXPECT_EQ(qn_sound_level_meter_add(c.null_meter ? nullptr : meter.m, c.samples, c.count, c.laf, c.laf_capacity,
                                           c.las, c.las_capacity, c.null_count ? nullptr : &points),
                  c.expected)
            << c.what;
        EXPECT_EQ(points, c.points_after) << c.what;
        EXPECT_TRUE(untouched(laf) && untouched(las) && untouched(shared, 1000)) << c.what << ": outputs written";
    }
    // None of those changed the meter: its results are still those of x alone.
    uint64_t points = 0;
    ASSERT_EQ(qn_sound_level_meter_add(meter.m, x.data(), 1000, f, 4, s, 4, &points), QN_STATUS_SUCCESS);
    ASSERT_EQ(points, 2u);
    std::vector<double> levels(QN_SOUND_LEVELS);
    ASSERT_EQ(qn_sound_level_meter_levels(meter.m, levels.data(), levels.size()), QN_STATUS_SUCCESS);
    const results whole = one_call(x);
    EXPECT_TRUE(same_bits(levels, whole.levels));
    EXPECT_TRUE(same_bits(std::vector<double>(laf.begin(), laf.begin() + 2), whole.laf));
    EXPECT_TRUE(untouched(laf, 2) && untouched(las, 2)) << "nothing beyond the points";

    EXPECT_EQ(qn_sound_level_meter_point_count(nullptr, 10, &points), QN_STATUS_NULL_POINTER);
    EXPECT_EQ(qn_sound_level_meter_point_count(meter.m, 10, nullptr), QN_STATUS_NULL_POINTER);
    points = before;
    EXPECT_EQ(qn_sound_level_meter_point_count(meter.m, k_too_many - 1000, &points), QN_STATUS_SIZE_OVERFLOW);
    EXPECT_EQ(points, before);
    // 1000 samples so far: the next points are at 1440, 1920, ...
    const uint64_t counts[][2] = {{0, 0}, {440, 0}, {441, 1}, {920, 1}, {921, 2}, {480 * 10, 10}};
    for (const auto &c : counts) {
        EXPECT_EQ(qn_sound_level_meter_point_count(meter.m, c[0], &points), QN_STATUS_SUCCESS);
        EXPECT_EQ(points, c[1]) << c[0] << " more samples";
    }
}

TEST(SoundLevelsMeter, LevelsChecks) {
    meter_owner meter;
    ASSERT_EQ(qn_sound_level_meter_create(48000, &meter.m), QN_STATUS_SUCCESS);
    auto levels = sentinel_buffer(8);
    EXPECT_EQ(qn_sound_level_meter_levels(nullptr, levels.data(), 8), QN_STATUS_NULL_POINTER);
    EXPECT_EQ(qn_sound_level_meter_levels(meter.m, nullptr, 8), QN_STATUS_NULL_POINTER);
    EXPECT_EQ(qn_sound_level_meter_levels(meter.m, levels.data(), 6), QN_STATUS_OUTPUT_TOO_SMALL);
    EXPECT_EQ(qn_sound_level_meter_levels(meter.m, levels.data(), 8), QN_STATUS_INPUT_TOO_SHORT);
    EXPECT_TRUE(untouched(levels));
    const double one = 0.5;
    uint64_t points = 0;
    ASSERT_EQ(qn_sound_level_meter_add(meter.m, &one, 1, nullptr, 0, nullptr, 0, &points), QN_STATUS_SUCCESS);
    ASSERT_EQ(qn_sound_level_meter_levels(meter.m, levels.data(), 8), QN_STATUS_SUCCESS);
    EXPECT_TRUE(untouched(levels, 7));
}

// Check orders, capacities, frame counts and untouched outputs of the
// signal loudness functions and of sharpness.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <utility>
#include <vector>

#include "quarnelo.h"
#include "support/alloc_hook.h"
#include "support/expect.h"
#include "support/frame_counts.h"
#include "support/signals.h"

using qn_test::sentinel;
using qn_test::sentinel_buffer;
using qn_test::untouched;

namespace {
constexpr double k_nan = std::numeric_limits<double>::quiet_NaN();
constexpr double k_inf = std::numeric_limits<double>::infinity();
constexpr uint64_t k_too_many = uint64_t{1} << 60;
}  // namespace

TEST(LoudnessStationaryApi, CheckOrder) {
    const auto x = qn_test::sine(1000, 0.1, 1000);
    auto with_nan = x;
    with_nan.back() = k_nan;
    const auto loud_low = qn_test::sine(100, 300.0, 4800);  // far above 120 dB at 100 Hz
    double out = sentinel;
    std::vector<double> spec(240);
    struct Case {
        const char *what;
        const double *samples;
        uint64_t count;
        int32_t rate;
        qn_sound_field field;
        double *loudness;
        double *specific;
        uint64_t capacity;
        qn_status expected;
    };
    const Case cases[] = {
        {"null loudness first", nullptr, 0, 44100, 7, nullptr, nullptr, 9, QN_STATUS_NULL_POINTER},
        {"field before capacity", nullptr, 0, 44100, 2, &out, nullptr, 9, QN_STATUS_INVALID_SOUND_FIELD},
        {"capacity before signal", nullptr, 0, 44100, 0, &out, nullptr, 9, QN_STATUS_OUTPUT_TOO_SMALL},
        {"capacity 239", x.data(), 1000, 48000, 0, &out, spec.data(), 239, QN_STATUS_OUTPUT_TOO_SMALL},
        {"null samples", nullptr, 1000, 48000, 0, &out, nullptr, 0, QN_STATUS_NULL_POINTER},
        {"count 0", x.data(), 0, 44100, 0, &out, nullptr, 0, QN_STATUS_INPUT_TOO_SHORT},
        {"rate 44100", x.data(), 1000, 44100, 0, &out, nullptr, 0, QN_STATUS_INVALID_SAMPLE_RATE},
        {"count 2^60", x.data(), k_too_many, 48000, 0, &out, nullptr, 0, QN_STATUS_SIZE_OVERFLOW},
        {"NaN last", with_nan.data(), 1000, 48000, 0, &out, nullptr, 0, QN_STATUS_NON_FINITE_INPUT},
        {"NaN before short", with_nan.data(), 1000, 48000, 0, &out, nullptr, 0, QN_STATUS_NON_FINITE_INPUT},
        {"255 samples", x.data(), 255, 48000, 0, &out, nullptr, 0, QN_STATUS_INPUT_TOO_SHORT},
        {"band above 120 dB", loud_low.data(), 4800, 48000, 0, &out, nullptr, 0, QN_STATUS_INVALID_ARGUMENT},
        {"256 samples", x.data(), 256, 48000, 0, &out, nullptr, 0, QN_STATUS_SUCCESS},
        {"with pattern", x.data(), 1000, 48000, 1, &out, spec.data(), 240, QN_STATUS_SUCCESS},
    };
    for (const Case &c : cases) {
        out = sentinel;
        EXPECT_EQ(qn_loudness_stationary(c.samples, c.count, c.rate, c.field, c.loudness, c.specific, c.capacity),
                  c.expected)
            << c.what;
        if (c.expected != QN_STATUS_SUCCESS) {
            EXPECT_EQ(out, sentinel) << c.what;
        }
    }
}

TEST(LoudnessStationaryApi, FailuresWriteNothingAndSuccessWrites240) {
    const auto x = qn_test::sine(1000, 0.1, 2000);
    auto spec = sentinel_buffer(500);
    double out = sentinel;
    EXPECT_EQ(qn_loudness_stationary(x.data(), 255, 48000, 0, &out, spec.data(), 500), QN_STATUS_INPUT_TOO_SHORT);
    EXPECT_TRUE(untouched(spec));
    ASSERT_EQ(qn_loudness_stationary(x.data(), 2000, 48000, 0, &out, spec.data(), 500), QN_STATUS_SUCCESS);
    EXPECT_TRUE(untouched(spec, 240));
    EXPECT_GT(out, 0.0);
}

TEST(LoudnessTimeApi, FrameCounts) {
    constexpr uint64_t untouched_count = qn_test::frame_count_before;
    qn_test::expect_frame_counts("qn_loudness_time_frame_count", qn_loudness_time_frame_count,
                                 {
                                     {1, 48000, QN_STATUS_SUCCESS, 1},
                                     {96, 48000, QN_STATUS_SUCCESS, 1},
                                     {97, 48000, QN_STATUS_SUCCESS, 2},
                                     {48000, 48000, QN_STATUS_SUCCESS, 500},
                                     {k_too_many - 1, 48000, QN_STATUS_SUCCESS, (k_too_many - 2) / 96 + 1},
                                     {0, 48000, QN_STATUS_INPUT_TOO_SHORT, untouched_count},
                                     {k_too_many, 48000, QN_STATUS_SIZE_OVERFLOW, untouched_count},
                                     {0, 44100, QN_STATUS_INVALID_SAMPLE_RATE, untouched_count},
                                     {k_too_many, 0, QN_STATUS_INVALID_SAMPLE_RATE, untouched_count},
                                 });
}

TEST(LoudnessTimeApi, CheckOrderAndFrameCountAfterFailure) {
    const auto x = qn_test::sine(1000, 0.1, 1000);  // 11 frames
    auto with_inf = x;
    with_inf[500] = -k_inf;
    std::vector<double> n(11), s(11 * 240);
    struct Case {
        const char *what;
        const double *samples;
        uint64_t count;
        int32_t rate;
        qn_sound_field field;
        double *loudness;
        uint64_t loudness_capacity;
        double *specific;
        uint64_t specific_capacity;
        qn_status expected;
        uint64_t frames_after;
    };
    const Case cases[] = {
        {"rate first", nullptr, 0, 44100, 5, nullptr, 0, nullptr, 0, QN_STATUS_INVALID_SAMPLE_RATE, 0},
        {"count 2^60", nullptr, k_too_many, 48000, 5, nullptr, 0, nullptr, 0, QN_STATUS_SIZE_OVERFLOW, 0},
        {"count 0", nullptr, 0, 48000, 5, nullptr, 0, nullptr, 0, QN_STATUS_INPUT_TOO_SHORT, 0},
        {"field", nullptr, 1000, 48000, 5, nullptr, 0, nullptr, 0, QN_STATUS_INVALID_SOUND_FIELD, 0},
        {"null loudness", nullptr, 1000, 48000, 0, nullptr, 11, s.data(), 2640, QN_STATUS_NULL_POINTER, 0},
        {"null specific, capacity 0", x.data(), 1000, 48000, 0, n.data(), 11, nullptr, 0, QN_STATUS_NULL_POINTER, 0},
        // F * 241 doubles reach 2^60 elements long before the byte count overflows.
        {"work block bound", x.data(), k_too_many - 1, 48000, 0, n.data(), 11, s.data(), 2640,
         QN_STATUS_SIZE_OVERFLOW, 0},
        {"loudness capacity F-1", nullptr, 1000, 48000, 0, n.data(), 10, s.data(), 2640, QN_STATUS_OUTPUT_TOO_SMALL, 11},
        {"specific capacity short", nullptr, 1000, 48000, 0, n.data(), 11, s.data(), 2639, QN_STATUS_OUTPUT_TOO_SMALL, 11},
        {"null samples", nullptr, 1000, 48000, 0, n.data(), 11, s.data(), 2640, QN_STATUS_NULL_POINTER, 0},
        {"infinite sample", with_inf.data(), 1000, 48000, 0, n.data(), 11, s.data(), 2640, QN_STATUS_NON_FINITE_INPUT, 0},
        {"valid", x.data(), 1000, 48000, 1, n.data(), 11, s.data(), 2640, QN_STATUS_SUCCESS, 11},
    };
    for (const Case &c : cases) {
        uint64_t frames = 999;
        std::fill(n.begin(), n.end(), sentinel);
        std::fill(s.begin(), s.end(), sentinel);
        EXPECT_EQ(qn_loudness_time(c.samples, c.count, c.rate, c.field, c.loudness, c.loudness_capacity, c.specific,
                                   c.specific_capacity, &frames),
                  c.expected)
            << c.what;
        EXPECT_EQ(frames, c.frames_after) << c.what;
        if (c.expected != QN_STATUS_SUCCESS) {
            EXPECT_TRUE(untouched(n) && untouched(s)) << c.what << ": outputs written";
        }
    }
    EXPECT_EQ(qn_loudness_time(x.data(), 1000, 48000, 0, n.data(), 11, s.data(), 2640, nullptr),
              QN_STATUS_NULL_POINTER);
}

TEST(LoudnessTimeApi, LargerCapacitiesAreLeftUntouched) {
    const auto x = qn_test::sine(2000, 0.2, 96 * 3 + 1);  // 4 frames
    auto n = sentinel_buffer(10);
    auto s = sentinel_buffer(10 * 240);
    uint64_t frames = 0;
    ASSERT_EQ(qn_loudness_time(x.data(), x.size(), 48000, 0, n.data(), n.size(), s.data(), s.size(), &frames),
              QN_STATUS_SUCCESS);
    EXPECT_EQ(frames, 4u);
    EXPECT_TRUE(untouched(n, 4));
    EXPECT_TRUE(untouched(s, 4 * 240));
    EXPECT_FALSE(untouched(n));
}

TEST(LoudnessTimeApi, AllocationFailureIsAStatus) {
    // Only a signal beyond 1e100 Pa needs the block that holds its frames
    // until the end.
    const auto x = qn_test::sine(1000, 1e101, 4800);
    std::vector<double> n(50), s(50 * 240);
    uint64_t frames = 5;
    {
        qn_test_allocation_failure fail(0);
        EXPECT_EQ(qn_loudness_time(x.data(), x.size(), 48000, 0, n.data(), 50, s.data(), s.size(), &frames),
                  QN_STATUS_ALLOCATION_FAILED);
    }
    EXPECT_EQ(frames, 0u);
    const int64_t live = qn_test_live_allocations();
    qn_test_fail_allocation_at(-1);
    ASSERT_EQ(qn_loudness_time(x.data(), x.size(), 48000, 0, n.data(), 50, s.data(), s.size(), &frames),
              QN_STATUS_SUCCESS);
    EXPECT_EQ(qn_test_allocation_count(), 1) << "one working block per call";
    EXPECT_EQ(qn_test_live_allocations(), live) << "and it is released";
}

TEST(LoudnessTimeApi, SignalsUpToTheBoundAllocateNothingAndStayFinite) {
    // The bound's worst cases: the band at 25 Hz rung at its centre, every
    // band at once by a click train, the top band by the fastest
    // alternation; full scale at 1e100 Pa for two seconds.
    const std::size_t count = 96000;
    const auto tone = qn_test::sine(25, 1e100 * std::sqrt(2.0), count);
    std::vector<double> square(count), clicks(count, 0.0), alternating(count), at_bound(count);
    for (std::size_t i = 0; i < count; ++i) {
        square[i] = (i / 960) % 2 ? 1e100 : -1e100;
        alternating[i] = i % 2 ? 1e100 : -1e100;
        at_bound[i] = std::min(std::max(tone[i], -1e100), 1e100);
    }
    for (std::size_t i = 0; i < count; i += 4800) clicks[i] = 1e100;
    const std::pair<const char *, const std::vector<double> *> signals[] = {
        {"25 Hz at the bound", &at_bound}, {"25 Hz square", &square}, {"clicks", &clicks}, {"alternating", &alternating}};
    const uint64_t frames = (count - 1) / 96 + 1;
    std::vector<double> n(frames), s(frames * 240);
    for (const auto &[what, x] : signals) {
        qn_test_fail_allocation_at(-1);
        uint64_t written = 0;
        ASSERT_EQ(qn_loudness_time(x->data(), count, 48000, 1, n.data(), n.size(), s.data(), s.size(), &written),
                  QN_STATUS_SUCCESS)
            << what;
        EXPECT_EQ(qn_test_allocation_count(), 0) << what;
        EXPECT_TRUE(std::all_of(n.begin(), n.end(), [](double v) { return std::isfinite(v); })) << what;
        EXPECT_TRUE(std::all_of(s.begin(), s.end(), [](double v) { return std::isfinite(v); })) << what;
    }
}

TEST(LoudnessTimeApi, BeyondTheBoundTheFramesWaitInABlock) {
    // Frames written as they go and frames held until the end are the same.
    const auto quiet = qn_test::sine(1000, 0.2, 4800);
    auto loud = quiet;
    loud[2400] = 2e100;  // one sample beyond the bound, far from the frames compared
    const uint64_t frames = 50;
    std::vector<double> n1(frames), s1(frames * 240), n2(frames), s2(frames * 240);
    uint64_t written = 0;
    qn_test_fail_allocation_at(-1);
    ASSERT_EQ(qn_loudness_time(loud.data(), loud.size(), 48000, 0, n1.data(), frames, s1.data(), s1.size(), &written),
              QN_STATUS_SUCCESS);
    EXPECT_EQ(qn_test_allocation_count(), 1);
    ASSERT_EQ(qn_loudness_time(quiet.data(), quiet.size(), 48000, 0, n2.data(), frames, s2.data(), s2.size(), &written),
              QN_STATUS_SUCCESS);
    for (uint64_t f = 0; f < 24; ++f) EXPECT_EQ(n1[f], n2[f]) << "frame " << f;
    EXPECT_TRUE(std::equal(s1.begin(), s1.begin() + 24 * 240, s2.begin()));
}

TEST(LoudnessTimeApi, OverflowingFilterIsANumericalFailure) {
    std::vector<double> x(2000);
    for (std::size_t i = 0; i < x.size(); ++i) x[i] = (i % 2 ? 1 : -1) * 1e300;
    std::vector<double> n(21, sentinel), s(21 * 240, sentinel);
    uint64_t frames = 7;
    EXPECT_EQ(qn_loudness_time(x.data(), x.size(), 48000, 0, n.data(), 21, s.data(), s.size(), &frames),
              QN_STATUS_NUMERICAL_FAILURE);
    EXPECT_EQ(frames, 0u);
    EXPECT_TRUE(untouched(n) && untouched(s));
}

TEST(SharpnessApi, CheckOrder) {
    std::vector<double> good(240, 1.0);
    auto negative_then_nan = good;
    negative_then_nan[5] = -1;
    negative_then_nan[100] = k_nan;
    auto nan_then_negative = good;
    nan_then_negative[5] = k_nan;
    nan_then_negative[100] = -1;
    auto negative_zero = good;
    negative_zero[7] = -0.0;
    auto infinite = good;
    infinite[239] = k_inf;
    double out = sentinel;
    struct Case {
        const char *what;
        const double *specific;
        uint64_t count;
        double *sharpness;
        qn_status expected;
    };
    const Case cases[] = {
        {"null input", nullptr, 5, &out, QN_STATUS_NULL_POINTER},
        {"null output", good.data(), 5, nullptr, QN_STATUS_NULL_POINTER},
        {"count 239", good.data(), 239, &out, QN_STATUS_INVALID_ARGUMENT},
        {"count 241", good.data(), 241, &out, QN_STATUS_INVALID_ARGUMENT},
        {"negative before NaN", negative_then_nan.data(), 240, &out, QN_STATUS_INVALID_ARGUMENT},
        {"NaN before negative", nan_then_negative.data(), 240, &out, QN_STATUS_NON_FINITE_INPUT},
        {"infinite last", infinite.data(), 240, &out, QN_STATUS_NON_FINITE_INPUT},
        {"negative zero is zero", negative_zero.data(), 240, &out, QN_STATUS_SUCCESS},
        {"valid", good.data(), 240, &out, QN_STATUS_SUCCESS},
    };
    for (const Case &c : cases) {
        out = sentinel;
        EXPECT_EQ(qn_sharpness_din(c.specific, c.count, c.sharpness), c.expected) << c.what;
        if (c.expected != QN_STATUS_SUCCESS) {
            EXPECT_EQ(out, sentinel) << c.what;
        } else {
            EXPECT_TRUE(std::isfinite(out) && out > 0) << c.what;
        }
    }
}

TEST(SharpnessApi, ExtremeValuesStayFinite) {
    std::vector<double> specific(240, 0.0);
    specific[0] = std::numeric_limits<double>::max();
    specific[239] = std::numeric_limits<double>::max();
    specific[100] = std::numeric_limits<double>::denorm_min();
    double s = 0;
    ASSERT_EQ(qn_sharpness_din(specific.data(), 240, &s), QN_STATUS_SUCCESS);
    EXPECT_TRUE(std::isfinite(s));
    EXPECT_GT(s, 0.11 * 12.0);
}

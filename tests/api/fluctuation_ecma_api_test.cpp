// qn_ecma_fluctuation_frame_count and qn_fluctuation_ecma: frame counts, the
// check order, what is written after each failure, outputs that share
// memory with the signal, allocation failures.
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

using qn_test::sentinel;
using qn_test::sentinel_buffer;
using qn_test::untouched;

namespace {

constexpr uint64_t shortest = 65537;                 // 69 frames, 6 blocks
constexpr uint64_t longest = 1152921504606781439;  // 2^60 - 65537

TEST(EcmaFluctuationApi, FrameCounts) {
    struct Case {
        uint64_t count;
        int32_t rate;
        qn_status status;
        uint64_t frames;
    };
    const Case cases[] = {
        {65536, 48000, QN_STATUS_INPUT_TOO_SHORT, 0},
        {65537, 48000, QN_STATUS_SUCCESS, 69},
        {66239, 48000, QN_STATUS_SUCCESS, 69},
        {66240, 48000, QN_STATUS_SUCCESS, 70},
        {480000, 48000, QN_STATUS_SUCCESS, 501},
        {longest, 48000, QN_STATUS_SUCCESS, longest / 960 + 1},
        {longest + 1, 48000, QN_STATUS_SIZE_OVERFLOW, 0},
        {UINT64_MAX, 48000, QN_STATUS_SIZE_OVERFLOW, 0},
        {0, 48000, QN_STATUS_INPUT_TOO_SHORT, 0},
        {480000, 44100, QN_STATUS_INVALID_SAMPLE_RATE, 0},
        {0, -48000, QN_STATUS_INVALID_SAMPLE_RATE, 0},
    };
    for (const Case &c : cases) {
        uint64_t frames = 777;
        EXPECT_EQ(qn_ecma_fluctuation_frame_count(c.count, c.rate, &frames), c.status) << c.count;
        EXPECT_EQ(frames, c.frames) << c.count;
    }
    EXPECT_EQ(qn_ecma_fluctuation_frame_count(shortest, 48000, nullptr), QN_STATUS_NULL_POINTER);
    EXPECT_EQ(QN_ECMA_FLUCTUATION_MIN_SAMPLES, shortest);
    EXPECT_EQ(QN_ECMA_FLUCTUATION_HOP, 960);
}

std::vector<double> swell(uint64_t n) { return qn_test::am_tone(1000, 4, 1.0, 0.05, n); }

TEST(EcmaFluctuationApi, CheckOrderAndWhatIsWritten) {
    const uint64_t n = shortest;
    const uint64_t size = 53 * 69;
    const auto x = swell(n);
    auto with_nan = x;
    with_nan[n - 1] = std::numeric_limits<double>::quiet_NaN();
    auto with_inf = x;
    with_inf[0] = -std::numeric_limits<double>::infinity();
    auto out = sentinel_buffer(size + 3);
    const uint64_t before = 4242;
    struct Case {
        const char *what;
        const double *samples;
        uint64_t count;
        int32_t rate;
        qn_sound_field field;
        bool null_out;
        uint64_t capacity;
        bool null_frames;
        qn_status expected;
        uint64_t frames_after;
    };
    const Case cases[] = {
        {"null frame count first", nullptr, 0, 0, 9, true, 0, true, QN_STATUS_NULL_POINTER, before},
        {"rate before field", x.data(), n, 44100, 9, false, size, false, QN_STATUS_INVALID_SAMPLE_RATE, 0},
        {"field before null out", x.data(), n, 48000, 2, true, size, false, QN_STATUS_INVALID_SOUND_FIELD, 0},
        {"negative field", x.data(), n, 48000, -1, false, size, false, QN_STATUS_INVALID_SOUND_FIELD, 0},
        {"null out before length", x.data(), 3, 48000, 0, true, size, false, QN_STATUS_NULL_POINTER, 0},
        {"one block is too short", x.data(), n - 1, 48000, 0, false, size, false, QN_STATUS_INPUT_TOO_SHORT, 0},
        {"count 0 with null samples", nullptr, 0, 48000, 0, false, size, false, QN_STATUS_INPUT_TOO_SHORT, 0},
        {"too long", x.data(), longest + 1, 48000, 0, false, size, false, QN_STATUS_SIZE_OVERFLOW, 0},
        {"capacity 0 gives the size", x.data(), n, 48000, 0, false, 0, false, QN_STATUS_OUTPUT_TOO_SMALL, 69},
        {"capacity 53 V - 1", x.data(), n, 48000, 0, false, size - 1, false, QN_STATUS_OUTPUT_TOO_SMALL, 69},
        {"capacity before null samples", nullptr, n, 48000, 0, false, size - 1, false, QN_STATUS_OUTPUT_TOO_SMALL,
         69},
        {"capacity before NaN", with_nan.data(), n, 48000, 1, false, 52, false, QN_STATUS_OUTPUT_TOO_SMALL, 69},
        {"null samples", nullptr, n, 48000, 0, false, size, false, QN_STATUS_NULL_POINTER, 69},
        {"NaN in the last sample", with_nan.data(), n, 48000, 0, false, size, false, QN_STATUS_NON_FINITE_INPUT, 69},
        {"infinity in the first", with_inf.data(), n, 48000, 1, false, size, false, QN_STATUS_NON_FINITE_INPUT, 69},
        {"valid, free field", x.data(), n, 48000, 0, false, size + 3, false, QN_STATUS_SUCCESS, 69},
        {"valid, diffuse field", x.data(), n, 48000, 1, false, size, false, QN_STATUS_SUCCESS, 69},
    };
    for (const Case &c : cases) {
        std::fill(out.begin(), out.end(), sentinel);
        uint64_t frames = before;
        const qn_status status = qn_fluctuation_ecma(c.samples, c.count, c.rate, c.field,
                                                     c.null_out ? nullptr : out.data(), c.capacity,
                                                     c.null_frames ? nullptr : &frames);
        EXPECT_EQ(status, c.expected) << c.what;
        EXPECT_EQ(frames, c.frames_after) << c.what;
        if (c.expected == QN_STATUS_SUCCESS) {
            EXPECT_TRUE(untouched(out, size)) << c.what << ": capacity beyond the frames is left alone";
            EXPECT_FALSE(untouched(out)) << c.what;
            for (uint64_t i = 0; i < size; ++i) ASSERT_TRUE(std::isfinite(out[i]) && out[i] >= 0) << c.what << i;
        } else {
            EXPECT_TRUE(untouched(out)) << c.what;
        }
    }
}

TEST(EcmaFluctuationApi, OutputSharingTheSignalIsRefused) {
    // One buffer holds the signal and, at some offset, the output: any
    // shared byte is refused before anything is written, after the
    // capacity check and before the signal is read.
    const uint64_t n = shortest, size = 53 * 69;
    const auto x = swell(n);
    struct Case {
        const char *what;
        std::ptrdiff_t offset;  // of the output from the signal's first sample
        uint64_t capacity;
        bool nan;
        qn_status expected;
    };
    const Case cases[] = {
        {"the same place", 0, size, false, QN_STATUS_INVALID_ARGUMENT},
        {"over the signal's end", static_cast<std::ptrdiff_t>(n) - 1, size, false, QN_STATUS_INVALID_ARGUMENT},
        {"over its start", -static_cast<std::ptrdiff_t>(size) + 1, size, false, QN_STATUS_INVALID_ARGUMENT},
        {"before the NaN check", 100, size, true, QN_STATUS_INVALID_ARGUMENT},
        {"after the capacity check", 0, size - 1, false, QN_STATUS_OUTPUT_TOO_SMALL},
        {"right after the signal", static_cast<std::ptrdiff_t>(n), size, false, QN_STATUS_SUCCESS},
        {"right before it", -static_cast<std::ptrdiff_t>(size), size, false, QN_STATUS_SUCCESS},
    };
    for (const Case &c : cases) {
        const std::size_t lead = size;  // room before the signal
        std::vector<double> buffer(lead + n + size, sentinel);
        std::copy(x.begin(), x.end(), buffer.begin() + lead);
        if (c.nan) buffer[lead + n / 2] = std::numeric_limits<double>::quiet_NaN();
        const std::vector<double> was = buffer;
        double *samples = buffer.data() + lead;
        uint64_t frames = 0;
        const qn_status status = qn_fluctuation_ecma(samples, n, 48000, 0, samples + c.offset, c.capacity, &frames);
        EXPECT_EQ(status, c.expected) << c.what;
        EXPECT_EQ(frames, 69u) << c.what;
        if (status != QN_STATUS_SUCCESS) {
            EXPECT_EQ(std::memcmp(buffer.data(), was.data(), sizeof(double) * buffer.size()), 0) << c.what;
        } else {
            EXPECT_TRUE(std::equal(x.begin(), x.end(), samples)) << c.what << ": the signal is read only";
        }
    }
}

TEST(EcmaFluctuationApi, AllocationFailuresAreStatusesAndLeakNothing) {
    const uint64_t n = shortest;
    const auto x = swell(n);
    std::vector<double> out(53 * 69), expected(53 * 69);
    uint64_t frames = 0;
    qn_test_fail_allocation_at(-1);
    ASSERT_EQ(qn_fluctuation_ecma(x.data(), n, 48000, 0, expected.data(), expected.size(), &frames),
              QN_STATUS_SUCCESS);
    const int64_t requests = qn_test_allocation_count();
    const int64_t live = qn_test_live_allocations();
    ASSERT_GT(requests, 4);
    for (int64_t i = 0; i < requests; ++i) {
        std::fill(out.begin(), out.end(), sentinel);
        {
            qn_test_allocation_failure fail(i);
            EXPECT_EQ(qn_fluctuation_ecma(x.data(), n, 48000, 0, out.data(), out.size(), &frames),
                      QN_STATUS_ALLOCATION_FAILED)
                << "request " << i;
        }
        EXPECT_EQ(frames, 69u);
        EXPECT_TRUE(untouched(out)) << "request " << i;
        EXPECT_EQ(qn_test_live_allocations(), live) << "request " << i;
    }
    // And the next call is whole again.
    ASSERT_EQ(qn_fluctuation_ecma(x.data(), n, 48000, 0, out.data(), out.size(), &frames), QN_STATUS_SUCCESS);
    EXPECT_EQ(out, expected);
}

TEST(EcmaFluctuationApi, NumericalFailureKeepsTheFrameCount) {
    // Pressures near the largest double overflow the filters.
    std::vector<double> huge(shortest, 1e300);
    for (std::size_t i = 0; i < huge.size(); i += 2) huge[i] = -1e300;
    auto out = sentinel_buffer(53 * 69);
    uint64_t frames = 0;
    EXPECT_EQ(qn_fluctuation_ecma(huge.data(), huge.size(), 48000, 0, out.data(), out.size(), &frames),
              QN_STATUS_NUMERICAL_FAILURE);
    EXPECT_EQ(frames, 69u);
    // Loud but finite pressures that the filters survive give finite values.
    std::vector<double> loud(shortest);
    for (std::size_t i = 0; i < loud.size(); ++i) loud[i] = (i % 7 < 3 ? 1e5 : -1e5) * (1 + (i / 6000) % 2);
    EXPECT_EQ(qn_fluctuation_ecma(loud.data(), loud.size(), 48000, 0, out.data(), out.size(), &frames),
              QN_STATUS_SUCCESS);
    for (double v : out) EXPECT_TRUE(std::isfinite(v) && v >= 0);
}

}  // namespace

// qn_roughness_frame_count and qn_roughness_dw: frame counts, the driver's
// check order, what is written after each failure.
#include <gtest/gtest.h>

#include <limits>
#include <vector>

#include "quarnelo.h"
#include "support/expect.h"
#include "support/frame_counts.h"
#include "support/framed_api.h"
#include "support/signals.h"

using qn_test::sentinel;
using qn_test::sentinel_buffer;
using qn_test::untouched;

TEST(RoughnessApi, FrameCounts) {
    constexpr uint64_t untouched_count = qn_test::frame_count_before;
    qn_test::expect_frame_counts("qn_roughness_frame_count", qn_roughness_frame_count,
                                 {
                                     {9599, 48000, QN_STATUS_INPUT_TOO_SHORT, untouched_count},
                                     {9600, 48000, QN_STATUS_SUCCESS, 1},
                                     {14399, 48000, QN_STATUS_SUCCESS, 1},
                                     {14400, 48000, QN_STATUS_SUCCESS, 2},
                                     {48000, 48000, QN_STATUS_SUCCESS, 9},
                                     {2147483647, 48000, QN_STATUS_SUCCESS, (2147483647u - 9600u) / 4800u + 1},
                                     {2147483648, 48000, QN_STATUS_SIZE_OVERFLOW, untouched_count},
                                     {0, 48000, QN_STATUS_INPUT_TOO_SHORT, untouched_count},
                                     {100, 44100, QN_STATUS_INVALID_SAMPLE_RATE, untouched_count},
                                     {uint64_t{1} << 40, 44100, QN_STATUS_INVALID_SAMPLE_RATE, untouched_count},
                                 });
}

TEST(RoughnessApi, CheckOrderAndWhatIsWritten) {
    const auto x = qn_test::am_tone(1000, 70, 1.0, 0.03, 14400);  // 2 frames
    auto with_nan = x;
    with_nan[14000] = std::numeric_limits<double>::quiet_NaN();
    auto out = sentinel_buffer(4);
    struct Case {
        const char *what;
        const double *samples;
        uint64_t count;
        int32_t rate;
        double *out;
        uint64_t capacity;
        bool null_frames;
        qn_status expected;
        uint64_t frames_after;
    };
    const uint64_t before = 4242;
    const Case cases[] = {
        {"null samples", nullptr, 14400, 48000, out.data(), 4, false, QN_STATUS_NULL_POINTER, before},
        {"null out", x.data(), 14400, 48000, nullptr, 4, false, QN_STATUS_NULL_POINTER, before},
        {"null frame count", x.data(), 14400, 48000, out.data(), 4, true, QN_STATUS_NULL_POINTER, before},
        {"rate before length", x.data(), 10, 44100, out.data(), 4, false, QN_STATUS_INVALID_SAMPLE_RATE, before},
        {"2^31 before length", x.data(), 2147483648, 48000, out.data(), 4, false, QN_STATUS_SIZE_OVERFLOW, before},
        {"too short", x.data(), 9599, 48000, out.data(), 4, false, QN_STATUS_INPUT_TOO_SHORT, before},
        {"count 0", x.data(), 0, 48000, out.data(), 4, false, QN_STATUS_INPUT_TOO_SHORT, before},
        {"capacity 0 gives the size", x.data(), 14400, 48000, out.data(), 0, false, QN_STATUS_OUTPUT_TOO_SMALL, 2},
        {"capacity before NaN", with_nan.data(), 14400, 48000, out.data(), 1, false, QN_STATUS_OUTPUT_TOO_SMALL, 2},
        {"NaN with room", with_nan.data(), 14400, 48000, out.data(), 2, false, QN_STATUS_NON_FINITE_INPUT, before},
        {"valid", x.data(), 14400, 48000, out.data(), 4, false, QN_STATUS_SUCCESS, 2},
    };
    for (const Case &c : cases) {
        std::fill(out.begin(), out.end(), sentinel);
        uint64_t frames = before;
        EXPECT_EQ(qn_roughness_dw(c.samples, c.count, c.rate, c.out, c.capacity, c.null_frames ? nullptr : &frames),
                  c.expected)
            << c.what;
        EXPECT_EQ(frames, c.frames_after) << c.what;
        if (c.expected == QN_STATUS_SUCCESS) {
            EXPECT_TRUE(untouched(out, 2)) << "capacity beyond the frames is left alone";
            EXPECT_GT(out[0], 0.5);
        } else {
            EXPECT_TRUE(untouched(out)) << c.what;
        }
    }
}

TEST(RoughnessApi, AllocationFailuresAreStatusesAndLeakNothing) {
    const auto x = qn_test::am_tone(1000, 70, 1.0, 0.03, 9600);
    qn_test::expect_allocation_failures(
        [&](double *out, uint64_t *frames) { return qn_roughness_dw(x.data(), 9600, 48000, out, 1, frames); });
}

TEST(RoughnessApi, NumericalFailureWritesNothing) {
    std::vector<double> huge(9600, 1e300);
    for (std::size_t i = 0; i < huge.size(); i += 2) huge[i] = -1e300;
    double out = sentinel;
    uint64_t frames = 5;
    EXPECT_EQ(qn_roughness_dw(huge.data(), 9600, 48000, &out, 1, &frames), QN_STATUS_NUMERICAL_FAILURE);
    EXPECT_EQ(out, sentinel);
    EXPECT_EQ(frames, 5u);
}

// qn_tonality_frame_count and qn_tonality_aures: frame counts, the driver's
// check order, what is written after each failure.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <vector>

#include "quarnelo.h"
#include "support/expect.h"
#include "support/framed_api.h"
#include "support/signals.h"

using qn_test::sentinel;
using qn_test::sentinel_buffer;
using qn_test::untouched;

namespace {
std::vector<double> tone(double hz, double level_db, std::size_t n) {
    return qn_test::sine(hz, qn_test::rms_for_level(level_db) * std::sqrt(2.0), n);
}
}  // namespace

TEST(TonalityApi, FrameCounts) {
    qn_test::expect_frame_counts("qn_tonality_frame_count", qn_tonality_frame_count,
                                 {
                                     {11999, 48000, QN_STATUS_INPUT_TOO_SHORT, qn_test::frame_count_before},
                                     {12000, 48000, QN_STATUS_SUCCESS, 1},
                                     {17999, 48000, QN_STATUS_SUCCESS, 1},
                                     {18000, 48000, QN_STATUS_SUCCESS, 2},
                                     {48000, 48000, QN_STATUS_SUCCESS, 7},
                                     {2147483647, 48000, QN_STATUS_SUCCESS, (2147483647u - 12000u) / 6000u + 1},
                                     {2147483648, 48000, QN_STATUS_SIZE_OVERFLOW, qn_test::frame_count_before},
                                     {0, 48000, QN_STATUS_INPUT_TOO_SHORT, qn_test::frame_count_before},
                                     {100, 44100, QN_STATUS_INVALID_SAMPLE_RATE, qn_test::frame_count_before},
                                     {uint64_t{1} << 40, 0, QN_STATUS_INVALID_SAMPLE_RATE, qn_test::frame_count_before},
                                 });
}

TEST(TonalityApi, CheckOrderAndWhatIsWritten) {
    const auto x = tone(1000, 60, 18000);  // 2 frames
    auto with_nan = x;
    with_nan[17999] = std::numeric_limits<double>::quiet_NaN();
    auto out = sentinel_buffer(4);
    struct Case {
        const char *what;
        const double *samples;
        uint64_t count;
        int32_t rate;
        qn_sound_field field;
        double *out;
        uint64_t capacity;
        bool null_frames;
        qn_status expected;
        uint64_t frames_after;
    };
    const uint64_t before = 4242;
    const Case cases[] = {
        {"null samples", nullptr, 18000, 48000, 0, out.data(), 4, false, QN_STATUS_NULL_POINTER, before},
        {"null out", x.data(), 18000, 48000, 0, nullptr, 4, false, QN_STATUS_NULL_POINTER, before},
        {"null frame count", x.data(), 18000, 48000, 0, out.data(), 4, true, QN_STATUS_NULL_POINTER, before},
        {"rate before length", x.data(), 10, 44100, 0, out.data(), 4, false, QN_STATUS_INVALID_SAMPLE_RATE, before},
        {"2^31 before length", x.data(), 2147483648, 48000, 0, out.data(), 4, false, QN_STATUS_SIZE_OVERFLOW, before},
        {"length before field", x.data(), 11999, 48000, 2, out.data(), 4, false, QN_STATUS_INPUT_TOO_SHORT, before},
        {"count 0", x.data(), 0, 48000, 0, out.data(), 4, false, QN_STATUS_INPUT_TOO_SHORT, before},
        {"field 2", x.data(), 18000, 48000, 2, out.data(), 4, false, QN_STATUS_INVALID_SOUND_FIELD, before},
        {"field -1 before capacity", x.data(), 18000, 48000, -1, out.data(), 0, false, QN_STATUS_INVALID_SOUND_FIELD,
         before},
        {"capacity 0 gives the size", x.data(), 18000, 48000, 0, out.data(), 0, false, QN_STATUS_OUTPUT_TOO_SMALL, 2},
        {"capacity before NaN", with_nan.data(), 18000, 48000, 1, out.data(), 1, false, QN_STATUS_OUTPUT_TOO_SMALL, 2},
        {"NaN with room", with_nan.data(), 18000, 48000, 1, out.data(), 2, false, QN_STATUS_NON_FINITE_INPUT, before},
        {"valid, diffuse", x.data(), 18000, 48000, 1, out.data(), 4, false, QN_STATUS_SUCCESS, 2},
        {"valid, free", x.data(), 18000, 48000, 0, out.data(), 4, false, QN_STATUS_SUCCESS, 2},
    };
    for (const Case &c : cases) {
        std::fill(out.begin(), out.end(), sentinel);
        uint64_t frames = before;
        EXPECT_EQ(qn_tonality_aures(c.samples, c.count, c.rate, c.field, c.out, c.capacity,
                                    c.null_frames ? nullptr : &frames),
                  c.expected)
            << c.what;
        EXPECT_EQ(frames, c.frames_after) << c.what;
        if (c.expected == QN_STATUS_SUCCESS) {
            EXPECT_TRUE(untouched(out, 2)) << "capacity beyond the frames is left alone";
            EXPECT_NEAR(out[0], 1.0, 0.01) << c.what;
            EXPECT_NEAR(out[1], 1.0, 0.01) << c.what;
        } else {
            EXPECT_TRUE(untouched(out)) << c.what;
        }
    }
}

TEST(TonalityApi, AllocationFailuresAreStatusesAndLeakNothing) {
    const auto x = tone(1000, 60, 12000);
    qn_test::expect_allocation_failures([&](double *out, uint64_t *frames) {
        return qn_tonality_aures(x.data(), 12000, 48000, QN_SOUND_FIELD_FREE, out, 1, frames);
    });
}

TEST(TonalityApi, VeryLoudLowFrequencySoundIsANumericalFailure) {
    // A 100 Hz tone of 130 dB in the second frame only: the loudness model
    // stops at 120 dB in the bands up to 250 Hz, so the whole call fails and
    // the first frame's value is not delivered either.
    auto x = tone(100, 130, 18000);
    for (std::size_t i = 0; i < 12000; ++i) x[i] = 0;
    auto out = sentinel_buffer(2);
    uint64_t frames = 5;
    EXPECT_EQ(qn_tonality_aures(x.data(), 18000, 48000, 0, out.data(), 2, &frames), QN_STATUS_NUMERICAL_FAILURE);
    EXPECT_TRUE(untouched(out));
    EXPECT_EQ(frames, 5u);
    // The same tone at 110 dB is rated.
    const auto y = tone(100, 110, 18000);
    EXPECT_EQ(qn_tonality_aures(y.data(), 18000, 48000, 0, out.data(), 2, &frames), QN_STATUS_SUCCESS);
    EXPECT_GT(out[0], 0.1);
}

TEST(TonalityApi, OverflowingSpectrumIsANumericalFailure) {
    std::vector<double> huge(12000, 1e300);
    for (std::size_t i = 0; i < huge.size(); i += 2) huge[i] = -1e300;
    double out = sentinel;
    uint64_t frames = 5;
    EXPECT_EQ(qn_tonality_aures(huge.data(), 12000, 48000, 0, &out, 1, &frames), QN_STATUS_NUMERICAL_FAILURE);
    EXPECT_EQ(out, sentinel);
    EXPECT_EQ(frames, 5u);
}

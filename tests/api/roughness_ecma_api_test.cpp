// qn_ecma_roughness_frame_count and qn_roughness_ecma: frame counts, the
// check order, what is written after each failure, allocation failures.
#include <gtest/gtest.h>

#include <algorithm>
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

constexpr uint64_t longest = 1152921504606830591;  // 2^60 - 16385
// The longest signal whose ceil(n / 4096) + 1 blocks of 13621 modulation
// values stay below 2^60 values, a whole number of blocks.
constexpr uint64_t longest_spectra = 346697487913484288;
static_assert((longest_spectra / 4096 + 1) * 13621 < (uint64_t{1} << 60));
static_assert((longest_spectra / 4096 + 2) * 13621 >= (uint64_t{1} << 60));

TEST(EcmaRoughnessApi, FrameCounts) {
    struct Case {
        uint64_t count;
        int32_t rate;
        qn_status status;
        uint64_t frames;
    };
    const Case cases[] = {
        {15359, 48000, QN_STATUS_INPUT_TOO_SHORT, 0},
        {15360, 48000, QN_STATUS_SUCCESS, 17},
        {16319, 48000, QN_STATUS_SUCCESS, 17},
        {16320, 48000, QN_STATUS_SUCCESS, 18},
        {48000, 48000, QN_STATUS_SUCCESS, 51},
        {longest, 48000, QN_STATUS_SUCCESS, longest / 960 + 1},
        {longest + 1, 48000, QN_STATUS_SIZE_OVERFLOW, 0},
        {UINT64_MAX, 48000, QN_STATUS_SIZE_OVERFLOW, 0},
        {0, 48000, QN_STATUS_INPUT_TOO_SHORT, 0},
        {48000, 44100, QN_STATUS_INVALID_SAMPLE_RATE, 0},
        {0, 0, QN_STATUS_INVALID_SAMPLE_RATE, 0},
    };
    for (const Case &c : cases) {
        uint64_t frames = 777;
        EXPECT_EQ(qn_ecma_roughness_frame_count(c.count, c.rate, &frames), c.status) << c.count;
        EXPECT_EQ(frames, c.frames) << c.count;
    }
    EXPECT_EQ(qn_ecma_roughness_frame_count(15360, 48000, nullptr), QN_STATUS_NULL_POINTER);
}

TEST(EcmaRoughnessApi, CheckOrderAndWhatIsWritten) {
    const uint64_t n = 15360;  // 17 frames, 5 blocks
    const uint64_t size = 53 * 17;
    const auto x = qn_test::am_tone(1000, 70, 1.0, 0.05, n);
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
        {"too short", x.data(), n - 1, 48000, 0, false, size, false, QN_STATUS_INPUT_TOO_SHORT, 0},
        {"count 0 with null samples", nullptr, 0, 48000, 0, false, size, false, QN_STATUS_INPUT_TOO_SHORT, 0},
        {"too long", x.data(), longest + 1, 48000, 0, false, size, false, QN_STATUS_SIZE_OVERFLOW, 0},
        {"capacity 0 gives the size", x.data(), n, 48000, 0, false, 0, false, QN_STATUS_OUTPUT_TOO_SMALL, 17},
        {"capacity 53 V - 1", x.data(), n, 48000, 0, false, size - 1, false, QN_STATUS_OUTPUT_TOO_SMALL, 17},
        {"capacity before null samples", nullptr, n, 48000, 0, false, size - 1, false, QN_STATUS_OUTPUT_TOO_SMALL, 17},
        {"capacity before NaN", with_nan.data(), n, 48000, 1, false, 52, false, QN_STATUS_OUTPUT_TOO_SMALL, 17},
        {"spectra size of the longest", x.data(), longest, 48000, 0, false, UINT64_MAX, false,
         QN_STATUS_SIZE_OVERFLOW, longest / 960 + 1},
        // The size check reads no sample: past it, a null signal is the next refusal.
        {"spectra of the longest they allow", nullptr, longest_spectra, 48000, 0, false, UINT64_MAX, false,
         QN_STATUS_NULL_POINTER, longest_spectra / 960 + 1},
        {"spectra of one sample more", x.data(), longest_spectra + 1, 48000, 0, false, UINT64_MAX, false,
         QN_STATUS_SIZE_OVERFLOW, (longest_spectra + 1) / 960 + 1},
        {"null samples", nullptr, n, 48000, 0, false, size, false, QN_STATUS_NULL_POINTER, 17},
        {"NaN in the last sample", with_nan.data(), n, 48000, 0, false, size, false, QN_STATUS_NON_FINITE_INPUT, 17},
        {"infinity in the first", with_inf.data(), n, 48000, 1, false, size, false, QN_STATUS_NON_FINITE_INPUT, 17},
        {"valid, free field", x.data(), n, 48000, 0, false, size + 3, false, QN_STATUS_SUCCESS, 17},
        {"valid, diffuse field", x.data(), n, 48000, 1, false, size, false, QN_STATUS_SUCCESS, 17},
    };
    for (const Case &c : cases) {
        std::fill(out.begin(), out.end(), sentinel);
        uint64_t frames = before;
        const qn_status status = qn_roughness_ecma(c.samples, c.count, c.rate, c.field, c.null_out ? nullptr : out.data(),
                                                   c.capacity, c.null_frames ? nullptr : &frames);
        EXPECT_EQ(status, c.expected) << c.what;
        EXPECT_EQ(frames, c.frames_after) << c.what;
        if (c.expected == QN_STATUS_SUCCESS) {
            EXPECT_TRUE(untouched(out, size)) << c.what << ": capacity beyond the frames is left alone";
            EXPECT_FALSE(untouched(out)) << c.what;
        } else {
            EXPECT_TRUE(untouched(out)) << c.what;
        }
    }
}

TEST(EcmaRoughnessApi, AllocationFailuresAreStatusesAndLeakNothing) {
    const uint64_t n = 15360;
    const auto x = qn_test::am_tone(1000, 70, 1.0, 0.05, n);
    std::vector<double> out(53 * 17), expected(53 * 17);
    uint64_t frames = 0;
    qn_test_fail_allocation_at(-1);
    ASSERT_EQ(qn_roughness_ecma(x.data(), n, 48000, 0, expected.data(), expected.size(), &frames), QN_STATUS_SUCCESS);
    const int64_t requests = qn_test_allocation_count();
    const int64_t live = qn_test_live_allocations();
    ASSERT_GT(requests, 4);
    for (int64_t i = 0; i < requests; ++i) {
        std::fill(out.begin(), out.end(), sentinel);
        {
            qn_test_allocation_failure fail(i);
            EXPECT_EQ(qn_roughness_ecma(x.data(), n, 48000, 0, out.data(), out.size(), &frames),
                      QN_STATUS_ALLOCATION_FAILED)
                << "request " << i;
        }
        EXPECT_EQ(frames, 17u);
        EXPECT_TRUE(untouched(out)) << "request " << i;
        EXPECT_EQ(qn_test_live_allocations(), live) << "request " << i;
    }
    // And the next call is whole again.
    ASSERT_EQ(qn_roughness_ecma(x.data(), n, 48000, 0, out.data(), out.size(), &frames), QN_STATUS_SUCCESS);
    EXPECT_EQ(out, expected);
}

TEST(EcmaRoughnessApi, NumericalFailureKeepsTheFrameCount) {
    // Pressures near the largest double overflow the filters.
    std::vector<double> huge(15360, 1e300);
    for (std::size_t i = 0; i < huge.size(); i += 2) huge[i] = -1e300;
    auto out = sentinel_buffer(53 * 17);
    uint64_t frames = 0;
    EXPECT_EQ(qn_roughness_ecma(huge.data(), huge.size(), 48000, 0, out.data(), out.size(), &frames),
              QN_STATUS_NUMERICAL_FAILURE);
    EXPECT_EQ(frames, 17u);
    // Loud but finite pressures that the filters survive give finite values.
    std::vector<double> loud(15360);
    for (std::size_t i = 0; i < loud.size(); ++i) loud[i] = (i % 7 < 3 ? 1e5 : -1e5);
    EXPECT_EQ(qn_roughness_ecma(loud.data(), loud.size(), 48000, 0, out.data(), out.size(), &frames),
              QN_STATUS_SUCCESS);
    for (double v : out) EXPECT_TRUE(std::isfinite(v) && v >= 0);
}

}  // namespace

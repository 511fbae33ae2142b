// qn_ecma_tonal_frame_count and qn_ecma_tonal_analysis: frame counts, the
// check order, what is written after each failure, every allocation site.
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

constexpr uint64_t longest = 1113765679922085632;  // 265 V stays below 2^60

}  // namespace

TEST(EcmaTonalityApi, FrameCounts) {
    struct Case {
        uint64_t count;
        int32_t rate;
        qn_status status;
        uint64_t frames;
    };
    const Case cases[] = {
        {14591, 48000, QN_STATUS_INPUT_TOO_SHORT, 0},
        {14592, 48000, QN_STATUS_SUCCESS, 58},  // ceil(14592 / 256) + 1
        {25600, 48000, QN_STATUS_SUCCESS, 101},
        {25601, 48000, QN_STATUS_SUCCESS, 102},  // 256 k + 1 has one frame more than 256 k
        {longest, 48000, QN_STATUS_SUCCESS, longest / 256 + 1},
        {longest + 1, 48000, QN_STATUS_SIZE_OVERFLOW, 0},
        {~uint64_t{0}, 48000, QN_STATUS_SIZE_OVERFLOW, 0},
        {0, 48000, QN_STATUS_INPUT_TOO_SHORT, 0},
        {14592, 44100, QN_STATUS_INVALID_SAMPLE_RATE, 0},
        {10, -48000, QN_STATUS_INVALID_SAMPLE_RATE, 0},
    };
    for (const Case &c : cases) {
        uint64_t frames = 777;
        EXPECT_EQ(qn_ecma_tonal_frame_count(c.count, c.rate, &frames), c.status) << c.count;
        // 0 is written before any other check.
        EXPECT_EQ(frames, c.frames) << c.count;
    }
    EXPECT_EQ(qn_ecma_tonal_frame_count(14592, 48000, nullptr), QN_STATUS_NULL_POINTER);
}

TEST(EcmaTonalityApi, CheckOrderAndWhatIsWritten) {
    const auto x = qn_test::sine(1000, 0.01, 14592);  // 58 frames
    auto with_nan = x;
    with_nan[14000] = std::numeric_limits<double>::quiet_NaN();
    auto with_inf = x;
    with_inf[0] = -std::numeric_limits<double>::infinity();
    const uint64_t need = 265 * 58;
    auto out = sentinel_buffer(need + 7);
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
        {"null frame count first", nullptr, 0, 0, 9, nullptr, 0, true, QN_STATUS_NULL_POINTER, before},
        {"rate before field", x.data(), 14592, 44100, 9, out.data(), need, false, QN_STATUS_INVALID_SAMPLE_RATE, 0},
        {"field", x.data(), 14592, 48000, 2, out.data(), need, false, QN_STATUS_INVALID_SOUND_FIELD, 0},
        {"negative field", x.data(), 14592, 48000, -1, out.data(), need, false, QN_STATUS_INVALID_SOUND_FIELD, 0},
        {"field before null out", x.data(), 14592, 48000, 2, nullptr, need, false, QN_STATUS_INVALID_SOUND_FIELD, 0},
        {"null out before length", x.data(), 5, 48000, 0, nullptr, need, false, QN_STATUS_NULL_POINTER, 0},
        {"14591 samples", x.data(), 14591, 48000, 0, out.data(), need, false, QN_STATUS_INPUT_TOO_SHORT, 0},
        {"too long, no sample read", nullptr, longest + 1, 48000, 0, out.data(), need, false,
         QN_STATUS_SIZE_OVERFLOW, 0},
        {"capacity 265 V - 1", x.data(), 14592, 48000, 0, out.data(), need - 1, false, QN_STATUS_OUTPUT_TOO_SMALL,
         58},
        {"capacity 0 gives the size", x.data(), 14592, 48000, 0, out.data(), 0, false, QN_STATUS_OUTPUT_TOO_SMALL, 58},
        {"capacity before the signal", nullptr, 14592, 48000, 0, out.data(), 1, false, QN_STATUS_OUTPUT_TOO_SMALL,
         58},
        {"capacity before NaN", with_nan.data(), 14592, 48000, 0, out.data(), 1, false, QN_STATUS_OUTPUT_TOO_SMALL,
         58},
        {"null samples", nullptr, 14592, 48000, 0, out.data(), need, false, QN_STATUS_NULL_POINTER, 58},
        {"NaN", with_nan.data(), 14592, 48000, 0, out.data(), need, false, QN_STATUS_NON_FINITE_INPUT, 58},
        {"infinity first", with_inf.data(), 14592, 48000, 1, out.data(), need, false, QN_STATUS_NON_FINITE_INPUT, 58},
        {"valid", x.data(), 14592, 48000, 0, out.data(), need + 7, false, QN_STATUS_SUCCESS, 58},
    };
    for (const Case &c : cases) {
        std::fill(out.begin(), out.end(), sentinel);
        uint64_t frames = before;
        EXPECT_EQ(qn_ecma_tonal_analysis(c.samples, c.count, c.rate, c.field, c.out, c.capacity,
                                         c.null_frames ? nullptr : &frames),
                  c.expected)
            << c.what;
        EXPECT_EQ(frames, c.frames_after) << c.what;
        if (c.expected == QN_STATUS_SUCCESS) {
            EXPECT_TRUE(untouched(out, need)) << "capacity beyond 265 V is left alone";
            for (uint64_t i = 0; i < need; ++i) ASSERT_TRUE(std::isfinite(out[i]) && out[i] >= 0) << i;
        } else {
            EXPECT_TRUE(untouched(out)) << c.what;
        }
    }
}

// Every request for memory happens before the first output value: a
// failure at any of them leaves the output untouched, keeps the frame count
// and releases everything obtained before it.
TEST(EcmaTonalityApi, AllocationFailuresAtEverySite) {
    const auto x = qn_test::sine(500, 0.05, 20000);
    uint64_t v = 0;
    ASSERT_EQ(qn_ecma_tonal_frame_count(x.size(), 48000, &v), QN_STATUS_SUCCESS);
    uint64_t frames = 0;
    auto out = sentinel_buffer(265 * v);
    qn_test_fail_allocation_at(-1);
    ASSERT_EQ(qn_ecma_tonal_analysis(x.data(), x.size(), 48000, 0, out.data(), out.size(), &frames),
              QN_STATUS_SUCCESS);
    const int64_t requests = qn_test_allocation_count();
    const int64_t live = qn_test_live_allocations();
    EXPECT_GT(requests, 10);
    for (int64_t i = 0; i < requests; ++i) {
        std::fill(out.begin(), out.end(), sentinel);
        frames = 99;
        {
            qn_test_allocation_failure fail(i);
            EXPECT_EQ(qn_ecma_tonal_analysis(x.data(), x.size(), 48000, 0, out.data(), out.size(), &frames),
                      QN_STATUS_ALLOCATION_FAILED)
                << "request " << i;
        }
        EXPECT_EQ(frames, v) << "request " << i;
        EXPECT_TRUE(untouched(out)) << "request " << i;
        EXPECT_EQ(qn_test_live_allocations(), live) << "request " << i;
    }
}

// Overflow anywhere in the analysis is a numerical failure; the frame count
// keeps V.
TEST(EcmaTonalityApi, NumericalFailures) {
    struct Case {
        const char *what;
        double amplitude;
    };
    // 1e308 overflows the ear filter; 1e306 passes it and overflows the
    // auditory filters and their blocks' energies; 1e152 passes both and
    // overflows the autocorrelation's power spectrum.
    const Case cases[] = {{"ear filter", 1e308}, {"auditory filters", 1e306}, {"autocorrelation", 1e152}};
    for (const Case &c : cases) {
        std::vector<double> x(15000);
        for (std::size_t i = 0; i < x.size(); ++i) x[i] = (i % 7 < 3 ? c.amplitude : -c.amplitude);
        uint64_t frames = 0;
        std::vector<double> out(265 * 60);
        EXPECT_EQ(qn_ecma_tonal_analysis(x.data(), x.size(), 48000, 0, out.data(), out.size(), &frames),
                  QN_STATUS_NUMERICAL_FAILURE)
            << c.what;
        EXPECT_EQ(frames, 60u) << c.what;
    }
}

TEST(EcmaTonalityApi, SilenceAndTheFirstFrame) {
    const std::vector<double> silence(30000, 0.0);
    uint64_t frames = 0;
    std::vector<double> out(265 * 119, sentinel);
    ASSERT_EQ(qn_ecma_tonal_analysis(silence.data(), silence.size(), 48000, 1, out.data(), out.size(), &frames),
              QN_STATUS_SUCCESS);
    EXPECT_EQ(frames, 119u);
    EXPECT_TRUE(std::all_of(out.begin(), out.end(), [](double v) { return v == 0; }));

    // Frame 0 is the signal start: the smoothed series start at rest, and
    // the first block of every band ends there, before any sound.
    auto x = qn_test::pink_noise(0.1, 30000, 4);
    const auto tone = qn_test::sine(2000, 0.1, 30000);
    for (std::size_t i = 0; i < x.size(); ++i) x[i] += tone[i];
    ASSERT_EQ(qn_ecma_tonal_analysis(x.data(), x.size(), 48000, 0, out.data(), out.size(), &frames),
              QN_STATUS_SUCCESS);
    for (int a = 0; a < 5; ++a)
        for (int b = 0; b < 53; ++b) EXPECT_EQ(out[a * 53 * frames + b], 0.0) << "array " << a << ", band " << b;
}

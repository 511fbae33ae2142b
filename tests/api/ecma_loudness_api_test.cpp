// qn_loudness_ecma: the check order, what is written after each failure,
// overlapping buffers, every allocation site.
#include <gtest/gtest.h>

#include <algorithm>
#include <limits>
#include <vector>

#include "quarnelo.h"
#include "support/alloc_hook.h"
#include "support/expect.h"
#include "support/signals.h"

using qn_test::sentinel;
using qn_test::untouched;

namespace {

constexpr uint64_t longest = 1113765679922085632;
constexpr uint64_t n = 14592;  // the shortest signal: 58 frames
constexpr uint64_t frames = 58;

// One buffer holds the samples and every output, so that cases can make
// them overlap; the sentinel proves what was written.
struct buffers {
    std::vector<double> all;
    double *samples, *loudness, *averaged, *value, *specific;
    buffers() : all(n + frames + 53 + 1 + 53 * frames + 8, sentinel) {
        samples = all.data();
        loudness = samples + n;
        averaged = loudness + frames;
        value = averaged + 53;
        specific = value + 1;
        const auto x = qn_test::sine(1000, 0.01, n);
        std::copy(x.begin(), x.end(), samples);
    }
    bool outputs_untouched() const { return untouched(all, n); }
};

}  // namespace

// The arguments of one call, the valid ones to begin with.
struct call {
    buffers *b;
    const double *samples;
    uint64_t count = n;
    int32_t rate = 48000;
    qn_sound_field field = 0;
    double *loudness;
    uint64_t loudness_capacity = frames;
    double *averaged;
    uint64_t averaged_capacity = 53;
    double *value, *specific;
    uint64_t specific_capacity = 53 * frames;
    bool null_frames = false;
    explicit call(buffers &in)
        : b(&in), samples(in.samples), loudness(in.loudness), averaged(in.averaged), value(in.value),
          specific(in.specific) {}
};

TEST(EcmaLoudnessApi, CheckOrderAndWhatIsWritten) {
    struct Case {
        const char *what;
        void (*edit)(call &);
        qn_status expected;
        uint64_t frames_after;
    };
    const uint64_t before = 4242;
    const Case cases[] = {
        {"null frame count first", [](call &c) { c.null_frames = true, c.rate = 0, c.loudness = nullptr; },
         QN_STATUS_NULL_POINTER, before},
        {"rate before field", [](call &c) { c.rate = 44100, c.field = 5; }, QN_STATUS_INVALID_SAMPLE_RATE, 0},
        {"field before null outputs", [](call &c) { c.field = -1, c.value = nullptr; },
         QN_STATUS_INVALID_SOUND_FIELD, 0},
        {"null loudness before length", [](call &c) { c.loudness = nullptr, c.count = 3; }, QN_STATUS_NULL_POINTER,
         0},
        {"null value", [](call &c) { c.value = nullptr; }, QN_STATUS_NULL_POINTER, 0},
        {"too short", [](call &c) { c.count = n - 1; }, QN_STATUS_INPUT_TOO_SHORT, 0},
        {"too long", [](call &c) { c.count = longest + 1; }, QN_STATUS_SIZE_OVERFLOW, 0},
        {"loudness capacity V - 1", [](call &c) { c.loudness_capacity = frames - 1; }, QN_STATUS_OUTPUT_TOO_SMALL,
         frames},
        {"averaged capacity 52", [](call &c) { c.averaged_capacity = 52; }, QN_STATUS_OUTPUT_TOO_SMALL, frames},
        {"null averaged with a capacity", [](call &c) { c.averaged = nullptr; }, QN_STATUS_OUTPUT_TOO_SMALL, frames},
        {"specific capacity 53 V - 1", [](call &c) { c.specific_capacity = 53 * frames - 1; },
         QN_STATUS_OUTPUT_TOO_SMALL, frames},
        {"null specific with a capacity", [](call &c) { c.specific = nullptr; }, QN_STATUS_OUTPUT_TOO_SMALL, frames},
        {"capacity before overlap", [](call &c) { c.loudness = c.b->samples, c.loudness_capacity = 0; },
         QN_STATUS_OUTPUT_TOO_SMALL, frames},
        {"loudness over the last sample", [](call &c) { c.loudness = c.b->samples + n - 1; },
         QN_STATUS_INVALID_ARGUMENT, frames},
        {"specific over the value", [](call &c) { c.specific = c.b->value; }, QN_STATUS_INVALID_ARGUMENT, frames},
        {"averaged over the loudness", [](call &c) { c.averaged = c.b->loudness + frames - 1; },
         QN_STATUS_INVALID_ARGUMENT, frames},
        {"value inside the specific", [](call &c) { c.value = c.b->specific + 100; }, QN_STATUS_INVALID_ARGUMENT,
         frames},
        {"overlap before null samples", [](call &c) { c.samples = nullptr, c.value = c.b->specific; },
         QN_STATUS_INVALID_ARGUMENT, frames},
        {"null samples", [](call &c) { c.samples = nullptr; }, QN_STATUS_NULL_POINTER, frames},
        {"NaN sample", [](call &c) { c.b->samples[n - 1] = std::numeric_limits<double>::quiet_NaN(); },
         QN_STATUS_NON_FINITE_INPUT, frames},
        {"valid", [](call &) {}, QN_STATUS_SUCCESS, frames},
        {"valid without the optional outputs",
         [](call &c) { c.averaged = c.specific = nullptr, c.averaged_capacity = c.specific_capacity = 0; },
         QN_STATUS_SUCCESS, frames},
        {"valid, diffuse, larger capacities", [](call &c) { c.field = 1, c.loudness_capacity += 1, c.averaged_capacity = 60; },
         QN_STATUS_SUCCESS, frames},
    };
    for (const Case &k : cases) {
        buffers b;
        call c(b);
        k.edit(c);
        uint64_t frame_count = before;
        EXPECT_EQ(qn_loudness_ecma(c.samples, c.count, c.rate, c.field, c.loudness, c.loudness_capacity, c.averaged,
                                   c.averaged_capacity, c.value, c.specific, c.specific_capacity,
                                   c.null_frames ? nullptr : &frame_count),
                  k.expected)
            << k.what;
        EXPECT_EQ(frame_count, k.frames_after) << k.what;
        if (k.expected != QN_STATUS_SUCCESS) {
            EXPECT_TRUE(b.outputs_untouched()) << k.what;
            continue;
        }
        // Exactly the outputs asked for, and nothing beyond them.
        const auto region = [&](const double *at, uint64_t count) { return std::vector<double>(at, at + count); };
        EXPECT_FALSE(untouched(region(b.loudness, frames))) << k.what;
        EXPECT_NE(*b.value, sentinel) << k.what;
        EXPECT_EQ(c.averaged == nullptr, untouched(region(b.averaged, 53))) << k.what;
        EXPECT_EQ(c.specific == nullptr, untouched(region(b.specific, 53 * frames))) << k.what;
        EXPECT_TRUE(untouched(b.all, n + frames + 53 + 1 + 53 * frames)) << k.what;
    }
}

TEST(EcmaLoudnessApi, AllocationFailuresAreStatusesAndLeakNothing) {
    const auto x = qn_test::am_tone(1000, 70, 1.0, 0.05, n);
    std::vector<double> loudness(frames), expected(frames), specific(53 * frames);
    double value = 0;
    uint64_t count = 0;
    qn_test_fail_allocation_at(-1);
    ASSERT_EQ(qn_loudness_ecma(x.data(), n, 48000, 0, expected.data(), frames, nullptr, 0, &value, specific.data(),
                               specific.size(), &count),
              QN_STATUS_SUCCESS);
    const int64_t requests = qn_test_allocation_count();
    const int64_t live = qn_test_live_allocations();
    ASSERT_GT(requests, 4);
    for (int64_t i = 0; i < requests; ++i) {
        std::fill(loudness.begin(), loudness.end(), sentinel);
        double v = sentinel;
        {
            qn_test_allocation_failure fail(i);
            EXPECT_EQ(qn_loudness_ecma(x.data(), n, 48000, 0, loudness.data(), frames, nullptr, 0, &v, nullptr, 0,
                                       &count),
                      QN_STATUS_ALLOCATION_FAILED)
                << "request " << i;
        }
        EXPECT_EQ(count, frames);
        EXPECT_TRUE(untouched(loudness)) << "request " << i;
        EXPECT_EQ(v, sentinel) << "request " << i;
        EXPECT_EQ(qn_test_live_allocations(), live) << "request " << i;
    }
    ASSERT_EQ(qn_loudness_ecma(x.data(), n, 48000, 0, loudness.data(), frames, nullptr, 0, &value, nullptr, 0, &count),
              QN_STATUS_SUCCESS);
    EXPECT_EQ(loudness, expected);
}

TEST(EcmaLoudnessApi, NumericalFailureWritesNoAverages) {
    // Pressures near the largest double overflow the filters. The frames
    // go out as they come; the averages and the single value only on
    // success.
    std::vector<double> huge(n, 1e300);
    for (std::size_t i = 0; i < huge.size(); i += 2) huge[i] = -1e300;
    auto loudness = qn_test::sentinel_buffer(frames);
    auto averaged = qn_test::sentinel_buffer(53);
    double value = sentinel;
    uint64_t count = 0;
    EXPECT_EQ(qn_loudness_ecma(huge.data(), n, 48000, 0, loudness.data(), frames, averaged.data(), 53, &value,
                               nullptr, 0, &count),
              QN_STATUS_NUMERICAL_FAILURE);
    EXPECT_EQ(count, frames);
    EXPECT_TRUE(untouched(averaged));
    EXPECT_EQ(value, sentinel);
}

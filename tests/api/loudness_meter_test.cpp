// The loudness meter: its check orders, and frames and stationary loudness
// equal to the one-shot analyses of the concatenated signal, bit for bit,
// whatever the block sizes.
#include <gtest/gtest.h>

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

bool same_bits(const std::vector<double> &a, const std::vector<double> &b) {
    return a.size() == b.size() && (a.empty() || std::memcmp(a.data(), b.data(), a.size() * sizeof(double)) == 0);
}

struct meter_owner {
    qn_loudness_meter *m = nullptr;
    ~meter_owner() { qn_loudness_meter_destroy(m); }
};

struct series {
    std::vector<double> loudness, specific;
};

series one_shot(const std::vector<double> &x, qn_sound_field field) {
    uint64_t frames = 0;
    EXPECT_EQ(qn_loudness_time_frame_count(x.size(), 48000, &frames), QN_STATUS_SUCCESS);
    series s{std::vector<double>(frames), std::vector<double>(frames * 240)};
    EXPECT_EQ(qn_loudness_time(x.data(), x.size(), 48000, field, s.loudness.data(), frames, s.specific.data(),
                               s.specific.size(), &frames),
              QN_STATUS_SUCCESS);
    return s;
}

// Feeds x in blocks whose sizes cycle through `sizes`, each block's frames
// asked for first and then delivered into arrays of exactly that size.
series metered(const std::vector<double> &x, qn_sound_field field, const std::vector<uint64_t> &sizes,
               bool with_specific) {
    meter_owner meter;
    EXPECT_EQ(qn_loudness_meter_create(48000, field, &meter.m), QN_STATUS_SUCCESS);
    series s;
    uint64_t at = 0;
    for (std::size_t k = 0; at < x.size(); ++k) {
        const uint64_t n = std::min<uint64_t>(sizes[k % sizes.size()], x.size() - at);
        uint64_t expected = 0, got = 0;
        EXPECT_EQ(qn_loudness_meter_frame_count(meter.m, n, &expected), QN_STATUS_SUCCESS);
        std::vector<double> l(expected), sp(with_specific ? expected * 240 : 0);
        EXPECT_EQ(qn_loudness_meter_add(meter.m, x.data() + at, n, l.data(), l.size(),
                                        with_specific ? sp.data() : nullptr, sp.size(), &got),
                  QN_STATUS_SUCCESS);
        EXPECT_EQ(got, expected);
        s.loudness.insert(s.loudness.end(), l.begin(), l.end());
        s.specific.insert(s.specific.end(), sp.begin(), sp.end());
        at += n;
    }
    return s;
}

std::vector<double> test_signal(int which, std::size_t n) {
    switch (which) {
    case 0: return qn_test::am_tone(1000, 70, 1.0, 0.1, n);
    case 1: {
        auto x = qn_test::pink_noise(0.3, n, 11);
        for (std::size_t i = n / 3; i < n / 2; ++i) x[i] = 0;  // a gap of silence
        return x;
    }
    default: {
        auto x = qn_test::sine(80, 3.0, n);  // a loud low tone switched off
        for (std::size_t i = 2 * n / 3; i < n; ++i) x[i] = 0;
        return x;
    }
    }
}

}  // namespace

TEST(LoudnessMeter, FramesEqualTheWholeSignalWhateverTheBlocks) {
    const std::vector<std::vector<uint64_t>> block_sizes = {
        {1}, {7}, {95}, {96}, {97}, {4096}, {9973}, {1u << 30}, {1, 7, 95, 96, 97, 4096, 9973, 0, 13},
    };
    for (int which = 0; which < 3; ++which) {
        const auto x = test_signal(which, 12345);
        for (qn_sound_field field : {QN_SOUND_FIELD_FREE, QN_SOUND_FIELD_DIFFUSE}) {
            const series whole = one_shot(x, field);
            for (const auto &sizes : block_sizes) {
                const series m = metered(x, field, sizes, true);
                EXPECT_TRUE(same_bits(m.loudness, whole.loudness))
                    << "signal " << which << " field " << field << " first block " << sizes[0];
                EXPECT_TRUE(same_bits(m.specific, whole.specific))
                    << "signal " << which << " field " << field << " first block " << sizes[0];
            }
            // Without the patterns the totals are the same.
            EXPECT_TRUE(same_bits(metered(x, field, {500}, false).loudness, whole.loudness)) << which;
        }
    }
}

TEST(LoudnessMeter, RandomBlockSizesGiveTheSameFrames) {
    const auto x = test_signal(1, 48000);
    const series whole = one_shot(x, QN_SOUND_FIELD_FREE);
    qn_test::xorshift rng(5);
    for (int trial = 0; trial < 5; ++trial) {
        std::vector<uint64_t> sizes(40);
        for (uint64_t &s : sizes) s = rng.next() % 3000;
        const series m = metered(x, QN_SOUND_FIELD_FREE, sizes, true);
        EXPECT_TRUE(same_bits(m.loudness, whole.loudness)) << "trial " << trial;
        EXPECT_TRUE(same_bits(m.specific, whole.specific)) << "trial " << trial;
    }
}

TEST(LoudnessMeter, StationaryLoudnessIsThatOfTheConcatenation) {
    for (int which = 0; which < 3; ++which) {
        const auto x = test_signal(which, 20000);
        for (qn_sound_field field : {QN_SOUND_FIELD_FREE, QN_SOUND_FIELD_DIFFUSE}) {
            meter_owner meter;
            ASSERT_EQ(qn_loudness_meter_create(48000, field, &meter.m), QN_STATUS_SUCCESS);
            uint64_t at = 0, got = 0;
            for (uint64_t n : {100u, 1u, 3000u, 96u, 7777u, 20000u}) {
                n = std::min<uint64_t>(n, x.size() - at);
                ASSERT_EQ(qn_loudness_meter_add(meter.m, x.data() + at, 0, nullptr, 0, nullptr, 0, &got),
                          QN_STATUS_SUCCESS)
                    << "an empty block is accepted";
                std::vector<double> l(n / 96 + 2);
                ASSERT_EQ(qn_loudness_meter_add(meter.m, x.data() + at, n, l.data(), l.size(), nullptr, 0, &got),
                          QN_STATUS_SUCCESS);
                at += n;
                if (at < 256) {
                    double value = sentinel;
                    EXPECT_EQ(qn_loudness_meter_stationary(meter.m, &value, nullptr, 0), QN_STATUS_INPUT_TOO_SHORT);
                    EXPECT_EQ(value, sentinel);
                    continue;
                }
                double expected = 0, value = 0, pattern[240], expected_pattern[240];
                ASSERT_EQ(qn_loudness_stationary(x.data(), at, 48000, field, &expected, expected_pattern, 240),
                          QN_STATUS_SUCCESS);
                ASSERT_EQ(qn_loudness_meter_stationary(meter.m, &value, pattern, 240), QN_STATUS_SUCCESS);
                EXPECT_EQ(std::memcmp(&value, &expected, sizeof value), 0) << which << " after " << at;
                EXPECT_EQ(std::memcmp(pattern, expected_pattern, sizeof pattern), 0) << which << " after " << at;
            }
        }
    }
}

TEST(LoudnessMeter, CreateChecksAndAllocationFailure) {
    EXPECT_EQ(qn_loudness_meter_create(48000, QN_SOUND_FIELD_FREE, nullptr), QN_STATUS_NULL_POINTER);
    struct Case {
        int32_t rate;
        qn_sound_field field;
        qn_status expected;
    };
    const Case cases[] = {
        {44100, 7, QN_STATUS_INVALID_SAMPLE_RATE},
        {48000, 2, QN_STATUS_INVALID_SOUND_FIELD},
        {48000, -1, QN_STATUS_INVALID_SOUND_FIELD},
        {48000, QN_SOUND_FIELD_DIFFUSE, QN_STATUS_SUCCESS},
    };
    for (const Case &c : cases) {
        double not_a_meter = 0;
        qn_loudness_meter *m = reinterpret_cast<qn_loudness_meter *>(&not_a_meter);
        EXPECT_EQ(qn_loudness_meter_create(c.rate, c.field, &m), c.expected) << c.rate << " " << c.field;
        EXPECT_EQ(m == nullptr, c.expected != QN_STATUS_SUCCESS);
        qn_loudness_meter_destroy(m);
    }
    qn_loudness_meter_destroy(nullptr);

    const int64_t live = qn_test_live_allocations();
    {
        qn_test_allocation_failure fail(0);
        qn_loudness_meter *m = nullptr;
        EXPECT_EQ(qn_loudness_meter_create(48000, QN_SOUND_FIELD_FREE, &m), QN_STATUS_ALLOCATION_FAILED);
        EXPECT_EQ(m, nullptr);
    }
    EXPECT_EQ(qn_test_live_allocations(), live);
    // Adding and reading never ask for memory.
    meter_owner meter;
    ASSERT_EQ(qn_loudness_meter_create(48000, QN_SOUND_FIELD_FREE, &meter.m), QN_STATUS_SUCCESS);
    const auto x = test_signal(0, 5000);
    std::vector<double> l(60), sp(60 * 240);
    uint64_t got = 0;
    double value = 0;
    qn_test_allocation_failure fail(0, true);
    EXPECT_EQ(qn_loudness_meter_add(meter.m, x.data(), x.size(), l.data(), l.size(), sp.data(), sp.size(), &got),
              QN_STATUS_SUCCESS);
    EXPECT_EQ(qn_loudness_meter_stationary(meter.m, &value, sp.data(), 240), QN_STATUS_SUCCESS);
}

TEST(LoudnessMeter, AddCheckOrderAndWhatIsWritten) {
    meter_owner meter;
    ASSERT_EQ(qn_loudness_meter_create(48000, QN_SOUND_FIELD_FREE, &meter.m), QN_STATUS_SUCCESS);
    const auto x = test_signal(0, 500);  // frames at 0, 96, ... 480: 6
    auto with_nan = x;
    with_nan[499] = std::numeric_limits<double>::infinity();
    auto l = sentinel_buffer(10), sp = sentinel_buffer(10 * 240);
    struct Case {
        const char *what;
        bool null_meter, null_count;
        const double *samples;
        uint64_t count;
        double *loudness;
        uint64_t l_cap;
        double *specific;
        uint64_t s_cap;
        qn_status expected;
        uint64_t frames_after;
    };
    const uint64_t before = 4242;
    const uint64_t huge = uint64_t{1} << 60;
    const Case cases[] = {
        {"null meter", true, false, x.data(), 500, l.data(), 10, nullptr, 0, QN_STATUS_NULL_POINTER, before},
        {"null frame count", false, true, x.data(), 500, l.data(), 10, nullptr, 0, QN_STATUS_NULL_POINTER, before},
        {"null samples", false, false, nullptr, 500, l.data(), 10, nullptr, 0, QN_STATUS_NULL_POINTER, 0},
        {"2^60 samples", false, false, x.data(), huge, l.data(), 10, nullptr, 0, QN_STATUS_SIZE_OVERFLOW, 0},
        {"capacity 0 gives the count", false, false, x.data(), 500, nullptr, 0, nullptr, 0,
         QN_STATUS_OUTPUT_TOO_SMALL, 6},
        {"loudness capacity 5", false, false, x.data(), 500, l.data(), 5, sp.data(), 2400,
         QN_STATUS_OUTPUT_TOO_SMALL, 6},
        {"specific capacity short", false, false, x.data(), 500, l.data(), 6, sp.data(), 6 * 240 - 1,
         QN_STATUS_OUTPUT_TOO_SMALL, 6},
        {"capacity before NaN", false, false, with_nan.data(), 500, l.data(), 1, nullptr, 0,
         QN_STATUS_OUTPUT_TOO_SMALL, 6},
        {"null loudness with room claimed", false, false, x.data(), 500, nullptr, 6, nullptr, 0,
         QN_STATUS_NULL_POINTER, 0},
        {"NaN refuses the block", false, false, with_nan.data(), 500, l.data(), 6, sp.data(), 2400,
         QN_STATUS_NON_FINITE_INPUT, 0},
        {"null samples, none given", false, false, nullptr, 0, nullptr, 0, nullptr, 0, QN_STATUS_SUCCESS, 0},
    };
    for (const Case &c : cases) {
        std::fill(l.begin(), l.end(), sentinel);
        std::fill(sp.begin(), sp.end(), sentinel);
        uint64_t frames = before;
        EXPECT_EQ(qn_loudness_meter_add(c.null_meter ? nullptr : meter.m, c.samples, c.count, c.loudness, c.l_cap,
                                        c.specific, c.s_cap, c.null_count ? nullptr : &frames),
                  c.expected)
            << c.what;
        EXPECT_EQ(frames, c.frames_after) << c.what;
        EXPECT_TRUE(untouched(l)) << c.what;
        EXPECT_TRUE(untouched(sp)) << c.what;
    }
    // None of those changed the meter: the frames are still those of x alone.
    uint64_t frames = 0;
    ASSERT_EQ(qn_loudness_meter_add(meter.m, x.data(), 500, l.data(), 10, sp.data(), sp.size(), &frames),
              QN_STATUS_SUCCESS);
    ASSERT_EQ(frames, 6u);
    const series whole = one_shot(x, QN_SOUND_FIELD_FREE);
    EXPECT_TRUE(same_bits(std::vector<double>(l.begin(), l.begin() + 6), whole.loudness));
    EXPECT_TRUE(untouched(l, 6)) << "nothing beyond the frames";
    EXPECT_TRUE(untouched(sp, 6 * 240));

    EXPECT_EQ(qn_loudness_meter_frame_count(nullptr, 10, &frames), QN_STATUS_NULL_POINTER);
    EXPECT_EQ(qn_loudness_meter_frame_count(meter.m, 10, nullptr), QN_STATUS_NULL_POINTER);
    frames = before;
    EXPECT_EQ(qn_loudness_meter_frame_count(meter.m, huge - 500, &frames), QN_STATUS_SIZE_OVERFLOW);
    EXPECT_EQ(frames, before);
    // 500 samples so far: the next frames are at 576, 672, ...
    const uint64_t counts[][2] = {{0, 0}, {75, 0}, {76, 0}, {77, 1}, {173, 2}, {96 * 10, 10}};
    for (const auto &c : counts) {
        EXPECT_EQ(qn_loudness_meter_frame_count(meter.m, c[0], &frames), QN_STATUS_SUCCESS);
        EXPECT_EQ(frames, c[1]) << c[0] << " more samples";
    }
}

TEST(LoudnessMeter, StationaryChecks) {
    meter_owner meter;
    ASSERT_EQ(qn_loudness_meter_create(48000, QN_SOUND_FIELD_FREE, &meter.m), QN_STATUS_SUCCESS);
    double value = sentinel;
    auto pattern = sentinel_buffer(300);
    EXPECT_EQ(qn_loudness_meter_stationary(nullptr, &value, nullptr, 0), QN_STATUS_NULL_POINTER);
    EXPECT_EQ(qn_loudness_meter_stationary(meter.m, nullptr, nullptr, 0), QN_STATUS_NULL_POINTER);
    EXPECT_EQ(qn_loudness_meter_stationary(meter.m, &value, nullptr, 240), QN_STATUS_OUTPUT_TOO_SMALL);
    EXPECT_EQ(qn_loudness_meter_stationary(meter.m, &value, pattern.data(), 239), QN_STATUS_OUTPUT_TOO_SMALL);
    EXPECT_EQ(qn_loudness_meter_stationary(meter.m, &value, pattern.data(), 300), QN_STATUS_INPUT_TOO_SHORT);
    EXPECT_EQ(value, sentinel);
    EXPECT_TRUE(untouched(pattern));

    // A low tone above 120 dB in its band: refused as qn_loudness_stationary refuses it.
    const auto loud = qn_test::sine(100, 40.0, 4800);
    std::vector<double> l(60);
    uint64_t frames = 0;
    ASSERT_EQ(qn_loudness_meter_add(meter.m, loud.data(), loud.size(), l.data(), l.size(), nullptr, 0, &frames),
              QN_STATUS_SUCCESS);
    double expected = 0;
    EXPECT_EQ(qn_loudness_stationary(loud.data(), loud.size(), 48000, 0, &expected, nullptr, 0),
              QN_STATUS_INVALID_ARGUMENT);
    EXPECT_EQ(qn_loudness_meter_stationary(meter.m, &value, pattern.data(), 300), QN_STATUS_INVALID_ARGUMENT);
    EXPECT_EQ(value, sentinel);
}

TEST(LoudnessMeter, NumericalFailureLeavesTheMeterAsItWas) {
    meter_owner meter;
    ASSERT_EQ(qn_loudness_meter_create(48000, QN_SOUND_FIELD_FREE, &meter.m), QN_STATUS_SUCCESS);
    const auto x = test_signal(2, 3000);
    std::vector<double> l(40);
    uint64_t frames = 0;
    ASSERT_EQ(qn_loudness_meter_add(meter.m, x.data(), 1000, l.data(), l.size(), nullptr, 0, &frames),
              QN_STATUS_SUCCESS);
    // Finite samples whose filtered power overflows.
    std::vector<double> wild(500);
    for (std::size_t i = 0; i < wild.size(); ++i) wild[i] = (i % 2 ? 1 : -1) * 1e300;
    EXPECT_EQ(qn_loudness_meter_add(meter.m, wild.data(), wild.size(), l.data(), l.size(), nullptr, 0, &frames),
              QN_STATUS_NUMERICAL_FAILURE);
    EXPECT_EQ(frames, 0u);
    std::vector<double> rest;
    ASSERT_EQ(qn_loudness_meter_add(meter.m, x.data() + 1000, 2000, l.data(), l.size(), nullptr, 0, &frames),
              QN_STATUS_SUCCESS);
    rest.assign(l.begin(), l.begin() + static_cast<std::ptrdiff_t>(frames));
    const series whole = one_shot(x, QN_SOUND_FIELD_FREE);
    EXPECT_TRUE(same_bits(rest, std::vector<double>(whole.loudness.end() - static_cast<std::ptrdiff_t>(frames),
                                                    whole.loudness.end())));
}

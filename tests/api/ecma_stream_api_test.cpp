// The ECMA-418-2 stream: frames equal to the one-shot exports' bit for bit
// whatever the blocks, what a stream delivers before and at the end of the
// signal, its check orders, refused blocks, allocation and numerical
// failures.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

#include "quarnelo.h"
#include "support/alloc_hook.h"
#include "support/expect.h"
#include "support/signals.h"

using qn_test::sentinel;
using qn_test::sentinel_buffer;
using qn_test::untouched;

namespace {

constexpr qn_ecma_metric all_metrics = QN_ECMA_TONALITY | QN_ECMA_LOUDNESS | QN_ECMA_ROUGHNESS;
constexpr qn_ecma_metric every_metric = all_metrics | QN_ECMA_FLUCTUATION;

bool same_bits(const std::vector<double> &a, const std::vector<double> &b) {
    return a.size() == b.size() && (a.empty() || std::memcmp(a.data(), b.data(), a.size() * sizeof(double)) == 0);
}

struct stream_owner {
    qn_ecma_stream *s = nullptr;
    ~stream_owner() { qn_ecma_stream_destroy(s); }
};

// Every metric's frames one after the other, each in the stream's layout.
struct frames {
    std::vector<double> tonality, loudness, roughness, fluctuation;
};

// The one-shot exports' frames, the tonal arrays turned frame by frame.
frames one_shot(const std::vector<double> &x, qn_sound_field field, qn_ecma_metric metrics) {
    frames f;
    uint64_t v = 0;
    if (metrics & (QN_ECMA_TONALITY | QN_ECMA_LOUDNESS)) {
        EXPECT_EQ(qn_ecma_tonal_frame_count(x.size(), 48000, &v), QN_STATUS_SUCCESS);
        std::vector<double> planar(265 * v);
        EXPECT_EQ(qn_ecma_tonal_analysis(x.data(), x.size(), 48000, field, planar.data(), planar.size(), &v),
                  QN_STATUS_SUCCESS);
        for (uint64_t k = 0; k < v; ++k)
            for (uint64_t a = 0; a < 5; ++a) {
                const auto from = planar.begin() + static_cast<std::ptrdiff_t>(a * 53 * v + 53 * k);
                if (metrics & QN_ECMA_TONALITY) f.tonality.insert(f.tonality.end(), from, from + 53);
                if ((metrics & QN_ECMA_LOUDNESS) && a == 4) f.loudness.insert(f.loudness.end(), from, from + 53);
            }
    }
    if (metrics & QN_ECMA_ROUGHNESS) {
        EXPECT_EQ(qn_ecma_roughness_frame_count(x.size(), 48000, &v), QN_STATUS_SUCCESS);
        f.roughness.resize(53 * v);
        EXPECT_EQ(qn_roughness_ecma(x.data(), x.size(), 48000, field, f.roughness.data(), f.roughness.size(), &v),
                  QN_STATUS_SUCCESS);
    }
    if (metrics & QN_ECMA_FLUCTUATION) {
        EXPECT_EQ(qn_ecma_fluctuation_frame_count(x.size(), 48000, &v), QN_STATUS_SUCCESS);
        f.fluctuation.resize(53 * v);
        EXPECT_EQ(qn_fluctuation_ecma(x.data(), x.size(), 48000, field, f.fluctuation.data(), f.fluctuation.size(), &v),
                  QN_STATUS_SUCCESS);
    }
    return f;
}

// Reads what waits of one metric, into arrays of `room` frames at a time.
void read_all(qn_ecma_stream *s, qn_ecma_metric metric, uint64_t width, uint64_t room, std::vector<double> &into) {
    uint64_t waiting = 0, got = 0;
    ASSERT_EQ(qn_ecma_stream_frame_count(s, metric, &waiting), QN_STATUS_SUCCESS);
    std::vector<double> buffer(width * room);
    for (uint64_t read = 0; read < waiting; read += got) {
        ASSERT_EQ(qn_ecma_stream_read(s, metric, buffer.data(), buffer.size(), &got), QN_STATUS_SUCCESS);
        ASSERT_EQ(got, std::min(room, waiting - read));
        into.insert(into.end(), buffer.begin(), buffer.begin() + static_cast<std::ptrdiff_t>(got * width));
    }
    ASSERT_EQ(qn_ecma_stream_frame_count(s, metric, &waiting), QN_STATUS_SUCCESS);
    ASSERT_EQ(waiting, 0u);
}

void read_every(qn_ecma_stream *s, qn_ecma_metric metrics, uint64_t room, frames &f) {
    if (metrics & QN_ECMA_TONALITY) read_all(s, QN_ECMA_TONALITY, 265, room, f.tonality);
    if (metrics & QN_ECMA_LOUDNESS) read_all(s, QN_ECMA_LOUDNESS, 53, room, f.loudness);
    if (metrics & QN_ECMA_ROUGHNESS) read_all(s, QN_ECMA_ROUGHNESS, 53, room, f.roughness);
    if (metrics & QN_ECMA_FLUCTUATION) read_all(s, QN_ECMA_FLUCTUATION, 53, room, f.fluctuation);
}

// Feeds x in blocks whose sizes cycle through `sizes` (a size of 0 draws a
// random one below 20000), reading after every `read_every_blocks` blocks.
frames streamed(const std::vector<double> &x, qn_sound_field field, qn_ecma_metric metrics,
                const std::vector<uint64_t> &sizes, uint64_t seed = 1, uint64_t read_every_blocks = 1) {
    stream_owner stream;
    frames f;
    EXPECT_EQ(qn_ecma_stream_create(48000, field, metrics, &stream.s), QN_STATUS_SUCCESS);
    if (stream.s == nullptr) return f;
    qn_test::xorshift rng(seed);
    uint64_t at = 0;
    for (std::size_t k = 0; at < x.size(); ++k) {
        const uint64_t size = sizes[k % sizes.size()] != 0 ? sizes[k % sizes.size()] : rng.next() % 20000;
        const uint64_t n = std::min<uint64_t>(size, x.size() - at);
        EXPECT_EQ(qn_ecma_stream_add(stream.s, x.data() + at, n), QN_STATUS_SUCCESS) << "at " << at;
        at += n;
        if (k % read_every_blocks == 0) read_every(stream.s, metrics, 1 + rng.next() % 40, f);
    }
    EXPECT_EQ(qn_ecma_stream_finish(stream.s), QN_STATUS_SUCCESS);
    read_every(stream.s, metrics, 1 + rng.next() % 40, f);
    return f;
}

std::string differs(const frames &got, const frames &expected) {
    std::string what;
    if (!same_bits(got.tonality, expected.tonality)) what += " tonality";
    if (!same_bits(got.loudness, expected.loudness)) what += " loudness";
    if (!same_bits(got.roughness, expected.roughness)) what += " roughness";
    if (!same_bits(got.fluctuation, expected.fluctuation)) what += " fluctuation";
    return what;
}

// Tones, noise and silence: a 1 kHz tone at 70 Hz AM over pink noise with a
// gap of silence, so every band is busy and frames cross the gap's edges.
std::vector<double> mixture(std::size_t n, uint64_t seed) {
    auto x = qn_test::pink_noise(0.02, n, seed);
    const auto tone = qn_test::am_tone(1000, 70, 1.0, 0.05, n);
    for (std::size_t i = 0; i < n; ++i) x[i] += tone[i];
    for (std::size_t i = n / 3; i < n / 3 + std::min<std::size_t>(n / 6, 9000); ++i) x[i] = 0;
    return x;
}

}  // namespace

// Lengths at and around the shortest signals, a length that ends on a
// roughness block, one that ends on a fluctuation block and one that ends
// nowhere in particular; blocks of one sample, of the hops, of neither,
// random ones with empty ones among them, and the whole signal at once.
TEST(EcmaStream, FramesEqualTheOneShotExportsWhateverTheBlocks) {
    struct Case {
        std::size_t length;
        qn_sound_field field;
        qn_ecma_metric metrics;
        std::vector<uint64_t> sizes;
    };
    const std::vector<Case> cases = {
        {14592, QN_SOUND_FIELD_FREE, QN_ECMA_TONALITY | QN_ECMA_LOUDNESS, {1}},
        {14593, QN_SOUND_FIELD_DIFFUSE, QN_ECMA_LOUDNESS, {255, 257, 0}},
        {15360, QN_SOUND_FIELD_FREE, all_metrics, {256}},
        {15360, QN_SOUND_FIELD_DIFFUSE, QN_ECMA_ROUGHNESS, {1}},
        {16384, QN_SOUND_FIELD_FREE, all_metrics, {4096}},
        {16384, QN_SOUND_FIELD_DIFFUSE, QN_ECMA_ROUGHNESS | QN_ECMA_LOUDNESS, {4095, 1, 4097, 0}},
        {20481, QN_SOUND_FIELD_FREE, QN_ECMA_TONALITY | QN_ECMA_ROUGHNESS, {1u << 30}},
        {120037, QN_SOUND_FIELD_FREE, all_metrics, {0, 0, 7, 0}},
        {120037, QN_SOUND_FIELD_DIFFUSE, all_metrics, {9973, 0}},
        {65537, QN_SOUND_FIELD_FREE, QN_ECMA_FLUCTUATION, {16384, 1, 0}},
        {98304, QN_SOUND_FIELD_DIFFUSE, QN_ECMA_FLUCTUATION | QN_ECMA_ROUGHNESS, {16384}},
        {98304, QN_SOUND_FIELD_FREE, QN_ECMA_FLUCTUATION, {1u << 30}},
        {120037, QN_SOUND_FIELD_FREE, every_metric, {0, 0, 7, 0}},
        {120037, QN_SOUND_FIELD_DIFFUSE, QN_ECMA_FLUCTUATION | QN_ECMA_LOUDNESS, {16383, 0}},
    };
    for (std::size_t i = 0; i < cases.size(); ++i) {
        const Case &c = cases[i];
        const auto x = mixture(c.length, i);
        const frames expected = one_shot(x, c.field, c.metrics);
        const frames got = streamed(x, c.field, c.metrics, c.sizes, i);
        EXPECT_EQ(differs(got, expected), "") << "case " << i << ": " << c.length << " samples";
    }
}

// Minutes of signal: the running states, the queues and the frame indices
// go far beyond what short signals reach. Roughness over three minutes,
// fluctuation strength over one; the tonal analysis, six times as slow,
// over 16 s (3000 frames: its queue of frames waiting for the slower band
// groups comes round some fifty times).
TEST(EcmaStream, MinutesOfSignal) {
    struct Case {
        double seconds;
        qn_ecma_metric metrics;
    };
    const Case cases[] = {
        {180, QN_ECMA_ROUGHNESS}, {60, QN_ECMA_FLUCTUATION}, {16, QN_ECMA_TONALITY | QN_ECMA_LOUDNESS}};
    for (const Case &c : cases) {
        const auto x = mixture(static_cast<std::size_t>(c.seconds * 48000) + 77, 3);
        const frames expected = one_shot(x, QN_SOUND_FIELD_FREE, c.metrics);
        // Blocks of about a second, read every few blocks.
        const frames got = streamed(x, QN_SOUND_FIELD_FREE, c.metrics, {48000, 47999, 0}, 5, 3);
        EXPECT_EQ(differs(got, expected), "") << c.seconds << " s";
    }
}

// Frames come as soon as the samples determine them, but none before the
// metric's shortest signal; what depends on the end comes with finish.
TEST(EcmaStream, WhatIsDeliveredBeforeAndAtTheEnd) {
    const auto x = mixture(48000, 2);
    stream_owner stream;
    ASSERT_EQ(qn_ecma_stream_create(48000, QN_SOUND_FIELD_FREE, all_metrics, &stream.s), QN_STATUS_SUCCESS);
    uint64_t at = 0;
    for (uint64_t n : {14591u, 1u, 767u, 32641u}) {
        ASSERT_EQ(qn_ecma_stream_add(stream.s, x.data() + at, n), QN_STATUS_SUCCESS);
        at += n;
        uint64_t tonal = 0, loud = 0, rough = 0;
        ASSERT_EQ(qn_ecma_stream_frame_count(stream.s, QN_ECMA_TONALITY, &tonal), QN_STATUS_SUCCESS);
        ASSERT_EQ(qn_ecma_stream_frame_count(stream.s, QN_ECMA_LOUDNESS, &loud), QN_STATUS_SUCCESS);
        ASSERT_EQ(qn_ecma_stream_frame_count(stream.s, QN_ECMA_ROUGHNESS, &rough), QN_STATUS_SUCCESS);
        EXPECT_EQ(tonal, loud) << at;
        // Nothing before the shortest signal; then the frames up to 0.1 s
        // (tonal analysis) and 0.2 s (roughness) before the newest sample.
        EXPECT_EQ(tonal == 0, at < 14592) << at;
        EXPECT_EQ(rough == 0, at < 15360) << at;
        if (at >= 14592) {
            EXPECT_GE((tonal - 1) * 256 + 4800, at) << at;
        }
        if (at >= 15360) {
            EXPECT_GE((rough - 1) * 960 + 9600, at) << at;
        }
        // And never a frame the end of the signal could change.
        EXPECT_LE(tonal, at / 256) << at;
        EXPECT_LE(rough, at / 960 + 1) << at;
    }
    ASSERT_EQ(qn_ecma_stream_finish(stream.s), QN_STATUS_SUCCESS);
    uint64_t tonal = 0, rough = 0;
    ASSERT_EQ(qn_ecma_stream_frame_count(stream.s, QN_ECMA_TONALITY, &tonal), QN_STATUS_SUCCESS);
    ASSERT_EQ(qn_ecma_stream_frame_count(stream.s, QN_ECMA_ROUGHNESS, &rough), QN_STATUS_SUCCESS);
    EXPECT_EQ(tonal, (48000u + 255) / 256 + 1);
    EXPECT_EQ(rough, 48000u / 960 + 1);
    // Finished: more samples are refused, finishing again does nothing.
    EXPECT_EQ(qn_ecma_stream_add(stream.s, x.data(), 10), QN_STATUS_INVALID_ARGUMENT);
    EXPECT_EQ(qn_ecma_stream_add(stream.s, nullptr, 0), QN_STATUS_INVALID_ARGUMENT);
    EXPECT_EQ(qn_ecma_stream_finish(stream.s), QN_STATUS_SUCCESS);
    ASSERT_EQ(qn_ecma_stream_frame_count(stream.s, QN_ECMA_TONALITY, &tonal), QN_STATUS_SUCCESS);
    EXPECT_EQ(tonal, (48000u + 255) / 256 + 1);
}

// Fluctuation frames come once the signal reaches 65537 samples, then at
// most 1.41 s behind the newest sample (a segment of 16384 samples to
// complete, the block after the frame's interval, and the 35 frames of the
// exponent's median), and none the end of the signal could change.
TEST(EcmaStream, WhenFluctuationFramesCome) {
    const auto x = mixture(200000, 9);
    stream_owner stream;
    ASSERT_EQ(qn_ecma_stream_create(48000, QN_SOUND_FIELD_FREE, QN_ECMA_FLUCTUATION, &stream.s), QN_STATUS_SUCCESS);
    uint64_t at = 0;
    for (uint64_t n : {65536u, 1u, 16383u, 1u, 20000u, 50000u, 48079u}) {
        ASSERT_EQ(qn_ecma_stream_add(stream.s, x.data() + at, n), QN_STATUS_SUCCESS);
        at += n;
        uint64_t frames = 0;
        ASSERT_EQ(qn_ecma_stream_frame_count(stream.s, QN_ECMA_FLUCTUATION, &frames), QN_STATUS_SUCCESS);
        EXPECT_EQ(frames == 0, at < 65537) << at;
        if (at >= 65537) {
            EXPECT_GT((frames - 1) * 960 + 67328, at) << at;
            EXPECT_LE(frames, at / 960 - 34) << at;
        }
    }
    ASSERT_EQ(qn_ecma_stream_finish(stream.s), QN_STATUS_SUCCESS);
    uint64_t frames = 0;
    ASSERT_EQ(qn_ecma_stream_frame_count(stream.s, QN_ECMA_FLUCTUATION, &frames), QN_STATUS_SUCCESS);
    EXPECT_EQ(frames, 200000u / 960 + 1);
}

// A signal too short for a metric of the stream: finish says so and the
// stream stays open; once long enough, it finishes as the one-shot says.
TEST(EcmaStream, ShortSignalsAndFinishingLater) {
    struct Case {
        qn_ecma_metric metrics;
        uint64_t shortest;
    };
    const Case cases[] = {{QN_ECMA_TONALITY, 14592},
                          {QN_ECMA_LOUDNESS | QN_ECMA_ROUGHNESS, 15360},
                          {QN_ECMA_ROUGHNESS | QN_ECMA_FLUCTUATION, 65537}};
    const auto x = mixture(65537, 4);
    for (const Case &c : cases) {
        stream_owner stream;
        ASSERT_EQ(qn_ecma_stream_create(48000, QN_SOUND_FIELD_FREE, c.metrics, &stream.s), QN_STATUS_SUCCESS);
        EXPECT_EQ(qn_ecma_stream_finish(stream.s), QN_STATUS_INPUT_TOO_SHORT) << "nothing added";
        ASSERT_EQ(qn_ecma_stream_add(stream.s, x.data(), c.shortest - 1), QN_STATUS_SUCCESS);
        EXPECT_EQ(qn_ecma_stream_finish(stream.s), QN_STATUS_INPUT_TOO_SHORT) << c.shortest;
        ASSERT_EQ(qn_ecma_stream_add(stream.s, x.data() + c.shortest - 1, 1), QN_STATUS_SUCCESS);
        ASSERT_EQ(qn_ecma_stream_finish(stream.s), QN_STATUS_SUCCESS);
        frames got;
        read_every(stream.s, c.metrics, 1000, got);
        const std::vector<double> head(x.begin(), x.begin() + static_cast<std::ptrdiff_t>(c.shortest));
        EXPECT_EQ(differs(got, one_shot(head, QN_SOUND_FIELD_FREE, c.metrics)), "") << c.shortest;
    }
}

TEST(EcmaStream, CreateChecksAndAllocationFailures) {
    EXPECT_EQ(qn_ecma_stream_create(48000, QN_SOUND_FIELD_FREE, QN_ECMA_TONALITY, nullptr), QN_STATUS_NULL_POINTER);
    struct Case {
        int32_t rate;
        qn_sound_field field;
        qn_ecma_metric metrics;
        qn_status expected;
    };
    const Case cases[] = {
        {44100, 7, 0, QN_STATUS_INVALID_SAMPLE_RATE},
        {48000, 2, 0, QN_STATUS_INVALID_SOUND_FIELD},
        {48000, -1, QN_ECMA_TONALITY, QN_STATUS_INVALID_SOUND_FIELD},
        {48000, 0, 0, QN_STATUS_INVALID_ARGUMENT},
        {48000, 0, 16, QN_STATUS_INVALID_ARGUMENT},
        {48000, 0, every_metric | 16, QN_STATUS_INVALID_ARGUMENT},
        {48000, 0, -1, QN_STATUS_INVALID_ARGUMENT},
        {48000, 1, QN_ECMA_ROUGHNESS, QN_STATUS_SUCCESS},
        {48000, 0, all_metrics, QN_STATUS_SUCCESS},
        {48000, 1, QN_ECMA_FLUCTUATION, QN_STATUS_SUCCESS},
        {48000, 0, every_metric, QN_STATUS_SUCCESS},
    };
    for (const Case &c : cases) {
        double not_a_stream = 0;
        qn_ecma_stream *s = reinterpret_cast<qn_ecma_stream *>(&not_a_stream);
        EXPECT_EQ(qn_ecma_stream_create(c.rate, c.field, c.metrics, &s), c.expected) << c.metrics;
        EXPECT_EQ(s == nullptr, c.expected != QN_STATUS_SUCCESS);
        qn_ecma_stream_destroy(s);
    }
    qn_ecma_stream_destroy(nullptr);

    // Fail request i, expect the status, expect no leak.
    for (qn_ecma_metric metrics : {qn_ecma_metric{QN_ECMA_TONALITY}, qn_ecma_metric{QN_ECMA_ROUGHNESS},
                                   qn_ecma_metric{QN_ECMA_FLUCTUATION}, every_metric}) {
        qn_test_fail_allocation_at(-1);
        stream_owner whole;
        ASSERT_EQ(qn_ecma_stream_create(48000, QN_SOUND_FIELD_FREE, metrics, &whole.s), QN_STATUS_SUCCESS);
        const int64_t requests = qn_test_allocation_count();
        const int64_t live = qn_test_live_allocations();
        ASSERT_GT(requests, 4);
        for (int64_t i = 0; i < requests; ++i) {
            qn_ecma_stream *s = nullptr;
            {
                qn_test_allocation_failure fail(i);
                EXPECT_EQ(qn_ecma_stream_create(48000, QN_SOUND_FIELD_FREE, metrics, &s), QN_STATUS_ALLOCATION_FAILED)
                    << "request " << i;
            }
            EXPECT_EQ(s, nullptr);
            EXPECT_EQ(qn_test_live_allocations(), live) << "request " << i;
        }
    }
}

// Adds and finish that meet refused memory refuse the block whole (or stay
// open): offered again they succeed, and the frames are still those of the
// one-shot exports. Adding asks for memory only to make room for frames.
TEST(EcmaStream, RefusedMemoryRefusesTheBlockWhole) {
    const auto x = mixture(70000, 6);
    const frames expected = one_shot(x, QN_SOUND_FIELD_DIFFUSE, every_metric);
    const auto under_failure = [](auto call) {
        qn_test_allocation_failure fail(0, true);
        return call();
    };
    // Every block first offered with the heap refusing.
    {
        stream_owner stream;
        ASSERT_EQ(qn_ecma_stream_create(48000, QN_SOUND_FIELD_DIFFUSE, every_metric, &stream.s), QN_STATUS_SUCCESS);
        frames got;
        int refused = 0;
        uint64_t at = 0;
        for (uint64_t n : {5000u, 10000u, 1u, 20000u, 34999u}) {
            qn_status status = under_failure([&] { return qn_ecma_stream_add(stream.s, x.data() + at, n); });
            if (status == QN_STATUS_ALLOCATION_FAILED) {
                ++refused;
                status = qn_ecma_stream_add(stream.s, x.data() + at, n);
            }
            ASSERT_EQ(status, QN_STATUS_SUCCESS) << at;
            at += n;
            if (n != 20000) read_every(stream.s, every_metric, 7, got);
        }
        EXPECT_GE(refused, 2);
        qn_status status = under_failure([&] { return qn_ecma_stream_finish(stream.s); });
        if (status == QN_STATUS_ALLOCATION_FAILED) status = qn_ecma_stream_finish(stream.s);
        ASSERT_EQ(status, QN_STATUS_SUCCESS);
        read_every(stream.s, every_metric, 7, got);
        EXPECT_EQ(differs(got, expected), "");
    }
    // The whole signal at once leaves the tonal queue room for the frames
    // up to its last block only: the end needs more.
    {
        stream_owner stream;
        ASSERT_EQ(qn_ecma_stream_create(48000, QN_SOUND_FIELD_DIFFUSE, every_metric, &stream.s), QN_STATUS_SUCCESS);
        ASSERT_EQ(qn_ecma_stream_add(stream.s, x.data(), x.size()), QN_STATUS_SUCCESS);
        EXPECT_EQ(under_failure([&] { return qn_ecma_stream_finish(stream.s); }), QN_STATUS_ALLOCATION_FAILED);
        ASSERT_EQ(qn_ecma_stream_finish(stream.s), QN_STATUS_SUCCESS);
        frames got;
        read_every(stream.s, every_metric, 1000, got);
        EXPECT_EQ(differs(got, expected), "");
    }
}

// A block with a NaN or an infinity is refused whole: the frames are those
// of the signal without it.
TEST(EcmaStream, NonFiniteBlocksAreRefusedWhole) {
    const auto x = mixture(40000, 8);
    const frames expected = one_shot(x, QN_SOUND_FIELD_FREE, all_metrics);
    stream_owner stream;
    ASSERT_EQ(qn_ecma_stream_create(48000, QN_SOUND_FIELD_FREE, all_metrics, &stream.s), QN_STATUS_SUCCESS);
    std::vector<double> poisoned(3000, 0.1);
    poisoned[2999] = std::numeric_limits<double>::quiet_NaN();
    ASSERT_EQ(qn_ecma_stream_add(stream.s, x.data(), 17000), QN_STATUS_SUCCESS);
    EXPECT_EQ(qn_ecma_stream_add(stream.s, poisoned.data(), poisoned.size()), QN_STATUS_NON_FINITE_INPUT);
    poisoned[2999] = 0.1;
    poisoned[0] = -std::numeric_limits<double>::infinity();
    EXPECT_EQ(qn_ecma_stream_add(stream.s, poisoned.data(), poisoned.size()), QN_STATUS_NON_FINITE_INPUT);
    ASSERT_EQ(qn_ecma_stream_add(stream.s, x.data() + 17000, x.size() - 17000), QN_STATUS_SUCCESS);
    ASSERT_EQ(qn_ecma_stream_finish(stream.s), QN_STATUS_SUCCESS);
    frames got;
    read_every(stream.s, all_metrics, 100, got);
    EXPECT_EQ(differs(got, expected), "");
}

// Pressures near the largest double overflow the filters: the stream fails
// for good and says so to every call.
TEST(EcmaStream, NumericalFailureSpendsTheStream) {
    std::vector<double> huge(20000, 1e300);
    for (std::size_t i = 0; i < huge.size(); i += 2) huge[i] = -1e300;
    for (qn_ecma_metric metrics : {QN_ECMA_TONALITY, QN_ECMA_ROUGHNESS, QN_ECMA_FLUCTUATION}) {
        stream_owner stream;
        ASSERT_EQ(qn_ecma_stream_create(48000, QN_SOUND_FIELD_FREE, metrics, &stream.s), QN_STATUS_SUCCESS);
        EXPECT_EQ(qn_ecma_stream_add(stream.s, huge.data(), huge.size()), QN_STATUS_NUMERICAL_FAILURE);
        EXPECT_EQ(qn_ecma_stream_add(stream.s, huge.data(), 1), QN_STATUS_NUMERICAL_FAILURE);
        EXPECT_EQ(qn_ecma_stream_finish(stream.s), QN_STATUS_NUMERICAL_FAILURE);
        uint64_t frames = 77;
        EXPECT_EQ(qn_ecma_stream_frame_count(stream.s, metrics, &frames), QN_STATUS_NUMERICAL_FAILURE);
        EXPECT_EQ(frames, 77u);
        auto out = sentinel_buffer(265);
        EXPECT_EQ(qn_ecma_stream_read(stream.s, metrics, out.data(), out.size(), &frames),
                  QN_STATUS_NUMERICAL_FAILURE);
        EXPECT_EQ(frames, 0u);
        EXPECT_TRUE(untouched(out));
    }
}

TEST(EcmaStream, AddFinishAndCountCheckOrder) {
    stream_owner stream;
    ASSERT_EQ(qn_ecma_stream_create(48000, QN_SOUND_FIELD_FREE, QN_ECMA_ROUGHNESS, &stream.s), QN_STATUS_SUCCESS);
    const auto x = mixture(100, 1);
    auto with_nan = x;
    with_nan[99] = std::numeric_limits<double>::quiet_NaN();
    const uint64_t longest = 1152921504606830591;  // 2^60 - 16385, the longest roughness signal
    struct Case {
        const char *what;
        bool null_stream;
        const double *samples;
        uint64_t count;
        qn_status expected;
    };
    const Case cases[] = {
        {"null stream", true, x.data(), 100, QN_STATUS_NULL_POINTER},
        {"null samples", false, nullptr, 100, QN_STATUS_NULL_POINTER},
        {"beyond the longest signal", false, x.data(), longest + 1, QN_STATUS_SIZE_OVERFLOW},
        {"NaN", false, with_nan.data(), 100, QN_STATUS_NON_FINITE_INPUT},
        {"null samples, none given", false, nullptr, 0, QN_STATUS_SUCCESS},
        {"valid", false, x.data(), 100, QN_STATUS_SUCCESS},
        {"the longest signal with it", false, x.data(), longest - 99, QN_STATUS_SIZE_OVERFLOW},
    };
    for (const Case &c : cases)
        EXPECT_EQ(qn_ecma_stream_add(c.null_stream ? nullptr : stream.s, c.samples, c.count), c.expected) << c.what;

    EXPECT_EQ(qn_ecma_stream_finish(nullptr), QN_STATUS_NULL_POINTER);
    uint64_t frames = 77;
    EXPECT_EQ(qn_ecma_stream_frame_count(nullptr, QN_ECMA_ROUGHNESS, &frames), QN_STATUS_NULL_POINTER);
    EXPECT_EQ(qn_ecma_stream_frame_count(stream.s, QN_ECMA_ROUGHNESS, nullptr), QN_STATUS_NULL_POINTER);
    const qn_ecma_metric others[] = {QN_ECMA_TONALITY, QN_ECMA_LOUDNESS, QN_ECMA_FLUCTUATION, QN_ECMA_ROUGHNESS | 1, 0};
    for (qn_ecma_metric m : others) {
        EXPECT_EQ(qn_ecma_stream_frame_count(stream.s, m, &frames), QN_STATUS_INVALID_ARGUMENT) << m;
    }
    EXPECT_EQ(frames, 77u);
    EXPECT_EQ(qn_ecma_stream_frame_count(stream.s, QN_ECMA_ROUGHNESS, &frames), QN_STATUS_SUCCESS);
    EXPECT_EQ(frames, 0u);
}

TEST(EcmaStream, ReadCheckOrderAndWhatIsWritten) {
    const auto x = mixture(20000, 3);
    stream_owner stream;
    ASSERT_EQ(qn_ecma_stream_create(48000, QN_SOUND_FIELD_FREE, QN_ECMA_TONALITY, &stream.s), QN_STATUS_SUCCESS);
    ASSERT_EQ(qn_ecma_stream_add(stream.s, x.data(), x.size()), QN_STATUS_SUCCESS);
    uint64_t waiting = 0;
    ASSERT_EQ(qn_ecma_stream_frame_count(stream.s, QN_ECMA_TONALITY, &waiting), QN_STATUS_SUCCESS);
    ASSERT_GE(waiting, 3u);
    auto out = sentinel_buffer(265 * 2 + 10);
    // The frame count inside the array it would receive frames in.
    uint64_t *inside = reinterpret_cast<uint64_t *>(&out[265]);
    const uint64_t before = 4242;
    struct Case {
        const char *what;
        bool null_stream, null_count;
        qn_ecma_metric metric;
        double *out;
        uint64_t capacity;
        uint64_t *count_at;
        qn_status expected;
        uint64_t frames_after;
    };
    const Case cases[] = {
        {"null stream", true, false, QN_ECMA_TONALITY, out.data(), 265, nullptr, QN_STATUS_NULL_POINTER, before},
        {"null frame count", false, true, QN_ECMA_TONALITY, out.data(), 265, nullptr, QN_STATUS_NULL_POINTER, before},
        {"frame count inside out", false, false, QN_ECMA_TONALITY, out.data(), 266, inside,
         QN_STATUS_INVALID_ARGUMENT, 0},
        {"metric not of the stream", false, false, QN_ECMA_ROUGHNESS, out.data(), 265, nullptr,
         QN_STATUS_INVALID_ARGUMENT, 0},
        {"two metrics", false, false, QN_ECMA_TONALITY | QN_ECMA_LOUDNESS, out.data(), 265, nullptr,
         QN_STATUS_INVALID_ARGUMENT, 0},
        {"null out with room claimed", false, false, QN_ECMA_TONALITY, nullptr, 265, nullptr, QN_STATUS_NULL_POINTER,
         0},
        {"room for less than a frame", false, false, QN_ECMA_TONALITY, out.data(), 264, nullptr,
         QN_STATUS_OUTPUT_TOO_SMALL, 0},
        {"nothing asked for", false, false, QN_ECMA_TONALITY, nullptr, 0, nullptr, QN_STATUS_OUTPUT_TOO_SMALL, 0},
    };
    for (const Case &c : cases) {
        std::fill(out.begin(), out.end(), sentinel);
        uint64_t frames = before;
        uint64_t *count = c.null_count ? nullptr : (c.count_at != nullptr ? c.count_at : &frames);
        EXPECT_EQ(qn_ecma_stream_read(c.null_stream ? nullptr : stream.s, c.metric, c.out, c.capacity, count),
                  c.expected)
            << c.what;
        if (c.count_at == nullptr) {
            EXPECT_EQ(frames, c.frames_after) << c.what;
        }
        EXPECT_TRUE(untouched(out)) << c.what;
    }
    uint64_t still = 0;
    ASSERT_EQ(qn_ecma_stream_frame_count(stream.s, QN_ECMA_TONALITY, &still), QN_STATUS_SUCCESS);
    EXPECT_EQ(still, waiting) << "failed reads take nothing";
    // Room for two frames and a little: two are read, the rest untouched.
    uint64_t frames = 0;
    ASSERT_EQ(qn_ecma_stream_read(stream.s, QN_ECMA_TONALITY, out.data(), out.size(), &frames), QN_STATUS_SUCCESS);
    EXPECT_EQ(frames, 2u);
    EXPECT_TRUE(untouched(out, 2 * 265));
    EXPECT_FALSE(untouched(out));
}

// Fuzzes the ECMA-418-2 stream and the one-pass analysis (qn_ecma_analysis,
// or qn_ecma_analysis_with_fluctuation when fluctuation strength is among
// the metrics): a signal split into
// carved blocks, with refused blocks (a NaN, refused memory) among them,
// read back in carved portions. Every status is one of the eleven; a
// refused block leaves the stream as it was; failed reads write nothing;
// the frames read, put together, are those of the one-pass analysis of the
// accepted samples, bit for bit, finite, and the statuses agree. Then a
// probe of the one-pass analysis with carved arrays (too small, overlapping the
// samples), null or poisoned samples and a refused allocation: nothing
// written on failure but a numerical one, finite values on success.
//
// Input, front to back: a flag byte (bit 0: rate 48000, else an int32 rate
// follows; bits 1-2: free, diffuse, an int32 sound field follows, diffuse;
// bit 3: the create meets a refused allocation at request alloc % 32;
// bit 4: every add first meets refused memory, and is offered again; bit
// 5: so does finish; bit 6: one read with its frame count inside its
// array; bit 7: a block with a NaN offered midway), the rate and the field
// when asked for, a metrics byte (its low four bits, 0 refused; bit 4: the
// probe's count beyond the longest signal; bit 5: a flag of no metric), an
// allocation byte, a length byte (n = 14591 + 257 (byte %
// 8), so 0 is one sample short of tonality and 3 one of roughness; with
// bit 3 set n = 65536 + 257 (byte % 8), 0 one short of fluctuation), a
// uint64 scale exponent (2^(v % 1064 - 40) Pa full scale, up to overflow),
// a read byte (frames per read: byte % 16, 0 asking with no room), four
// uint16 block sizes (each % 9000, cycled; all 0: the whole signal), a
// probe byte (bits 0-1: capacities 0, size - 1, size, size + 3; bit 2: null
// samples; bit 3: a NaN sample; bit 4: the tonality array over the samples'
// end; bits 5-7: v, a refused allocation at request v - 1 when v > 0), and
// int16 samples repeated to length n.
#include <cmath>
#include <cstring>
#include <limits>
#include <vector>

#include "carve.h"
#include "outcomes.h"
#include "quarnelo.h"
#include "support/alloc_hook.h"
#include "support/sentinel.h"

namespace {
using qn_test::sentinel;

[[maybe_unused]] const bool expected =
    qn_fuzz_expect("qn_ecma_stream_create",
                   qn_fuzz_statuses({QN_STATUS_SUCCESS, QN_STATUS_INVALID_SAMPLE_RATE, QN_STATUS_INVALID_SOUND_FIELD,
                                     QN_STATUS_INVALID_ARGUMENT, QN_STATUS_ALLOCATION_FAILED})) &&
    qn_fuzz_expect("qn_ecma_stream_add",
                   qn_fuzz_statuses({QN_STATUS_SUCCESS, QN_STATUS_NON_FINITE_INPUT, QN_STATUS_ALLOCATION_FAILED,
                                     QN_STATUS_NUMERICAL_FAILURE})) &&
    qn_fuzz_expect("qn_ecma_stream_finish",
                   qn_fuzz_statuses({QN_STATUS_SUCCESS, QN_STATUS_INPUT_TOO_SHORT, QN_STATUS_ALLOCATION_FAILED,
                                     QN_STATUS_NUMERICAL_FAILURE})) &&
    qn_fuzz_expect("qn_ecma_stream_read",
                   qn_fuzz_statuses({QN_STATUS_SUCCESS, QN_STATUS_INVALID_ARGUMENT, QN_STATUS_OUTPUT_TOO_SMALL,
                                     QN_STATUS_NUMERICAL_FAILURE})) &&
    qn_fuzz_expect("qn_ecma_analysis",
                   qn_fuzz_statuses({QN_STATUS_SUCCESS, QN_STATUS_NULL_POINTER, QN_STATUS_INVALID_ARGUMENT,
                                     QN_STATUS_INVALID_SAMPLE_RATE, QN_STATUS_INVALID_SOUND_FIELD,
                                     QN_STATUS_NON_FINITE_INPUT, QN_STATUS_INPUT_TOO_SHORT,
                                     QN_STATUS_OUTPUT_TOO_SMALL, QN_STATUS_SIZE_OVERFLOW,
                                     QN_STATUS_ALLOCATION_FAILED, QN_STATUS_NUMERICAL_FAILURE})) &&
    qn_fuzz_expect("qn_ecma_analysis of the accepted samples",
                   qn_fuzz_statuses({QN_STATUS_SUCCESS, QN_STATUS_INPUT_TOO_SHORT, QN_STATUS_NUMERICAL_FAILURE}));

// Longer than any signal of any metric: refused before a sample is read.
constexpr uint64_t longest = uint64_t{1} << 60;

// Frames of a signal of n samples, 0 when it is too short.
uint64_t tonal_frames(uint64_t n) {
    uint64_t v = 0;
    return qn_ecma_tonal_frame_count(n, 48000, &v) == QN_STATUS_SUCCESS ? v : 0;
}
uint64_t rough_frames(uint64_t n) {
    uint64_t v = 0;
    return qn_ecma_roughness_frame_count(n, 48000, &v) == QN_STATUS_SUCCESS ? v : 0;
}
uint64_t fluct_frames(uint64_t n) {
    uint64_t v = 0;
    return qn_ecma_fluctuation_frame_count(n, 48000, &v) == QN_STATUS_SUCCESS ? v : 0;
}

// The one-pass analysis: the four arrays when fluctuation strength is asked
// for, else qn_ecma_analysis itself.
qn_status one_pass(const double *x, uint64_t n, int32_t rate, qn_sound_field field, double *const arrays[4],
                   const uint64_t capacity[4], bool fluctuation) {
    if (fluctuation)
        return qn_ecma_analysis_with_fluctuation(x, n, rate, field, arrays[0], capacity[0], arrays[1], capacity[1],
                                                 arrays[2], capacity[2], arrays[3], capacity[3]);
    return qn_ecma_analysis(x, n, rate, field, arrays[0], capacity[0], arrays[1], capacity[1], arrays[2],
                            capacity[2]);
}

struct metric_frames {
    qn_ecma_metric metric;
    uint64_t width;
    std::vector<double> values;
};

// Reads what waits of every metric of the stream, in portions of `room`
// frames; one read may be asked to put its frame count inside its array.
// With no room the read is asked with a null array and capacity 0.
void read_frames(qn_ecma_stream *s, std::vector<metric_frames> &all, uint64_t room, bool &count_inside) {
    for (metric_frames &m : all) {
        for (;;) {
            std::vector<double> out(m.width * room + 1, sentinel);
            const uint64_t capacity = room == 0 ? 0 : out.size();
            uint64_t got = 77;
            const bool inside = count_inside && room > 0;
            uint64_t *count = inside ? reinterpret_cast<uint64_t *>(&out.back()) : &got;
            double *at = room == 0 ? nullptr : out.data();
            const qn_status st =
                QN_FUZZ_STATUS("qn_ecma_stream_read", qn_ecma_stream_read(s, m.metric, at, capacity, count));
            QN_FUZZ_ASSERT(known_status(st));
            if (inside) {
                count_inside = false;
                QN_FUZZ_ASSERT(st == QN_STATUS_INVALID_ARGUMENT);
                for (std::size_t i = 0; i + 1 < out.size(); ++i) QN_FUZZ_ASSERT(out[i] == sentinel);
                continue;
            }
            if (st != QN_STATUS_SUCCESS) {
                QN_FUZZ_ASSERT(got == 0 && (st == QN_STATUS_OUTPUT_TOO_SMALL || st == QN_STATUS_NUMERICAL_FAILURE));
                for (double v : out) QN_FUZZ_ASSERT(v == sentinel);
                break;
            }
            QN_FUZZ_ASSERT(got <= room);
            for (uint64_t i = got * m.width; i < out.size(); ++i) QN_FUZZ_ASSERT(out[i] == sentinel);
            m.values.insert(m.values.end(), out.begin(), out.begin() + static_cast<std::ptrdiff_t>(got * m.width));
            if (got < room || got == 0) break;
        }
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, std::size_t size) {
    carver in(data, size);
    const uint8_t flags = in.take<uint8_t>();
    const int32_t rate = (flags & 1u) ? 48000 : in.take<int32_t>();
    const unsigned field_mode = (flags >> 1) & 3u;
    const qn_sound_field field = field_mode == 2 ? in.take<int32_t>() : (field_mode == 0 ? 0 : 1);
    const uint8_t metrics_byte = in.take<uint8_t>();
    // Bit 5 adds 16, a flag that names no metric.
    const qn_ecma_metric metrics = (metrics_byte & 15u) | ((metrics_byte & 32u) ? 16 : 0);
    const uint8_t allocation = in.take<uint8_t>();
    const uint8_t length = in.take<uint8_t>();
    const std::size_t n = ((length & 8u) ? 65536 : 14591) + 257 * (length % 8);
    const double scale = std::ldexp(1.0, static_cast<int>(in.range(0, 1063)) - 40);
    const uint64_t room = in.take<uint8_t>() % 16;
    uint64_t sizes[4];
    for (uint64_t &s : sizes) s = in.take<uint16_t>() % 9000;
    if (sizes[0] + sizes[1] + sizes[2] + sizes[3] == 0) sizes[0] = n;
    const uint8_t probe = in.take<uint8_t>();
    std::vector<double> pattern = in.rest_as_doubles(4096, scale / 32768.0);
    if (pattern.empty()) pattern.push_back(0.0);
    std::vector<double> x(n);
    for (std::size_t i = 0; i < n; ++i) x[i] = pattern[i % pattern.size()];

    // The stream.
    qn_ecma_stream *stream = nullptr;
    qn_test_fail_allocation_at((flags & 8u) ? allocation % 32 : -1);
    const qn_status created =
        QN_FUZZ_STATUS("qn_ecma_stream_create", qn_ecma_stream_create(rate, field, metrics, &stream));
    qn_test_fail_allocation_at(-1);
    QN_FUZZ_ASSERT(known_status(created) && (created == QN_STATUS_SUCCESS) == (stream != nullptr));
    if (stream != nullptr) {
        std::vector<metric_frames> all;
        if (metrics & QN_ECMA_TONALITY) all.push_back({QN_ECMA_TONALITY, 265, {}});
        if (metrics & QN_ECMA_LOUDNESS) all.push_back({QN_ECMA_LOUDNESS, 53, {}});
        if (metrics & QN_ECMA_ROUGHNESS) all.push_back({QN_ECMA_ROUGHNESS, 53, {}});
        if (metrics & QN_ECMA_FLUCTUATION) all.push_back({QN_ECMA_FLUCTUATION, 53, {}});
        bool count_inside = (flags & 64u) != 0;
        std::vector<double> accepted;
        bool failed = false;
        std::size_t at = 0;
        for (std::size_t k = 0; at < n; ++k) {
            const std::size_t len = std::min<std::size_t>(sizes[k % 4], n - at);
            if ((flags & 128u) && k == 2) {
                std::vector<double> poisoned(x.begin() + static_cast<std::ptrdiff_t>(at),
                                             x.begin() + static_cast<std::ptrdiff_t>(at + len));
                poisoned.push_back(std::numeric_limits<double>::quiet_NaN());
                QN_FUZZ_ASSERT(QN_FUZZ_STATUS("qn_ecma_stream_add",
                                              qn_ecma_stream_add(stream, poisoned.data(), poisoned.size())) ==
                               (failed ? QN_STATUS_NUMERICAL_FAILURE : QN_STATUS_NON_FINITE_INPUT));
            }
            qn_status s = QN_STATUS_ALLOCATION_FAILED;
            if (flags & 16u) {
                qn_test_fail_allocation_at(0, true);
                s = QN_FUZZ_STATUS("qn_ecma_stream_add", qn_ecma_stream_add(stream, x.data() + at, len));
                qn_test_fail_allocation_at(-1);
            }
            if (s == QN_STATUS_ALLOCATION_FAILED)
                s = QN_FUZZ_STATUS("qn_ecma_stream_add", qn_ecma_stream_add(stream, x.data() + at, len));
            // Once failed, the stream refuses every block as it refused the
            // one that failed it.
            QN_FUZZ_ASSERT(s == (failed ? QN_STATUS_NUMERICAL_FAILURE : s) &&
                           (s == QN_STATUS_SUCCESS || s == QN_STATUS_NUMERICAL_FAILURE));
            accepted.insert(accepted.end(), x.begin() + static_cast<std::ptrdiff_t>(at),
                            x.begin() + static_cast<std::ptrdiff_t>(at + len));
            at += len;
            failed = failed || s == QN_STATUS_NUMERICAL_FAILURE;
            read_frames(stream, all, room, count_inside);
        }
        qn_status finished = QN_STATUS_ALLOCATION_FAILED;
        if (flags & 32u) {
            qn_test_fail_allocation_at(0, true);
            finished = QN_FUZZ_STATUS("qn_ecma_stream_finish", qn_ecma_stream_finish(stream));
            qn_test_fail_allocation_at(-1);
        }
        if (finished == QN_STATUS_ALLOCATION_FAILED)
            finished = QN_FUZZ_STATUS("qn_ecma_stream_finish", qn_ecma_stream_finish(stream));
        QN_FUZZ_ASSERT(known_status(finished));
        read_frames(stream, all, room == 0 ? 1000 : room, count_inside);
        qn_ecma_stream_destroy(stream);

        // The whole signal at once: the same statuses, the same frames.
        const uint64_t vt = tonal_frames(accepted.size()), vr = rough_frames(accepted.size()),
                       vf = fluct_frames(accepted.size());
        // One spare double each, so that no array is null when a signal too
        // short has no frames.
        std::vector<double> t(265 * vt + 1), l(53 * vt + 1), r(53 * vr + 1), f(53 * vf + 1);
        const bool with_t = metrics & QN_ECMA_TONALITY, with_l = metrics & QN_ECMA_LOUDNESS,
                   with_r = metrics & QN_ECMA_ROUGHNESS, with_f = metrics & QN_ECMA_FLUCTUATION;
        double *const whole_arrays[4] = {with_t ? t.data() : nullptr, with_l ? l.data() : nullptr,
                                         with_r ? r.data() : nullptr, with_f ? f.data() : nullptr};
        const uint64_t whole_capacity[4] = {with_t ? 265 * vt : 0, with_l ? 53 * vt : 0, with_r ? 53 * vr : 0,
                                            with_f ? 53 * vf : 0};
        const qn_status whole =
            QN_FUZZ_STATUS("qn_ecma_analysis of the accepted samples",
                           one_pass(accepted.data(), accepted.size(), 48000, field, whole_arrays, whole_capacity,
                                    with_f));
        // A stream that failed on a signal too short for the analysis is
        // refused by it for its length.
        QN_FUZZ_ASSERT(failed ? finished == QN_STATUS_NUMERICAL_FAILURE &&
                                    (whole == QN_STATUS_NUMERICAL_FAILURE || whole == QN_STATUS_INPUT_TOO_SHORT)
                              : whole == finished);
        if (whole == QN_STATUS_SUCCESS) {
            for (const metric_frames &m : all) {
                if (m.metric == QN_ECMA_ROUGHNESS || m.metric == QN_ECMA_FLUCTUATION) {
                    const bool rough = m.metric == QN_ECMA_ROUGHNESS;
                    const uint64_t v = rough ? vr : vf;
                    QN_FUZZ_ASSERT(m.values.size() == 53 * v);
                    QN_FUZZ_ASSERT(std::memcmp(m.values.data(), (rough ? r : f).data(), 53 * v * sizeof(double)) == 0);
                    continue;
                }
                // The tonal analysis' arrays, frame by frame.
                const uint64_t arrays = m.width / 53;
                const std::vector<double> &planar = m.metric == QN_ECMA_TONALITY ? t : l;
                const uint64_t plane = m.metric == QN_ECMA_TONALITY ? 53 * vt : 0;
                QN_FUZZ_ASSERT(m.values.size() == m.width * vt);
                for (uint64_t k = 0; k < vt; ++k)
                    for (uint64_t a = 0; a < arrays; ++a)
                        QN_FUZZ_ASSERT(std::memcmp(&m.values[k * m.width + 53 * a], &planar[a * plane + 53 * k],
                                                   53 * sizeof(double)) == 0);
            }
            for (const metric_frames &m : all)
                for (double v : m.values) QN_FUZZ_ASSERT(std::isfinite(v) && v >= 0);
        }
    }

    // The probe: one call of the one-pass analysis with carved arguments.
    // The samples and the arrays share one block, so that they can overlap.
    const uint64_t vt = tonal_frames(n), vr = rough_frames(n), vf = fluct_frames(n);
    const bool with_t = metrics & QN_ECMA_TONALITY, with_l = metrics & QN_ECMA_LOUDNESS,
               with_r = metrics & QN_ECMA_ROUGHNESS, with_f = metrics & QN_ECMA_FLUCTUATION;
    const uint64_t need[4] = {with_t ? 265 * vt : 0, with_l ? 53 * vt : 0, with_r ? 53 * vr : 0,
                              with_f ? 53 * vf : 0};
    const uint64_t extra[4] = {0, 0, 0, 3};
    uint64_t capacity[4];
    for (int a = 0; a < 4; ++a) {
        const uint64_t c = probe & 3u;
        capacity[a] = need[a] == 0 ? 0 : (c == 0 ? 0 : (c == 1 ? need[a] - 1 : need[a] + extra[c]));
    }
    std::vector<double> block(n + capacity[0] + capacity[1] + capacity[2] + capacity[3] + 5, sentinel);
    std::copy(x.begin(), x.end(), block.begin());
    if (probe & 8u) block[n / 2] = std::numeric_limits<double>::quiet_NaN();
    double *arrays[4];
    arrays[0] = (probe & 16u) ? block.data() + n - 1 : block.data() + n + 1;
    arrays[1] = block.data() + n + 2 + capacity[0];
    arrays[2] = arrays[1] + capacity[1] + 1;
    arrays[3] = arrays[2] + capacity[2] + 1;
    double *const given[4] = {with_t ? arrays[0] : nullptr, with_l ? arrays[1] : nullptr,
                              with_r ? arrays[2] : nullptr, with_f ? arrays[3] : nullptr};
    const std::vector<double> before(block.begin(), block.end());
    qn_test_fail_allocation_at(static_cast<int64_t>(probe >> 5) - 1);
    const qn_status s = QN_FUZZ_STATUS(
        "qn_ecma_analysis", one_pass((probe & 4u) ? nullptr : block.data(), (metrics_byte & 16u) ? longest : n,
                                     rate, field, given, capacity, with_f));
    qn_test_fail_allocation_at(-1);
    QN_FUZZ_ASSERT(known_status(s));
    if (s == QN_STATUS_SUCCESS) {
        for (int a = 0; a < 4; ++a)
            for (uint64_t i = 0; i < need[a]; ++i) QN_FUZZ_ASSERT(std::isfinite(arrays[a][i]) && arrays[a][i] >= 0);
    } else if (s != QN_STATUS_NUMERICAL_FAILURE) {
        QN_FUZZ_ASSERT(std::memcmp(before.data(), block.data(), block.size() * sizeof(double)) == 0);
    }
    return 0;
}

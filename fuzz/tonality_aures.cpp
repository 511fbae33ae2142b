// Fuzzes qn_tonality_frame_count and qn_tonality_aures: every status the
// export can return (null pointers, rates, counts beyond 32 bits, short
// signals, sound fields, small outputs, NaN, allocation failures at any
// request, loud low-frequency signals beyond the loudness model), the frame
// count after each failure, untouched outputs, finite non-negative results;
// with overlapping arrays the same bits or a refusal.
#include <cmath>
#include <limits>
#include <vector>

#include "carve.h"
#include "outcomes.h"
#include "overlap.h"
#include "quarnelo.h"
#include "support/alloc_hook.h"
#include "support/sentinel.h"

namespace {
using qn_test::sentinel;

[[maybe_unused]] const bool expected =
    qn_fuzz_expect("qn_tonality_frame_count", qn_fuzz_frame_count_statuses()) &&
    qn_fuzz_expect("qn_tonality_aures", qn_fuzz_signal_analysis_statuses()) &&
    qn_fuzz_expect("qn_tonality_aures overlapping", qn_fuzz_overlap_outcomes(true, true));
constexpr uint64_t untouched_count = 31337;
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, std::size_t size) {
    carver in(data, size);
    const uint8_t mode = in.take<uint8_t>();
    const int32_t rate = (mode & 1u) ? in.take<int32_t>() : 48000;
    const qn_sound_field field = (mode & 2u) ? in.take<int32_t>() : static_cast<qn_sound_field>(mode >> 7);
    const double scale = std::ldexp(1.0, static_cast<int>(in.range(0, 60)) - 30);
    const uint8_t poison = in.take<uint8_t>();
    const uint8_t capacity_choice = in.take<uint8_t>();
    const int64_t fail_at = (in.take<uint8_t>() & 7u) == 0 ? static_cast<int64_t>(in.range(0, 12)) : -1;
    // Short inputs are stretched by repetition to one or two frames.
    std::vector<double> pattern = in.rest_as_doubles(2000, scale / 32768.0);
    if (pattern.empty()) pattern.push_back(0.0);
    const std::size_t n = 12000 + 6000 * (poison % 2u) - (poison & 16u ? 1 : 0);
    std::vector<double> x(n);
    for (std::size_t i = 0; i < n; ++i) x[i] = pattern[i % pattern.size()];
    if ((poison & 7u) == 7u) x[(poison * 977u) % n] = std::numeric_limits<double>::quiet_NaN();
    // A count beyond 32 bits is refused before any sample is read.
    const uint64_t count = (mode & 4u) ? uint64_t{2147483648} + poison : n;
    const unsigned null_choice = (mode >> 3) & 3u;  // 1: samples, 2: out, 3: frame count

    uint64_t expected = 0;
    const qn_status count_status =
        QN_FUZZ_STATUS("qn_tonality_frame_count", qn_tonality_frame_count(count, rate, &expected));
    QN_FUZZ_ASSERT(QN_FUZZ_STATUS("qn_tonality_frame_count", qn_tonality_frame_count(count, rate, nullptr)) ==
                   QN_STATUS_NULL_POINTER);
    QN_FUZZ_ASSERT(known_status(count_status));
    const uint64_t capacity = capacity_choice % 4 == 0 ? capacity_choice % 3 : expected + capacity_choice % 2;
    std::vector<double> out(capacity + 1, sentinel);
    uint64_t frames = untouched_count;
    qn_test_fail_allocation_at(fail_at);
    const qn_status s = QN_FUZZ_STATUS("qn_tonality_aures",
                                       qn_tonality_aures(null_choice == 1 ? nullptr : x.data(), count, rate, field,
                                                         null_choice == 2 ? nullptr : out.data(), capacity,
                                                         null_choice == 3 ? nullptr : &frames));
    qn_test_fail_allocation_at(-1);
    QN_FUZZ_ASSERT(known_status(s) && s != QN_STATUS_INVALID_ARGUMENT);
    const overlap_choice overlap = carve_overlap(data, size);
    if (overlap.wanted) {
        // The samples, the series and the frame count.
        overlap_block block({x.size(), out.size(), 1}, overlap);
        block.fill(0, x.data(), x.size());
        qn_test_fail_allocation_at(fail_at);
        const qn_status o = QN_FUZZ_STATUS("qn_tonality_aures",
                                           qn_tonality_aures(null_choice == 1 ? nullptr : block.at(0), count, rate,
                                                             field, null_choice == 2 ? nullptr : block.at(1),
                                                             capacity, null_choice == 3 ? nullptr : block.count_at(2)));
        qn_test_fail_allocation_at(-1);
        const uint64_t f = s == QN_STATUS_SUCCESS ? frames : 0;
        const char *verdict = block.judge(o, s, {x.data(), out.data(), reinterpret_cast<const double *>(&frames)},
                                          {0, f, f > 0 ? 1u : 0u}, {count, expected, 1}, 2);
        QN_FUZZ_ASSERT(verdict != nullptr);
        QN_FUZZ_OUTCOME("qn_tonality_aures overlapping", verdict);
    }
    if (null_choice != 0) QN_FUZZ_ASSERT(s == QN_STATUS_NULL_POINTER);
    if (s == QN_STATUS_SUCCESS) {
        QN_FUZZ_ASSERT(count_status == QN_STATUS_SUCCESS && frames == expected);
        for (uint64_t k = 0; k < frames; ++k) QN_FUZZ_ASSERT(std::isfinite(out[k]) && out[k] >= 0);
        for (uint64_t k = frames; k < out.size(); ++k) QN_FUZZ_ASSERT(out[k] == sentinel);
    } else {
        QN_FUZZ_ASSERT(frames == (s == QN_STATUS_OUTPUT_TOO_SMALL ? expected : untouched_count));
        for (double v : out) QN_FUZZ_ASSERT(v == sentinel);
    }
    return 0;
}

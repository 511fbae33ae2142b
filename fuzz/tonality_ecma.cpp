// Fuzzes qn_ecma_tonal_frame_count and qn_ecma_tonal_analysis: statuses,
// the frame count after each failure, untouched outputs (all failures but a
// numerical one, which may leave partial results), finite and non-negative
// results, and allocation failures at any request; with overlapping arrays
// (overlap.h) the same bits or a refusal.
//
// Input, front to back: a flag byte (bit 0: rate 48000, else an int32 rate
// follows; bits 1-2: free, diffuse, an int32 sound field follows, diffuse;
// bit 3: null samples; bit 4: null output; bit 5: null frame count; bit 6:
// a count beyond the longest signal; bit 7: a NaN sample), the rate and the
// field when asked for, a length byte (n = 14591 + 521 (byte % 8), so 0
// is one sample too short), a uint64 scale exponent (2^(v % 1064 - 40) Pa
// full scale, up to overflow), a capacity byte (0, 265 V - 1, 265 V,
// 265 V + 3 by byte % 4), an allocation byte (byte % 8 == 0: the request
// byte / 8 fails), and int16 samples repeated to length n.
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
    qn_fuzz_expect("qn_ecma_tonal_frame_count", qn_fuzz_frame_count_statuses()) &&
    qn_fuzz_expect("qn_ecma_tonal_analysis", qn_fuzz_signal_analysis_statuses()) &&
    qn_fuzz_expect("qn_ecma_tonal_analysis overlapping", qn_fuzz_overlap_outcomes(true, false));
constexpr uint64_t longest = 1113765679922085632;
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, std::size_t size) {
    carver in(data, size);
    const uint8_t flags = in.take<uint8_t>();
    const int32_t rate = (flags & 1u) ? 48000 : in.take<int32_t>();
    const unsigned field_mode = (flags >> 1) & 3u;
    const qn_sound_field field = field_mode == 2 ? in.take<int32_t>() : (field_mode == 0 ? 0 : 1);
    const std::size_t n = 14591 + 521 * (in.take<uint8_t>() % 8);
    const double scale = std::ldexp(1.0, static_cast<int>(in.range(0, 1063)) - 40);
    const uint8_t capacity_choice = in.take<uint8_t>();
    const uint8_t allocation = in.take<uint8_t>();
    const int64_t fail_at = allocation % 8 == 0 ? allocation / 8 : -1;
    std::vector<double> pattern = in.rest_as_doubles(4096, scale / 32768.0);
    if (pattern.empty()) pattern.push_back(0.0);
    std::vector<double> x(n);
    for (std::size_t i = 0; i < n; ++i) x[i] = pattern[i % pattern.size()];
    if (flags & 128u) x[(n * 7) / 11] = std::numeric_limits<double>::quiet_NaN();
    // Beyond the longest signal the library refuses before reading a sample.
    const uint64_t count = (flags & 64u) ? longest + 1 + (capacity_choice & 3u) : n;

    uint64_t expected = 77;
    const qn_status count_status =
        QN_FUZZ_STATUS("qn_ecma_tonal_frame_count", qn_ecma_tonal_frame_count(count, rate, &expected));
    QN_FUZZ_ASSERT(QN_FUZZ_STATUS("qn_ecma_tonal_frame_count", qn_ecma_tonal_frame_count(count, rate, nullptr)) ==
                   QN_STATUS_NULL_POINTER);
    QN_FUZZ_ASSERT(known_status(count_status));
    QN_FUZZ_ASSERT(count_status == QN_STATUS_SUCCESS || expected == 0);
    const uint64_t need = count_status == QN_STATUS_SUCCESS ? 265 * expected : 0;
    const uint64_t choices[] = {0, need > 0 ? need - 1 : 0, need, need + 3};
    const uint64_t capacity = choices[capacity_choice % 4];
    std::vector<double> out(capacity + 1, sentinel);
    uint64_t frames = 31337;
    qn_test_fail_allocation_at(fail_at);
    const qn_status s = QN_FUZZ_STATUS("qn_ecma_tonal_analysis",
                                       qn_ecma_tonal_analysis((flags & 8u) ? nullptr : x.data(), count, rate, field,
                                                              (flags & 16u) ? nullptr : out.data(), capacity,
                                                              (flags & 32u) ? nullptr : &frames));
    qn_test_fail_allocation_at(-1);
    QN_FUZZ_ASSERT(known_status(s) && s != QN_STATUS_INVALID_ARGUMENT);
    const overlap_choice overlap = carve_overlap(data, size);
    if (overlap.wanted) {
        // The samples, the output and the frame count.
        overlap_block block({x.size(), out.size(), 1}, overlap);
        block.fill(0, x.data(), x.size());
        qn_test_fail_allocation_at(fail_at);
        const qn_status o = QN_FUZZ_STATUS(
            "qn_ecma_tonal_analysis",
            qn_ecma_tonal_analysis((flags & 8u) ? nullptr : block.at(0), count, rate, field,
                                   (flags & 16u) ? nullptr : block.at(1), capacity,
                                   (flags & 32u) ? nullptr : block.count_at(2)));
        qn_test_fail_allocation_at(-1);
        // A numerical failure may leave partial results, the same ones.
        const uint64_t w = s == QN_STATUS_SUCCESS || s == QN_STATUS_NUMERICAL_FAILURE ? need : 0;
        const char *verdict = block.judge(o, s, {x.data(), out.data(), reinterpret_cast<const double *>(&frames)},
                                          {0, w, s == QN_STATUS_SUCCESS ? 1u : 0u}, {count, need, 1}, 2);
        QN_FUZZ_ASSERT(verdict != nullptr);
        QN_FUZZ_OUTCOME("qn_ecma_tonal_analysis overlapping", verdict);
    }

    if (flags & 32u) {
        QN_FUZZ_ASSERT(s == QN_STATUS_NULL_POINTER && frames == 31337);
    } else if (s == QN_STATUS_SUCCESS) {
        QN_FUZZ_ASSERT(count_status == QN_STATUS_SUCCESS && frames == expected && capacity >= need);
        for (uint64_t i = 0; i < need; ++i) QN_FUZZ_ASSERT(std::isfinite(out[i]) && out[i] >= 0);
        for (uint64_t i = need; i < out.size(); ++i) QN_FUZZ_ASSERT(out[i] == sentinel);
    } else {
        // The frame count is V from the capacity check on, 0 before it.
        const bool late = s == QN_STATUS_OUTPUT_TOO_SMALL || s == QN_STATUS_NON_FINITE_INPUT ||
                          s == QN_STATUS_ALLOCATION_FAILED || s == QN_STATUS_NUMERICAL_FAILURE ||
                          (s == QN_STATUS_NULL_POINTER && (flags & 8u) && !(flags & 16u));
        QN_FUZZ_ASSERT(frames == (late ? expected : 0));
        if (late) QN_FUZZ_ASSERT(count_status == QN_STATUS_SUCCESS);
        if (s != QN_STATUS_NUMERICAL_FAILURE)
            for (double v : out) QN_FUZZ_ASSERT(v == sentinel);
    }
    return 0;
}

// Fuzzes qn_roughness_frame_count and qn_roughness_dw: statuses, the frame
// count after each failure, untouched outputs, finite non-negative results,
// and allocation failures at any request. Signals are one or two frames
// long, so that a run takes milliseconds; amplitudes reach the numerical
// failures and counts the size and length checks. With overlapping arrays
// the call gives the same bits or refuses them.
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
    qn_fuzz_expect("qn_roughness_frame_count", qn_fuzz_frame_count_statuses()) &&
    qn_fuzz_expect("qn_roughness_dw",
                   qn_fuzz_statuses({QN_STATUS_SUCCESS, QN_STATUS_NULL_POINTER, QN_STATUS_INVALID_ARGUMENT,
                                     QN_STATUS_INVALID_SAMPLE_RATE, QN_STATUS_INPUT_TOO_SHORT,
                                     QN_STATUS_SIZE_OVERFLOW, QN_STATUS_OUTPUT_TOO_SMALL,
                                     QN_STATUS_NON_FINITE_INPUT, QN_STATUS_ALLOCATION_FAILED,
                                     QN_STATUS_NUMERICAL_FAILURE})) &&
    qn_fuzz_expect("qn_roughness_dw overlapping", qn_fuzz_overlap_outcomes(true, true));

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, std::size_t size) {
    carver in(data, size);
    const int32_t rate = in.flag() ? 48000 : in.take<int32_t>();
    // Mostly ordinary levels; now and then far beyond anything audible.
    const int exponent = in.flag() ? static_cast<int>(in.range(0, 60)) - 30 : static_cast<int>(in.range(0, 1100));
    const double scale = std::ldexp(1.0, exponent);
    const uint8_t shape = in.take<uint8_t>();
    const uint8_t capacity_choice = in.take<uint8_t>();
    const uint8_t count_choice = in.take<uint8_t>();
    const int64_t fail_at = (in.take<uint8_t>() & 7u) == 0 ? static_cast<int64_t>(in.range(0, 40)) : -1;
    const uint8_t nulls = in.take<uint8_t>();
    // Short inputs are stretched by repetition to one frame, or two.
    std::vector<double> pattern = in.rest_as_doubles(2000, scale / 32768.0);
    if (pattern.empty()) pattern.push_back(0.0);
    const std::size_t n = (shape & 32u) ? 14400 : 9600;
    std::vector<double> x(n);
    for (std::size_t i = 0; i < n; ++i) x[i] = pattern[i % pattern.size()];
    if ((shape & 7u) == 7u) x[(shape * 977u) % n] = std::numeric_limits<double>::quiet_NaN();

    // The count is the signal's, or one the checks refuse before reading:
    // shorter than a frame, or beyond 2^31 - 1.
    uint64_t count = n;
    if (count_choice % 8 == 1) count = count_choice % 9600;
    if (count_choice % 8 == 2) count = uint64_t{2147483648} + count_choice;

    uint64_t expected_frames = 0;
    const qn_status count_status = QN_FUZZ_STATUS(
        "qn_roughness_frame_count", qn_roughness_frame_count(count, rate, (nulls & 15u) == 1 ? nullptr : &expected_frames));
    QN_FUZZ_ASSERT(known_status(count_status));
    const uint64_t frames_of_n = (n - 9600) / 4800 + 1;
    const uint64_t capacity = capacity_choice % 4 == 0 ? capacity_choice % 3 : frames_of_n + capacity_choice % 2;
    std::vector<double> out(capacity + 1, sentinel);
    uint64_t frames = 31337;
    qn_test_fail_allocation_at(fail_at);
    const qn_status s = QN_FUZZ_STATUS(
        "qn_roughness_dw", qn_roughness_dw((nulls & 15u) == 2 ? nullptr : x.data(), count, rate,
                                           (nulls & 15u) == 3 ? nullptr : out.data(), capacity,
                                           (nulls & 15u) == 4 ? nullptr : &frames));
    qn_test_fail_allocation_at(-1);
    QN_FUZZ_ASSERT(known_status(s));
    QN_FUZZ_ASSERT(qn_test_live_allocations() == 0);
    const overlap_choice overlap = carve_overlap(data, size);
    if (overlap.wanted) {
        // The samples, the series and the frame count.
        overlap_block block({x.size(), out.size(), 1}, overlap);
        block.fill(0, x.data(), x.size());
        qn_test_fail_allocation_at(fail_at);
        const qn_status o = QN_FUZZ_STATUS(
            "qn_roughness_dw", qn_roughness_dw((nulls & 15u) == 2 ? nullptr : block.at(0), count, rate,
                                               (nulls & 15u) == 3 ? nullptr : block.at(1), capacity,
                                               (nulls & 15u) == 4 ? nullptr : block.count_at(2)));
        qn_test_fail_allocation_at(-1);
        QN_FUZZ_ASSERT(qn_test_live_allocations() == 0);
        const uint64_t f = s == QN_STATUS_SUCCESS ? frames : 0;
        const char *verdict = block.judge(o, s, {x.data(), out.data(), reinterpret_cast<const double *>(&frames)},
                                          {0, f, f > 0 ? 1u : 0u}, {count, frames_of_n, 1}, 2);
        QN_FUZZ_ASSERT(verdict != nullptr);
        QN_FUZZ_OUTCOME("qn_roughness_dw overlapping", verdict);
    }
    if (s == QN_STATUS_SUCCESS) {
        QN_FUZZ_ASSERT(count == n && frames == frames_of_n);
        for (uint64_t k = 0; k < frames; ++k) QN_FUZZ_ASSERT(std::isfinite(out[k]) && out[k] >= 0);
        for (uint64_t k = frames; k < out.size(); ++k) QN_FUZZ_ASSERT(out[k] == sentinel);
    } else {
        if (s == QN_STATUS_OUTPUT_TOO_SMALL) QN_FUZZ_ASSERT(frames == frames_of_n);
        else QN_FUZZ_ASSERT((nulls & 15u) == 4 || frames == 31337u);
        QN_FUZZ_ASSERT(qn_test::untouched(out));
    }
    return 0;
}

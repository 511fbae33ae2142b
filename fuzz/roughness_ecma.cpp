// Fuzzes qn_ecma_roughness_frame_count and qn_roughness_ecma: every status
// the pair can return, the frame count after each failure, untouched
// outputs before the analysis starts, finite non-negative results, and
// allocation failures at any request. Signals stay short (0.32 ... 0.4 s)
// so that a run takes milliseconds. With overlapping arrays (overlap.h) the
// call gives the same bits or refuses them.
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
    qn_fuzz_expect("qn_ecma_roughness_frame_count", qn_fuzz_frame_count_statuses()) &&
    qn_fuzz_expect("qn_roughness_ecma", qn_fuzz_signal_analysis_statuses()) &&
    qn_fuzz_expect("qn_roughness_ecma overlapping", qn_fuzz_overlap_outcomes(true, false));
constexpr uint64_t longest = 1152921504606830591;  // 2^60 - 16385
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, std::size_t size) {
    carver in(data, size);
    const int32_t rate = in.flag() ? 48000 : in.take<int32_t>();
    const uint8_t field_choice = in.take<uint8_t>();
    const qn_sound_field field = field_choice % 4 < 2 ? field_choice % 4 : (field_choice % 4 == 2 ? 2 : -1);
    const uint8_t length_choice = in.take<uint8_t>();
    const uint8_t nulls = in.take<uint8_t>();
    const uint8_t capacity_choice = in.take<uint8_t>();
    const uint8_t poison = in.take<uint8_t>();
    const double scale = std::ldexp(1.0, static_cast<int>(in.range(0, 50)) - 30);
    const int64_t fail_at = (in.take<uint8_t>() & 7u) == 0 ? static_cast<int64_t>(in.range(0, 12)) : -1;
    std::vector<double> pattern = in.rest_as_doubles(4000, scale / 32768.0);
    if (pattern.empty()) pattern.push_back(0.0);

    // The samples held; the count claimed may be larger only where the
    // library refuses it before reading a sample.
    const std::size_t held = 15360 + 97 * static_cast<std::size_t>(length_choice % 48) - (length_choice & 64u ? 1 : 0);
    uint64_t n = held;
    bool claims_more = false;
    if (length_choice >= 0xf0) {
        n = (length_choice & 1u) ? longest : longest + 1 + (length_choice & 2u);
        claims_more = true;
    }
    std::vector<double> x(held);
    for (std::size_t i = 0; i < held; ++i) x[i] = pattern[i % pattern.size()];
    switch (poison % 8) {
    case 1: x[(poison * 977u) % held] = std::numeric_limits<double>::quiet_NaN(); break;
    case 2: x[held - 1] = -std::numeric_limits<double>::infinity(); break;
    case 3:  // pressures that overflow the filters
        for (std::size_t i = 0; i < held; ++i) x[i] = (i % 2 ? 1e300 : -1e300);
        break;
    default: break;
    }

    uint64_t expected = 31337;
    const qn_status count_status =
        QN_FUZZ_STATUS("qn_ecma_roughness_frame_count", qn_ecma_roughness_frame_count(n, rate, &expected));
    QN_FUZZ_ASSERT(QN_FUZZ_STATUS("qn_ecma_roughness_frame_count", qn_ecma_roughness_frame_count(n, rate, nullptr)) ==
                   QN_STATUS_NULL_POINTER);
    QN_FUZZ_ASSERT(known_status(count_status));
    QN_FUZZ_ASSERT(count_status == QN_STATUS_SUCCESS ? expected == n / 960 + 1 : expected == 0);

    const uint64_t needed = 53 * (held / 960 + 1);
    uint64_t capacity = capacity_choice % 4 == 0 ? capacity_choice % 3 * 53 : needed - (capacity_choice % 4 == 1);
    if (claims_more && (capacity_choice & 8u)) capacity = UINT64_MAX;  // claimed, never reached
    std::vector<double> out(needed + 2, sentinel);
    uint64_t frames = 31337;
    qn_test_fail_allocation_at(fail_at);
    const qn_status s = QN_FUZZ_STATUS("qn_roughness_ecma",
                                       qn_roughness_ecma((nulls & 1u) ? nullptr : x.data(), n, rate, field,
                                                         (nulls & 2u) ? nullptr : out.data(), capacity,
                                                         (nulls & 4u) ? nullptr : &frames));
    qn_test_fail_allocation_at(-1);
    QN_FUZZ_ASSERT(known_status(s));
    QN_FUZZ_ASSERT(s != QN_STATUS_INVALID_ARGUMENT);
    const overlap_choice overlap = carve_overlap(data, size);
    if (overlap.wanted) {
        // The samples, the output and the frame count.
        overlap_block block({x.size(), out.size(), 1}, overlap);
        block.fill(0, x.data(), x.size());
        qn_test_fail_allocation_at(fail_at);
        const qn_status o =
            QN_FUZZ_STATUS("qn_roughness_ecma", qn_roughness_ecma((nulls & 1u) ? nullptr : block.at(0), n, rate, field,
                                                                  (nulls & 2u) ? nullptr : block.at(1), capacity,
                                                                  (nulls & 4u) ? nullptr : block.count_at(2)));
        qn_test_fail_allocation_at(-1);
        // A numerical failure may leave its first frames written, the same ones.
        const uint64_t w = s == QN_STATUS_SUCCESS || s == QN_STATUS_NUMERICAL_FAILURE ? needed : 0;
        const char *verdict = block.judge(o, s, {x.data(), out.data(), reinterpret_cast<const double *>(&frames)},
                                          {0, w, s == QN_STATUS_SUCCESS ? 1u : 0u}, {n, needed, 1}, 2);
        QN_FUZZ_ASSERT(verdict != nullptr);
        QN_FUZZ_OUTCOME("qn_roughness_ecma overlapping", verdict);
    }
    if (s == QN_STATUS_SUCCESS) {
        QN_FUZZ_ASSERT(!claims_more && count_status == QN_STATUS_SUCCESS && frames == expected);
        for (uint64_t k = 0; k < 53 * frames; ++k) QN_FUZZ_ASSERT(std::isfinite(out[k]) && out[k] >= 0);
        for (uint64_t k = 0; k < 53; ++k) QN_FUZZ_ASSERT(out[k] == 0);
        for (uint64_t k = 53 * frames; k < out.size(); ++k) QN_FUZZ_ASSERT(out[k] == sentinel);
    } else {
        if (!(nulls & 4u)) {
            // 0 first; the frame count once the length is accepted.
            const bool sized = count_status == QN_STATUS_SUCCESS && field_choice % 4 < 2 && !(nulls & 2u);
            QN_FUZZ_ASSERT(frames == (sized ? expected : 0));
        } else {
            QN_FUZZ_ASSERT(s == QN_STATUS_NULL_POINTER && frames == 31337);
        }
        // Only a failure inside the analysis may leave frames written.
        if (s != QN_STATUS_NUMERICAL_FAILURE)
            for (double v : out) QN_FUZZ_ASSERT(v == sentinel);
    }
    return 0;
}

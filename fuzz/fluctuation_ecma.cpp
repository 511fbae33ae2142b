// Fuzzes qn_ecma_fluctuation_frame_count and qn_fluctuation_ecma: every
// status the pair can return, the frame count after each failure, untouched
// outputs (and signal) before the analysis starts, outputs placed over the
// signal, finite non-negative results, and allocation failures at any
// request. Signals stay just above the shortest (1.37 ... 1.46 s).
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

std::vector<std::string> analysis_outcomes() {
    auto outcomes = qn_fuzz_signal_analysis_statuses();
    outcomes.push_back(qn_status_string(QN_STATUS_INVALID_ARGUMENT));  // output over the signal
    return outcomes;
}

[[maybe_unused]] const bool expected =
    qn_fuzz_expect("qn_ecma_fluctuation_frame_count", qn_fuzz_frame_count_statuses()) &&
    qn_fuzz_expect("qn_fluctuation_ecma", analysis_outcomes());
constexpr uint64_t shortest = 65537;
constexpr uint64_t longest = 1152921504606781439;  // 2^60 - 65537
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
    const uint8_t placement = in.take<uint8_t>();
    const double scale = std::ldexp(1.0, static_cast<int>(in.range(0, 50)) - 30);
    const int64_t fail_at = (in.take<uint8_t>() & 7u) == 0 ? static_cast<int64_t>(in.range(0, 12)) : -1;
    std::vector<double> pattern = in.rest_as_doubles(4000, scale / 32768.0);
    if (pattern.empty()) pattern.push_back(0.0);

    // The samples held; the count claimed may be larger only where the
    // library refuses it before reading a sample.
    const std::size_t held = shortest + 97 * static_cast<std::size_t>(length_choice % 48) - (length_choice & 64u ? 1 : 0);
    uint64_t n = held;
    bool claims_more = false;
    if (length_choice >= 0xf0) {
        n = (length_choice & 1u) ? longest : longest + 1 + (length_choice & 2u);
        claims_more = true;
    }
    const uint64_t needed = 53 * (held / 960 + 1);

    // One store for the signal and the output: the output after the signal,
    // or (placement % 4 == 1) over it, from before its start to past its end.
    const bool over = placement % 4 == 1;
    std::vector<double> store(needed + held + needed + 2, sentinel);
    double *x = store.data() + needed;
    for (std::size_t i = 0; i < held; ++i) x[i] = pattern[i % pattern.size()];
    switch (poison % 8) {
    case 1: x[(poison * 977u) % held] = std::numeric_limits<double>::quiet_NaN(); break;
    case 2: x[held - 1] = -std::numeric_limits<double>::infinity(); break;
    case 3:  // pressures that overflow the filters or the analysis
        for (std::size_t i = 0; i < held; ++i) x[i] = (i % 2 ? 1e300 : -1e300);
        break;
    default: break;
    }
    double *out = over ? x - needed + 1 + static_cast<std::ptrdiff_t>((placement / 4) * (held + needed - 2) / 63)
                       : x + held;
    const std::vector<double> before(store);

    uint64_t expected = 31337;
    const qn_status count_status = QN_FUZZ_STATUS("qn_ecma_fluctuation_frame_count",
                                                  qn_ecma_fluctuation_frame_count(n, rate, &expected));
    QN_FUZZ_ASSERT(QN_FUZZ_STATUS("qn_ecma_fluctuation_frame_count",
                                  qn_ecma_fluctuation_frame_count(n, rate, nullptr)) == QN_STATUS_NULL_POINTER);
    QN_FUZZ_ASSERT(known_status(count_status));
    QN_FUZZ_ASSERT(count_status == QN_STATUS_SUCCESS ? expected == n / 960 + 1 : expected == 0);

    uint64_t capacity = capacity_choice % 4 == 0 ? capacity_choice % 3 * 53 : needed - (capacity_choice % 4 == 1);
    if (claims_more && (capacity_choice & 8u)) capacity = UINT64_MAX;  // claimed, never reached
    uint64_t frames = 31337;
    qn_test_fail_allocation_at(fail_at);
    const qn_status s = QN_FUZZ_STATUS("qn_fluctuation_ecma",
                                       qn_fluctuation_ecma((nulls & 1u) ? nullptr : x, n, rate, field,
                                                           (nulls & 2u) ? nullptr : out, capacity,
                                                           (nulls & 4u) ? nullptr : &frames));
    qn_test_fail_allocation_at(-1);
    QN_FUZZ_ASSERT(known_status(s));
    const bool sized = count_status == QN_STATUS_SUCCESS && field_choice % 4 < 2 && !(nulls & 2u);
    // The overlap is tested once the capacity is accepted: an output over
    // the signal, or a claimed signal reaching over the output, is refused.
    const bool tested = sized && !(nulls & 5u) && capacity / 53 >= expected;
    QN_FUZZ_ASSERT((s == QN_STATUS_INVALID_ARGUMENT) == (tested && (over || claims_more)));
    if (s == QN_STATUS_SUCCESS) {
        QN_FUZZ_ASSERT(!claims_more && !over && count_status == QN_STATUS_SUCCESS && frames == expected);
        for (uint64_t k = 0; k < 53 * frames; ++k) QN_FUZZ_ASSERT(std::isfinite(out[k]) && out[k] >= 0);
        for (uint64_t k = 0; k < 53; ++k) QN_FUZZ_ASSERT(out[k] == 0);
        for (uint64_t k = 53 * frames; k < needed + 2; ++k) QN_FUZZ_ASSERT(out[k] == sentinel);
    } else {
        if (!(nulls & 4u)) {
            // 0 first; the frame count once the length is accepted.
            QN_FUZZ_ASSERT(frames == (sized ? expected : 0));
        } else {
            QN_FUZZ_ASSERT(s == QN_STATUS_NULL_POINTER && frames == 31337);
        }
        // Only a failure inside the analysis may leave frames written; the
        // signal is never written.
        if (s != QN_STATUS_NUMERICAL_FAILURE)
            QN_FUZZ_ASSERT(std::memcmp(store.data(), before.data(), sizeof(double) * store.size()) == 0);
    }
    return 0;
}

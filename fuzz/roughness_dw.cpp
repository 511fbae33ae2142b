// Fuzzes qn_roughness_frame_count and qn_roughness_dw: statuses, the frame
// count after each failure, untouched outputs, finite non-negative results,
// and allocation failures at any request.
#include <cmath>
#include <limits>
#include <vector>

#include "carve.h"
#include "quarnelo.h"
#include "support/alloc_hook.h"

namespace {
constexpr double sentinel = -7.25;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, std::size_t size) {
    carver in(data, size);
    const int32_t rate = in.flag() ? 48000 : in.take<int32_t>();
    const double scale = std::ldexp(1.0, static_cast<int>(in.range(0, 60)) - 30);
    const uint8_t poison = in.take<uint8_t>();
    const uint8_t capacity_choice = in.take<uint8_t>();
    const int64_t fail_at = (in.take<uint8_t>() & 7u) == 0 ? static_cast<int64_t>(in.range(0, 40)) : -1;
    // Short inputs are stretched by repetition to reach a frame or two.
    std::vector<double> pattern = in.rest_as_doubles(2000, scale / 32768.0);
    if (pattern.empty()) pattern.push_back(0.0);
    const std::size_t n = 9600 + 4800 * (poison % 3) - (poison & 16u ? 1 : 0);
    std::vector<double> x(n);
    for (std::size_t i = 0; i < n; ++i) x[i] = pattern[i % pattern.size()];
    if ((poison & 7u) == 7u) x[(poison * 977u) % n] = std::numeric_limits<double>::quiet_NaN();

    uint64_t expected = 0;
    const qn_status count_status = qn_roughness_frame_count(n, rate, &expected);
    QN_FUZZ_ASSERT(known_status(count_status));
    const uint64_t capacity = capacity_choice % 4 == 0 ? capacity_choice % 3 : expected + capacity_choice % 2;
    std::vector<double> out(capacity + 1, sentinel);
    uint64_t frames = 31337;
    qn_test_fail_allocation_at(fail_at);
    const qn_status s = qn_roughness_dw(x.data(), n, rate, out.data(), capacity, &frames);
    qn_test_fail_allocation_at(-1);
    QN_FUZZ_ASSERT(known_status(s));
    if (s == QN_STATUS_SUCCESS) {
        QN_FUZZ_ASSERT(count_status == QN_STATUS_SUCCESS && frames == expected);
        for (uint64_t k = 0; k < frames; ++k) QN_FUZZ_ASSERT(std::isfinite(out[k]) && out[k] >= 0);
        for (uint64_t k = frames; k < out.size(); ++k) QN_FUZZ_ASSERT(out[k] == sentinel);
    } else {
        QN_FUZZ_ASSERT(frames == (s == QN_STATUS_OUTPUT_TOO_SMALL ? expected : 31337u));
        for (double v : out) QN_FUZZ_ASSERT(v == sentinel);
    }
    return 0;
}

// Fuzzes the signal loudness functions and sharpness: any status is one of
// the eleven; on failure outputs are untouched (frame counts as documented);
// on success every value is finite and not negative.
#include <cmath>
#include <limits>
#include <vector>

#include "carve.h"
#include "quarnelo.h"
#include "support/alloc_hook.h"

namespace {
constexpr double sentinel = -7.25;

bool untouched(const std::vector<double> &v, std::size_t from = 0) {
    for (std::size_t i = from; i < v.size(); ++i)
        if (v[i] != sentinel) return false;
    return true;
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, std::size_t size) {
    carver in(data, size);
    const uint8_t which = in.take<uint8_t>() % 3;
    const int32_t rate = in.flag() ? 48000 : in.take<int32_t>();
    const qn_sound_field field = in.flag() ? static_cast<qn_sound_field>(in.range(0, 1)) : in.take<int32_t>();
    const double scale = std::ldexp(1.0, static_cast<int>(in.range(0, 80)) - 40);
    const uint8_t poison = in.take<uint8_t>();
    const bool fail_alloc = (in.take<uint8_t>() & 15u) == 0;
    std::vector<double> x = in.rest_as_doubles(6000, scale / 32768.0);
    if ((poison & 7u) == 0 && !x.empty()) {
        x[poison % x.size()] = (poison & 8u) ? std::numeric_limits<double>::quiet_NaN()
                                               : std::numeric_limits<double>::infinity();
    }
    const uint64_t count = x.size();
    const double *samples = x.empty() ? nullptr : x.data();

    if (which == 0) {
        double loudness = sentinel;
        std::vector<double> specific(240, sentinel);
        const qn_status s = qn_loudness_stationary(samples, count, rate, field, &loudness, specific.data(), 240);
        QN_FUZZ_ASSERT(known_status(s));
        if (s != QN_STATUS_SUCCESS) {
            QN_FUZZ_ASSERT(loudness == sentinel && untouched(specific));
        } else {
            QN_FUZZ_ASSERT(std::isfinite(loudness) && loudness >= 0);
            for (double v : specific) QN_FUZZ_ASSERT(std::isfinite(v) && v >= 0);
        }
    } else if (which == 1) {
        uint64_t frames = 0;
        const qn_status fs = qn_loudness_time_frame_count(count, rate, &frames);
        QN_FUZZ_ASSERT(known_status(fs));
        const uint64_t room = fs == QN_STATUS_SUCCESS ? frames : 1;
        std::vector<double> loudness(room, sentinel), specific(room * 240, sentinel);
        uint64_t written = 12345;
        qn_test_fail_allocation_at(fail_alloc ? 0 : -1);
        const qn_status s = qn_loudness_time(samples, count, rate, field, loudness.data(), room,
                                             specific.data(), specific.size(), &written);
        qn_test_fail_allocation_at(-1);
        QN_FUZZ_ASSERT(known_status(s));
        if (s == QN_STATUS_SUCCESS) {
            QN_FUZZ_ASSERT(fs == QN_STATUS_SUCCESS && written == frames);
            for (double v : loudness) QN_FUZZ_ASSERT(std::isfinite(v) && v >= 0);
            for (double v : specific) QN_FUZZ_ASSERT(std::isfinite(v) && v >= 0);
        } else {
            QN_FUZZ_ASSERT(written == (s == QN_STATUS_OUTPUT_TOO_SMALL ? frames : 0));
            QN_FUZZ_ASSERT(untouched(loudness) && untouched(specific));
        }
    } else {
        // Sharpness of whatever pattern the bytes make, negative values and
        // all.
        std::vector<double> pattern(240, 0.0);
        for (std::size_t k = 0; k < pattern.size() && k < x.size(); ++k) pattern[k] = x[k];
        double sharpness = sentinel;
        const qn_status s = qn_sharpness_din(pattern.data(), 240, &sharpness);
        QN_FUZZ_ASSERT(known_status(s));
        if (s == QN_STATUS_SUCCESS) QN_FUZZ_ASSERT(std::isfinite(sharpness) && sharpness >= 0);
        else QN_FUZZ_ASSERT(sharpness == sentinel);
    }
    return 0;
}

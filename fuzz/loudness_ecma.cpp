// Fuzzes qn_loudness_ecma: every status it can return, the frame count
// after each failure, nothing written on any failure (the samples and all
// outputs live in one buffer, so that carved cases make them overlap),
// finite non-negative results, the same bits as qn_ecma_aggregate over the
// specific loudness it returns, and allocation failures at any request.
//
// Input, front to back: a flag byte (bit 0: rate 48000, else an int32 rate
// follows; bits 1-2: free, diffuse, an int32 sound field follows, diffuse;
// bit 3: null samples; bit 4: null loudness; bit 5: null frame count;
// bit 6: a count beyond the longest signal; bit 7: a NaN sample), the rate
// and the field when asked for, a room byte (bits 0-1: loudness capacity
// V, V - 1, 0, V + 2; bits 2-3: averaged null, 52, 53, 60; bits 4-5:
// specific null, 53 V - 1, 53 V, 53 V + 3; bit 6: null value; bit 7: an
// overlap byte follows, whose value % 5 moves one output onto the samples
// or another output), a length byte (n = 14591 + 521 (byte % 4)), a uint64
// scale exponent (2^(v % 1064 - 40) Pa full scale), an allocation byte
// (byte % 8 == 0: the request byte / 8 fails), and int16 samples repeated
// to length n.
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

// Every status of an analysis of a signal, and overlapping buffers refused.
std::vector<std::string> loudness_statuses() {
    auto statuses = qn_fuzz_signal_analysis_statuses();
    statuses.push_back(qn_status_string(QN_STATUS_INVALID_ARGUMENT));
    return statuses;
}

[[maybe_unused]] const bool expected = qn_fuzz_expect("qn_loudness_ecma", loudness_statuses());
constexpr uint64_t longest = 1113765679922085632;
constexpr uint64_t bands = QN_ECMA_BANDS;

bool finite_not_negative(const double *v, uint64_t count) {
    for (uint64_t i = 0; i < count; ++i)
        if (!std::isfinite(v[i]) || v[i] < 0) return false;
    return true;
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, std::size_t size) {
    carver in(data, size);
    const uint8_t flags = in.take<uint8_t>();
    const int32_t rate = (flags & 1u) ? 48000 : in.take<int32_t>();
    const unsigned field_mode = (flags >> 1) & 3u;
    const qn_sound_field field = field_mode == 2 ? in.take<int32_t>() : (field_mode == 0 ? 0 : 1);
    const uint8_t room = in.take<uint8_t>();
    const uint8_t overlap = (room & 128u) ? in.take<uint8_t>() : 0;
    const std::size_t n = 14591 + 521 * (in.take<uint8_t>() % 4);
    const double scale = std::ldexp(1.0, static_cast<int>(in.range(0, 1063)) - 40);
    const uint8_t allocation = in.take<uint8_t>();
    const int64_t fail_at = allocation % 8 == 0 ? allocation / 8 : -1;
    std::vector<double> pattern = in.rest_as_doubles(4096, scale / 32768.0);
    if (pattern.empty()) pattern.push_back(0.0);
    const uint64_t count = (flags & 64u) ? longest + 1 + (room & 3u) : n;

    // The frames of the signal, as the library counts them (none for a
    // length it refuses).
    const uint64_t frames = n >= QN_ECMA_TONAL_MIN_SAMPLES && !(flags & 64u) ? (n + 255) / 256 + 1 : 0;
    const uint64_t loudness_rooms[] = {frames, frames > 0 ? frames - 1 : 0, 0, frames + 2};
    const uint64_t averaged_rooms[] = {0, 52, 53, 60};
    const uint64_t specific_rooms[] = {0, frames > 0 ? bands * frames - 1 : 0, bands * frames, bands * frames + 3};
    const uint64_t loudness_capacity = loudness_rooms[room & 3u];
    const uint64_t averaged_capacity = averaged_rooms[(room >> 2) & 3u];
    const uint64_t specific_capacity = specific_rooms[(room >> 4) & 3u];

    // Samples, then the outputs each with its room, then a margin.
    std::vector<double> all(n + loudness_capacity + averaged_capacity + 1 + specific_capacity + 4, sentinel);
    double *samples = all.data();
    for (std::size_t i = 0; i < n; ++i) samples[i] = pattern[i % pattern.size()];
    if (flags & 128u) samples[(n * 7) / 11] = std::numeric_limits<double>::quiet_NaN();
    double *loudness = samples + n;
    double *averaged = loudness + loudness_capacity;
    double *value = averaged + averaged_capacity;
    double *specific = value + 1;
    if (room & 128u) {
        switch (overlap % 5) {
        case 0: loudness = samples + n - 1; break;
        case 1: specific = value; break;
        case 2: averaged = loudness_capacity > 0 ? loudness + loudness_capacity - 1 : averaged; break;
        case 3: value = specific_capacity > 0 ? specific + specific_capacity / 2 : samples; break;
        default: value = loudness; break;
        }
    }
    if (averaged_capacity == 0) averaged = nullptr;
    if (specific_capacity == 0 && !(room & 128u && overlap % 5 == 1)) specific = nullptr;
    if (flags & 16u) loudness = nullptr;
    if (room & 64u) value = nullptr;
    const std::vector<double> before = all;

    uint64_t frame_count = 31337;
    qn_test_fail_allocation_at(fail_at);
    const qn_status s = QN_FUZZ_STATUS(
        "qn_loudness_ecma",
        qn_loudness_ecma((flags & 8u) ? nullptr : samples, count, rate, field, loudness, loudness_capacity, averaged,
                         averaged_capacity, value, specific, specific_capacity,
                         (flags & 32u) ? nullptr : &frame_count));
    qn_test_fail_allocation_at(-1);
    QN_FUZZ_ASSERT(known_status(s));

    if (flags & 32u) {
        QN_FUZZ_ASSERT(s == QN_STATUS_NULL_POINTER && frame_count == 31337);
    } else if (s != QN_STATUS_SUCCESS) {
        // The frame count is V from the capacity check on, 0 before it.
        const bool late = s == QN_STATUS_OUTPUT_TOO_SMALL || s == QN_STATUS_INVALID_ARGUMENT ||
                          s == QN_STATUS_NON_FINITE_INPUT || s == QN_STATUS_ALLOCATION_FAILED ||
                          s == QN_STATUS_NUMERICAL_FAILURE ||
                          (s == QN_STATUS_NULL_POINTER && (flags & 8u) && loudness != nullptr && value != nullptr);
        QN_FUZZ_ASSERT(frame_count == (late ? frames : 0));
    }
    if (s != QN_STATUS_SUCCESS) {
        QN_FUZZ_ASSERT(std::memcmp(all.data(), before.data(), all.size() * sizeof(double)) == 0);
        return 0;
    }

    QN_FUZZ_ASSERT(frame_count == frames && frames >= 58 && count == n);
    QN_FUZZ_ASSERT(finite_not_negative(loudness, frames) && finite_not_negative(value, 1));
    if (averaged != nullptr) QN_FUZZ_ASSERT(finite_not_negative(averaged, bands));
    if (specific == nullptr) return 0;
    QN_FUZZ_ASSERT(finite_not_negative(specific, bands * frames));
    // The reductions of the specific loudness returned give the same bits.
    std::vector<double> series(frames), means(bands);
    double single = 0;
    QN_FUZZ_ASSERT(qn_ecma_aggregate(QN_ECMA_LOUDNESS, specific, frames, series.data(), frames, means.data(), bands,
                                     &single) == QN_STATUS_SUCCESS);
    QN_FUZZ_ASSERT(std::memcmp(series.data(), loudness, frames * sizeof(double)) == 0);
    QN_FUZZ_ASSERT(std::memcmp(&single, value, sizeof single) == 0);
    if (averaged != nullptr) QN_FUZZ_ASSERT(std::memcmp(means.data(), averaged, bands * sizeof(double)) == 0);
    return 0;
}

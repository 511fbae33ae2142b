// Fuzzes the reductions of ECMA-418-2 specific values and the combination
// of two ears: qn_ecma_aggregate, qn_ecma_single_value, an accumulator fed
// in carved pieces, and qn_ecma_binaural. Every status is one of the
// eleven; a failing call writes nothing (and leaves the accumulator as it
// was); results are finite and not negative; the accumulator and the
// single value of its series give qn_ecma_aggregate's bits; equal ears give
// their values back; buffers are made to overlap where the input asks.
//
// Input, front to back: a metric byte (% 5: loudness, roughness,
// fluctuation strength, tonality, a raw int32 follows), a frame byte (F =
// byte % 128; 255: a count beyond 2^60 / 53 values), a room byte (bits 0-1:
// series capacity F, F - 1, 0 with a null series, F + 1; bits 2-3: averaged
// capacity 53, 52, 53 with a null value, 60; bits 4-6: an overlap, 0-3
// none; bit 7: allocation failure at the accumulator's creation), a uint64
// scale exponent (values x 2^(v % 2100 - 1074)), a poison byte (bits 0-2:
// 0 NaN, 1 negative, 2 infinity, else none; the rest picks the index), a
// pieces byte (the accumulator's pieces have 1 to 40 frames, from it), an
// ears byte (bits 0-1: out apart, into left, into right, shifted into
// left; bit 2: both ears the first half, else the halves; bit 3: room for
// one value less; bit 4: no output), and int16
// values repeated as far as needed (their magnitudes).
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
    qn_fuzz_expect("qn_ecma_aggregate",
                   qn_fuzz_statuses({QN_STATUS_SUCCESS, QN_STATUS_NULL_POINTER, QN_STATUS_INVALID_ARGUMENT,
                                     QN_STATUS_NON_FINITE_INPUT, QN_STATUS_INPUT_TOO_SHORT, QN_STATUS_OUTPUT_TOO_SMALL,
                                     QN_STATUS_SIZE_OVERFLOW, QN_STATUS_NUMERICAL_FAILURE})) &&
    qn_fuzz_expect("qn_ecma_single_value",
                   qn_fuzz_statuses({QN_STATUS_SUCCESS, QN_STATUS_INVALID_ARGUMENT, QN_STATUS_NON_FINITE_INPUT,
                                     QN_STATUS_INPUT_TOO_SHORT, QN_STATUS_NUMERICAL_FAILURE})) &&
    qn_fuzz_expect("qn_ecma_accumulator_create",
                   qn_fuzz_statuses({QN_STATUS_SUCCESS, QN_STATUS_INVALID_ARGUMENT, QN_STATUS_ALLOCATION_FAILED})) &&
    qn_fuzz_expect("qn_ecma_accumulator_add",
                   qn_fuzz_statuses({QN_STATUS_SUCCESS, QN_STATUS_INVALID_ARGUMENT, QN_STATUS_NON_FINITE_INPUT,
                                     QN_STATUS_OUTPUT_TOO_SMALL, QN_STATUS_NUMERICAL_FAILURE})) &&
    qn_fuzz_expect("qn_ecma_accumulator_result",
                   qn_fuzz_statuses({QN_STATUS_SUCCESS, QN_STATUS_INVALID_ARGUMENT, QN_STATUS_INPUT_TOO_SHORT,
                                     QN_STATUS_OUTPUT_TOO_SMALL})) &&
    qn_fuzz_expect("qn_ecma_binaural",
                   qn_fuzz_statuses({QN_STATUS_SUCCESS, QN_STATUS_NULL_POINTER, QN_STATUS_INVALID_ARGUMENT,
                                     QN_STATUS_NON_FINITE_INPUT, QN_STATUS_OUTPUT_TOO_SMALL,
                                     QN_STATUS_SIZE_OVERFLOW}));

constexpr uint64_t bands = QN_ECMA_BANDS;

bool finite_not_negative(const double *v, uint64_t count) {
    for (uint64_t i = 0; i < count; ++i)
        if (!std::isfinite(v[i]) || v[i] < 0) return false;
    return true;
}

bool same(const double *a, const double *b, uint64_t count) {
    return count == 0 || std::memcmp(a, b, count * sizeof(double)) == 0;
}

struct owner {
    qn_ecma_accumulator *a = nullptr;
    ~owner() { qn_ecma_accumulator_destroy(a); }
};
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, std::size_t size) {
    carver in(data, size);
    const uint8_t metric_choice = in.take<uint8_t>();
    const qn_ecma_metric metrics[] = {QN_ECMA_LOUDNESS, QN_ECMA_ROUGHNESS, QN_ECMA_FLUCTUATION, QN_ECMA_TONALITY};
    const qn_ecma_metric metric = metric_choice % 5 < 4 ? metrics[metric_choice % 5] : in.take<int32_t>();
    const uint8_t frame_choice = in.take<uint8_t>();
    const bool too_many = frame_choice == 255;
    const uint64_t frames = too_many ? 0 : frame_choice % 128;
    const uint64_t claimed = too_many ? (uint64_t{1} << 60) / bands + 1 : frames;
    const uint8_t room = in.take<uint8_t>();
    const double scale = std::ldexp(1.0, static_cast<int>(in.range(0, 2099)) - 1074);
    const uint8_t poison = in.take<uint8_t>();
    const uint8_t pieces = in.take<uint8_t>();
    const uint8_t ears = in.take<uint8_t>();
    std::vector<double> pattern = in.rest_as_doubles(4096, 1.0);
    if (pattern.empty()) pattern.push_back(1.0);

    const uint64_t count = frames * bands;
    const uint64_t series_rooms[] = {frames, frames > 0 ? frames - 1 : 0, 0, frames + 1};
    const uint64_t averaged_rooms[] = {bands, bands - 1, bands, 60};
    const uint64_t series_capacity = series_rooms[room & 3u];
    const uint64_t averaged_capacity = averaged_rooms[(room >> 2) & 3u];
    const bool null_value = ((room >> 2) & 3u) == 2;
    const unsigned overlap = (room >> 4) & 7u;

    // The values, then the series, the averaged values and the value.
    std::vector<double> all(count + series_capacity + averaged_capacity + 1 + 4, sentinel);
    double *values = all.data();
    for (uint64_t i = 0; i < count; ++i) values[i] = std::fabs(pattern[i % pattern.size()]) * scale;
    if (count > 0 && (poison & 7u) < 3) {
        const double poisons[] = {std::numeric_limits<double>::quiet_NaN(), -1.0,
                                  std::numeric_limits<double>::infinity()};
        values[(poison >> 3) % count] = poisons[poison & 7u];
    }
    double *series = values + count;
    double *averaged = series + series_capacity;
    double *value = averaged + averaged_capacity;
    switch (overlap) {
    case 4: series = values + count / 2; break;
    case 5: averaged = series; break;
    case 6: value = series_capacity > 0 ? series + series_capacity - 1 : values; break;
    case 7: value = averaged + averaged_capacity / 2; break;
    default: break;
    }
    if ((room & 3u) == 2) series = nullptr;
    if (null_value) value = nullptr;
    const std::vector<double> before = all;

    const qn_status s = QN_FUZZ_STATUS("qn_ecma_aggregate",
                                       qn_ecma_aggregate(metric, values, claimed, series, series_capacity, averaged,
                                                         averaged_capacity, value));
    QN_FUZZ_ASSERT(known_status(s));
    const bool aggregated = s == QN_STATUS_SUCCESS;
    if (!aggregated) {
        QN_FUZZ_ASSERT(same(all.data(), before.data(), all.size()));
    } else {
        QN_FUZZ_ASSERT(finite_not_negative(series, frames) && finite_not_negative(averaged, bands) &&
                       finite_not_negative(value, 1));
    }

    // The single value of a series: the aggregate's own, or the values
    // read as one.
    const double *kept = aggregated ? series : values;
    const uint64_t kept_count = aggregated ? frames : count;
    double single = sentinel;
    const qn_status sv = QN_FUZZ_STATUS("qn_ecma_single_value",
                                        qn_ecma_single_value(metric, kept, kept_count, &single));
    QN_FUZZ_ASSERT(known_status(sv) && sv != QN_STATUS_NULL_POINTER && sv != QN_STATUS_SIZE_OVERFLOW);
    if (aggregated) QN_FUZZ_ASSERT(sv == QN_STATUS_SUCCESS && same(&single, value, 1));
    if (sv != QN_STATUS_SUCCESS) QN_FUZZ_ASSERT(single == sentinel);

    // An accumulator fed in pieces, each first offered with a poisoned
    // copy or too little room.
    owner acc;
    qn_test_fail_allocation_at((room & 128u) ? 0 : -1);
    const qn_status created =
        QN_FUZZ_STATUS("qn_ecma_accumulator_create", qn_ecma_accumulator_create(metric, &acc.a));
    qn_test_fail_allocation_at(-1);
    QN_FUZZ_ASSERT(known_status(created) && (created == QN_STATUS_SUCCESS) == (acc.a != nullptr));
    if (acc.a != nullptr && !too_many) {
        QN_FUZZ_ASSERT(qn_ecma_accumulator_add(acc.a, nullptr, 0, nullptr, 0) == QN_STATUS_SUCCESS);
        std::vector<double> piece_series(frames + 1, sentinel);
        bool all_added = true;
        for (uint64_t at = 0, k = 0; at < frames; ++k) {
            const uint64_t want = 1 + (pieces * (k + 1) + 7 * k) % 40;
            const uint64_t n = want < frames - at ? want : frames - at;
            double *out = piece_series.data() + at;
            if ((room & 3u) == 1) {
                const qn_status small = QN_FUZZ_STATUS(
                    "qn_ecma_accumulator_add", qn_ecma_accumulator_add(acc.a, values + at * bands, n, out, n - 1));
                QN_FUZZ_ASSERT(small == QN_STATUS_OUTPUT_TOO_SMALL && out[0] == sentinel);
            }
            if (overlap == 4) {
                // Its series written over a copy of the piece itself.
                std::vector<double> copy(values + at * bands, values + (at + n) * bands);
                const qn_status inside = QN_FUZZ_STATUS(
                    "qn_ecma_accumulator_add", qn_ecma_accumulator_add(acc.a, copy.data(), n, copy.data() + 1, n));
                QN_FUZZ_ASSERT(inside == QN_STATUS_INVALID_ARGUMENT);
            }
            const qn_status a = QN_FUZZ_STATUS("qn_ecma_accumulator_add",
                                               qn_ecma_accumulator_add(acc.a, values + at * bands, n, out, n));
            QN_FUZZ_ASSERT(known_status(a));
            if (a != QN_STATUS_SUCCESS) {
                QN_FUZZ_ASSERT(out[0] == sentinel);
                all_added = false;
                break;
            }
            QN_FUZZ_ASSERT(finite_not_negative(out, n));
            at += n;
        }
        // A value is asked for where loudness has one, and where the input
        // asks for a refusal.
        std::vector<double> means(bands + 1, sentinel);
        double piecewise = sentinel;
        double *asked = metric == QN_ECMA_LOUDNESS || (overlap & 1u) ? &piecewise : nullptr;
        if (overlap == 7) asked = means.data() + 3;
        const qn_status r =
            QN_FUZZ_STATUS("qn_ecma_accumulator_result",
                           qn_ecma_accumulator_result(acc.a, means.data(), (room & 4u) ? bands - 1 : bands + 1, asked));
        QN_FUZZ_ASSERT(known_status(r));
        if (r != QN_STATUS_SUCCESS) {
            QN_FUZZ_ASSERT(means[0] == sentinel && means[3] == sentinel && piecewise == sentinel);
        } else {
            QN_FUZZ_ASSERT(finite_not_negative(means.data(), bands) && means[bands] == sentinel);
            if (all_added && aggregated) {
                QN_FUZZ_ASSERT(same(means.data(), averaged, bands) && same(piece_series.data(), series, frames));
                if (asked != nullptr) QN_FUZZ_ASSERT(same(asked, value, 1));
            }
        }
    }

    // Two ears: the values against their own second half, or against
    // themselves, which must come back unchanged.
    const uint64_t half = count / 2;
    // One element more than used, so that no ear is a null pointer.
    std::vector<double> left(values, values + half + 1), right(values + half, values + 2 * half + 1),
        out(half + 1, sentinel);
    double *target = out.data();
    const double *second = (ears & 4u) ? left.data() : right.data();
    switch (ears & 3u) {
    case 1: target = left.data(); break;
    case 2: target = (ears & 4u) ? left.data() : right.data(); break;
    case 3: target = half > 1 ? left.data() + 1 : out.data(); break;
    default: break;
    }
    const std::vector<double> left_before = left;
    const std::vector<double> right_before = right;
    // A count of 2^60 is refused before anything is read.
    const uint64_t ear_count = too_many ? uint64_t{1} << 60 : half;
    const uint64_t ear_room = (ears & 8u) && half > 0 ? half - 1 : half;
    const qn_status b = QN_FUZZ_STATUS(
        "qn_ecma_binaural", qn_ecma_binaural(left.data(), second, ear_count, (ears & 16u) ? nullptr : target, ear_room));
    QN_FUZZ_ASSERT(known_status(b));
    if (b != QN_STATUS_SUCCESS) {
        QN_FUZZ_ASSERT(same(left.data(), left_before.data(), half) && same(right.data(), right_before.data(), half) &&
                       out[0] == sentinel);
    } else {
        QN_FUZZ_ASSERT(finite_not_negative(target, half));
        if (ears & 4u) QN_FUZZ_ASSERT(same(target, left_before.data(), half));
    }
    return 0;
}

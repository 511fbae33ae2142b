// Fuzzes the sound levels: the one-call analysis with carved counts,
// capacities, null and overlapping buffers, and the meter fed carved blocks.
// Every status is one of the eleven; a failure writes nothing (the point
// count as documented) and leaves the meter as it was; on success every level
// and point is finite or -inf, nothing beyond what is promised is written,
// and the meter's results over the accepted blocks are those of the one-call
// analysis of their concatenation, bit for bit.
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
using qn_test::untouched;

[[maybe_unused]] const bool expected =
    qn_fuzz_expect("qn_sound_level_point_count", qn_fuzz_frame_count_statuses()) &&
    qn_fuzz_expect("qn_sound_levels",
                   qn_fuzz_statuses({QN_STATUS_SUCCESS, QN_STATUS_NULL_POINTER, QN_STATUS_INVALID_ARGUMENT,
                                     QN_STATUS_INVALID_SAMPLE_RATE, QN_STATUS_NON_FINITE_INPUT,
                                     QN_STATUS_INPUT_TOO_SHORT, QN_STATUS_OUTPUT_TOO_SMALL, QN_STATUS_SIZE_OVERFLOW,
                                     QN_STATUS_NUMERICAL_FAILURE})) &&
    qn_fuzz_expect("qn_sound_level_meter_create",
                   qn_fuzz_statuses({QN_STATUS_SUCCESS, QN_STATUS_INVALID_SAMPLE_RATE, QN_STATUS_ALLOCATION_FAILED})) &&
    qn_fuzz_expect("qn_sound_level_meter_add",
                   qn_fuzz_statuses({QN_STATUS_SUCCESS, QN_STATUS_NULL_POINTER, QN_STATUS_INVALID_ARGUMENT,
                                     QN_STATUS_OUTPUT_TOO_SMALL, QN_STATUS_NON_FINITE_INPUT,
                                     QN_STATUS_NUMERICAL_FAILURE})) &&
    qn_fuzz_expect("qn_sound_level_meter_levels",
                   qn_fuzz_statuses({QN_STATUS_SUCCESS, QN_STATUS_OUTPUT_TOO_SMALL, QN_STATUS_INPUT_TOO_SHORT}));

// A level is a number or silence's -inf; never NaN or +inf.
bool valid_level(double v) { return std::isfinite(v) || v == -std::numeric_limits<double>::infinity(); }

void one_call(carver &in) {
    const int32_t rate = in.flag() ? 48000 : in.take<int32_t>();
    const std::size_t n = static_cast<std::size_t>(in.range(0, 3000));
    const std::vector<double> x = in.sound(n);
    uint64_t count = n;
    switch (in.take<uint8_t>() % 8) {
    case 0: count = 0; break;
    case 1: count = (uint64_t{1} << 60) + in.range(0, 1000); break;
    default: break;
    }
    uint64_t points = 777;
    const bool null_points = (in.take<uint8_t>() & 15u) == 0;
    const qn_status ps = QN_FUZZ_STATUS("qn_sound_level_point_count",
                                        qn_sound_level_point_count(count, rate, null_points ? nullptr : &points));
    QN_FUZZ_ASSERT(known_status(ps));
    const uint64_t real_points = n == 0 ? 0 : (n - 1) / 480;
    QN_FUZZ_ASSERT(ps != QN_STATUS_SUCCESS || points == real_points || count != n);

    // Samples and outputs in one buffer, so that a carved output may overlap
    // the samples or another output.
    const uint64_t levels_room = in.room(7), laf_room = in.room(real_points),
                   las_room = in.room(real_points);
    const uint8_t shape = in.take<uint8_t>();
    std::vector<double> buffer(n + levels_room + laf_room + las_room + 8, sentinel);
    std::copy(x.begin(), x.end(), buffer.begin());
    double *levels = buffer.data() + n, *laf = levels + levels_room, *las = laf + laf_room;
    // Overlaps of outputs that are passed (shape & 7 = 2, 3, 4 pass a null
    // levels, LAF or LAS).
    bool overlapping = false;
    switch ((shape >> 3) % 8) {
    case 1:  // the levels over the last samples
        if (n >= 3) levels -= 3, overlapping = (shape & 7u) != 2;
        break;
    case 2:  // LAF over the last sample
        if (n >= 1 && real_points > 0) laf = buffer.data() + n - 1, overlapping = (shape & 7u) != 3;
        break;
    case 3:  // LAS on LAF
        if (real_points > 0) las = laf, overlapping = (shape & 7u) != 3 && (shape & 7u) != 4;
        break;
    default: break;
    }
    const std::vector<double> before = buffer;
    uint64_t written = 4242;
    const bool null_samples = (shape & 7u) == 1;
    const qn_status s = QN_FUZZ_STATUS(
        "qn_sound_levels",
        qn_sound_levels(null_samples ? nullptr : buffer.data(), count, rate, (shape & 7u) == 2 ? nullptr : levels,
                        levels_room, (shape & 7u) == 3 ? nullptr : laf, laf_room, (shape & 7u) == 4 ? nullptr : las,
                        las_room, (shape & 7u) == 5 ? nullptr : &written));
    QN_FUZZ_ASSERT(known_status(s));
    if ((shape & 7u) == 5) {
        QN_FUZZ_ASSERT(s == QN_STATUS_NULL_POINTER && written == 4242);
        return;
    }
    if (s != QN_STATUS_SUCCESS) {
        QN_FUZZ_ASSERT(written == (s == QN_STATUS_OUTPUT_TOO_SMALL ? (count - 1) / 480 : 0));
        QN_FUZZ_ASSERT(std::memcmp(buffer.data(), before.data(), buffer.size() * sizeof(double)) == 0);
        return;
    }
    QN_FUZZ_ASSERT(!overlapping);
    QN_FUZZ_ASSERT(written == real_points && count == n);
    // Every level and point is valid; everything else in the buffer, the
    // samples and the room beyond what is written, is as it was.
    std::vector<bool> promised(buffer.size(), false);
    const auto mark = [&](const double *p, uint64_t k) {
        if (p == nullptr) return;
        for (uint64_t i = 0; i < k; ++i) {
            QN_FUZZ_ASSERT(valid_level(p[i]));
            promised[static_cast<std::size_t>(p - buffer.data()) + i] = true;
        }
    };
    mark((shape & 7u) == 2 ? nullptr : levels, 7);
    mark((shape & 7u) == 3 ? nullptr : laf, real_points);
    mark((shape & 7u) == 4 ? nullptr : las, real_points);
    for (std::size_t i = 0; i < buffer.size(); ++i)
        QN_FUZZ_ASSERT(promised[i] || std::memcmp(&buffer[i], &before[i], sizeof(double)) == 0);
}

void metered(carver &in) {
    const int32_t rate = in.flag() ? 48000 : in.take<int32_t>();
    const bool fail_alloc = (in.take<uint8_t>() & 15u) == 0;
    qn_sound_level_meter *meter = nullptr;
    qn_test_fail_allocation_at(fail_alloc ? 0 : -1);
    const qn_status created =
        QN_FUZZ_STATUS("qn_sound_level_meter_create", qn_sound_level_meter_create(rate, &meter));
    qn_test_fail_allocation_at(-1);
    QN_FUZZ_ASSERT(known_status(created));
    QN_FUZZ_ASSERT((created == QN_STATUS_SUCCESS) == (meter != nullptr));
    if (meter == nullptr) return;

    std::vector<double> accepted, laf_points, las_points;
    const int blocks = static_cast<int>(in.range(1, 6));
    for (int b = 0; b < blocks; ++b) {
        const std::size_t n = static_cast<std::size_t>(in.range(0, 1500));
        std::vector<double> x = in.sound(n);
        const uint8_t room = in.take<uint8_t>();
        uint64_t need = 0;
        QN_FUZZ_ASSERT(qn_sound_level_meter_point_count(meter, n, &need) == QN_STATUS_SUCCESS);
        const uint64_t cap = (room & 3u) == 0 ? (need > 0 ? need - 1 : 0) : need + (room >> 6);
        std::vector<double> laf(cap, sentinel), las(cap, sentinel);
        double *laf_out = (room & 4u) ? nullptr : laf.data(), *las_out = (room & 8u) ? nullptr : las.data();
        if ((room & 48u) == 16u && laf_out != nullptr && las_out != nullptr && need > 1) las_out = laf_out + 1;
        uint64_t got = 99;
        const qn_status s = QN_FUZZ_STATUS(
            "qn_sound_level_meter_add",
            qn_sound_level_meter_add(meter, (room & 48u) == 32u ? nullptr : x.data(), n, laf_out, cap, las_out, cap, &got));
        QN_FUZZ_ASSERT(known_status(s));
        if (s == QN_STATUS_SUCCESS) {
            QN_FUZZ_ASSERT(got == need);
            for (uint64_t j = 0; j < got; ++j) {
                if (laf_out != nullptr) QN_FUZZ_ASSERT(valid_level(laf[j]));
                if (las_out != nullptr) QN_FUZZ_ASSERT(valid_level(las[j]));
            }
            accepted.insert(accepted.end(), x.begin(), x.end());
            // Where a series was not asked for, the point is taken from the
            // one-call analysis below; mark it.
            for (uint64_t j = 0; j < got; ++j) {
                laf_points.push_back(laf_out != nullptr ? laf[j] : std::numeric_limits<double>::quiet_NaN());
                las_points.push_back(las_out != nullptr ? las[j] : std::numeric_limits<double>::quiet_NaN());
            }
        } else {
            QN_FUZZ_ASSERT(got == (s == QN_STATUS_OUTPUT_TOO_SMALL ? need : 0));
            QN_FUZZ_ASSERT(untouched(laf) && untouched(las));
        }
    }

    std::vector<double> levels(8, sentinel);
    const uint64_t levels_room = in.room(7);
    const qn_status ls = QN_FUZZ_STATUS("qn_sound_level_meter_levels",
                                        qn_sound_level_meter_levels(meter, levels.data(), levels_room));
    QN_FUZZ_ASSERT(known_status(ls));
    qn_sound_level_meter_destroy(meter);
    QN_FUZZ_ASSERT(qn_test_live_allocations() == 0);
    if (ls != QN_STATUS_SUCCESS) QN_FUZZ_ASSERT(untouched(levels));
    if (accepted.empty()) {
        QN_FUZZ_ASSERT(ls != QN_STATUS_SUCCESS);
        return;
    }

    uint64_t points = 0;
    QN_FUZZ_ASSERT(qn_sound_level_point_count(accepted.size(), 48000, &points) == QN_STATUS_SUCCESS);
    QN_FUZZ_ASSERT(points == laf_points.size());
    std::vector<double> whole(7), laf(points), las(points);
    QN_FUZZ_ASSERT(qn_sound_levels(accepted.data(), accepted.size(), 48000, whole.data(), 7, laf.data(), points,
                                   las.data(), points, &points) == QN_STATUS_SUCCESS);
    if (ls == QN_STATUS_SUCCESS) QN_FUZZ_ASSERT(std::memcmp(whole.data(), levels.data(), 7 * sizeof(double)) == 0);
    for (uint64_t j = 0; j < points; ++j) {
        QN_FUZZ_ASSERT(std::isnan(laf_points[j]) || std::memcmp(&laf_points[j], &laf[j], sizeof(double)) == 0);
        QN_FUZZ_ASSERT(std::isnan(las_points[j]) || std::memcmp(&las_points[j], &las[j], sizeof(double)) == 0);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, std::size_t size) {
    carver in(data, size);
    if (in.flag()) {
        one_call(in);
    } else {
        metered(in);
    }
    return 0;
}

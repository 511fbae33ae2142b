// Fuzzes the third-octave band levels: the one-call analysis with carved
// counts, steps, capacities, null and overlapping buffers, and the meter fed
// carved blocks. Every status is one of the eleven; a failure writes nothing
// (the point count as documented) and leaves the meter as it was; on
// success every level is finite, nothing beyond what is promised is written,
// the whole-signal levels are those of the stationary loudness, and the
// meter's results over the accepted blocks are those of the one-call
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
    qn_fuzz_expect("qn_band_level_point_count",
                   qn_fuzz_statuses({QN_STATUS_SUCCESS, QN_STATUS_NULL_POINTER, QN_STATUS_INVALID_ARGUMENT,
                                     QN_STATUS_INVALID_SAMPLE_RATE, QN_STATUS_INPUT_TOO_SHORT,
                                     QN_STATUS_SIZE_OVERFLOW})) &&
    qn_fuzz_expect("qn_band_levels",
                   qn_fuzz_statuses({QN_STATUS_SUCCESS, QN_STATUS_NULL_POINTER, QN_STATUS_INVALID_ARGUMENT,
                                     QN_STATUS_INVALID_SAMPLE_RATE, QN_STATUS_NON_FINITE_INPUT,
                                     QN_STATUS_INPUT_TOO_SHORT, QN_STATUS_OUTPUT_TOO_SMALL, QN_STATUS_SIZE_OVERFLOW,
                                     QN_STATUS_NUMERICAL_FAILURE})) &&
    qn_fuzz_expect("qn_band_level_meter_create",
                   qn_fuzz_statuses({QN_STATUS_SUCCESS, QN_STATUS_INVALID_SAMPLE_RATE, QN_STATUS_INVALID_ARGUMENT,
                                     QN_STATUS_ALLOCATION_FAILED})) &&
    qn_fuzz_expect("qn_band_level_meter_add",
                   qn_fuzz_statuses({QN_STATUS_SUCCESS, QN_STATUS_NULL_POINTER, QN_STATUS_INVALID_ARGUMENT,
                                     QN_STATUS_OUTPUT_TOO_SMALL, QN_STATUS_NON_FINITE_INPUT,
                                     QN_STATUS_NUMERICAL_FAILURE})) &&
    qn_fuzz_expect("qn_band_level_meter_levels",
                   qn_fuzz_statuses({QN_STATUS_SUCCESS, QN_STATUS_OUTPUT_TOO_SMALL, QN_STATUS_INPUT_TOO_SHORT}));

// Mostly small steps, so that short inputs have intervals; now and then 0 or
// one beyond the bound.
uint64_t carve_step(carver &in) {
    switch (in.take<uint8_t>() % 8) {
    case 0: return 0;
    case 1: return uint64_t{1} << 60;
    default: return in.range(1, 700);
    }
}

void one_call(carver &in) {
    const int32_t rate = in.flag() ? 48000 : in.take<int32_t>();
    const uint64_t step = carve_step(in);
    const std::size_t n = static_cast<std::size_t>(in.range(0, 3000));
    const std::vector<double> x = in.sound(n);
    uint64_t count = n;
    switch (in.take<uint8_t>() % 8) {
    case 0: count = 0; break;
    case 1: count = (uint64_t{1} << 60) + in.range(0, 1000); break;
    case 2: count = (uint64_t{1} << 60) - 1 - in.range(0, 1000); break;  // series beyond 64 bits with step 1
    default: break;
    }
    uint64_t points = 777;
    const bool null_points = (in.take<uint8_t>() & 15u) == 0;
    const qn_status ps = QN_FUZZ_STATUS("qn_band_level_point_count",
                                        qn_band_level_point_count(count, rate, step, null_points ? nullptr : &points));
    QN_FUZZ_ASSERT(known_status(ps));
    const uint64_t real_points = step == 0 ? 0 : n / step;
    QN_FUZZ_ASSERT(ps != QN_STATUS_SUCCESS || points == real_points || count != n);

    const uint64_t levels_room = in.room(28), series_room = in.room(real_points * 28);
    const uint8_t shape = in.take<uint8_t>();
    std::vector<double> buffer(n + levels_room + series_room + 8, sentinel);
    std::copy(x.begin(), x.end(), buffer.begin());
    double *levels = buffer.data() + n, *series = levels + levels_room;
    bool overlapping = false;
    switch ((shape >> 3) % 8) {
    case 1:  // the levels over the last samples
        if (n >= 3) levels -= 3, overlapping = (shape & 7u) != 2;
        break;
    case 2:  // the series over the last sample
        if (n >= 1 && real_points > 0) series = buffer.data() + n - 1, overlapping = (shape & 7u) != 3;
        break;
    case 3:  // the series on the levels
        if (real_points > 0) series = levels + 27, overlapping = (shape & 7u) != 2 && (shape & 7u) != 3;
        break;
    default: break;
    }
    const std::vector<double> before = buffer;
    uint64_t written = 4242;
    const qn_status s = QN_FUZZ_STATUS(
        "qn_band_levels",
        qn_band_levels((shape & 7u) == 1 ? nullptr : buffer.data(), count, rate, step,
                       (shape & 7u) == 2 ? nullptr : levels, levels_room, (shape & 7u) == 3 ? nullptr : series,
                       series_room, (shape & 7u) == 5 ? nullptr : &written));
    QN_FUZZ_ASSERT(known_status(s));
    if ((shape & 7u) == 5) {
        QN_FUZZ_ASSERT(s == QN_STATUS_NULL_POINTER && written == 4242);
        return;
    }
    if (s != QN_STATUS_SUCCESS) {
        QN_FUZZ_ASSERT(written == (s == QN_STATUS_OUTPUT_TOO_SMALL ? count / step : 0));
        QN_FUZZ_ASSERT(std::memcmp(buffer.data(), before.data(), buffer.size() * sizeof(double)) == 0);
        return;
    }
    QN_FUZZ_ASSERT(!overlapping);
    QN_FUZZ_ASSERT(written == real_points && count == n);
    std::vector<bool> promised(buffer.size(), false);
    const auto mark = [&](const double *p, uint64_t k) {
        if (p == nullptr) return;
        for (uint64_t i = 0; i < k; ++i) {
            QN_FUZZ_ASSERT(std::isfinite(p[i]));
            promised[static_cast<std::size_t>(p - buffer.data()) + i] = true;
        }
    };
    mark((shape & 7u) == 2 ? nullptr : levels, 28);
    mark((shape & 7u) == 3 ? nullptr : series, real_points * 28);
    for (std::size_t i = 0; i < buffer.size(); ++i)
        QN_FUZZ_ASSERT(promised[i] || std::memcmp(&buffer[i], &before[i], sizeof(double)) == 0);
    // The levels from which the stationary loudness is computed.
    if ((shape & 7u) != 2) {
        double loudness = sentinel, from_levels = sentinel;
        const qn_status st = qn_loudness_stationary(x.data(), n, 48000, QN_SOUND_FIELD_FREE, &loudness, nullptr, 0);
        const qn_status fl = qn_loudness_from_levels(levels, 28, QN_SOUND_FIELD_FREE, &from_levels, nullptr, 0);
        QN_FUZZ_ASSERT(st == fl);
        QN_FUZZ_ASSERT(std::memcmp(&loudness, &from_levels, sizeof loudness) == 0);
    }
}

void metered(carver &in) {
    const int32_t rate = in.flag() ? 48000 : in.take<int32_t>();
    const uint64_t step = carve_step(in);
    const bool fail_alloc = (in.take<uint8_t>() & 15u) == 0;
    qn_band_level_meter *meter = nullptr;
    qn_test_fail_allocation_at(fail_alloc ? 0 : -1);
    const qn_status created =
        QN_FUZZ_STATUS("qn_band_level_meter_create", qn_band_level_meter_create(rate, step, &meter));
    qn_test_fail_allocation_at(-1);
    QN_FUZZ_ASSERT(known_status(created));
    QN_FUZZ_ASSERT((created == QN_STATUS_SUCCESS) == (meter != nullptr));
    if (meter == nullptr) return;

    std::vector<double> accepted, series_points;
    const int blocks = static_cast<int>(in.range(1, 6));
    for (int b = 0; b < blocks; ++b) {
        const std::size_t n = static_cast<std::size_t>(in.range(0, 1500));
        std::vector<double> x = in.sound(n);
        const uint8_t room = in.take<uint8_t>();
        uint64_t need = 0;
        QN_FUZZ_ASSERT(qn_band_level_meter_point_count(meter, n, &need) == QN_STATUS_SUCCESS);
        const uint64_t cap = (room & 3u) == 0 ? (need > 0 ? need * 28 - 1 : 0) : need * 28 + (room >> 6);
        // The series in one buffer after the samples, or over their end.
        std::vector<double> buffer(n + cap + 1, sentinel);  // never empty: memcmp takes no null
        std::copy(x.begin(), x.end(), buffer.begin());
        double *series = (room & 4u) ? nullptr : buffer.data() + n;
        if ((room & 48u) == 16u && series != nullptr && n > 0 && need > 0) series -= 1;
        const std::vector<double> before = buffer;
        uint64_t got = 99;
        const qn_status s = QN_FUZZ_STATUS(
            "qn_band_level_meter_add",
            qn_band_level_meter_add(meter, (room & 48u) == 32u ? nullptr : buffer.data(), n, series, cap, &got));
        QN_FUZZ_ASSERT(known_status(s));
        if (s == QN_STATUS_SUCCESS) {
            QN_FUZZ_ASSERT(got == need);
            QN_FUZZ_ASSERT(std::memcmp(buffer.data(), before.data(), n * sizeof(double)) == 0);
            accepted.insert(accepted.end(), x.begin(), x.end());
            for (uint64_t i = 0; i < got * 28; ++i) {
                if (series != nullptr) QN_FUZZ_ASSERT(std::isfinite(series[i]));
                series_points.push_back(series != nullptr ? series[i] : std::numeric_limits<double>::quiet_NaN());
            }
            if (series != nullptr) QN_FUZZ_ASSERT(untouched(buffer, n + got * 28));
        } else {
            QN_FUZZ_ASSERT(got == (s == QN_STATUS_OUTPUT_TOO_SMALL ? need : 0));
            QN_FUZZ_ASSERT(std::memcmp(buffer.data(), before.data(), buffer.size() * sizeof(double)) == 0);
        }
    }

    std::vector<double> levels(29, sentinel);
    const uint64_t levels_room = in.room(28);
    const qn_status ls = QN_FUZZ_STATUS("qn_band_level_meter_levels",
                                        qn_band_level_meter_levels(meter, levels.data(), levels_room));
    QN_FUZZ_ASSERT(known_status(ls));
    qn_band_level_meter_destroy(meter);
    QN_FUZZ_ASSERT(qn_test_live_allocations() == 0);
    if (ls != QN_STATUS_SUCCESS) QN_FUZZ_ASSERT(untouched(levels));
    else QN_FUZZ_ASSERT(untouched(levels, 28));
    if (accepted.size() < 256) {
        QN_FUZZ_ASSERT(ls != QN_STATUS_SUCCESS);
        return;
    }
    uint64_t points = 0;
    QN_FUZZ_ASSERT(qn_band_level_point_count(accepted.size(), 48000, step, &points) == QN_STATUS_SUCCESS);
    QN_FUZZ_ASSERT(points * 28 == series_points.size());
    std::vector<double> whole(28), series(points * 28);
    QN_FUZZ_ASSERT(qn_band_levels(accepted.data(), accepted.size(), 48000, step, whole.data(), 28, series.data(),
                                  series.size(), &points) == QN_STATUS_SUCCESS);
    if (ls == QN_STATUS_SUCCESS) QN_FUZZ_ASSERT(std::memcmp(whole.data(), levels.data(), 28 * sizeof(double)) == 0);
    for (std::size_t i = 0; i < series.size(); ++i)
        QN_FUZZ_ASSERT(std::isnan(series_points[i]) || std::memcmp(&series_points[i], &series[i], sizeof(double)) == 0);
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

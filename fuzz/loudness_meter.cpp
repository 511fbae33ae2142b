// Fuzzes the loudness meter: blocks of carved sizes, capacities and
// poisoned samples. Every status is one of the eleven; a refused block
// writes nothing and leaves the meter as it was; the frames of the accepted
// blocks, put together, are those of qn_loudness_time over the accepted
// samples, bit for bit; so is the stationary loudness. With overlapping
// arrays the first block, on a meter of its own, and the stationary
// loudness give the same bits or refuse them.
#include <cmath>
#include <cstring>
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

// The stationary loudness's numerical failure, a band power sum beyond the
// largest double, is not expected: the time-varying method refuses a block
// long before its samples are strong enough (at the largest amplitude it
// takes, the sums stay finite for hours of signal).
[[maybe_unused]] const bool expected =
    qn_fuzz_expect("qn_loudness_meter_create",
                   qn_fuzz_statuses({QN_STATUS_SUCCESS, QN_STATUS_INVALID_SAMPLE_RATE, QN_STATUS_INVALID_SOUND_FIELD,
                                     QN_STATUS_ALLOCATION_FAILED})) &&
    qn_fuzz_expect("qn_loudness_meter_add",
                   qn_fuzz_statuses({QN_STATUS_SUCCESS, QN_STATUS_NULL_POINTER, QN_STATUS_INVALID_ARGUMENT,
                                     QN_STATUS_OUTPUT_TOO_SMALL, QN_STATUS_NON_FINITE_INPUT,
                                     QN_STATUS_NUMERICAL_FAILURE})) &&
    qn_fuzz_expect("qn_loudness_meter_stationary",
                   qn_fuzz_statuses({QN_STATUS_SUCCESS, QN_STATUS_INPUT_TOO_SHORT, QN_STATUS_INVALID_ARGUMENT})) &&
    qn_fuzz_expect("qn_loudness_meter_add overlapping", qn_fuzz_overlap_outcomes(true, false)) &&
    qn_fuzz_expect("qn_loudness_meter_stationary overlapping", qn_fuzz_overlap_outcomes(true, false));
using qn_test::untouched;
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, std::size_t size) {
    carver in(data, size);
    const overlap_choice overlap = carve_overlap(data, size);
    const int32_t rate = in.flag() ? 48000 : in.take<int32_t>();
    const qn_sound_field field = in.flag() ? static_cast<qn_sound_field>(in.range(0, 1)) : in.take<int32_t>();
    const bool fail_alloc = (in.take<uint8_t>() & 15u) == 0;
    qn_loudness_meter *meter = nullptr;
    qn_test_fail_allocation_at(fail_alloc ? 0 : -1);
    const qn_status created = QN_FUZZ_STATUS("qn_loudness_meter_create", qn_loudness_meter_create(rate, field, &meter));
    qn_test_fail_allocation_at(-1);
    QN_FUZZ_ASSERT(known_status(created));
    QN_FUZZ_ASSERT((created == QN_STATUS_SUCCESS) == (meter != nullptr));
    if (meter == nullptr) return 0;

    std::vector<double> accepted, frames;
    const int blocks = static_cast<int>(in.range(1, 6));
    for (int b = 0; b < blocks; ++b) {
        const std::size_t n = static_cast<std::size_t>(in.range(0, 700));
        const double scale = std::ldexp(1.0, static_cast<int>(in.range(0, 1100)) - 100);
        const uint8_t poison = in.take<uint8_t>();
        const uint8_t room = in.take<uint8_t>();
        std::vector<double> x(n);
        for (double &v : x) v = static_cast<double>(in.take<int16_t>()) * scale / 32768.0;
        if ((poison & 7u) == 0 && n > 0) {
            x[poison % n] = (poison & 8u) ? std::numeric_limits<double>::quiet_NaN()
                                          : std::numeric_limits<double>::infinity();
        }
        uint64_t need = 0;
        QN_FUZZ_ASSERT(qn_loudness_meter_frame_count(meter, n, &need) == QN_STATUS_SUCCESS);
        // Exact room, or a little less or more than asked for.
        const uint64_t cap = (room & 3u) == 0 ? (need > 0 ? need - 1 : 0) : need + (room >> 6);
        const bool with_specific = (room & 4u) != 0;
        std::vector<double> l(cap, sentinel), sp(with_specific ? cap * 240 : 0, sentinel);
        uint64_t got = 99;
        const qn_status s = QN_FUZZ_STATUS(
            "qn_loudness_meter_add", qn_loudness_meter_add(meter, (room & 8u) ? nullptr : x.data(), n,
                                                           cap == 0 || (room & 32u) ? nullptr : l.data(), cap,
                                                           with_specific ? sp.data() : nullptr, sp.size(), &got));
        QN_FUZZ_ASSERT(known_status(s));
        if (b == 0 && overlap.wanted) {
            // The first block again, on a meter of its own: the samples, the
            // two series and the frame count.
            qn_loudness_meter *fresh = nullptr;
            QN_FUZZ_ASSERT(qn_loudness_meter_create(rate, field, &fresh) == QN_STATUS_SUCCESS);
            overlap_block block({x.size(), l.size(), sp.size(), 1}, overlap);
            block.fill(0, x.data(), x.size());
            const qn_status o = QN_FUZZ_STATUS(
                "qn_loudness_meter_add",
                qn_loudness_meter_add(fresh, (room & 8u) ? nullptr : block.at(0), n,
                                      cap == 0 || (room & 32u) ? nullptr : block.at(1), cap,
                                      with_specific ? block.at(2) : nullptr, sp.size(), block.count_at(3)));
            qn_loudness_meter_destroy(fresh);
            const uint64_t f = s == QN_STATUS_SUCCESS ? got : 0;
            // A numerical failure may leave frames written before it.
            const uint64_t w = s == QN_STATUS_NUMERICAL_FAILURE ? need : f;
            const char *verdict = block.judge(
                o, s, {x.data(), l.data(), sp.data(), reinterpret_cast<const double *>(&got)},
                {0, w, with_specific ? w * 240 : 0, s == QN_STATUS_SUCCESS ? 1u : 0u},
                {n, need, with_specific ? need * 240 : 0, 1}, 3);
            QN_FUZZ_ASSERT(verdict != nullptr);
            QN_FUZZ_OUTCOME("qn_loudness_meter_add overlapping", verdict);
        }
        if (s == QN_STATUS_SUCCESS) {
            QN_FUZZ_ASSERT(got == need);
            for (uint64_t f = 0; f < got; ++f) QN_FUZZ_ASSERT(std::isfinite(l[f]) && l[f] >= 0);
            for (uint64_t k = 0; k < (with_specific ? got * 240 : 0); ++k)
                QN_FUZZ_ASSERT(std::isfinite(sp[k]) && sp[k] >= 0);
            accepted.insert(accepted.end(), x.begin(), x.end());
            frames.insert(frames.end(), l.begin(), l.begin() + static_cast<std::ptrdiff_t>(got));
        } else {
            QN_FUZZ_ASSERT(got == (s == QN_STATUS_OUTPUT_TOO_SMALL ? need : 0));
            if (s != QN_STATUS_NUMERICAL_FAILURE) QN_FUZZ_ASSERT(untouched(l) && untouched(sp));
        }
    }

    double stationary = sentinel;
    const qn_status st =
        QN_FUZZ_STATUS("qn_loudness_meter_stationary", qn_loudness_meter_stationary(meter, &stationary, nullptr, 0));
    QN_FUZZ_ASSERT(known_status(st));
    if (overlap.wanted) {
        // With the pattern too, then with the total and the pattern overlapping.
        double total = sentinel;
        std::vector<double> pattern(240, sentinel);
        const qn_status ps = qn_loudness_meter_stationary(meter, &total, pattern.data(), pattern.size());
        QN_FUZZ_ASSERT(ps == st);
        overlap_block block({1, 240}, overlap);
        const qn_status o = QN_FUZZ_STATUS("qn_loudness_meter_stationary",
                                           qn_loudness_meter_stationary(meter, block.at(0), block.at(1), 240));
        const bool ok = ps == QN_STATUS_SUCCESS;
        const char *verdict =
            block.judge(o, ps, {&total, pattern.data()}, {ok ? 1u : 0u, ok ? 240u : 0u}, {1, 240}, -1);
        QN_FUZZ_ASSERT(verdict != nullptr);
        QN_FUZZ_OUTCOME("qn_loudness_meter_stationary overlapping", verdict);
    }
    qn_loudness_meter_destroy(meter);
    if (accepted.empty()) return 0;

    uint64_t count = 0;
    QN_FUZZ_ASSERT(qn_loudness_time_frame_count(accepted.size(), 48000, &count) == QN_STATUS_SUCCESS);
    QN_FUZZ_ASSERT(count == frames.size());
    std::vector<double> whole(count), specific(count * 240);
    const qn_status ws = qn_loudness_time(accepted.data(), accepted.size(), 48000, field, whole.data(), count,
                                          specific.data(), specific.size(), &count);
    QN_FUZZ_ASSERT(ws == QN_STATUS_SUCCESS);
    QN_FUZZ_ASSERT(std::memcmp(whole.data(), frames.data(), frames.size() * sizeof(double)) == 0);
    double expected = sentinel;
    const qn_status es = qn_loudness_stationary(accepted.data(), accepted.size(), 48000, field, &expected, nullptr, 0);
    QN_FUZZ_ASSERT(es == st);
    if (st == QN_STATUS_SUCCESS) QN_FUZZ_ASSERT(std::memcmp(&expected, &stationary, sizeof expected) == 0);
    return 0;
}

// Fuzzes the signal loudness functions and sharpness: any status is one of
// the eleven; on failure outputs are untouched (frame counts as documented);
// on success every value is finite and not negative. Amplitudes reach the
// numerical failures, counts the size checks, capacities the too-small
// outputs, and the filter bank's baseline vector path is held to the
// processor's best one, bit for bit. With overlapping arrays each call gives
// the same bits or refuses them.
#include <cmath>
#include <cstring>
#include <limits>
#include <vector>

#include "carve.h"
#include "base/checks.h"
#include "base/simd.h"
#include "loudness/filter_bank.h"
#include "loudness/loudness.h"
#include "outcomes.h"
#include "overlap.h"
#include "quarnelo.h"
#include "support/alloc_hook.h"
#include "support/sentinel.h"

namespace {

using qn_test::sentinel;
using qn_test::untouched;

const qn_simd best = qn_simd_best();

[[maybe_unused]] const bool expected =
    qn_fuzz_expect("qn_loudness_stationary",
                   qn_fuzz_statuses({QN_STATUS_SUCCESS, QN_STATUS_NULL_POINTER, QN_STATUS_INVALID_ARGUMENT,
                                     QN_STATUS_INVALID_SAMPLE_RATE, QN_STATUS_INVALID_SOUND_FIELD,
                                     QN_STATUS_NON_FINITE_INPUT, QN_STATUS_INPUT_TOO_SHORT,
                                     QN_STATUS_OUTPUT_TOO_SMALL, QN_STATUS_SIZE_OVERFLOW,
                                     QN_STATUS_NUMERICAL_FAILURE})) &&
    qn_fuzz_expect("qn_loudness_time_frame_count", qn_fuzz_frame_count_statuses()) &&
    qn_fuzz_expect("qn_loudness_time", qn_fuzz_signal_analysis_statuses()) &&
    // A non-finite or negative result is documented, but the pattern is
    // divided by its largest value first, so the sums stay between 1 and
    // about 32000: no input reaches it.
    qn_fuzz_expect("qn_sharpness_din",
                   qn_fuzz_statuses({QN_STATUS_SUCCESS, QN_STATUS_NULL_POINTER, QN_STATUS_INVALID_ARGUMENT,
                                     QN_STATUS_NON_FINITE_INPUT})) &&
    qn_fuzz_expect("qn_loudness_stationary overlapping", qn_fuzz_overlap_outcomes(true, true)) &&
    qn_fuzz_expect("qn_loudness_time overlapping", qn_fuzz_overlap_outcomes(true, false)) &&
    // Sharpness has one output, which may lie in the pattern: nothing to refuse.
    qn_fuzz_expect("qn_sharpness_din overlapping", qn_fuzz_overlap_outcomes(false, true)) &&
    qn_fuzz_expect("vector paths", best != qn_simd::baseline ? std::vector<std::string>{"levels alike", "levels fail alike",
                                                                        "time alike", "time fails alike"}
                                            : std::vector<std::string>{"baseline only"});

// Counts the functions are given: the samples' own, or one beyond every
// buffer that the size checks refuse before a sample is read.
uint64_t carve_count(carver &in, uint64_t real, bool time_varying) {
    switch (in.take<uint8_t>() % 8) {
    case 0:
        return 0;
    case 1:  // above 2^60 - 1
        return (uint64_t{1} << 60) + in.range(0, UINT64_MAX - (uint64_t{1} << 60));
    case 2:  // the time-varying working block of F * 241 doubles reaches 2^60 elements
        return time_varying ? (uint64_t{1} << 60) - 1 - in.range(0, uint64_t{1} << 50) : real;
    default:
        return real;
    }
}

// Room for `needed` values, or a little less or more.
uint64_t carve_room(carver &in, uint64_t needed) {
    switch (in.take<uint8_t>() % 8) {
    case 0:
        return 0;
    case 1:
        return needed > 0 ? needed - 1 : 0;
    case 2:
        return needed + in.range(1, 3);
    default:
        return needed;
    }
}

void stationary(carver &in, const std::vector<double> &x, int32_t rate, qn_sound_field field,
                const overlap_choice &overlap) {
    const uint64_t count = carve_count(in, x.size(), false);
    const uint8_t shape = in.take<uint8_t>();
    const bool null_loudness = (shape & 15u) == 1, null_specific = (shape & 3u) == 2;
    const uint64_t capacity = null_specific ? (shape & 4u ? 240 : 0) : carve_room(in, 240);
    double loudness = sentinel;
    std::vector<double> specific(null_specific ? 0 : capacity, sentinel);
    qn_test_fail_allocation_at(0, true);  // the call must not need the heap
    const qn_status s = QN_FUZZ_STATUS(
        "qn_loudness_stationary",
        qn_loudness_stationary(x.empty() ? nullptr : x.data(), count, rate, field, null_loudness ? nullptr : &loudness,
                               null_specific ? nullptr : specific.data(), capacity));
    qn_test_fail_allocation_at(-1);
    QN_FUZZ_ASSERT(known_status(s));
    if (overlap.wanted) {
        overlap_block block({x.size(), 1, specific.size()}, overlap);
        block.fill(0, x.data(), x.size());
        qn_test_fail_allocation_at(0, true);
        const qn_status o = QN_FUZZ_STATUS(
            "qn_loudness_stationary",
            qn_loudness_stationary(x.empty() ? nullptr : block.at(0), count, rate, field,
                                   null_loudness ? nullptr : block.at(1), null_specific ? nullptr : block.at(2),
                                   capacity));
        qn_test_fail_allocation_at(-1);
        const bool ok = s == QN_STATUS_SUCCESS;
        const char *verdict = block.judge(o, s, {x.data(), &loudness, specific.data()},
                                          {0, ok ? 1u : 0u, ok && !null_specific ? 240u : 0u}, {count, 1, 240}, -1);
        QN_FUZZ_ASSERT(verdict != nullptr);
        QN_FUZZ_OUTCOME("qn_loudness_stationary overlapping", verdict);
    }
    if (s != QN_STATUS_SUCCESS) {
        QN_FUZZ_ASSERT(loudness == sentinel && untouched(specific));
        return;
    }
    QN_FUZZ_ASSERT(std::isfinite(loudness) && loudness >= 0);
    for (std::size_t k = 0; k < specific.size(); ++k)
        QN_FUZZ_ASSERT(k < 240 ? std::isfinite(specific[k]) && specific[k] >= 0 : specific[k] == sentinel);
}

void time_varying(carver &in, const std::vector<double> &x, int32_t rate, qn_sound_field field,
                  const overlap_choice &overlap) {
    const uint64_t count = carve_count(in, x.size(), true);
    uint64_t frames = 0;
    const bool null_count = (in.take<uint8_t>() & 15u) == 0;
    const qn_status fs = QN_FUZZ_STATUS("qn_loudness_time_frame_count",
                                      qn_loudness_time_frame_count(count, rate, null_count ? nullptr : &frames));
    QN_FUZZ_ASSERT(known_status(fs));
    const uint64_t real_frames = x.empty() ? 1 : (x.size() - 1) / 96 + 1;
    const uint64_t loudness_room = carve_room(in, real_frames), specific_room = carve_room(in, real_frames * 240);
    const uint8_t nulls = in.take<uint8_t>();
    const int64_t fail_at = (nulls & 48u) == 0 ? 0 : -1;
    std::vector<double> loudness(loudness_room, sentinel), specific(specific_room, sentinel);
    uint64_t written = 12345;
    qn_test_fail_allocation_at(fail_at);
    const qn_status s = QN_FUZZ_STATUS(
        "qn_loudness_time",
        qn_loudness_time(x.empty() || (nulls & 7u) == 1 ? nullptr : x.data(), count, rate, field,
                         (nulls & 7u) == 2 ? nullptr : loudness.data(), loudness_room,
                         (nulls & 7u) == 3 ? nullptr : specific.data(), specific_room,
                         (nulls & 7u) == 4 ? nullptr : &written));
    qn_test_fail_allocation_at(-1);
    QN_FUZZ_ASSERT(known_status(s));
    QN_FUZZ_ASSERT(qn_test_live_allocations() == 0);
    if (overlap.wanted) {
        // The samples, the two series and the frame count.
        overlap_block block({x.size(), loudness.size(), specific.size(), 1}, overlap);
        block.fill(0, x.data(), x.size());
        qn_test_fail_allocation_at(fail_at);
        const qn_status o = QN_FUZZ_STATUS(
            "qn_loudness_time",
            qn_loudness_time(x.empty() || (nulls & 7u) == 1 ? nullptr : block.at(0), count, rate, field,
                             (nulls & 7u) == 2 ? nullptr : block.at(1), loudness_room,
                             (nulls & 7u) == 3 ? nullptr : block.at(2), specific_room,
                             (nulls & 7u) == 4 ? nullptr : block.count_at(3)));
        qn_test_fail_allocation_at(-1);
        QN_FUZZ_ASSERT(qn_test_live_allocations() == 0);
        const uint64_t f = s == QN_STATUS_SUCCESS ? written : 0;
        const char *verdict =
            block.judge(o, s, {x.data(), loudness.data(), specific.data(), reinterpret_cast<const double *>(&written)},
                        {0, f, f * 240, f > 0 ? 1u : 0u}, {count, real_frames, real_frames * 240, 1}, 3);
        QN_FUZZ_ASSERT(verdict != nullptr);
        QN_FUZZ_OUTCOME("qn_loudness_time overlapping", verdict);
    }
    if ((nulls & 7u) == 4) return;
    if (s == QN_STATUS_SUCCESS) {
        QN_FUZZ_ASSERT(written == real_frames && (null_count || (fs == QN_STATUS_SUCCESS && frames == real_frames)));
        for (std::size_t i = 0; i < loudness.size(); ++i)
            QN_FUZZ_ASSERT(i < written ? std::isfinite(loudness[i]) && loudness[i] >= 0 : loudness[i] == sentinel);
        for (std::size_t i = 0; i < specific.size(); ++i)
            QN_FUZZ_ASSERT(i < written * 240 ? std::isfinite(specific[i]) && specific[i] >= 0 : specific[i] == sentinel);
    } else {
        QN_FUZZ_ASSERT(written == (s == QN_STATUS_OUTPUT_TOO_SMALL ? (count - 1) / 96 + 1 : 0));
        QN_FUZZ_ASSERT(untouched(loudness) && untouched(specific));
    }
}

void sharpness(carver &in, const std::vector<double> &x, const overlap_choice &overlap) {
    // Whatever pattern the bytes make, negative values and all.
    const uint64_t count = in.flag() ? 240 : in.range(0, 480);
    const uint8_t nulls = in.take<uint8_t>();
    std::vector<double> pattern(240, 0.0);
    for (std::size_t k = 0; k < pattern.size() && k < x.size(); ++k) pattern[k] = x[k];
    double value = sentinel;
    const qn_status s = QN_FUZZ_STATUS("qn_sharpness_din",
                                     qn_sharpness_din((nulls & 15u) == 1 ? nullptr : pattern.data(), count,
                                                      (nulls & 15u) == 2 ? nullptr : &value));
    QN_FUZZ_ASSERT(known_status(s));
    if (overlap.wanted) {
        overlap_block block({pattern.size(), 1}, overlap);
        block.fill(0, pattern.data(), pattern.size());
        const qn_status o = QN_FUZZ_STATUS(
            "qn_sharpness_din", qn_sharpness_din((nulls & 15u) == 1 ? nullptr : block.at(0), count,
                                                 (nulls & 15u) == 2 ? nullptr : block.at(1)));
        const char *verdict =
            block.judge(o, s, {pattern.data(), &value}, {0, s == QN_STATUS_SUCCESS ? 1u : 0u}, {240, 1}, -1);
        QN_FUZZ_ASSERT(verdict != nullptr);
        QN_FUZZ_OUTCOME("qn_sharpness_din overlapping", verdict);
    }
    if (s == QN_STATUS_SUCCESS) QN_FUZZ_ASSERT(std::isfinite(value) && value >= 0);
    else QN_FUZZ_ASSERT(value == sentinel);
}

// The baseline path against the best one: same status, same bits.
void vector_paths(const std::vector<double> &x, qn_sound_field field) {
    if (best == qn_simd::baseline) {
        QN_FUZZ_OUTCOME("vector paths", "baseline only");
        return;
    }
    if (x.size() >= 256) {
        double a[28], b[28];
        const qn_status sa = qn_third_octave_levels_with(qn_simd::baseline, x.data(), x.size(), 0, a);
        const qn_status sb = qn_third_octave_levels_with(best, x.data(), x.size(), 0, b);
        QN_FUZZ_ASSERT(sa == sb);
        QN_FUZZ_ASSERT(sa != QN_STATUS_SUCCESS || std::memcmp(a, b, sizeof a) == 0);
        QN_FUZZ_OUTCOME("vector paths", sa == QN_STATUS_SUCCESS ? "levels alike" : "levels fail alike");
    }
    if (!x.empty() && qn_check_sound_field(field)) {
        const uint64_t frames = (x.size() - 1) / 96 + 1;
        std::vector<double> a(frames * 241, sentinel), b(frames * 241, sentinel);
        const bool oa = qn_loudness_time_compute(qn_simd::baseline, x.data(), x.size(), field, frames, a.data(),
                                                 a.data() + frames);
        const bool ob =
            qn_loudness_time_compute(best, x.data(), x.size(), field, frames, b.data(), b.data() + frames);
        QN_FUZZ_ASSERT(oa == ob);
        QN_FUZZ_ASSERT(!oa || std::memcmp(a.data(), b.data(), a.size() * sizeof(double)) == 0);
        QN_FUZZ_OUTCOME("vector paths", oa ? "time alike" : "time fails alike");
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, std::size_t size) {
    // The first bytes are the arguments, the rest the samples.
    constexpr std::size_t argument_bytes = 64;
    carver in(data, size < argument_bytes ? size : argument_bytes);
    carver samples(size > argument_bytes ? data + argument_bytes : nullptr, size > argument_bytes ? size - argument_bytes : 0);
    const uint8_t which = in.take<uint8_t>() % 4;
    const int32_t rate = in.flag() ? 48000 : in.take<int32_t>();
    const qn_sound_field field = in.flag() ? static_cast<qn_sound_field>(in.range(0, 1)) : in.take<int32_t>();
    // Mostly ordinary levels; now and then far beyond anything audible,
    // where the filters' powers overflow.
    const int exponent = in.flag() ? static_cast<int>(in.range(0, 80)) - 40 : static_cast<int>(in.range(0, 1100));
    const double scale = std::ldexp(1.0, exponent);
    const uint8_t poison = in.take<uint8_t>();
    std::vector<double> x = samples.rest_as_doubles(6000, scale / 32768.0);
    if ((poison & 7u) == 0 && !x.empty()) {
        x[poison % x.size()] = (poison & 8u) ? std::numeric_limits<double>::quiet_NaN()
                                             : std::numeric_limits<double>::infinity();
    }
    const overlap_choice overlap = carve_overlap(data, size);
    switch (which) {
    case 0:
        stationary(in, x, rate, field, overlap);
        break;
    case 1:
        time_varying(in, x, rate, field, overlap);
        break;
    case 2:
        sharpness(in, x, overlap);
        break;
    default:
        vector_paths(x, field);
        break;
    }
    return 0;
}

// Fuzzes the identification exports and qn_loudness_from_levels: any status
// is one of the eleven, outputs are untouched on failure and finite and
// non-negative on success; with overlapping arrays the call gives the same
// bits or refuses them.
#include <cmath>
#include <cstring>
#include <vector>

#include "carve.h"
#include "outcomes.h"
#include "overlap.h"
#include "quarnelo.h"
#include "support/alloc_hook.h"
#include "support/sentinel.h"

namespace {
using qn_test::sentinel;

[[maybe_unused]] const bool expected = qn_fuzz_expect(
    "qn_loudness_from_levels",
    qn_fuzz_statuses({QN_STATUS_SUCCESS, QN_STATUS_NULL_POINTER, QN_STATUS_INVALID_ARGUMENT,
                      QN_STATUS_INVALID_SOUND_FIELD, QN_STATUS_OUTPUT_TOO_SMALL, QN_STATUS_NON_FINITE_INPUT,
                      QN_STATUS_NUMERICAL_FAILURE})) &&
    qn_fuzz_expect("qn_loudness_from_levels overlapping", qn_fuzz_overlap_outcomes(true, true));
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, std::size_t size) {
    carver in(data, size);

    const char *text = qn_status_string(in.take<int32_t>());
    QN_FUZZ_ASSERT(text != nullptr && std::strlen(text) > 0);

    const uint64_t count = in.flag() ? 28 : in.take<uint64_t>();
    const qn_sound_field field = in.flag() ? static_cast<qn_sound_field>(in.range(0, 1)) : in.take<int32_t>();
    const bool with_specific = in.flag();
    const uint64_t capacity = in.flag() ? (with_specific ? 240 + in.range(0, 16) : 0) : in.range(0, 300);
    const bool null_levels = (in.take<uint8_t>() & 31u) == 0;
    const int64_t fail_at = in.flag() ? 0 : -1;
    qn_test_fail_allocation_at(fail_at, true);  // the call must not need the heap

    std::vector<double> levels(28);
    for (double &l : levels) l = in.value(-150.0, 160.0);

    double loudness = sentinel;
    std::vector<double> specific(with_specific ? capacity : 0, sentinel);
    const qn_status s = QN_FUZZ_STATUS("qn_loudness_from_levels",
                                     qn_loudness_from_levels(null_levels ? nullptr : levels.data(), count, field,
                                                             &loudness, with_specific ? specific.data() : nullptr,
                                                             capacity));
    qn_test_fail_allocation_at(-1);
    QN_FUZZ_ASSERT(known_status(s));

    // The same call with the levels, the total and the pattern overlapping.
    const overlap_choice overlap = carve_overlap(data, size);
    if (overlap.wanted) {
        overlap_block block({levels.size(), 1, specific.size()}, overlap);
        block.fill(0, levels.data(), levels.size());
        qn_test_fail_allocation_at(fail_at, true);
        const qn_status o = QN_FUZZ_STATUS(
            "qn_loudness_from_levels",
            qn_loudness_from_levels(null_levels ? nullptr : block.at(0), count, field, block.at(1),
                                    with_specific ? block.at(2) : nullptr, capacity));
        qn_test_fail_allocation_at(-1);
        const bool ok = s == QN_STATUS_SUCCESS;
        const char *verdict = block.judge(o, s, {levels.data(), &loudness, specific.data()},
                                          {0, ok ? 1u : 0u, ok && with_specific ? 240u : 0u}, {28, 1, 240}, -1);
        QN_FUZZ_ASSERT(verdict != nullptr);
        QN_FUZZ_OUTCOME("qn_loudness_from_levels overlapping", verdict);
    }
    if (s != QN_STATUS_SUCCESS) {
        QN_FUZZ_ASSERT(loudness == sentinel && qn_test::untouched(specific));
        return 0;
    }
    QN_FUZZ_ASSERT(std::isfinite(loudness));
    for (std::size_t k = 0; k < specific.size(); ++k) {
        if (k < 240) QN_FUZZ_ASSERT(std::isfinite(specific[k]) && specific[k] >= 0);
        else QN_FUZZ_ASSERT(specific[k] == sentinel);
    }
    return 0;
}

// Fuzzes the values that come from a loudness: qn_sharpness with every
// weighting and qn_loudness_level. Any status is one of the eleven; a failure
// writes nothing; on success the sharpness is finite and not negative (with
// the DIN weighting, that of qn_sharpness_din bit for bit) and the level is
// finite.
#include <cmath>
#include <cstring>
#include <vector>

#include "carve.h"
#include "outcomes.h"
#include "quarnelo.h"
#include "support/sentinel.h"

namespace {

using qn_test::sentinel;

[[maybe_unused]] const bool expected =
    qn_fuzz_expect("qn_sharpness",
                   qn_fuzz_statuses({QN_STATUS_SUCCESS, QN_STATUS_NULL_POINTER, QN_STATUS_INVALID_ARGUMENT,
                                     QN_STATUS_NON_FINITE_INPUT, QN_STATUS_NUMERICAL_FAILURE})) &&
    qn_fuzz_expect("qn_loudness_level", qn_fuzz_statuses({QN_STATUS_SUCCESS, QN_STATUS_NULL_POINTER,
                                                          QN_STATUS_INVALID_ARGUMENT, QN_STATUS_NON_FINITE_INPUT}));

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, std::size_t size) {
    carver in(data, size);
    const uint8_t nulls = in.take<uint8_t>();
    double phon = sentinel;
    const double sone = in.value(0.0, 1000.0);
    const qn_status ls = QN_FUZZ_STATUS("qn_loudness_level",
                                        qn_loudness_level(sone, (nulls & 15u) == 3 ? nullptr : &phon));
    QN_FUZZ_ASSERT(known_status(ls));
    if (ls == QN_STATUS_SUCCESS) QN_FUZZ_ASSERT(std::isfinite(phon));
    else QN_FUZZ_ASSERT(phon == sentinel);

    const uint64_t count = in.flag() ? 240 : in.range(0, 480);
    const qn_sharpness_weighting weighting = in.flag() ? static_cast<qn_sharpness_weighting>(in.range(0, 3))
                                                       : in.take<int32_t>();
    // A pattern of ordinary values, of raw doubles (NaN, infinities, huge,
    // negative), or of values near the largest double.
    const uint8_t kind = in.take<uint8_t>() % 4;
    std::vector<double> pattern(240, 0.0);
    for (double &v : pattern) {
        if (in.remaining() == 0) break;
        v = kind == 0 ? in.take<double>() : kind == 1 ? 1.7e308 * in.value(0.0, 1.0) : in.value(0.0, 30.0);
    }
    double value = sentinel;
    const qn_status s = QN_FUZZ_STATUS("qn_sharpness",
                                       qn_sharpness((nulls & 15u) == 1 ? nullptr : pattern.data(), count, weighting,
                                                    (nulls & 15u) == 2 ? nullptr : &value));
    QN_FUZZ_ASSERT(known_status(s));
    if (s == QN_STATUS_SUCCESS) QN_FUZZ_ASSERT(std::isfinite(value) && value >= 0);
    else QN_FUZZ_ASSERT(value == sentinel);
    if (weighting == QN_SHARPNESS_DIN && (nulls & 15u) != 1 && (nulls & 15u) != 2) {
        double din = sentinel;
        QN_FUZZ_ASSERT(qn_sharpness_din(pattern.data(), count, &din) == s);
        QN_FUZZ_ASSERT(std::memcmp(&din, &value, sizeof din) == 0);
    }
    return 0;
}

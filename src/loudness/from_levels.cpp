// Loudness of a third-octave spectrum, with the argument checks of the
// exported function.
#include <cstring>

#include "base/axes.h"
#include "base/checks.h"
#include "loudness/loudness.h"

extern "C" QN_API qn_status qn_loudness_from_levels(const double *levels, uint64_t level_count,
                                                    qn_sound_field field, double *loudness,
                                                    double *specific, uint64_t specific_capacity) {
    if (levels == nullptr || loudness == nullptr) return QN_STATUS_NULL_POINTER;
    if (level_count != qn_third_octave_band_count) return QN_STATUS_INVALID_ARGUMENT;
    if (!qn_check_sound_field(field)) return QN_STATUS_INVALID_SOUND_FIELD;
    if (specific == nullptr ? specific_capacity != 0 : specific_capacity < qn_bark_point_count)
        return QN_STATUS_OUTPUT_TOO_SMALL;
    if (qn_loudness_outputs_overlap(loudness, specific)) return QN_STATUS_INVALID_ARGUMENT;
    for (std::size_t i = 0; i < qn_third_octave_band_count; ++i) {
        if (!qn_is_finite(levels[i])) return QN_STATUS_NON_FINITE_INPUT;
        // The low-frequency weights are tabulated up to 120 dB only.
        if (i <= 10 && levels[i] > 120.0) return QN_STATUS_INVALID_ARGUMENT;
    }

    double core[qn_core_band_count];
    qn_core_loudness(levels, field, core);
    for (double value : core) {
        if (!qn_is_finite(value)) return QN_STATUS_NUMERICAL_FAILURE;
    }
    double pattern[qn_bark_point_count];
    const double total = qn_specific_loudness(core, pattern);
    if (!qn_is_finite(total)) return QN_STATUS_NUMERICAL_FAILURE;

    *loudness = total;
    if (specific != nullptr) std::memcpy(specific, pattern, sizeof pattern);
    return QN_STATUS_SUCCESS;
}

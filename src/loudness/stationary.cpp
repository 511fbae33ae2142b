// Stationary loudness of a signal: filter-bank levels into the Zwicker core.
#include "base/axes.h"
#include "base/checks.h"
#include "loudness/filter_bank.h"
#include "loudness/loudness.h"

extern "C" QN_API qn_status qn_loudness_stationary(const double *samples, uint64_t sample_count,
                                                   int32_t sample_rate, qn_sound_field field,
                                                   double *loudness, double *specific,
                                                   uint64_t specific_capacity) {
    if (loudness == nullptr) return QN_STATUS_NULL_POINTER;
    if (!qn_check_sound_field(field)) return QN_STATUS_INVALID_SOUND_FIELD;
    if (specific == nullptr ? specific_capacity != 0 : specific_capacity < qn_bark_point_count)
        return QN_STATUS_OUTPUT_TOO_SMALL;
    if (qn_loudness_outputs_overlap(loudness, specific)) return QN_STATUS_INVALID_ARGUMENT;
    const qn_status signal = qn_check_signal(samples, sample_count, sample_rate);
    if (signal != QN_STATUS_SUCCESS) return signal;

    double levels[qn_third_octave_band_count];
    const qn_status filtered = qn_third_octave_levels(samples, sample_count, 0, levels);
    if (filtered != QN_STATUS_SUCCESS) return filtered;
    return qn_loudness_from_levels(levels, qn_third_octave_band_count, field, loudness, specific,
                                   specific_capacity);
}

// Loudness level in phon of a loudness in sone, after ISO 532-1.
#include <cmath>

#include "base/checks.h"
#include "quarnelo.h"

extern "C" QN_API qn_status qn_loudness_level(double loudness, double *phon) {
    if (phon == nullptr) return QN_STATUS_NULL_POINTER;
    if (!qn_is_finite(loudness)) return QN_STATUS_NON_FINITE_INPUT;
    if (loudness < 0) return QN_STATUS_INVALID_ARGUMENT;
    // Doubling the loudness adds 10 phon from 1 sone (40 phon) up; below,
    // the curve bends down to 2.8 phon at 0 sone. The two branches meet
    // 0.007 phon apart at 1 sone, where the upper one takes over.
    *phon = loudness >= 1.0 ? 40.0 + 33.22 * std::log10(loudness) : 40.0 * std::pow(loudness + 0.0005, 0.35);
    return QN_STATUS_SUCCESS;
}

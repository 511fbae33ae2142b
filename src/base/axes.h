// Sizes of the fixed axes.
#ifndef QN_BASE_AXES_H
#define QN_BASE_AXES_H

#include <cstddef>

#include "quarnelo.h"

inline constexpr std::size_t qn_third_octave_band_count = QN_THIRD_OCTAVE_BANDS;
inline constexpr std::size_t qn_bark_point_count = QN_BARK_POINTS;

#endif

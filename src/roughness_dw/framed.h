// The framed-analysis driver shared by the metrics that deliver one value
// per analysis frame: it validates, sizes the series, runs the metric's
// engine once over the whole signal and checks what comes back before the
// caller sees any of it.
#ifndef QN_ROUGHNESS_DW_FRAMED_H
#define QN_ROUGHNESS_DW_FRAMED_H

#include <cstdint>

#include "quarnelo.h"

inline constexpr int32_t qn_metric_roughness = 0;
inline constexpr int32_t qn_metric_tonality = 1;

// metric 0 selects roughness, any other value tonality.
qn_status qn_framed_analysis(const double *samples, uint64_t sample_count, int32_t sample_rate,
                             qn_sound_field field, int32_t metric, double *out, uint64_t capacity,
                             uint64_t *frame_count) noexcept;

#endif

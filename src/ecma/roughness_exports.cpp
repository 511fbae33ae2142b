// qn_ecma_roughness_frame_count and qn_roughness_ecma: the checks in their
// documented order, then the engine.
#include "ecma/roughness.h"
#include "ecma/exports_common.h"

namespace {

// Modulation spectra of 53 bands of 257 bins per block: the size the
// method's own layout would need is still bounded, so that every length
// accepted here could also be analysed that way.
constexpr uint64_t spectra_per_block = 53 * 257;  // 13621

uint64_t rough_frames(uint64_t n) { return qn_ecma_rough_frames(n); }

constexpr qn_ecma_geometry roughness_geometry = {qn_ecma_rough_min_samples, qn_ecma_rough_max_samples, 53,
                                                 rough_frames};

}  // namespace

extern "C" {

QN_API qn_status qn_ecma_roughness_frame_count(uint64_t sample_count, int32_t sample_rate, uint64_t *frame_count) {
    return qn_ecma_frame_count(roughness_geometry, sample_count, sample_rate, frame_count);
}

QN_API qn_status qn_roughness_ecma(const double *samples, uint64_t sample_count, int32_t sample_rate,
                                   qn_sound_field sound_field, double *out, uint64_t capacity,
                                   uint64_t *frame_count) {
    uint64_t frames = 0;
    const qn_status checked = qn_ecma_analysis_checks(roughness_geometry, sample_count, sample_rate, sound_field,
                                                      out, capacity, frame_count, &frames);
    if (checked != QN_STATUS_SUCCESS) return checked;
    uint64_t spectra = 0;
    if (!qn_mul_size(qn_ecma_rough_blocks(sample_count), spectra_per_block, &spectra) || spectra > qn_max_count)
        return QN_STATUS_SIZE_OVERFLOW;
    const qn_status arrays = qn_ecma_array_checks(roughness_geometry, samples, sample_count, out, frames, frame_count);
    if (arrays != QN_STATUS_SUCCESS) return arrays;
    return qn_ecma_rough_run(samples, sample_count, sound_field, out);
}

}  // extern "C"

// qn_ecma_roughness_frame_count and qn_roughness_ecma: the checks in their
// documented order, then the engine.
#include "ecma/roughness.h"
#include "frame/checks.h"

namespace {

// Modulation spectra of 53 bands of 257 bins per block: the size the
// method's own layout would need is still bounded, so that every length
// accepted here could also be analysed that way.
constexpr uint64_t spectra_per_block = 53 * 257;  // 13621

}  // namespace

extern "C" {

QN_API qn_status qn_ecma_roughness_frame_count(uint64_t sample_count, int32_t sample_rate, uint64_t *frame_count) {
    if (frame_count == nullptr) return QN_STATUS_NULL_POINTER;
    *frame_count = 0;
    if (sample_rate != QN_SAMPLE_RATE) return QN_STATUS_INVALID_SAMPLE_RATE;
    if (sample_count < qn_ecma_rough_min_samples) return QN_STATUS_INPUT_TOO_SHORT;
    if (sample_count > qn_ecma_rough_max_samples) return QN_STATUS_SIZE_OVERFLOW;
    *frame_count = qn_ecma_rough_frames(sample_count);
    return QN_STATUS_SUCCESS;
}

QN_API qn_status qn_roughness_ecma(const double *samples, uint64_t sample_count, int32_t sample_rate,
                                   qn_sound_field sound_field, double *out, uint64_t capacity,
                                   uint64_t *frame_count) {
    if (frame_count == nullptr) return QN_STATUS_NULL_POINTER;
    *frame_count = 0;
    if (sample_rate != QN_SAMPLE_RATE) return QN_STATUS_INVALID_SAMPLE_RATE;
    if (!qn_check_sound_field(sound_field)) return QN_STATUS_INVALID_SOUND_FIELD;
    if (out == nullptr) return QN_STATUS_NULL_POINTER;
    if (sample_count < qn_ecma_rough_min_samples) return QN_STATUS_INPUT_TOO_SHORT;
    if (sample_count > qn_ecma_rough_max_samples) return QN_STATUS_SIZE_OVERFLOW;
    const uint64_t frames = qn_ecma_rough_frames(sample_count);
    *frame_count = frames;
    if (capacity / 53 < frames) return QN_STATUS_OUTPUT_TOO_SMALL;
    uint64_t spectra = 0;
    if (!qn_mul_size(qn_ecma_rough_blocks(sample_count), spectra_per_block, &spectra) || spectra > qn_max_count)
        return QN_STATUS_SIZE_OVERFLOW;
    return qn_ecma_rough_run(samples, sample_count, sound_field, out);
}

}  // extern "C"

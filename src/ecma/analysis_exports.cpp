// qn_ecma_analysis and qn_ecma_analysis_with_fluctuation: several
// ECMA-418-2 metrics of one signal, the hearing model's front end run once
// for all of them. The checks in their documented order, then one model
// with a sink per engine.
#include "base/checks.h"
#include "ecma/fluctuation.h"
#include "ecma/frame_sink.h"
#include "ecma/model.h"
#include "ecma/roughness.h"
#include "ecma/tonality.h"

namespace {

// Array 4 of the tonal analysis, its total specific loudness.
constexpr uint64_t loudness_array = 4;

// The tonal engine's frames go to the tonality array, the loudness array,
// or both.
struct tonal_outputs {
    qn_ecma_planar_output tonality, loudness;
};

void put_tonal(void *context, const double *values) noexcept {
    tonal_outputs &o = *static_cast<tonal_outputs *>(context);
    if (o.tonality.out != nullptr) qn_ecma_planar_put(o.tonality, values);
    if (o.loudness.out != nullptr) qn_ecma_planar_put(o.loudness, values);
}

void put_planar(void *context, const double *values) noexcept {
    qn_ecma_planar_put(*static_cast<qn_ecma_planar_output *>(context), values);
}

// An optional output: null with capacity 0, or room for `need` doubles.
bool room_for(const double *out, uint64_t capacity, uint64_t need) {
    return out == nullptr ? capacity == 0 : capacity >= need;
}

}  // namespace

extern "C" {

QN_API qn_status qn_ecma_analysis_with_fluctuation(const double *samples, uint64_t sample_count,
                                                   int32_t sample_rate, qn_sound_field field, double *tonality,
                                                   uint64_t tonality_capacity, double *loudness,
                                                   uint64_t loudness_capacity, double *roughness,
                                                   uint64_t roughness_capacity, double *fluctuation,
                                                   uint64_t fluctuation_capacity) {
    if (sample_rate != QN_SAMPLE_RATE) return QN_STATUS_INVALID_SAMPLE_RATE;
    if (!qn_check_sound_field(field)) return QN_STATUS_INVALID_SOUND_FIELD;
    const bool tonal = tonality != nullptr || loudness != nullptr;
    const bool rough = roughness != nullptr;
    const bool fluct = fluctuation != nullptr;
    if (!tonal && !rough && !fluct) return QN_STATUS_INVALID_ARGUMENT;
    if ((tonal && sample_count < qn_ecma_tonal_min_samples) || (rough && sample_count < qn_ecma_rough_min_samples) ||
        (fluct && sample_count < qn_ecma_fluct_min_samples))
        return QN_STATUS_INPUT_TOO_SHORT;
    if ((tonal && sample_count > qn_ecma_tonal_max_samples) || (rough && sample_count > qn_ecma_rough_max_samples) ||
        (fluct && sample_count > qn_ecma_fluct_max_samples))
        return QN_STATUS_SIZE_OVERFLOW;
    // Below the longest signals these products stay below 2^60.
    const uint64_t tonal_frames = qn_ecma_tonal_frames(sample_count);
    const uint64_t rough_frames = qn_ecma_rough_frames(sample_count);
    const uint64_t fluct_frames = qn_ecma_fluct_frames(sample_count);
    const uint64_t tonality_size = tonal ? qn_ecma_tonal_values_per_frame * tonal_frames : 0;
    const uint64_t loudness_size = tonal ? 53 * tonal_frames : 0;
    const uint64_t roughness_size = rough ? 53 * rough_frames : 0;
    const uint64_t fluctuation_size = fluct ? 53 * fluct_frames : 0;
    if (!room_for(tonality, tonality_capacity, tonality_size) ||
        !room_for(loudness, loudness_capacity, loudness_size) ||
        !room_for(roughness, roughness_capacity, roughness_size) ||
        !room_for(fluctuation, fluctuation_capacity, fluctuation_size))
        return QN_STATUS_OUTPUT_TOO_SMALL;
    uint64_t spectra = 0;
    if (rough && (!qn_mul_size(qn_ecma_rough_blocks(sample_count), 53 * 257, &spectra) || spectra > qn_max_count))
        return QN_STATUS_SIZE_OVERFLOW;
    // The arrays are written as the analysis goes, so none may share memory
    // with the samples or another array.
    constexpr std::size_t arrays = 4;
    const struct {
        const double *at;
        uint64_t size;
    } written[arrays] = {{tonality, tonality_size},
                         {loudness, loudness_size},
                         {roughness, roughness_size},
                         {fluctuation, fluctuation_size}};
    for (std::size_t i = 0; i < arrays; ++i) {
        if (qn_overlaps(written[i].at, written[i].size, samples, sample_count)) return QN_STATUS_INVALID_ARGUMENT;
        for (std::size_t j = i + 1; j < arrays; ++j)
            if (qn_overlaps(written[i].at, written[i].size, written[j].at, written[j].size))
                return QN_STATUS_INVALID_ARGUMENT;
    }

    tonal_outputs t{{tonality, tonal_frames, 0, qn_ecma_tonal_arrays, 0},
                    {loudness, tonal_frames, loudness_array, 1, 0}};
    qn_ecma_planar_output r{roughness, rough_frames, 0, 1, 0};
    qn_ecma_planar_output f{fluctuation, fluct_frames, 0, 1, 0};
    const qn_ecma_frame_sink tonal_sink{put_tonal, &t};
    const qn_ecma_frame_sink rough_sink{put_planar, &r};
    const qn_ecma_frame_sink fluct_sink{put_planar, &f};
    return qn_ecma_model_run_whole(samples, sample_count,
                                   {field, qn_simd_best(), qn_ecma_rough_transforms::fast,
                                    tonal ? &tonal_sink : nullptr, rough ? &rough_sink : nullptr,
                                    qn_ecma_fluct_transforms::fast, fluct ? &fluct_sink : nullptr});
}

QN_API qn_status qn_ecma_analysis(const double *samples, uint64_t sample_count, int32_t sample_rate,
                                  qn_sound_field field, double *tonality, uint64_t tonality_capacity,
                                  double *loudness, uint64_t loudness_capacity, double *roughness,
                                  uint64_t roughness_capacity) {
    return qn_ecma_analysis_with_fluctuation(samples, sample_count, sample_rate, field, tonality, tonality_capacity,
                                             loudness, loudness_capacity, roughness, roughness_capacity, nullptr, 0);
}

}  // extern "C"

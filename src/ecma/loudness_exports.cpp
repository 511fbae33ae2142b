// qn_loudness_ecma: the tonal analysis of the signal, whose fifth array is
// the specific loudness, reduced by the loudness rules of aggregate.h. The
// analysis runs into a working copy of its five arrays, so that the
// caller's outputs are written only once everything has succeeded.
#include <cstring>
#include <iterator>

#include "base/alloc.h"
#include "base/checks.h"
#include "ecma/aggregate.h"
#include "ecma/tonality.h"

namespace {

constexpr uint64_t bands = qn_ecma_aggregate_bands;

// Where array a of the tonal analysis starts, for V frames.
constexpr uint64_t plane(uint64_t a, uint64_t frames) { return a * bands * frames; }
constexpr uint64_t specific_array = 4;
// The frequency array, which loudness does not use, holds the
// time-dependent loudness until it is copied out.
constexpr uint64_t series_array = 2;

bool optional_room(const double *out, uint64_t capacity, uint64_t needed) {
    return out == nullptr ? capacity == 0 : capacity >= needed;
}

}  // namespace

extern "C" {

QN_API qn_status qn_loudness_ecma(const double *samples, uint64_t sample_count, int32_t sample_rate,
                                  qn_sound_field field, double *loudness, uint64_t loudness_capacity,
                                  double *averaged, uint64_t averaged_capacity, double *value, double *specific,
                                  uint64_t specific_capacity, uint64_t *frame_count) {
    if (frame_count == nullptr) return QN_STATUS_NULL_POINTER;
    *frame_count = 0;
    if (sample_rate != QN_SAMPLE_RATE) return QN_STATUS_INVALID_SAMPLE_RATE;
    if (!qn_check_sound_field(field)) return QN_STATUS_INVALID_SOUND_FIELD;
    if (loudness == nullptr || value == nullptr) return QN_STATUS_NULL_POINTER;
    if (sample_count < qn_ecma_tonal_min_samples) return QN_STATUS_INPUT_TOO_SHORT;
    if (sample_count > qn_ecma_tonal_max_samples) return QN_STATUS_SIZE_OVERFLOW;
    // From here on the frame count keeps V. 265 V stays below 2^60 for
    // every length accepted, so no product below overflows.
    const uint64_t frames = qn_ecma_tonal_frames(sample_count);
    *frame_count = frames;
    const uint64_t values = bands * frames;
    if (loudness_capacity < frames || !optional_room(averaged, averaged_capacity, bands) ||
        !optional_room(specific, specific_capacity, values))
        return QN_STATUS_OUTPUT_TOO_SMALL;
    const struct {
        const void *at;
        uint64_t count;
    } outputs[] = {{loudness, frames}, {averaged, bands}, {value, 1}, {specific, values}};
    for (std::size_t i = 0; i < std::size(outputs); ++i) {
        if (qn_overlaps(outputs[i].at, outputs[i].count, samples, sample_count)) return QN_STATUS_INVALID_ARGUMENT;
        for (std::size_t j = i + 1; j < std::size(outputs); ++j)
            if (qn_overlaps(outputs[i].at, outputs[i].count, outputs[j].at, outputs[j].count))
                return QN_STATUS_INVALID_ARGUMENT;
    }
    const qn_status signal = qn_check_signal(samples, sample_count, sample_rate);
    if (signal != QN_STATUS_SUCCESS) return signal;

    qn_heap_array<double> work = qn_alloc_array<double>(plane(qn_ecma_tonal_arrays, frames));
    if (!work) return QN_STATUS_ALLOCATION_FAILED;
    const qn_status analysed = qn_ecma_tonal_run(samples, sample_count, field, work.get(), frames);
    if (analysed != QN_STATUS_SUCCESS) return analysed;

    const double *specific_loudness = work.get() + plane(specific_array, frames);
    qn_ecma_rule rule{};
    qn_ecma_rule_of(QN_ECMA_LOUDNESS, &rule);
    double *series = work.get() + plane(series_array, frames);
    double band_means[bands];
    double single = 0;
    if (!qn_ecma_reduce(rule, specific_loudness, frames, series, band_means, &single))
        return QN_STATUS_NUMERICAL_FAILURE;
    std::memcpy(loudness, series, frames * sizeof(double));
    if (averaged != nullptr) std::memcpy(averaged, band_means, sizeof band_means);
    *value = single;
    if (specific != nullptr) std::memcpy(specific, specific_loudness, values * sizeof(double));
    return QN_STATUS_SUCCESS;
}

}  // extern "C"

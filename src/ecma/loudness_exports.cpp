// qn_loudness_ecma: the hearing model's tonal analysis, whose fifth array
// is the specific loudness, reduced by the loudness rules of aggregate.h as
// its frames arrive. Each frame goes straight to the caller's arrays and
// into the running sums, so the working memory is the model's whatever the
// signal's length.
#include <cstring>
#include <iterator>

#include "base/checks.h"
#include "ecma/aggregate.h"
#include "ecma/model.h"
#include "ecma/tonality.h"

namespace {

constexpr uint64_t bands = qn_ecma_aggregate_bands;

// The specific loudness of a frame of the tonal analysis: its fifth array.
constexpr uint64_t specific_offset = 4 * bands;

bool optional_room(const double *out, uint64_t capacity, uint64_t needed) {
    return out == nullptr ? capacity == 0 : capacity >= needed;
}

// Where the frames go: N(l) and, when wanted, N'(l,z) into the caller's
// arrays, and N'(l,z) into the running sums.
struct loudness_sink {
    double *series;
    double *specific;  // may be null
    uint64_t frames;   // room in both
    qn_ecma_sums sums;
    uint64_t next;  // frames placed so far
    bool finite;    // every sum and value so far
};

void put_frame(void *context, const double *values) noexcept {
    loudness_sink &s = *static_cast<loudness_sink *>(context);
    if (s.next == s.frames) return;  // cannot happen: the model gives V frames
    const double *frame = values + specific_offset;
    s.series[s.next] = qn_ecma_frame_value(frame);
    if (s.specific != nullptr) std::memcpy(s.specific + bands * s.next, frame, bands * sizeof(double));
    ++s.next;
    if (s.finite) s.finite = qn_ecma_sums_add(&s.sums, frame, 1);
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

    loudness_sink sink{loudness, specific, frames, {}, 0, true};
    qn_ecma_rule rule{};
    qn_ecma_rule_of(QN_ECMA_LOUDNESS, &rule);
    qn_ecma_sums_start(&sink.sums, rule);
    const qn_ecma_frame_sink frames_to{put_frame, &sink};
    const qn_status analysed =
        qn_ecma_model_run_whole(samples, sample_count,
                                {field, qn_simd_best(), qn_ecma_rough_transforms::fast, &frames_to, nullptr,
                                 qn_ecma_fluct_transforms::fast, nullptr});
    if (analysed != QN_STATUS_SUCCESS) return analysed;
    if (!sink.finite || sink.next != frames) return QN_STATUS_NUMERICAL_FAILURE;
    double band_means[bands];
    double single = 0;
    qn_ecma_sums_result(sink.sums, band_means, &single);
    if (averaged != nullptr) std::memcpy(averaged, band_means, sizeof band_means);
    *value = single;
    return QN_STATUS_SUCCESS;
}

}  // extern "C"

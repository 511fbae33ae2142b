// The ECMA-418-2 stream: the hearing model on a caller-owned handle, fed a
// block at a time, with a queue per metric for the frames not yet read.
// The model holds the method's running state (fixed in size); the queues
// grow to hold what the caller leaves unread, and no further.
#include <cstring>

#include "base/alloc.h"
#include "base/checks.h"
#include "ecma/fluctuation.h"
#include "ecma/frame_sink.h"
#include "ecma/model.h"
#include "ecma/roughness.h"
#include "ecma/tonality.h"

namespace {

// Array 4 of the tonal analysis, its total specific loudness.
constexpr uint64_t loudness_offset = 4 * 53;

constexpr qn_ecma_metric known_metrics =
    QN_ECMA_TONALITY | QN_ECMA_LOUDNESS | QN_ECMA_ROUGHNESS | QN_ECMA_FLUCTUATION;

// Frames of `width` values in a ring that grows when room is asked for.
struct frame_queue {
    qn_heap_array<double> data;
    uint64_t width = 0;     // values per frame
    uint64_t capacity = 0;  // frames
    uint64_t first = 0;     // ring index of the oldest frame
    uint64_t count = 0;     // frames waiting
    uint64_t total = 0;     // frames ever queued
};

// Room for `more` frames beyond those waiting; false (queue unchanged) when
// memory is refused.
bool reserve(frame_queue &q, uint64_t more) {
    if (more <= q.capacity - q.count) return true;
    uint64_t capacity = q.count + more;
    if (capacity < 2 * q.capacity) capacity = 2 * q.capacity;
    uint64_t values = 0;
    if (!qn_mul_size(capacity, q.width, &values)) return false;
    qn_heap_array<double> data = qn_alloc_array<double>(values);
    if (data == nullptr) return false;
    for (uint64_t i = 0; i < q.count; ++i)
        std::memcpy(&data[i * q.width], &q.data[((q.first + i) % q.capacity) * q.width], q.width * sizeof(double));
    q.data = std::move(data);
    q.capacity = capacity;
    q.first = 0;
    return true;
}

void push(frame_queue &q, const double *values) {
    if (q.count == q.capacity) return;  // cannot happen: room is reserved first
    std::memcpy(&q.data[((q.first + q.count) % q.capacity) * q.width], values, q.width * sizeof(double));
    ++q.count;
    ++q.total;
}

void pop(frame_queue &q, double *out, uint64_t frames) {
    for (uint64_t i = 0; i < frames; ++i) {
        std::memcpy(out + i * q.width, &q.data[q.first * q.width], q.width * sizeof(double));
        q.first = (q.first + 1) % q.capacity;
    }
    q.count -= frames;
}

}  // namespace

struct qn_ecma_stream {
    qn_ecma_model *model = nullptr;
    qn_ecma_metric metrics = 0;
    frame_queue tonality, loudness, roughness, fluctuation;
    bool finished = false;
    bool failed = false;
    ~qn_ecma_stream() { qn_ecma_model_free(model); }
};

namespace {

bool has(const qn_ecma_stream &s, qn_ecma_metric metric) { return (s.metrics & metric) != 0; }
bool tonal(const qn_ecma_stream &s) { return has(s, QN_ECMA_TONALITY) || has(s, QN_ECMA_LOUDNESS); }
bool rough(const qn_ecma_stream &s) { return has(s, QN_ECMA_ROUGHNESS); }
bool fluct(const qn_ecma_stream &s) { return has(s, QN_ECMA_FLUCTUATION); }

void put_tonal(void *context, const double *values) noexcept {
    qn_ecma_stream &s = *static_cast<qn_ecma_stream *>(context);
    if (has(s, QN_ECMA_TONALITY)) push(s.tonality, values);
    if (has(s, QN_ECMA_LOUDNESS)) push(s.loudness, values + loudness_offset);
}

void put_roughness(void *context, const double *values) noexcept {
    push(static_cast<qn_ecma_stream *>(context)->roughness, values);
}

void put_fluctuation(void *context, const double *values) noexcept {
    push(static_cast<qn_ecma_stream *>(context)->fluctuation, values);
}

// The queue of one metric of the stream, or null when `metric` is not
// exactly one of them.
frame_queue qn_ecma_stream::*queue_of(const qn_ecma_stream &s, qn_ecma_metric metric) {
    if (!has(s, metric)) return nullptr;
    switch (metric) {
    case QN_ECMA_TONALITY: return &qn_ecma_stream::tonality;
    case QN_ECMA_LOUDNESS: return &qn_ecma_stream::loudness;
    case QN_ECMA_ROUGHNESS: return &qn_ecma_stream::roughness;
    case QN_ECMA_FLUCTUATION: return &qn_ecma_stream::fluctuation;
    default: return nullptr;
    }
}

// The frames of a metric that may be read: none before the signal has
// reached the metric's shortest length.
uint64_t readable(const qn_ecma_stream &s, const frame_queue &q) {
    const uint64_t shortest = &q == &s.roughness     ? qn_ecma_rough_min_samples
                              : &q == &s.fluctuation ? qn_ecma_fluct_min_samples
                                                     : qn_ecma_tonal_min_samples;
    return qn_ecma_model_samples(*s.model) >= shortest ? q.count : 0;
}

// Room in every queue for the frames the signal can complete by position
// `end` (or, with `last`, once it has ended there). On failure the queues
// that grew keep their new room, which changes nothing they hold.
bool make_room(qn_ecma_stream &s, uint64_t end, bool last) {
    if (tonal(s)) {
        const uint64_t frames = last ? qn_ecma_tonal_frames(end) : qn_ecma_tonal_frames_by(end);
        frame_queue &q = has(s, QN_ECMA_TONALITY) ? s.tonality : s.loudness;
        const uint64_t more = frames > q.total ? frames - q.total : 0;
        if (has(s, QN_ECMA_TONALITY) && !reserve(s.tonality, more)) return false;
        if (has(s, QN_ECMA_LOUDNESS) && !reserve(s.loudness, more)) return false;
    }
    if (rough(s)) {
        const uint64_t frames = last ? qn_ecma_rough_frames(end) : qn_ecma_rough_frames_by(end);
        const uint64_t more = frames > s.roughness.total ? frames - s.roughness.total : 0;
        if (!reserve(s.roughness, more)) return false;
    }
    if (fluct(s)) {
        const uint64_t frames = last ? qn_ecma_fluct_frames(end) : qn_ecma_fluct_frames_by(end);
        const uint64_t more = frames > s.fluctuation.total ? frames - s.fluctuation.total : 0;
        if (!reserve(s.fluctuation, more)) return false;
    }
    return true;
}

// A numerical failure spends the stream: its frames are dropped.
qn_status spent(qn_ecma_stream &s) {
    s.failed = true;
    s.tonality.count = s.loudness.count = s.roughness.count = s.fluctuation.count = 0;
    return QN_STATUS_NUMERICAL_FAILURE;
}

}  // namespace

extern "C" {

QN_API qn_status qn_ecma_stream_create(int32_t sample_rate, qn_sound_field field, qn_ecma_metric metrics,
                                       qn_ecma_stream **stream) {
    if (stream == nullptr) return QN_STATUS_NULL_POINTER;
    *stream = nullptr;
    if (sample_rate != QN_SAMPLE_RATE) return QN_STATUS_INVALID_SAMPLE_RATE;
    if (!qn_check_sound_field(field)) return QN_STATUS_INVALID_SOUND_FIELD;
    if (metrics == 0 || (metrics & ~known_metrics) != 0) return QN_STATUS_INVALID_ARGUMENT;
    qn_object_ptr<qn_ecma_stream> made = qn_make_object<qn_ecma_stream>();
    if (made == nullptr) return QN_STATUS_ALLOCATION_FAILED;
    qn_ecma_stream &s = *made;
    s.metrics = metrics;
    s.tonality.width = qn_ecma_tonal_values_per_frame;
    s.loudness.width = 53;
    s.roughness.width = 53;
    s.fluctuation.width = 53;
    const qn_ecma_frame_sink tonal_sink{put_tonal, &s};
    const qn_ecma_frame_sink rough_sink{put_roughness, &s};
    const qn_ecma_frame_sink fluct_sink{put_fluctuation, &s};
    const qn_status status = qn_ecma_model_make(
        {field, qn_simd_best(), qn_ecma_rough_transforms::fast, tonal(s) ? &tonal_sink : nullptr,
         rough(s) ? &rough_sink : nullptr, qn_ecma_fluct_transforms::fast, fluct(s) ? &fluct_sink : nullptr},
        &s.model);
    if (status != QN_STATUS_SUCCESS) return status;
    *stream = made.release();
    return QN_STATUS_SUCCESS;
}

QN_API void qn_ecma_stream_destroy(qn_ecma_stream *stream) { qn_free_object(stream); }

QN_API qn_status qn_ecma_stream_add(qn_ecma_stream *stream, const double *samples, uint64_t sample_count) {
    if (stream == nullptr) return QN_STATUS_NULL_POINTER;
    if (samples == nullptr && sample_count != 0) return QN_STATUS_NULL_POINTER;
    qn_ecma_stream &s = *stream;
    if (s.failed) return QN_STATUS_NUMERICAL_FAILURE;
    if (s.finished) return QN_STATUS_INVALID_ARGUMENT;
    const uint64_t added = qn_ecma_model_samples(*s.model);
    uint64_t longest = qn_max_count;
    if (tonal(s) && qn_ecma_tonal_max_samples < longest) longest = qn_ecma_tonal_max_samples;
    if (rough(s) && qn_ecma_rough_max_samples < longest) longest = qn_ecma_rough_max_samples;
    if (fluct(s) && qn_ecma_fluct_max_samples < longest) longest = qn_ecma_fluct_max_samples;
    if (sample_count > longest - added) return QN_STATUS_SIZE_OVERFLOW;
    for (uint64_t i = 0; i < sample_count; ++i)
        if (!qn_is_finite(samples[i])) return QN_STATUS_NON_FINITE_INPUT;
    if (sample_count == 0) return QN_STATUS_SUCCESS;
    if (!make_room(s, added + sample_count, false)) return QN_STATUS_ALLOCATION_FAILED;
    if (qn_ecma_model_add(s.model, samples, sample_count) != QN_STATUS_SUCCESS) return spent(s);
    return QN_STATUS_SUCCESS;
}

QN_API qn_status qn_ecma_stream_finish(qn_ecma_stream *stream) {
    if (stream == nullptr) return QN_STATUS_NULL_POINTER;
    qn_ecma_stream &s = *stream;
    if (s.failed) return QN_STATUS_NUMERICAL_FAILURE;
    if (s.finished) return QN_STATUS_SUCCESS;
    const uint64_t added = qn_ecma_model_samples(*s.model);
    if ((tonal(s) && added < qn_ecma_tonal_min_samples) || (rough(s) && added < qn_ecma_rough_min_samples) ||
        (fluct(s) && added < qn_ecma_fluct_min_samples))
        return QN_STATUS_INPUT_TOO_SHORT;
    if (!make_room(s, added, true)) return QN_STATUS_ALLOCATION_FAILED;
    if (qn_ecma_model_finish(s.model) != QN_STATUS_SUCCESS) return spent(s);
    s.finished = true;
    return QN_STATUS_SUCCESS;
}

QN_API qn_status qn_ecma_stream_frame_count(const qn_ecma_stream *stream, qn_ecma_metric metric,
                                            uint64_t *frame_count) {
    if (stream == nullptr || frame_count == nullptr) return QN_STATUS_NULL_POINTER;
    const qn_ecma_stream &s = *stream;
    const auto queue = queue_of(s, metric);
    if (queue == nullptr) return QN_STATUS_INVALID_ARGUMENT;
    if (s.failed) return QN_STATUS_NUMERICAL_FAILURE;
    *frame_count = readable(s, s.*queue);
    return QN_STATUS_SUCCESS;
}

QN_API qn_status qn_ecma_stream_read(qn_ecma_stream *stream, qn_ecma_metric metric, double *out, uint64_t capacity,
                                     uint64_t *frame_count) {
    if (stream == nullptr || frame_count == nullptr) return QN_STATUS_NULL_POINTER;
    if (qn_overlaps(out, capacity, frame_count, 1)) return QN_STATUS_INVALID_ARGUMENT;
    *frame_count = 0;
    qn_ecma_stream &s = *stream;
    const auto queue = queue_of(s, metric);
    if (queue == nullptr) return QN_STATUS_INVALID_ARGUMENT;
    if (out == nullptr && capacity != 0) return QN_STATUS_NULL_POINTER;
    if (s.failed) return QN_STATUS_NUMERICAL_FAILURE;
    frame_queue &q = s.*queue;
    const uint64_t waiting = readable(s, q);
    const uint64_t room = capacity / q.width;
    if (waiting > 0 && room == 0) return QN_STATUS_OUTPUT_TOO_SMALL;
    const uint64_t frames = waiting < room ? waiting : room;
    pop(q, out, frames);
    *frame_count = frames;
    return QN_STATUS_SUCCESS;
}

}  // extern "C"

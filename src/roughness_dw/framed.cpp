#include "roughness_dw/framed.h"

#include <cstring>

#include "frame/alloc.h"
#include "frame/checks.h"
#include "roughness_dw/dw_engine.h"

namespace {

// What the driver needs to know of a framed metric. Adding a metric is one
// entry here and one case in run_engine.
struct framed_metric {
    uint32_t length;   // samples per frame
    uint32_t hop;      // samples between frame starts
    bool sound_field;  // whether the metric takes a sound field
};

constexpr framed_metric roughness_metric = {9600, 4800, false};  // 200 ms frames, 100 ms apart
constexpr framed_metric tonality_metric = {12000, 6000, true};   // 250 ms frames, 125 ms apart

const framed_metric &metric_of(int32_t metric) { return metric == 0 ? roughness_metric : tonality_metric; }

constexpr uint64_t max_samples = 2147483647;  // the engines count samples in 32 bits

// Engine results: frames written, or a small negative code.
constexpr int32_t engine_allocation_failed = -2;
constexpr int32_t engine_tonality_allocation_failed = -6;

// The tests every framed call shares, in their order: rate, the 32-bit
// bound, the frame length; then the number of frames. The difference
// n - length fits 32 bits once n is within the bound.
qn_status frames_of(const framed_metric &m, uint64_t sample_count, int32_t sample_rate, uint64_t *count) {
    if (sample_rate != QN_SAMPLE_RATE) return QN_STATUS_INVALID_SAMPLE_RATE;
    if (sample_count > max_samples) return QN_STATUS_SIZE_OVERFLOW;
    if (sample_count < m.length) return QN_STATUS_INPUT_TOO_SHORT;
    *count = static_cast<uint32_t>(sample_count - m.length) / m.hop + 1;
    return QN_STATUS_SUCCESS;
}

int32_t run_engine(int32_t metric, const double *samples, int32_t n, qn_sound_field field, double *scratch,
                   int32_t *frames) {
    (void)field;
    if (metric == 0) return qn_roughness_dw_core(samples, n, scratch, frames, 48000.0);
    return -4;  // no tonality engine in this build: reported as a numerical failure
}

}  // namespace

qn_status qn_framed_analysis(const double *samples, uint64_t sample_count, int32_t sample_rate,
                             qn_sound_field field, int32_t metric, double *out, uint64_t capacity,
                             uint64_t *frame_count) noexcept {
    const framed_metric &m = metric_of(metric);
    if (samples == nullptr || out == nullptr || frame_count == nullptr) return QN_STATUS_NULL_POINTER;
    uint64_t count = 0;
    const qn_status geometry = frames_of(m, sample_count, sample_rate, &count);
    if (geometry != QN_STATUS_SUCCESS) return geometry;
    if (m.sound_field && !qn_check_sound_field(field)) return QN_STATUS_INVALID_SOUND_FIELD;
    if (count > capacity) {
        *frame_count = count;
        return QN_STATUS_OUTPUT_TOO_SMALL;
    }
    const qn_status signal = qn_check_signal(samples, sample_count, sample_rate);
    if (signal != QN_STATUS_SUCCESS) return signal;
    uint64_t bytes = 0;
    if (!qn_mul_size(count, sizeof(double), &bytes)) return QN_STATUS_SIZE_OVERFLOW;
    qn_heap_array<double> scratch = qn_alloc_array<double>(count);
    if (scratch == nullptr) return QN_STATUS_ALLOCATION_FAILED;

    int32_t frames = static_cast<int32_t>(count);
    const int32_t r = run_engine(metric, samples, static_cast<int32_t>(sample_count), field, scratch.get(), &frames);
    if (r == engine_allocation_failed) return QN_STATUS_ALLOCATION_FAILED;
    if (metric != 0 && r == engine_tonality_allocation_failed) return QN_STATUS_ALLOCATION_FAILED;
    if (r < 0 || static_cast<uint64_t>(r) != count || static_cast<uint64_t>(frames) != count)
        return QN_STATUS_NUMERICAL_FAILURE;
    for (uint64_t k = 0; k < count; ++k) {
        if (!qn_is_finite(scratch[k]) || scratch[k] < 0) return QN_STATUS_NUMERICAL_FAILURE;
    }
    std::memcpy(out, scratch.get(), static_cast<std::size_t>(count) * sizeof(double));
    *frame_count = count;
    return QN_STATUS_SUCCESS;
}

extern "C" {

QN_API qn_status qn_roughness_frame_count(uint64_t sample_count, int32_t sample_rate, uint64_t *frame_count) {
    if (frame_count == nullptr) return QN_STATUS_NULL_POINTER;
    return frames_of(roughness_metric, sample_count, sample_rate, frame_count);
}

QN_API qn_status qn_roughness_dw(const double *samples, uint64_t sample_count, int32_t sample_rate, double *out,
                                 uint64_t capacity, uint64_t *frame_count) {
    return qn_framed_analysis(samples, sample_count, sample_rate, QN_SOUND_FIELD_FREE, qn_metric_roughness, out,
                              capacity, frame_count);
}

}  // extern "C"

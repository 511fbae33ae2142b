// Time-varying loudness: the filter bank at the full rate with smoothed band
// powers, a loudness step every 24 samples (0.5 ms) with the nonlinear decay
// of core loudness and the temporal weighting of the total, and an output
// frame every 96 samples (2 ms).
#include <algorithm>
#include <cmath>
#include <cstring>

#include "base/alloc.h"
#include "base/axes.h"
#include "base/checks.h"
#include "loudness/filter_bank.h"
#include "loudness/loudness.h"
#include "loudness/loudness_time.h"

namespace {

constexpr uint64_t step_samples = qn_loudness_step_samples;
constexpr uint64_t frame_samples = qn_loudness_frame_samples;
constexpr int sub_steps = 24;  // decay and weighting run at the full rate

// Decay constants at 48 kHz: the release of the output state (15 ms), the
// slow rise of the second state (75 ms), and the coupling of the two
// (time constants 5, 15 and 75 ms).
constexpr double release_factor = 0.9986120751709083;
constexpr double slow_rise_factor = 0.9997222607988971;
constexpr double cross_uu = 0.9952889868502801;
constexpr double cross_uv = 0.0005541688716910173;
constexpr double cross_vu = 0.00027708443584550837;
constexpr double cross_vv = 0.9997223378238083;

// Temporal weighting of the total: a 70 ms and a 3.5 ms low-pass, mixed.
constexpr double slow_feedback = 0.9997024252365363, slow_input = 0.0002975747634637038;
constexpr double fast_feedback = 0.9940652993697221, fast_input = 0.0059347006302779;
constexpr double slow_mix = 0.53, fast_mix = 0.47;

// j / 24 for j = 1 ... 23, each the double nearest to the ratio.
struct ratio_table {
    double r[sub_steps];
};
constexpr ratio_table make_ratios() {
    ratio_table t{};
    for (int j = 0; j < sub_steps; ++j) t.r[j] = static_cast<double>(j) / 24.0;
    return t;
}
constexpr ratio_table ratios = make_ratios();

// The decay of all 21 core bands at once, several bands to a vector. Each
// lane selects among the results of the four cases exactly as the scalar
// step branches, so every band's states are those of qn_loudness_decay_step.
constexpr int decay_padded = qn_decay_lanes;

// The decay states of the running state, as the kernels address them.
struct decay_state {
    double *u;
    double *v;
    double *previous;
};

#define QN_PATH_KERNELS "loudness/decay_kernels.inc"
#include "base/each_path.inc"

void decay_advance(qn_simd path, const decay_state &d, const double *core, bool first, double *decayed) {
    switch (path) {
    case qn_simd::avx512: widest::decay_advance(d, core, first, decayed); break;
    case qn_simd::avx2: wide::decay_advance(d, core, first, decayed); break;
    default: plain::decay_advance(d, core, first, decayed); break;
    }
}

// The temporal weighting of the total: one filter step at the first loudness
// step, else 23 interpolated steps and one with the new total.
void weighting_advance(qn_loudness_time_state &s, double total, bool first) {
    const auto filter = [&s](double input) {
        s.slow = slow_feedback * s.slow + slow_input * input;
        s.fast = fast_feedback * s.fast + fast_input * input;
    };
    if (!first) {
        for (int j = 1; j < sub_steps; ++j) filter(s.previous_total + (total - s.previous_total) * ratios.r[j]);
    }
    filter(total);
    s.previous_total = total;
}

// The loudness step that closes at sample `last`: band levels, core
// loudness, decay, total (and the pattern at a frame), weighting. Writes
// the frame when `last` is a frame's sample. False on a numerical failure.
bool loudness_step(qn_loudness_time_state &s, uint64_t last, double *loudness, double *specific) {
    alignas(32) double core[decay_padded] = {};
    alignas(32) double decayed[decay_padded];
    double levels[qn_third_octave_band_count];
    double pattern[qn_bark_point_count];
    qn_levels_of_powers(s.bank.s[2], levels);
    qn_core_loudness(levels, s.field, core);
    for (int k = 0; k < qn_core_band_count; ++k) {
        if (!qn_is_finite(core[k])) return false;
    }
    const bool first = last == 0;
    decay_advance(s.path, {s.decay_u, s.decay_v, s.decay_previous}, core, first, decayed);

    const bool frame = last % frame_samples == 0;
    const bool with_pattern = frame && specific != nullptr;
    const double total = with_pattern ? qn_specific_loudness(decayed, pattern) : qn_total_loudness(decayed);
    weighting_advance(s, total, first);
    if (!qn_is_finite(total) || !qn_is_finite(s.fast) || !qn_is_finite(s.slow)) return false;
    if (frame) {
        *loudness = slow_mix * s.slow + fast_mix * s.fast;
        if (with_pattern) std::memcpy(specific, pattern, sizeof pattern);
    }
    return true;
}

}  // namespace

void qn_loudness_time_start(qn_loudness_time_state *state, qn_sound_field field, qn_simd path,
                            bool power_sums) noexcept {
    *state = qn_loudness_time_state{};
    qn_smoothed_bank_init(&state->bank);
    std::memset(state->decay_u, 0, sizeof state->decay_u);
    std::memset(state->decay_v, 0, sizeof state->decay_v);
    std::memset(state->decay_previous, 0, sizeof state->decay_previous);
    state->field = field;
    state->path = path;
    state->power_sums = power_sums;
}

uint64_t qn_loudness_time_next_frame(const qn_loudness_time_state &state) noexcept {
    return (state.samples + frame_samples - 1) / frame_samples;
}

uint64_t qn_loudness_time_frames_in(const qn_loudness_time_state &state, uint64_t count) noexcept {
    // Frames at samples 96 f with samples <= 96 f < samples + count.
    if (count == 0) return 0;
    const uint64_t end = state.samples + count;  // one past the last sample
    return (end - 1) / frame_samples + 1 - qn_loudness_time_next_frame(state);
}

bool qn_loudness_time_run(qn_loudness_time_state *state, const double *x, uint64_t count, double *loudness,
                          double *specific) noexcept {
    qn_loudness_time_state &s = *state;
    uint64_t done = 0;  // of this run's samples
    uint64_t frames = 0;
    while (done < count) {
        // Sample 0 closes the first step on its own; every later step closes
        // 24 samples, at the samples that are multiples of 24.
        const uint64_t to_step = s.samples == 0 ? 1 : step_samples - (s.samples - 1) % step_samples;
        const uint64_t len = std::min(to_step, count - done);
        if (!qn_smoothed_bank_run_with(s.path, &s.bank, x + done, static_cast<std::size_t>(len), s.power_sums))
            return false;
        done += len;
        s.samples += len;
        const uint64_t last = s.samples - 1;
        if (last % step_samples != 0) break;  // the run ends inside a step
        const bool frame = last % frame_samples == 0;
        if (!loudness_step(s, last, loudness + frames,
                           specific == nullptr ? nullptr : specific + frames * qn_bark_point_count))
            return false;
        if (frame) ++frames;
    }
    return true;
}

bool qn_loudness_time_compute(qn_simd path, const double *x, uint64_t count, qn_sound_field field,
                              uint64_t frames, double *loudness, double *specific) noexcept {
    qn_loudness_time_state state;
    qn_loudness_time_start(&state, field, path, false);
    if (qn_loudness_time_frames_in(state, count) != frames) return false;  // cannot happen
    return qn_loudness_time_run(&state, x, count, loudness, specific);
}

qn_status qn_loudness_time_geometry(uint64_t sample_count, int32_t sample_rate, uint64_t *frames) noexcept {
    if (sample_rate != QN_SAMPLE_RATE) return QN_STATUS_INVALID_SAMPLE_RATE;
    if (sample_count > qn_max_count) return QN_STATUS_SIZE_OVERFLOW;
    if (sample_count == 0) return QN_STATUS_INPUT_TOO_SHORT;
    *frames = (sample_count - 1) / frame_samples + 1;
    return QN_STATUS_SUCCESS;
}

double qn_loudness_decay_step(double *output, double *second, double input) noexcept {
    const double u = *output, v = *second, x = input;
    double un, vn;
    if (u > x) {
        if (u > v) {
            vn = cross_vu * u + cross_vv * v;
            un = cross_uu * u + cross_uv * v;
            un = std::max(un, x);
            vn = std::min(un, vn);
        } else {
            un = std::max(release_factor * u, x);
            vn = un;
        }
    } else if (x > v) {
        un = x;
        vn = x + (v - x) * slow_rise_factor;
    } else {
        un = x;
        vn = x;
    }
    *output = un;
    *second = vn;
    return un;
}

extern "C" {

QN_API qn_status qn_loudness_time_frame_count(uint64_t sample_count, int32_t sample_rate,
                                              uint64_t *frame_count) {
    if (frame_count == nullptr) return QN_STATUS_NULL_POINTER;
    return qn_loudness_time_geometry(sample_count, sample_rate, frame_count);
}

QN_API qn_status qn_loudness_time(const double *samples, uint64_t sample_count, int32_t sample_rate,
                                  qn_sound_field field, double *loudness, uint64_t loudness_capacity,
                                  double *specific, uint64_t specific_capacity,
                                  uint64_t *frame_count) {
    if (frame_count == nullptr) return QN_STATUS_NULL_POINTER;
    *frame_count = 0;
    uint64_t frames = 0;
    const qn_status geometry = qn_loudness_time_geometry(sample_count, sample_rate, &frames);
    if (geometry != QN_STATUS_SUCCESS) return geometry;
    if (!qn_check_sound_field(field)) return QN_STATUS_INVALID_SOUND_FIELD;
    if (loudness == nullptr || specific == nullptr) return QN_STATUS_NULL_POINTER;

    uint64_t specific_values = 0, block_values = 0, block_bytes = 0;
    if (!qn_mul_size(frames, qn_bark_point_count, &specific_values) ||
        !qn_mul_size(frames, qn_bark_point_count + 1, &block_values) ||
        !qn_mul_size(block_values, sizeof(double), &block_bytes) || block_values > qn_max_count)
        return QN_STATUS_SIZE_OVERFLOW;
    if (loudness_capacity < frames || specific_capacity < specific_values) {
        *frame_count = frames;
        return QN_STATUS_OUTPUT_TOO_SMALL;
    }
    if (samples == nullptr) return QN_STATUS_NULL_POINTER;
    // Below the safe peak the frames are written as they are computed,
    // ahead of samples not yet read; so no array may share memory with
    // another, the frame count included (it is written first and last).
    if (qn_any_overlap({{samples, sample_count}, {loudness, frames}, {specific, specific_values}, {frame_count, 1}}))
        return QN_STATUS_INVALID_ARGUMENT;
    double peak = 0;
    const qn_status signal = qn_check_signal(samples, sample_count, sample_rate, &peak);
    if (signal != QN_STATUS_SUCCESS) return signal;

    // Below the bound nothing can fail, so the frames go straight to the
    // caller; above it they wait in a block until the end, so that a failure
    // leaves the outputs as they were.
    if (peak <= qn_loudness_time_safe_peak) {
        if (!qn_loudness_time_compute(qn_simd_best(), samples, sample_count, field, frames, loudness, specific))
            return QN_STATUS_NUMERICAL_FAILURE;  // cannot happen below the bound
        *frame_count = frames;
        return QN_STATUS_SUCCESS;
    }
    // The loudness values, then the patterns, frame by frame.
    qn_heap_array<double> block = qn_alloc_array<double>(block_values);
    if (block == nullptr) return QN_STATUS_ALLOCATION_FAILED;
    if (!qn_loudness_time_compute(qn_simd_best(), samples, sample_count, field, frames, block.get(),
                                  block.get() + frames))
        return QN_STATUS_NUMERICAL_FAILURE;

    std::memcpy(loudness, block.get(), static_cast<std::size_t>(frames) * sizeof(double));
    std::memcpy(specific, block.get() + frames, static_cast<std::size_t>(specific_values) * sizeof(double));
    *frame_count = frames;
    return QN_STATUS_SUCCESS;
}

}  // extern "C"

// Band geometry, the loudness nonlinearity and the outer and middle ear
// filter of the ECMA-418-2 hearing model.
#include "ecma/front_end.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "base/alloc.h"
#include "base/checks.h"

using namespace qn_ecma;

double qn_ecma_band_centre_hz(uint64_t band) noexcept {
    return band_centre_factor * std::sinh(band_rate_factor * 0.5 * (static_cast<double>(band) + 1.0));
}

double qn_ecma_bandwidth_hz(uint64_t band) noexcept {
    return std::hypot(bandwidth_floor_hz, band_rate_factor * qn_ecma_band_centre_hz(band));
}

double qn_ecma_specific_loudness(uint64_t band, double pressure) noexcept {
    constexpr double refused = std::numeric_limits<double>::quiet_NaN();
    if (band >= static_cast<uint64_t>(band_count)) return refused;
    if (pressure < 0) return refused;
    if (!qn_is_finite(pressure)) return refused;
    double loudness = loudness_scale * (pressure / reference_pressure);
    for (int i = 0; i < knee_count; ++i)
        loudness *= std::pow(std::pow(pressure / knee_pressure[i], nonlinearity_power) + 1.0, knee_exponent[i]);
    loudness *= loudness_calibration;
    if (!qn_is_finite(loudness)) return refused;
    const double above = loudness - threshold[band];
    return above > 0 ? above : 0.0;
}

double qn_ecma_effective_pressure(const double *block, std::size_t count) noexcept {
    double sum = 0;
    for (std::size_t i = 0; i < count; ++i) {
        const double x = block[i] > 0 ? block[i] : 0.0;
        sum += x * x;
    }
    return std::sqrt(2.0 * sum / static_cast<double>(count));
}

// ---------------------------------------------------------------------------
// Outer and middle ear filter

namespace {

// Sections First ... 7 over `count` samples in place, from the states in
// `state`; each section in transposed direct form II.
template <int First>
void run_sections(qn_ecma_ear_state *state, double *out, std::size_t count) {
    constexpr int n = ear_section_count - First;
    double s1[n], s2[n];
    for (int s = 0; s < n; ++s) {
        s1[s] = state->s1[First + s];
        s2[s] = state->s2[First + s];
    }
    for (std::size_t j = 0; j < count; ++j) {
        double v = out[j];
#pragma GCC unroll 8
        for (int s = 0; s < n; ++s) {
            const ear_section &c = ear_sections[First + s];
            const double y = c.b0 * v + s1[s];
            s1[s] = (c.b1 * v - c.a1 * y) + s2[s];
            s2[s] = c.b2 * v - c.a2 * y;
            v = y;
        }
        out[j] = v;
    }
    for (int s = 0; s < n; ++s) {
        state->s1[First + s] = s1[s];
        state->s2[First + s] = s2[s];
    }
}

}  // namespace

void qn_ecma_ear_start(qn_ecma_ear_state *state, qn_sound_field field) noexcept {
    *state = qn_ecma_ear_state{};
    state->first_section = field == QN_SOUND_FIELD_DIFFUSE ? ear_first_diffuse_section : 0;
}

bool qn_ecma_ear_run(qn_ecma_ear_state *state, const double *x, std::size_t count, double *out) noexcept {
    const uint64_t start = state->samples;
    state->samples += count;
    for (std::size_t i = 0; i < count; ++i) {
        const uint64_t k = start + i;  // index into the signal
        if (x == nullptr) {
            out[i] = 0.0;
        } else if (k < fade_in_samples) {
            const double w = 0.5 - 0.5 * std::cos(M_PI * static_cast<double>(k) / static_cast<double>(fade_in_samples));
            out[i] = w * x[i];
        } else {
            out[i] = x[i];
        }
    }
    // Every section at each sample, in place: a section's recursion alone
    // is a chain of dependent operations that leaves the processor idle,
    // while the sections of one sample, and the next samples, overlap. Each
    // section does the same arithmetic whatever the cut of the signal. A
    // non-finite output of any section makes every later section's output
    // at that sample non-finite (no b0 is zero), so testing the last
    // section's outputs is testing them all.
    if (state->first_section == 0) run_sections<0>(state, out, count);
    else run_sections<ear_first_diffuse_section>(state, out, count);
    bool finite = true;
    for (std::size_t j = 0; j < count; ++j) finite = finite && qn_is_finite(out[j]);
    return finite;
}

qn_status qn_ecma_ear_stream_init(qn_ecma_ear_stream *stream, const double *signal, uint64_t count,
                                  uint64_t lead, uint64_t multiple, bool pad,
                                  qn_sound_field field) noexcept {
    const bool field_ok = qn_check_sound_field(field);
    if (multiple - 1 >= lead || lead < 2 || !field_ok) return QN_STATUS_INVALID_ARGUMENT;
    if (count < fade_in_samples) return QN_STATUS_INPUT_TOO_SHORT;
    uint64_t length = 0;
    if (__builtin_add_overflow(count, lead, &length)) return QN_STATUS_SIZE_OVERFLOW;
    if (pad) {
        const uint64_t rest = length % multiple;
        if (rest != 0 && __builtin_add_overflow(length, multiple - rest, &length)) return QN_STATUS_SIZE_OVERFLOW;
        if (__builtin_add_overflow(length, lead, &length)) return QN_STATUS_SIZE_OVERFLOW;
    }
    if (length > qn_max_count) return QN_STATUS_SIZE_OVERFLOW;
    const qn_status checked = qn_check_signal(signal, count, QN_SAMPLE_RATE);
    if (checked != QN_STATUS_SUCCESS) return checked;

    *stream = qn_ecma_ear_stream{};
    stream->signal = signal;
    stream->signal_count = count;
    stream->lead = lead;
    stream->length = length;
    stream->position = 0;
    qn_ecma_ear_start(&stream->filter, field);
    return QN_STATUS_SUCCESS;
}

bool qn_ecma_ear_stream_read(qn_ecma_ear_stream *stream, double *out, std::size_t count) noexcept {
    const uint64_t start = stream->position;
    stream->position += count;
    // The leading zeros are not filtered: the sections start from rest at
    // index `lead`.
    std::size_t i = 0;
    for (; i < count && start + i < stream->lead; ++i) out[i] = 0.0;
    // Then the signal, and zeros once it has ended.
    while (i < count) {
        const uint64_t k = start + i - stream->lead;  // index into the signal
        const uint64_t left = k < stream->signal_count ? stream->signal_count - k : 0;
        const std::size_t run = left > 0 ? static_cast<std::size_t>(std::min<uint64_t>(left, count - i)) : count - i;
        if (!qn_ecma_ear_run(&stream->filter, left > 0 ? stream->signal + k : nullptr, run, out + i)) return false;
        i += run;
    }
    return true;
}

qn_status qn_ecma_ear_filter(const double *signal, uint64_t count, uint64_t lead, uint64_t multiple,
                             bool pad, qn_sound_field field, double **buffer, uint64_t *length) noexcept {
    if (buffer == nullptr || length == nullptr) return QN_STATUS_NULL_POINTER;
    *buffer = nullptr;
    *length = 0;
    qn_ecma_ear_stream stream;
    const qn_status status = qn_ecma_ear_stream_init(&stream, signal, count, lead, multiple, pad, field);
    if (status != QN_STATUS_SUCCESS) return status;
    qn_heap_array<double> out = qn_alloc_array<double>(stream.length);
    if (out == nullptr) return QN_STATUS_ALLOCATION_FAILED;
    if (!qn_ecma_ear_stream_read(&stream, out.get(), static_cast<std::size_t>(stream.length)))
        return QN_STATUS_NUMERICAL_FAILURE;
    *length = stream.length;
    *buffer = out.release();
    return QN_STATUS_SUCCESS;
}

// The Aures tonality engine, entered once per analysis by the framed-
// analysis driver: one value per 250 ms frame every 125 ms.
#ifndef QN_TONALITY_AURES_ENGINE_H
#define QN_TONALITY_AURES_ENGINE_H

#include <cstddef>
#include <cstdint>

#include "quarnelo.h"

// The engine's results other than a frame count.
inline constexpr int32_t qn_aures_capacity_too_small = -1;  // fewer frames of room than frames
inline constexpr int32_t qn_aures_allocation_failed = -2;   // a scratch request or a transform failed
inline constexpr int32_t qn_aures_too_short = -3;           // fewer samples than one frame
inline constexpr int32_t qn_aures_invalid_rate = -4;        // a rate that is not 48000 Hz
inline constexpr int32_t qn_aures_invalid_argument = -5;    // no samples, a null pointer, a bad sound field
inline constexpr int32_t qn_aures_plan_failed = -6;         // the transform could not be planned
inline constexpr int32_t qn_aures_loudness_failed = -7;     // the loudness of a frame or residual failed
inline constexpr int32_t qn_aures_numerical_failure = -8;   // a level, detector or weighting gave no usable value

// Frame geometry at 48 kHz: 250 ms frames, 125 ms apart; 4 Hz bins.
inline constexpr int32_t qn_aures_frame_length = QN_TONALITY_AURES_FRAME_LENGTH;
inline constexpr int32_t qn_aures_hop = QN_TONALITY_AURES_HOP;
inline constexpr double qn_aures_sample_rate = 48000.0;

// Aures tonality of every frame of a signal of n samples (frame k covers
// samples 6000 k ... 6000 k + 11999). `frames` holds the capacity of `out`
// in frames on entry and the number of frames F on return (written as soon
// as it is known, before the capacity is compared). Returns F, or one of
// the codes above. Values written for earlier frames before a failure are
// not to be used.
int32_t qn_tonality_aures_core(const double *samples, int32_t n, uint32_t field, double *out, double fs,
                               int32_t *frames) noexcept;

// Flattens the lines of `count` components out of the spectrum Y (N complex
// values, interleaved): for each, in list order, the bins within
// width[i] / 2 of frequency[i] take the mean magnitude of the two bins just
// outside that range and keep their phase. Then Y is made Hermitian (bins
// N - s mirror bins s, the imaginary parts of bins 0 and N / 2 are 0), the
// spectrum of a real signal.
void qn_aures_flatten_tonal(double *Y, uint32_t N, const double *frequency, const double *width, int32_t count,
                            double fs) noexcept;

// Total loudness (sone) of a block of `count` samples: its third-octave
// levels with the filters' first 12.5 ms left out of the averages, then the
// Zwicker loudness in the given sound field. 0, or qn_aures_loudness_failed
// when either step refuses (notably a level above 120 dB in a band of
// 250 Hz or below).
int32_t qn_aures_frame_loudness(const double *block, int32_t count, qn_sound_field field, double *loudness,
                                double fs) noexcept;

// Bytes of working memory the engine obtains per call besides its FFT plan,
// whatever the length of the signal.
std::size_t qn_aures_scratch_bytes() noexcept;

#endif

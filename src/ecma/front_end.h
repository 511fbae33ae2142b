// The hearing model shared by the ECMA-418-2 metrics: the outer and middle
// ear filter, 53 auditory band-pass filters on the critical-band-rate scale,
// and the compressive nonlinearity that turns the effective pressure of a
// block of one band into specific loudness.
//
// Every filter exists in two forms with the same arithmetic in the same
// order, so they give the same bits:
//  - whole-buffer operations (qn_ecma_ear_filter, qn_ecma_auditory_filter),
//    which hold the whole filtered signal: simple, and the reference the
//    tests hold the chunked forms to;
//  - chunked, stateful forms (qn_ecma_ear_stream here, qn_ecma_band_bank in
//    band_bank.h), which carry the filter states from one chunk to the next
//    so that an analysis holds only the samples it still needs, whatever
//    the length of the signal.
#ifndef QN_ECMA_FRONT_END_H
#define QN_ECMA_FRONT_END_H

#include <cstddef>
#include <cstdint>

#include "ecma/ecma_tables.h"
#include "quarnelo.h"

// ---------------------------------------------------------------------------
// Bands and the nonlinearity

// Centre frequency of band b in Hz, 506.359... sinh(0.1618 0.5 (b + 1)).
// No checks: the formula is applied to any index.
double qn_ecma_band_centre_hz(uint64_t band) noexcept;

// Bandwidth of band b in Hz: hypot(81.9289, 0.1618 f_c(b)).
double qn_ecma_bandwidth_hz(uint64_t band) noexcept;

// Specific loudness in sone per Bark of an effective pressure p (Pa) in band
// b, less the band's threshold of hearing and never below 0. NaN when the
// band is 53 or above, p is negative or not finite (tested in that order),
// or the loudness before the threshold is not finite.
double qn_ecma_specific_loudness(uint64_t band, double pressure) noexcept;

// The effective pressure of a block of one band's auditory-filter output:
// sqrt(2 sum max(x_k, 0)^2 / count), the sum taken in sample order. The
// factor 2 makes the half-wave rectified block's power that of the whole
// wave. `count` must not be 0.
double qn_ecma_effective_pressure(const double *block, std::size_t count) noexcept;

// ---------------------------------------------------------------------------
// Outer and middle ear filter
//
// The buffer the auditory filters run on: `lead` zeros, the signal faded in
// over its first 240 samples, and, with padding, zeros up to a multiple of
// `multiple` followed by `lead` more zeros. The eight (free field) or six
// (diffuse field) sections run from rest at index `lead` to the end; the
// leading zeros stay zero. Tonality uses (lead, multiple, pad) = (8192,
// 2048, true), roughness (16384, 4096, false).

// The filter itself, run on over a signal that arrives in pieces: the
// fade-in and the sections' states carry from one piece to the next, so
// that any cut of the signal gives the same bits. The leading zeros are not
// its business: it starts at the first sample of the signal.
struct qn_ecma_ear_state {
    uint64_t samples;    // signal samples run so far (the fade-in's clock)
    int first_section;   // 0 (free field) or 2 (diffuse field)
    double s1[qn_ecma::ear_section_count];  // transposed direct form states
    double s2[qn_ecma::ear_section_count];
};

// The filter at rest for a valid sound field.
void qn_ecma_ear_start(qn_ecma_ear_state *state, qn_sound_field field) noexcept;

// Filters the next `count` samples of the signal into `out`; a null `x`
// stands for `count` zeros (the silence after a signal). `x` and `out` may
// be the same array. False when a filtered sample of this run is not
// finite; the state is then of no further use.
bool qn_ecma_ear_run(qn_ecma_ear_state *state, const double *x, std::size_t count, double *out) noexcept;

// The buffer read chunk by chunk: all it holds is the filter state and the
// place it has reached. It reads the caller's signal, which must outlive it.
struct qn_ecma_ear_stream {
    const double *signal;
    uint64_t signal_count;  // n
    uint64_t lead;          // leading zeros
    uint64_t length;        // samples in the whole buffer
    uint64_t position;      // index of the next sample read
    qn_ecma_ear_state filter;
};

// Checks and sizes a buffer without making it. In order: the sound-field
// check is evaluated, then QN_STATUS_INVALID_ARGUMENT when multiple - 1 >=
// lead (unsigned), lead < 2 or the sound field is invalid; count < 240
// QN_STATUS_INPUT_TOO_SHORT; a length that overflows or reaches 2^60
// QN_STATUS_SIZE_OVERFLOW; then the signal check at 48000 Hz (null signal,
// non-finite sample), whose status is returned unchanged. On success the
// stream stands at index 0 with the filters at rest.
qn_status qn_ecma_ear_stream_init(qn_ecma_ear_stream *stream, const double *signal, uint64_t count,
                                  uint64_t lead, uint64_t multiple, bool pad,
                                  qn_sound_field field) noexcept;

// Writes the next `count` samples of the buffer to `out` (count must not go
// beyond the length). False when a filtered sample of this read is not
// finite; the stream is then of no further use.
bool qn_ecma_ear_stream_read(qn_ecma_ear_stream *stream, double *out, std::size_t count) noexcept;

// The whole buffer at once. Checks, in order: buffer or length null
// QN_STATUS_NULL_POINTER (nothing written), then *buffer = null and
// *length = 0; the checks of qn_ecma_ear_stream_init; no memory
// QN_STATUS_ALLOCATION_FAILED; a non-finite filtered sample
// QN_STATUS_NUMERICAL_FAILURE. On success *buffer is a heap block of
// *length doubles that the caller releases with qn_free.
qn_status qn_ecma_ear_filter(const double *signal, uint64_t count, uint64_t lead, uint64_t multiple,
                             bool pad, qn_sound_field field, double **buffer,
                             uint64_t *length) noexcept;

// ---------------------------------------------------------------------------
// Auditory filters
//
// Band b is a fifth-order complex recursive filter with impulse response
// c n^4 d^n e^(i omega n) (omega the band centre, unit gain there), whose
// output is twice its real part. It runs in transposed direct form with five
// complex states:
//   y = s1
//   s_m <- (b_m x - a_m y) + s_(m+1)   for m = 1 ... 4
//   s_5 <- -(a_5 y)
// with complex products a y = (ar yr - ai yi, ar yi + ai yr) and b x =
// (br x, bi x), evaluated exactly in this order: the low bands' poles lie
// close to 1 and any other order moves their output in the seventh digit.

struct qn_ecma_filter_coefficients {
    double b_re[4], b_im[4];  // b_1 ... b_4 (there is no b_0)
    double a_re[5], a_im[5];  // a_1 ... a_5
};

// The coefficients of band b (0 ... 52; not checked).
qn_ecma_filter_coefficients qn_ecma_auditory_coefficients(uint64_t band) noexcept;

// Filters `count` samples of `input` with the filter of `band` from rest
// into `output` (same length). Checks: input or output null
// QN_STATUS_NULL_POINTER; band above 52 QN_STATUS_INVALID_ARGUMENT. Every
// output sample is tested; at the first that is not finite it stops with
// QN_STATUS_NUMERICAL_FAILURE (the samples before it stay written).
qn_status qn_ecma_auditory_filter(const double *input, uint64_t count, uint64_t band,
                                  double *output) noexcept;

#endif

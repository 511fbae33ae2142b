// A bank of auditory filters over a range of neighbouring bands, run over
// the ear-filtered buffer chunk by chunk with its states carried between
// chunks. Neighbouring bands share a vector (two lanes on any x86-64, four
// with AVX2, eight with AVX-512); every lane does exactly the arithmetic of
// qn_ecma_auditory_filter for its band, so the bank's output equals that of
// the whole-buffer filter bit for bit, whatever the path and however the
// buffer is cut into chunks.
#ifndef QN_ECMA_BAND_BANK_H
#define QN_ECMA_BAND_BANK_H

#include <cstddef>
#include <cstdint>

#include "ecma/ecma_tables.h"
#include "base/simd.h"

// Room for all 53 bands in whole vectors of four or eight.
inline constexpr int qn_ecma_bank_lanes = 56;

struct qn_ecma_band_bank {
    uint32_t first_band;
    uint32_t band_count;
    qn_simd path;
    // Lane j holds band first_band + j; lanes beyond band_count have zero
    // coefficients and stay at rest. The kernels load and store the lanes
    // unaligned, so the bank may live in any heap block.
    double b_re[4][qn_ecma_bank_lanes];
    double b_im[4][qn_ecma_bank_lanes];
    double a_re[5][qn_ecma_bank_lanes];
    double a_im[5][qn_ecma_bank_lanes];
    double s_re[5][qn_ecma_bank_lanes];
    double s_im[5][qn_ecma_bank_lanes];
};

// Sets up the filters of bands first_band ... first_band + band_count - 1
// at rest, on a vector path. False (nothing set) when the range is empty or
// goes beyond band 52, or the processor lacks the path.
bool qn_ecma_band_bank_init(qn_ecma_band_bank *bank, uint32_t first_band, uint32_t band_count,
                            qn_simd path = qn_simd_best()) noexcept;

// Filters the next `count` samples of the buffer: the output of band
// first_band + j goes to rows[j * stride + i], i < count. A stride that is
// not a multiple of 512 doubles keeps the rows out of each other's cache
// sets (a stride of 8192 makes the bank half as fast). False when any
// output of this run is not finite (all of them are written regardless).
// Since a non-finite output makes every later one non-finite, a caller that
// stops at the first false gets the status of a test after every sample.
bool qn_ecma_band_bank_run(qn_ecma_band_bank *bank, const double *input, std::size_t count, double *rows,
                           std::size_t stride) noexcept;

// The bands that share a vector on the bank's path: 2, 4 or 8.
int qn_ecma_band_bank_width(const qn_ecma_band_bank &bank) noexcept;

// As qn_ecma_band_bank_run for lanes first ... first + lanes - 1 only
// (bands first_band + first on, first a multiple of the width, the range
// within the bank): their outputs to their rows, rows[j * stride + i] for
// lane j as before, the other lanes' states and rows untouched. Running
// every vector's lanes in turn over the same samples is the run of the
// whole bank.
bool qn_ecma_band_bank_run_lanes(qn_ecma_band_bank *bank, const double *input, std::size_t count, double *rows,
                                 std::size_t stride, int first, int lanes) noexcept;

#endif

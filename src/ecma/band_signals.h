// The 53 band signals of the hearing model, made as the signal arrives and
// kept for as long as a metric may still read them: the ear filter and the
// auditory filters run once, whichever metrics read the bands.
//
// Positions are counted in samples from the first sample of the signal.
// Every metric frames its blocks by where they end, and a block may reach
// back before the signal: the band signals are zero there, which is what
// the filters at rest give for the leading zeros the method puts in front
// of the signal. After the signal (the tonal analysis pads its end) the
// filters run on over zeros and ring out.
//
// Each band keeps its last `span` samples in a ring: position p at index
// p mod span of the band's row. The rows start zeroed, so the positions
// before the signal read as zeros until the ring comes round to them.
#ifndef QN_ECMA_BAND_SIGNALS_H
#define QN_ECMA_BAND_SIGNALS_H

#include <cstddef>
#include <cstdint>

#include "base/alloc.h"
#include "base/simd.h"
#include "ecma/band_bank.h"
#include "ecma/front_end.h"
#include "quarnelo.h"

struct qn_ecma_band_signals {
    qn_ecma_ear_state ear;
    qn_ecma_band_bank bank;
    qn_heap_array<double> rows;     // 53 rows of `stride` doubles, the first `span` of each used
    qn_heap_array<double> filtered; // the ear filter's output of one piece
    uint64_t span;    // samples each band keeps
    uint64_t stride;  // doubles from one row to the next
    uint64_t end;     // samples filtered so far: positions 0 ... end - 1
};

// The bands at rest, keeping `span` samples each (a multiple of 256, the
// longest block any metric reads). False when memory is refused or the
// processor lacks the vector path.
bool qn_ecma_band_signals_init(qn_ecma_band_signals *bands, qn_sound_field field, uint64_t span,
                               qn_simd path) noexcept;

// Told as soon as a vector of neighbouring bands (first ... first + count
// - 1) holds its samples up to position `reached` (the end of a run), while
// the other bands may not yet: a reader takes those bands' newest samples
// while they are still in the cache. False stops the run (which then
// returns false).
struct qn_ecma_band_tap {
    bool (*bands_reached)(void *context, const qn_ecma_band_signals &bands, int first, int count,
                          uint64_t reached) noexcept;
    void *context;
};

// Filters the next `count` samples of the signal (null: that many zeros)
// into the rings. The caller makes sure no sample still to be read is
// overwritten, that is, that every block it will read ends at end + count
// or later. False when a filtered sample is not finite; the bands are then
// of no further use. With a tap, the run's last piece (up to 16384
// samples) is filtered a vector of bands at a time, each handed to the tap
// before the next is filtered.
bool qn_ecma_band_signals_run(qn_ecma_band_signals *bands, const double *x, uint64_t count,
                              const qn_ecma_band_tap *tap = nullptr) noexcept;

// Band b's row, and the index in it of the first sample of the block of
// `length` samples (at most the span) that ends at position `block_end`
// (at most end, and at least end - span + length). The block's samples
// follow from there, wrapping round to index 0 after index span - 1.
inline const double *qn_ecma_band_row(const qn_ecma_band_signals &bands, int band) noexcept {
    return bands.rows.get() + static_cast<std::size_t>(band) * bands.stride;
}
inline uint64_t qn_ecma_band_block_start(const qn_ecma_band_signals &bands, uint64_t block_end,
                                         uint64_t length) noexcept {
    return (block_end % bands.span + bands.span - length) % bands.span;
}

// The block as one run of samples: a pointer into the ring when it does not
// wrap, else a copy in `room` (length doubles).
const double *qn_ecma_band_block(const qn_ecma_band_signals &bands, int band, uint64_t block_end, uint64_t length,
                                 double *room) noexcept;

#endif

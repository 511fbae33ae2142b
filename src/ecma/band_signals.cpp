// The band signals of the hearing model: the ear filter and the 53 auditory
// filters run piece by piece into one ring per band.
#include "ecma/band_signals.h"

#include <algorithm>
#include <cstring>

namespace {

using qn_ecma::band_count;

// The ear filter's output is handed to the bank this many samples at a
// time: small enough to stay in the first-level cache.
constexpr uint64_t piece = 4096;

// Rows a cache line longer than the span, so that the bank's 53 output
// streams, written side by side, do not share cache sets.
constexpr uint64_t row_padding = 8;

}  // namespace

bool qn_ecma_band_signals_init(qn_ecma_band_signals *bands, qn_sound_field field, uint64_t span,
                               qn_simd path) noexcept {
    bands->span = span;
    bands->stride = span + row_padding;
    bands->end = 0;
    qn_ecma_ear_start(&bands->ear, field);
    if (!qn_ecma_band_bank_init(&bands->bank, 0, band_count, path)) return false;
    bands->rows = qn_alloc_array_zeroed<double>(band_count * bands->stride);
    bands->filtered = qn_alloc_array<double>(piece);
    return bands->rows != nullptr && bands->filtered != nullptr;
}

bool qn_ecma_band_signals_run(qn_ecma_band_signals *bands, const double *x, uint64_t count) noexcept {
    uint64_t done = 0;
    while (done < count) {
        // A piece never wraps round the rings.
        const uint64_t offset = bands->end % bands->span;
        const uint64_t n = std::min({count - done, piece, bands->span - offset});
        const std::size_t len = static_cast<std::size_t>(n);
        if (!qn_ecma_ear_run(&bands->ear, x == nullptr ? nullptr : x + done, len, bands->filtered.get()))
            return false;
        if (!qn_ecma_band_bank_run(&bands->bank, bands->filtered.get(), len,
                                   bands->rows.get() + static_cast<std::size_t>(offset),
                                   static_cast<std::size_t>(bands->stride)))
            return false;
        done += n;
        bands->end += n;
    }
    return true;
}

const double *qn_ecma_band_block(const qn_ecma_band_signals &bands, int band, uint64_t block_end, uint64_t length,
                                 double *room) noexcept {
    const double *row = qn_ecma_band_row(bands, band);
    const uint64_t start = qn_ecma_band_block_start(bands, block_end, length);
    if (start + length <= bands.span) return row + start;
    const uint64_t head = bands.span - start;
    std::memcpy(room, row + start, static_cast<std::size_t>(head) * sizeof(double));
    std::memcpy(room + head, row, static_cast<std::size_t>(length - head) * sizeof(double));
    return room;
}

// The band signals of the hearing model: the ear filter and the 53 auditory
// filters run piece by piece into one ring per band.
#include "ecma/band_signals.h"

#include <algorithm>
#include <cstring>

namespace {

using qn_ecma::band_count;

// The ear filter's output is handed to the bank this many samples at a
// time: a hop of the fluctuation engine, whose segments a tap then reads
// while the bank's rows of one vector of bands are still in the
// second-level cache (the 53 bands' rows of a hop are not).
constexpr uint64_t piece = 16384;

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

bool qn_ecma_band_signals_run(qn_ecma_band_signals *bands, const double *x, uint64_t count,
                              const qn_ecma_band_tap *tap) noexcept {
    uint64_t done = 0;
    while (done < count) {
        // A piece never wraps round the rings.
        const uint64_t offset = bands->end % bands->span;
        const uint64_t n = std::min({count - done, piece, bands->span - offset});
        const std::size_t len = static_cast<std::size_t>(n);
        if (!qn_ecma_ear_run(&bands->ear, x == nullptr ? nullptr : x + done, len, bands->filtered.get()))
            return false;
        double *rows = bands->rows.get() + static_cast<std::size_t>(offset);
        const std::size_t stride = static_cast<std::size_t>(bands->stride);
        if (tap == nullptr || done + n < count) {
            if (!qn_ecma_band_bank_run(&bands->bank, bands->filtered.get(), len, rows, stride)) return false;
        } else {
            const int width = qn_ecma_band_bank_width(bands->bank);
            for (int first = 0; first < band_count; first += width) {
                const int lanes = std::min(width, band_count - first);
                if (!qn_ecma_band_bank_run_lanes(&bands->bank, bands->filtered.get(), len, rows, stride, first,
                                                 lanes) ||
                    !tap->bands_reached(tap->context, *bands, first, lanes, bands->end + n))
                    return false;
            }
        }
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

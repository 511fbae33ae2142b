// The ECMA-418-2 fluctuation engine, in memory that does not grow with the
// signal. The band signals come in chunk by chunk (from the ear filter and
// the auditory filters run with their states carried along) into rings of
// 32768 samples per band. Whenever a segment of 16384 samples is complete,
// each band's segment is transformed into its share of the envelopes of
// the four blocks that hold it; the last block, placed flush with the
// signal's end, has segments of its own, read from the same rings. As soon
// as a block's four segments are in, its 53 envelopes are analysed and
// turned into the block's fluctuation values. The interpolation to frames
// needs only the neighbouring blocks, so each frame's band values are
// known as soon as the block two after its interval is; the exponent of a
// frame needs the spread over the bands of the 35 frames on either side,
// so frames are finished and written out 35 frames behind. (With the
// literal transforms the rings hold a whole block of 65536 samples, whose
// envelope is made from the block itself.)
#include <algorithm>
#include <cmath>
#include <memory>

#include "base/alloc.h"
#include "base/checks.h"
#include "ecma/band_bank.h"
#include "ecma/fluctuation.h"
#include "ecma/front_end.h"
#include "ecma/pchip.h"

namespace {

constexpr int bands = qn_ecma::band_count;
constexpr std::size_t block = qn_ecma_fluct_block;
constexpr std::size_t points = qn_ecma_fluct_points;
constexpr std::size_t segment = qn_ecma_fluct_segment;
constexpr std::size_t segment_points = qn_ecma_fluct_segment_points;
constexpr std::size_t fold_values = qn_ecma_fluct_fold_values;
constexpr int places = static_cast<int>(block / segment);  // segments in a block

// Each band's ring holds two segments (the last block's segments start
// anywhere), or a whole block for the literal transforms. Rows a cache
// line longer than the ring keep the bank's 53 output streams out of each
// other's cache sets.
constexpr std::size_t ring_span_fast = 2 * segment;
constexpr std::size_t ring_span_literal = block;
constexpr std::size_t ring_pad = 8;

// The loudness normalisation of a block's values and their floor.
constexpr double loudness_guard = 1e-12;
constexpr double power_guard = 1e-12;
constexpr double value_floor = 5.2519;

// Blocks whose values the interpolation holds: two on either side of the
// interval being finished.
constexpr int history = 4;

// The frame exponent: the spread of a frame's pattern over the bands
// (root mean square over mean), its running median over 71 frames, and
// the exponent's range; then calibration and smoothing (0.75 s at 50
// frames per second, the same up and down).
constexpr int median_reach = 35;
constexpr int pending = 2 * median_reach + 2;  // frames held: the median's window and one more
constexpr double spread_guard = 1e-12;
constexpr double spread_scale = 1.6407;
constexpr double spread_centre = 2.5804;
constexpr double exponent_range = 0.37106;
constexpr double exponent_floor = 0.58449;
constexpr double calibration = 0.003840572;
constexpr double smoothing_frames = 37.5;

}  // namespace

struct qn_ecma_fluct_engine {
    uint64_t n = 0, blocks = 0, frames = 0, length = 0;
    bool literal = false;
    bool flush = false;              // the last block is not on the hop grid
    std::size_t span = 0, stride = 0;  // ring samples per band, and row stride
    double *out = nullptr;
    double *ring = nullptr;
    double *folds = nullptr;     // [4][53][2050]: the last four segments' folds
    double *instants = nullptr;  // [4][53][512]: their samples at the envelope instants
    double *flush_fold = nullptr;      // [53][2050]: the last block's fold, summed
    double *flush_instants = nullptr;  // [53][2048]
    qn_ecma_fluct_envelope_work *envelopes = nullptr;
    qn_ecma_fluct_band_work *band_work = nullptr;
    uint64_t position = 0;        // buffer samples taken
    uint64_t next_block = 0;      // blocks analysed
    uint64_t next_frame = 0;      // frames interpolated
    uint64_t finished_frame = 0;  // frames written
    double smoothing = 0;         // exp(-1 / 37.5)
    double envelope[points];
    double block_fold[fold_values];
    double block_instants[points];
    double value[history][bands];  // fluctuation of each band by block index mod 4
    double weighted[bands], power[bands], loudness[bands];
    bool reached[bands];
    double frame_value[pending][bands];  // interpolated values by frame index mod `pending`
    double spread[pending];              // their spread over the bands
    double median_window[2 * median_reach + 1];
    double previous[bands];  // the last frame written
};

namespace {

double block_time(const qn_ecma_fluct_engine &e, uint64_t l) { return qn_ecma_fluct_block_time(l, e.blocks, e.n); }

double value_at(const qn_ecma_fluct_engine &e, uint64_t l, int band) { return e.value[l % history][band]; }

// The shape-preserving slope at block i.
double slope(const qn_ecma_fluct_engine &e, uint64_t i, int band) {
    return qn_ecma_pchip_slope(i, e.blocks, [&](uint64_t j) { return block_time(e, j); },
                               [&](uint64_t j) { return value_at(e, j, band); });
}

double *fold_of(const qn_ecma_fluct_engine &e, uint64_t segment_index, int band) {
    return e.folds + ((segment_index % places) * bands + static_cast<uint64_t>(band)) * fold_values;
}

double *instants_of(const qn_ecma_fluct_engine &e, uint64_t segment_index, int band) {
    return e.instants + ((segment_index % places) * bands + static_cast<uint64_t>(band)) * segment_points;
}

const double *row_of(const qn_ecma_fluct_engine &e, int band) {
    return e.ring + static_cast<std::size_t>(band) * e.stride;
}

// The folds of the segment that ends at buffer index `end`: one of the hop
// grid's (kept by its index), or, with `place` set, segment `place` of the
// last block (added to that block's fold).
bool fold_segment(qn_ecma_fluct_engine &e, uint64_t end, int place) {
    const uint64_t start = end - segment;
    const std::size_t mask = e.span - 1;
    for (int b = 0; b < bands; ++b) {
        if (place < 0) {
            const uint64_t index = start / segment;
            if (!qn_ecma_fluct_segment_fold(e.envelopes, row_of(e, b), mask, static_cast<std::size_t>(start & mask),
                                            fold_of(e, index, b), instants_of(e, index, b)))
                return false;
        } else {
            double *instants =
                e.flush_instants + static_cast<std::size_t>(b) * points + static_cast<std::size_t>(place) * segment_points;
            if (!qn_ecma_fluct_segment_fold(e.envelopes, row_of(e, b), mask, static_cast<std::size_t>(start & mask),
                                            e.block_fold, instants))
                return false;
            qn_ecma_fluct_fold_add(e.flush_fold + static_cast<std::size_t>(b) * fold_values, e.block_fold, place);
        }
    }
    return true;
}

// The envelope of band b in block l.
bool block_envelope(qn_ecma_fluct_engine &e, uint64_t l, int b) {
    const uint64_t start = qn_ecma_fluct_block_start(l, e.blocks, e.n);
    if (e.literal)
        return qn_ecma_fluct_envelope_literal(e.envelopes, row_of(e, b), e.span - 1,
                                              static_cast<std::size_t>(start & (e.span - 1)), e.envelope);
    if (e.flush && l + 1 == e.blocks)
        return qn_ecma_fluct_fold_envelope(e.envelopes, e.flush_fold + static_cast<std::size_t>(b) * fold_values,
                                           e.flush_instants + static_cast<std::size_t>(b) * points, e.envelope);
    const uint64_t first = start / segment;
    const double *folds[places];
    for (int q = 0; q < places; ++q) {
        const uint64_t index = first + static_cast<uint64_t>(q);
        folds[q] = fold_of(e, index, b);
        std::copy(instants_of(e, index, b), instants_of(e, index, b) + segment_points,
                  e.block_instants + static_cast<std::size_t>(q) * segment_points);
    }
    qn_ecma_fluct_fold_sum(e.block_fold, folds);
    return qn_ecma_fluct_fold_envelope(e.envelopes, e.block_fold, e.block_instants, e.envelope);
}

// The fluctuation values of block l, whose samples are all in.
bool analyse_block(qn_ecma_fluct_engine &e, uint64_t l) {
    double loudest = 0;
    for (int b = 0; b < bands; ++b) {
        if (!block_envelope(e, l, b)) return false;
        qn_ecma_fluct_band_result r;
        if (!qn_ecma_fluct_band(e.envelope, static_cast<uint64_t>(b), e.band_work, &r)) return false;
        e.reached[b] = r.reached;
        e.weighted[b] = r.weighted;
        e.power[b] = r.power;
        if (!r.reached) continue;
        // The loudness of the pressure the band's lines account for.
        const double loudness = qn_ecma_specific_loudness(static_cast<uint64_t>(b), std::sqrt(0.5 * r.power));
        if (!qn_is_finite(loudness)) return false;
        e.loudness[b] = loudness;
        loudest = std::max(loudest, loudness);
    }
    double *value = e.value[l % history];
    for (int b = 0; b < bands; ++b) {
        double v = 0;
        if (e.reached[b]) {
            v = e.loudness[b] * e.loudness[b] / (loudest + loudness_guard) * static_cast<double>(points) *
                e.weighted[b] / (e.power[b] + power_guard);
            if (!qn_is_finite(v)) return false;
            if (v < value_floor) v = 0;
        }
        value[b] = v;
    }
    return true;
}

// Frame k's exponent, calibration and smoothing, once the spreads of the
// frames up to k + 35 are known (or all frames are).
bool finish_frame(qn_ecma_fluct_engine &e, uint64_t k) {
    const uint64_t first = k >= median_reach ? k - median_reach : 0;
    const uint64_t last = std::min<uint64_t>(k + median_reach, e.next_frame - 1);
    const int count = static_cast<int>(last - first + 1);
    double *w = e.median_window;
    for (int i = 0; i < count; ++i) w[i] = e.spread[(first + static_cast<uint64_t>(i)) % pending];
    std::nth_element(w, w + count / 2, w + count);
    double median = w[count / 2];
    if (count % 2 == 0) median = 0.5 * (*std::max_element(w, w + count / 2) + median);
    const double exponent =
        exponent_range * (std::tanh(spread_scale * (median - spread_centre)) + 1) * 0.5 + exponent_floor;
    const double *row = e.frame_value[k % pending];
    double *out = e.out + k * bands;
    for (int b = 0; b < bands; ++b) {
        const double v = calibration * std::pow(row[b], exponent);
        const double value = k == 0 ? v : (1 - e.smoothing) * v + e.smoothing * e.previous[b];
        if (!qn_is_finite(value)) return false;
        out[b] = value;
        e.previous[b] = value;
    }
    return true;
}

// Interpolates interval l (blocks l and l + 1) at the frames from the next
// one up to instant t_(l+1), or to the last frame for the last interval,
// and finishes the frames whose median window is then complete.
bool finish_interval(qn_ecma_fluct_engine &e, uint64_t l) {
    const double t0 = block_time(e, l), t1 = block_time(e, l + 1), h = t1 - t0;
    const bool last = l + 2 == e.blocks;
    double slope0[bands], slope1[bands];
    for (int b = 0; b < bands; ++b) {
        slope0[b] = slope(e, l, b);
        slope1[b] = slope(e, l + 1, b);
    }
    while (e.next_frame < e.frames) {
        const uint64_t k = e.next_frame;
        const double t = qn_ecma_fluct_frame_time(k);
        if (!last && !(t <= t1)) break;
        const double s = (t - t0) / h;
        double *row = e.frame_value[k % pending];
        double sum = 0, squares = 0;
        for (int b = 0; b < bands; ++b) {
            double v = qn_ecma_pchip_value(s, h, value_at(e, l, b), value_at(e, l + 1, b), slope0[b], slope1[b]);
            if (v < 0) v = 0;  // a NaN stays for the finite test
            if (!qn_is_finite(v)) return false;
            row[b] = v;
            sum += v;
            squares += v * v;
        }
        e.spread[k % pending] = std::sqrt(squares / bands) / (sum / bands + spread_guard);
        ++e.next_frame;
        for (; e.finished_frame + median_reach < e.next_frame; ++e.finished_frame)
            if (!finish_frame(e, e.finished_frame)) return false;
    }
    return true;
}

// The buffer index where block l ends.
uint64_t block_end(const qn_ecma_fluct_engine &e, uint64_t l) {
    return qn_ecma_fluct_block_start(l, e.blocks, e.n) + block;
}

// The next buffer index where something is due: the end of a segment of
// the hop grid or of the last block's, or the end of the buffer.
uint64_t next_event(const qn_ecma_fluct_engine &e) {
    uint64_t next = std::min<uint64_t>((e.position / segment + 1) * segment, e.length);
    if (e.flush && e.position >= e.n) next = std::min(next, e.n + ((e.position - e.n) / segment + 1) * segment);
    return next;
}

// What is due at the current position.
qn_status handle_events(qn_ecma_fluct_engine &e) {
    const uint64_t p = e.position;
    if (!e.literal) {
        // The hop grid's segments; those within the leading zeros are zero.
        if (p % segment == 0 && p > qn_ecma_fluct_lead && !fold_segment(e, p, -1))
            return QN_STATUS_NUMERICAL_FAILURE;
        if (e.flush && p > e.n && (p - e.n) % segment == 0 &&
            !fold_segment(e, p, static_cast<int>((p - e.n) / segment) - 1))
            return QN_STATUS_NUMERICAL_FAILURE;
    }
    while (e.next_block < e.blocks && p == block_end(e, e.next_block)) {
        const uint64_t l = e.next_block++;
        if (!analyse_block(e, l)) return QN_STATUS_NUMERICAL_FAILURE;
        // Interval l - 2 has both its slopes now; the last block also
        // finishes the last interval and every frame left.
        if (l >= 2 && !finish_interval(e, l - 2)) return QN_STATUS_NUMERICAL_FAILURE;
        if (l + 1 == e.blocks) {
            if (!finish_interval(e, l - 1)) return QN_STATUS_NUMERICAL_FAILURE;
            for (; e.finished_frame < e.frames; ++e.finished_frame)
                if (!finish_frame(e, e.finished_frame)) return QN_STATUS_NUMERICAL_FAILURE;
        }
    }
    return QN_STATUS_SUCCESS;
}

}  // namespace

qn_status qn_ecma_fluct_engine_make(uint64_t n, double *out, qn_ecma_fluct_transforms transforms, qn_simd path,
                                    qn_ecma_fluct_engine **engine) noexcept {
    *engine = nullptr;
    struct engine_deleter {
        void operator()(qn_ecma_fluct_engine *e) const noexcept { qn_ecma_fluct_engine_free(e); }
    };
    std::unique_ptr<qn_ecma_fluct_engine, engine_deleter> e(qn_alloc_object<qn_ecma_fluct_engine>());
    if (!e) return QN_STATUS_ALLOCATION_FAILED;
    e->n = n;
    e->blocks = qn_ecma_fluct_blocks(n);
    e->frames = qn_ecma_fluct_frames(n);
    e->length = n + qn_ecma_fluct_lead;
    e->literal = transforms == qn_ecma_fluct_transforms::literal;
    e->flush = n % qn_ecma_fluct_block_hop != 0;
    e->span = e->literal ? ring_span_literal : ring_span_fast;
    e->stride = e->span + ring_pad;
    e->out = out;
    e->smoothing = std::exp(-1.0 / smoothing_frames);
    e->ring = qn_alloc_array<double>(bands * e->stride).release();
    e->envelopes = qn_ecma_fluct_envelope_make(transforms, path);
    e->band_work = qn_ecma_fluct_band_work_make(path);
    if (!e->ring || !e->envelopes || !e->band_work) return QN_STATUS_ALLOCATION_FAILED;
    if (!e->literal) {
        // The segments within the leading zeros are never transformed:
        // their folds and samples are zero.
        e->folds = qn_alloc_array_zeroed<double>(places * bands * fold_values).release();
        e->instants = qn_alloc_array_zeroed<double>(places * bands * segment_points).release();
        e->flush_fold = qn_alloc_array_zeroed<double>(bands * fold_values).release();
        e->flush_instants = qn_alloc_array_zeroed<double>(bands * points).release();
        if (!e->folds || !e->instants || !e->flush_fold || !e->flush_instants) return QN_STATUS_ALLOCATION_FAILED;
    }
    *engine = e.release();
    return QN_STATUS_SUCCESS;
}

void qn_ecma_fluct_engine_free(qn_ecma_fluct_engine *e) noexcept {
    if (e == nullptr) return;
    qn_free(e->ring);
    qn_free(e->folds);
    qn_free(e->instants);
    qn_free(e->flush_fold);
    qn_free(e->flush_instants);
    qn_ecma_fluct_envelope_free(e->envelopes);
    qn_ecma_fluct_band_work_free(e->band_work);
    qn_free_object(e);
}

double *qn_ecma_fluct_engine_slot(qn_ecma_fluct_engine *e, std::size_t *stride, std::size_t *room) noexcept {
    const std::size_t offset = static_cast<std::size_t>(e->position % e->span);
    *stride = e->stride;
    *room = static_cast<std::size_t>(std::min<uint64_t>(next_event(*e) - e->position, e->span - offset));
    return e->ring + offset;
}

qn_status qn_ecma_fluct_engine_commit(qn_ecma_fluct_engine *e, std::size_t count) noexcept {
    const uint64_t due = next_event(*e);
    e->position += count;
    return e->position == due ? handle_events(*e) : QN_STATUS_SUCCESS;
}

bool qn_ecma_fluct_engine_done(const qn_ecma_fluct_engine *e) noexcept {
    return e->position == e->length && e->finished_frame == e->frames;
}

qn_status qn_ecma_fluct_run(const double *samples, uint64_t n, qn_sound_field field, double *out, qn_simd path,
                            qn_ecma_fluct_transforms transforms) noexcept {
    qn_ecma_ear_stream ear;
    const qn_status checked =
        qn_ecma_ear_stream_init(&ear, samples, n, qn_ecma_fluct_lead, qn_ecma_fluct_block_hop, false, field);
    if (checked != QN_STATUS_SUCCESS) return checked;
    qn_ecma_band_bank bank;
    if (!qn_ecma_band_bank_init(&bank, 0, bands, path)) return QN_STATUS_INVALID_ARGUMENT;

    qn_ecma_fluct_engine *raw = nullptr;
    const qn_status made = qn_ecma_fluct_engine_make(n, out, transforms, path, &raw);
    if (made != QN_STATUS_SUCCESS) return made;
    struct engine_deleter {
        void operator()(qn_ecma_fluct_engine *e) const noexcept { qn_ecma_fluct_engine_free(e); }
    };
    std::unique_ptr<qn_ecma_fluct_engine, engine_deleter> engine(raw);
    // The ear filter is read this many samples at a time.
    constexpr std::size_t chunk = 8192;
    qn_heap_array<double> chunk_buffer = qn_alloc_array<double>(chunk);
    if (!chunk_buffer) return QN_STATUS_ALLOCATION_FAILED;

    while (engine->position < engine->length) {
        std::size_t stride = 0, room = 0;
        double *rows = qn_ecma_fluct_engine_slot(engine.get(), &stride, &room);
        const std::size_t count = std::min(room, chunk);
        if (!qn_ecma_ear_stream_read(&ear, chunk_buffer.get(), count)) return QN_STATUS_NUMERICAL_FAILURE;
        if (!qn_ecma_band_bank_run(&bank, chunk_buffer.get(), count, rows, stride)) return QN_STATUS_NUMERICAL_FAILURE;
        const qn_status status = qn_ecma_fluct_engine_commit(engine.get(), count);
        if (status != QN_STATUS_SUCCESS) return status;
    }
    return qn_ecma_fluct_engine_done(engine.get()) ? QN_STATUS_SUCCESS : QN_STATUS_NUMERICAL_FAILURE;
}

// The ECMA-418-2 fluctuation engine, in memory that does not grow with the
// signal. It reads the hearing model's band signals (band_signals.h), whose
// rings keep the last 65536 samples of each band. Whenever a segment of
// 16384 samples is complete, each band's segment is transformed into its
// share of the envelopes of the four blocks that hold it; the last block,
// placed flush with the signal's end, is read from the rings when the end
// is known. As soon as a block's four segments are in, its 53 envelopes are
// analysed and turned into the block's fluctuation values. The
// interpolation to frames needs only the neighbouring blocks, so each
// frame's band values are known as soon as the block two after its
// interval is; the exponent of a frame needs the spread over the bands of
// the 35 frames on either side, so frames are finished and handed on 35
// frames behind. (With the literal transforms each block's envelope is
// made from the block itself, read whole from the rings.)
//
// Blocks are placed in the buffer of the method, 65536 zeros followed by the
// signal: buffer index p is signal position p - 65536, and the band signals
// read as zeros before the signal.
#include <algorithm>
#include <cmath>
#include <memory>

#include "base/alloc.h"
#include "base/checks.h"
#include "ecma/band_signals.h"
#include "ecma/fluctuation.h"
#include "ecma/frame_sink.h"
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

constexpr uint64_t lead = qn_ecma_fluct_lead;
constexpr uint64_t unknown = UINT64_MAX;  // n and the blocks before the signal's end

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
    uint64_t n = unknown, blocks = unknown, frames = unknown;  // known at the signal's end
    bool literal = false;
    bool flush = false;  // the last block is not on the hop grid
    qn_ecma_frame_sink sink{};
    double *folds = nullptr;     // [4][53][2050]: the last four segments' folds
    double *instants = nullptr;  // [4][53][512]: their samples at the envelope instants
    double *flush_fold = nullptr;      // [53][2050]: the last block's fold, summed
    double *flush_instants = nullptr;  // [53][2048]
    qn_ecma_fluct_envelope_work *envelopes = nullptr;
    qn_ecma_fluct_band_work *band_work = nullptr;
    const qn_ecma_band_signals *signals = nullptr;  // during a call of advance or finish
    uint64_t next_point = 0;      // the hop grid's points taken: block l ends at 16384 l
    int tapped = 0;               // bands whose segment ending at next_point is folded
    uint64_t next_block = 0;      // blocks analysed
    uint64_t next_frame = 0;      // frames interpolated
    uint64_t finished_frame = 0;  // frames handed on
    double smoothing = 0;         // exp(-1 / 37.5)
    double envelope[2][points];  // two bands' envelopes of a block
    double block_fold[fold_values];
    double block_instants[points];
    double value[history][bands];  // fluctuation of each band by block index mod 4
    double weighted[bands], power[bands], loudness[bands];
    bool reached[bands];
    double frame_value[pending][bands];  // interpolated values by frame index mod `pending`
    double spread[pending];              // their spread over the bands
    double median_window[2 * median_reach + 1];
    double previous[bands];  // the last frame handed on
    double row[bands];       // the frame being handed on
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

// The ring index of buffer index p (at least the lead less the span, so
// that positions before the signal fall on the rings' zeros).
std::size_t ring_index(const qn_ecma_band_signals &signals, uint64_t p) {
    return static_cast<std::size_t>((p + signals.span - lead) & (signals.span - 1));
}

// The folds of bands first ... last - 1 in the segment that ends at buffer
// index `end`: one of the hop grid's (kept by its index), or, with `place`
// set, segment `place` of the last block (added to that block's fold).
bool fold_segment(qn_ecma_fluct_engine &e, const qn_ecma_band_signals &signals, uint64_t end, int place,
                  int first = 0, int last = bands) {
    const uint64_t start = end - segment;
    const std::size_t mask = static_cast<std::size_t>(signals.span - 1);
    const std::size_t at = ring_index(signals, start);
    for (int b = first; b < last; ++b) {
        const double *row = qn_ecma_band_row(signals, b);
        if (place < 0) {
            const uint64_t index = start / segment;
            if (!qn_ecma_fluct_segment_fold(e.envelopes, row, mask, at, fold_of(e, index, b), instants_of(e, index, b)))
                return false;
        } else {
            double *instants =
                e.flush_instants + static_cast<std::size_t>(b) * points + static_cast<std::size_t>(place) * segment_points;
            if (!qn_ecma_fluct_segment_fold(e.envelopes, row, mask, at, e.block_fold, instants)) return false;
            qn_ecma_fluct_fold_add(e.flush_fold + static_cast<std::size_t>(b) * fold_values, e.block_fold, place);
        }
    }
    return true;
}

// The envelope of band b in block l.
bool block_envelope(qn_ecma_fluct_engine &e, uint64_t l, int b, double *envelope) {
    const uint64_t start = qn_ecma_fluct_block_start(l, e.blocks, e.n);
    if (e.literal)
        return qn_ecma_fluct_envelope_literal(e.envelopes, qn_ecma_band_row(*e.signals, b),
                                              static_cast<std::size_t>(e.signals->span - 1),
                                              ring_index(*e.signals, start), envelope);
    if (e.flush && l + 1 == e.blocks)
        return qn_ecma_fluct_fold_envelope(e.envelopes, e.flush_fold + static_cast<std::size_t>(b) * fold_values,
                                           e.flush_instants + static_cast<std::size_t>(b) * points, envelope);
    const uint64_t first = start / segment;
    const double *folds[places];
    for (int q = 0; q < places; ++q) {
        const uint64_t index = first + static_cast<uint64_t>(q);
        folds[q] = fold_of(e, index, b);
        std::copy(instants_of(e, index, b), instants_of(e, index, b) + segment_points,
                  e.block_instants + static_cast<std::size_t>(q) * segment_points);
    }
    // The next band's folds follow this band's in every place.
    qn_ecma_fluct_fold_sum(e.block_fold, folds, b + 1 < bands ? fold_values : 0);
    return qn_ecma_fluct_fold_envelope(e.envelopes, e.block_fold, e.block_instants, envelope);
}

// The fluctuation values of block l, whose samples are all in.
bool analyse_block(qn_ecma_fluct_engine &e, uint64_t l) {
    double loudest = 0;
    // Two bands at a time, whose analyses run partly side by side.
    for (int first = 0; first < bands; first += 2) {
        const int count = std::min(2, bands - first);
        const double *envelopes[2] = {e.envelope[0], e.envelope[1]};
        uint64_t which[2];
        qn_ecma_fluct_band_result results[2];
        for (int j = 0; j < count; ++j) {
            if (!block_envelope(e, l, first + j, e.envelope[j])) return false;
            which[j] = static_cast<uint64_t>(first + j);
        }
        if (!qn_ecma_fluct_bands(envelopes, which, count, e.band_work, results)) return false;
        for (int j = 0; j < count; ++j) {
            const int b = first + j;
            const qn_ecma_fluct_band_result &r = results[j];
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
    ++e.next_block;
    return true;
}

// Frame k's exponent, calibration and smoothing, once the spreads of the
// frames up to k + 35 are known (or all frames are); the frame goes to the
// sink.
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
    const double *values = e.frame_value[k % pending];
    for (int b = 0; b < bands; ++b) {
        const double v = calibration * std::pow(values[b], exponent);
        const double value = k == 0 ? v : (1 - e.smoothing) * v + e.smoothing * e.previous[b];
        if (!qn_is_finite(value)) return false;
        e.row[b] = value;
        e.previous[b] = value;
    }
    e.sink.put(e.sink.context, e.row);
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

// Takes the hop grid's point j (signal position 16384 j, buffer index
// 16384 j + 65536): the segment that ends there (none within the leading
// zeros, whose folds are zero), the block that ends there, and the interval
// whose slopes are then known.
bool take_point(qn_ecma_fluct_engine &e, uint64_t j) {
    const uint64_t end = segment * j + lead;
    // The bands the tap has not folded.
    if (!e.literal && j > 0 && !fold_segment(e, *e.signals, end, -1, e.tapped)) return false;
    e.tapped = 0;
    if (!analyse_block(e, j)) return false;
    return j < 2 || finish_interval(e, j - 2);
}

struct signals_in_use {
    qn_ecma_fluct_engine &e;
    signals_in_use(qn_ecma_fluct_engine &engine, const qn_ecma_band_signals &signals) : e(engine) {
        e.signals = &signals;
    }
    ~signals_in_use() { e.signals = nullptr; }
};

}  // namespace

qn_ecma_fluct_engine *qn_ecma_fluct_engine_make(qn_ecma_fluct_transforms transforms, qn_simd path,
                                                const qn_ecma_frame_sink &sink) noexcept {
    struct engine_deleter {
        void operator()(qn_ecma_fluct_engine *e) const noexcept { qn_ecma_fluct_engine_free(e); }
    };
    std::unique_ptr<qn_ecma_fluct_engine, engine_deleter> e(qn_alloc_object<qn_ecma_fluct_engine>());
    if (!e) return nullptr;
    e->literal = transforms == qn_ecma_fluct_transforms::literal;
    e->sink = sink;
    e->smoothing = std::exp(-1.0 / smoothing_frames);
    e->envelopes = qn_ecma_fluct_envelope_make(transforms, path);
    e->band_work = qn_ecma_fluct_band_work_make(path);
    if (!e->envelopes || !e->band_work) return nullptr;
    if (!e->literal) {
        // The segments within the leading zeros are never transformed:
        // their folds and samples are zero.
        e->folds = qn_alloc_array_zeroed<double>(places * bands * fold_values).release();
        e->instants = qn_alloc_array_zeroed<double>(places * bands * segment_points).release();
        e->flush_fold = qn_alloc_array_zeroed<double>(bands * fold_values).release();
        e->flush_instants = qn_alloc_array_zeroed<double>(bands * points).release();
        if (!e->folds || !e->instants || !e->flush_fold || !e->flush_instants) return nullptr;
    }
    return e.release();
}

void qn_ecma_fluct_engine_free(qn_ecma_fluct_engine *e) noexcept {
    if (e == nullptr) return;
    qn_free(e->folds);
    qn_free(e->instants);
    qn_free(e->flush_fold);
    qn_free(e->flush_instants);
    qn_ecma_fluct_envelope_free(e->envelopes);
    qn_ecma_fluct_band_work_free(e->band_work);
    qn_free_object(e);
}

uint64_t qn_ecma_fluct_next_block_end(const qn_ecma_fluct_engine &e) noexcept {
    return e.n == unknown ? segment * e.next_point : UINT64_MAX;
}

qn_status qn_ecma_fluct_advance(qn_ecma_fluct_engine *e, const qn_ecma_band_signals &signals) noexcept {
    const signals_in_use in_use(*e, signals);
    // A block that ends exactly at the signal's end is the last one, with
    // the last block's samples and instant: taking it here changes nothing.
    while (e->n == unknown && segment * e->next_point <= signals.end) {
        if (!take_point(*e, e->next_point)) return QN_STATUS_NUMERICAL_FAILURE;
        ++e->next_point;
    }
    return QN_STATUS_SUCCESS;
}

qn_status qn_ecma_fluct_finish(qn_ecma_fluct_engine *e, const qn_ecma_band_signals &signals) noexcept {
    const signals_in_use in_use(*e, signals);
    const uint64_t n = signals.end;
    e->n = n;
    e->blocks = qn_ecma_fluct_blocks(n);
    e->frames = qn_ecma_fluct_frames(n);
    e->flush = n % qn_ecma_fluct_block_hop != 0;
    const uint64_t last = e->blocks - 1;
    if (e->next_block == last) {
        // The last block, the last 65536 samples of the buffer, which the
        // rings hold now; it was taken as the signal went when the signal
        // ended on the hop grid.
        if (!e->literal)
            for (int q = 0; q < places; ++q)
                if (!fold_segment(*e, signals, n + segment * static_cast<uint64_t>(q + 1), q))
                    return QN_STATUS_NUMERICAL_FAILURE;
        if (!analyse_block(*e, last) || !finish_interval(*e, last - 2)) return QN_STATUS_NUMERICAL_FAILURE;
    }
    // The last interval runs to the last frame, and every frame left is
    // finished.
    if (e->next_block != e->blocks || !finish_interval(*e, last - 1)) return QN_STATUS_NUMERICAL_FAILURE;
    for (; e->finished_frame < e->frames; ++e->finished_frame)
        if (!finish_frame(*e, e->finished_frame)) return QN_STATUS_NUMERICAL_FAILURE;
    return QN_STATUS_SUCCESS;
}

uint64_t qn_ecma_fluct_frames_done(const qn_ecma_fluct_engine &e) noexcept { return e.finished_frame; }

bool qn_ecma_fluct_tap(void *context, const qn_ecma_band_signals &signals, int first, int count,
                       uint64_t reached) noexcept {
    qn_ecma_fluct_engine &e = *static_cast<qn_ecma_fluct_engine *>(context);
    // Only the segment that ends at the next point of the hop grid, its
    // bands in order.
    if (e.literal || e.n != unknown || e.next_point == 0 || reached != segment * e.next_point || first != e.tapped)
        return true;
    if (!fold_segment(e, signals, segment * e.next_point + lead, -1, first, first + count)) return false;
    e.tapped = first + count;
    return true;
}

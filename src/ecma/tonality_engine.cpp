// The tonality engine, in memory that does not grow with the signal.
//
// The band signals (band_signals.h) arrive a piece at a time; each band
// keeps the last 8192 samples it produced, enough for the longest block.
// Each group takes its blocks as soon as they are complete, computes their
// autocorrelations, averages them over neighbouring bands, and keeps the
// averages of the last three blocks (the low bands also average over three
// consecutive blocks). A block's tonal and total loudness and tonal
// frequency feed the frames up to it; the frame series are recursive in
// time and carry their state from frame to frame. The groups reach a frame
// at different times, so the frames wait in a short queue until every
// group has given its bands; then the frame's specific tonality and total
// loudness are made from all 53 bands and the frame goes to the sink.
//
// Every value is computed with the arithmetic, in the order, of the
// whole-signal method; only the periodicity spectrum may reorganise its
// transform (see periodicity.h).
#include <cmath>
#include <cstring>

#include "ecma/band_signals.h"
#include "ecma/frame_sink.h"
#include "ecma/front_end.h"
#include "ecma/periodicity.h"
#include "ecma/tonal_kernels.h"
#include "ecma/tonality.h"
#include "fft/fft.h"
#include "base/alloc.h"
#include "base/checks.h"

namespace {

using qn_ecma::band_count;

// The longest block of any group.
constexpr uint64_t longest_block = qn_ecma_tonal_span;

// Arrays 0 to 2 (tonal and noise loudness, frequency) of the frames that
// some groups have given and others not yet. The slowest group, of blocks
// every 2048 samples, gives a frame once the block two after it is in
// (its own block values wait for the next block, and a frame needs the
// block after its interval); the fastest, every 256 samples, once the next
// block is. Since the groups advance at every block end of the fastest,
// the slowest is at most 15 frames behind it: 16 would do, 64 leaves room.
constexpr uint64_t pending_frames = 64;
constexpr uint64_t pending_values = 3 * 53;

// "Not known yet": the block and frame counts before the signal has ended.
constexpr uint64_t unknown = UINT64_MAX;

// Frame series smoothing: a third-order low-pass with a triple pole and
// unit gain at zero frequency.
constexpr double smooth_y1 = 2.4583765118772867;
constexpr double smooth_y2 = 2.0145383580499785;
constexpr double smooth_y3 = 0.5502770868562115;
constexpr double smooth_x1 = 0.003234345947192479;
constexpr double smooth_x2 = 0.0026504133692878285;

// Weighting of the tonal loudness by its signal-to-noise ratio.
constexpr double snr_threshold = 0.07;
constexpr double snr_slope = 20.0;
// Weighting of the frame by its ratio of tonal to noise loudness.
constexpr double ratio_threshold = 0.003;
constexpr double ratio_slope = 35.0;
// Specific tonality of a 1 kHz tone at 40 dB: 1.
constexpr double tonality_calibration = 2.8761365350855073;
// Total loudness: tonal and weighted noise loudness added with an exponent
// that depends on the frame's largest specific loudness.
constexpr double noise_weight = 0.5331;
constexpr double exponent_scale = 0.2918;
constexpr double exponent_floor = 0.5459;
// Keeps quotients of silence finite.
constexpr double guard = 1e-12;

constexpr double hz_per_bin = 48000.0 / qn_ecma_periodicity_length;

// Bands whose autocorrelations are computed side by side: their running
// sums are independent chains of additions that the processor overlaps.
constexpr int batch = qn_ecma_acf_batch;

// max(x, 0) that lets a NaN through to the final finite test.
inline double at_least_zero(double x) { return x < 0 ? 0.0 : x; }

// Zero state y[k-1 ... k-3], x[k-1], x[k-2].
struct smoother {
    double y1, y2, y3, x1, x2;
};

// The recursion is evaluated left to right as written: the feedback terms
// from y[k-1] on, then the input terms.
inline double smooth(smoother &s, double x) {
    const double y =
        smooth_y1 * s.y1 - smooth_y2 * s.y2 + smooth_y3 * s.y3 + smooth_x1 * s.x1 + smooth_x2 * s.x2;
    s.y3 = s.y2;
    s.y2 = s.y1;
    s.y1 = y;
    s.x2 = s.x1;
    s.x1 = x;
    return y;
}

// One output band of a group.
struct band_track {
    uint32_t band;
    uint32_t first_neighbour, neighbour_count;  // filtered bands averaged
    qn_ecma_lag_window window;
    double snr_scale;  // s_h
    // Tonal estimate, total loudness and frequency of the last two blocks,
    // by block parity.
    double tonal[2], total[2], frequency[2];
    smoother tonal_series, total_series, snr_series;
    uint64_t next_frame;
};

struct group_run {
    const qn_ecma_tonal_group *group;
    uint32_t length, hop, frames_per_hop, lags, filtered, outputs;
    bool three_blocks;
    // The neighbours every output band averages over, where they all average
    // over as many (0 where they do not): the stored values are then
    // divided by that count once, as they are made, and the averages add
    // them.
    uint32_t shared_count;
    uint64_t blocks, next_block;
    qn_fft_rplan_ptr plan;          // real transform of 2 N
    qn_heap_array<double> work;     // a batch of blocks, 2 N each
    qn_heap_array<double> head;     // their head energies, N + 1 each
    qn_heap_array<double> tail;     // their tail energies, N + 1 each
    qn_heap_array<double> acf;      // filtered bands x lags, of the newest block (divided by a shared count)
    qn_heap_array<double> averaged; // output bands x 3 blocks x lags
    qn_heap_array<double> window;   // three-block means of a lag window
    qn_heap_array<band_track> tracks;
};

}  // namespace

struct qn_ecma_tonal_engine {
    const qn_ecma_tonal_kernels *kernels;
    qn_ecma_periodicity periodicity;
    group_run groups[qn_ecma_tonal_group_count];
    qn_heap_array<double> blocks;    // a batch of blocks that wrap round the rings, made whole
    qn_heap_array<double> pending;   // pending_frames x arrays 0 to 2, by frame mod pending_frames
    double frame[qn_ecma_tonal_values_per_frame];  // the frame handed to the sink
    uint64_t frames;                 // V once the signal has ended
    uint64_t done;                   // frames handed to the sink
    qn_ecma_frame_sink sink;
};

namespace {

using engine = qn_ecma_tonal_engine;

bool make_group(group_run &run, int g) {
    const qn_ecma_tonal_group &group = qn_ecma_tonal_groups[g];
    run.group = &group;
    run.length = group.block_length;
    run.hop = group.block_length / 4;
    run.frames_per_hop = run.hop / static_cast<uint32_t>(qn_ecma_tonal_frame_hop);
    run.lags = qn_ecma_tonal_lag_count(g);
    run.filtered = group.last_filtered - group.first_filtered + 1;
    run.outputs = group.last_output - group.first_output + 1;
    run.three_blocks = group.first_output < qn_ecma_tonal_three_block_bands;
    // Block m ends m hops after the signal start; the last ends where the
    // padded signal ends, which is known at the end.
    run.blocks = unknown;
    run.next_block = 0;
    run.plan.reset(qn_fft_rplan_make(2 * run.length));
    run.work = qn_alloc_array<double>(uint64_t{batch} * 2 * run.length);
    run.head = qn_alloc_array<double>(uint64_t{batch} * (run.length + 1));
    run.tail = qn_alloc_array<double>(uint64_t{batch} * (run.length + 1));
    run.acf = qn_alloc_array<double>(uint64_t{run.filtered} * run.lags);
    run.averaged = qn_alloc_array<double>(uint64_t{run.outputs} * 3 * run.lags);
    run.window = qn_alloc_array<double>(run.lags);
    run.tracks = qn_alloc_array_zeroed<band_track>(run.outputs);
    if (!run.plan || !run.work || !run.head || !run.tail || !run.acf || !run.averaged || !run.window ||
        !run.tracks)
        return false;
    for (uint32_t o = 0; o < run.outputs; ++o) {
        band_track &track = run.tracks[o];
        track.band = group.first_output + o;
        const qn_ecma_neighbours near = qn_ecma_tonal_neighbours(track.band);
        track.first_neighbour = track.band - near.below - group.first_filtered;
        track.neighbour_count = near.below + near.above + 1;
        track.window = qn_ecma_tonal_lag_window(track.band);
        track.snr_scale =
            group.snr_scale / std::pow(qn_ecma_band_centre_hz(track.band), group.snr_exponent);
    }
    run.shared_count = run.tracks[0].neighbour_count;
    for (uint32_t o = 1; o < run.outputs; ++o)
        if (run.tracks[o].neighbour_count != run.shared_count) run.shared_count = 0;
    return true;
}

// The autocorrelations of the block ending at `block_end` of up to `batch`
// filtered bands, from `first` on: each normalised and scaled by the
// block's loudness, into `stored` (lags values per band). Lanes beyond
// `count` work on spare buffers and are ignored.
qn_status block_acfs(group_run &run, const engine &e, const qn_ecma_band_signals &bands, uint64_t block_end,
                     uint32_t first, uint32_t count) {
    const uint32_t n = run.length;
    const qn_ecma_tonal_group &group = *run.group;
    const double *x[batch];
    double *w[batch], *head[batch], *tail[batch];
    for (int s = 0; s < batch; ++s) {
        const uint32_t band = group.first_filtered + first + (s < static_cast<int>(count) ? s : count - 1);
        double *room = &e.blocks[longest_block * static_cast<uint64_t>(s)];
        x[s] = qn_ecma_band_block(bands, static_cast<int>(band), block_end, n, room);
        w[s] = &run.work[uint64_t{2} * n * s];
        head[s] = &run.head[uint64_t{n + 1} * s];
        tail[s] = &run.tail[uint64_t{n + 1} * s];
    }
    // Half-wave rectified blocks and their energies; the normalisation
    // reads head[n - l] and tail[l] for l below the lags stored.
    double energy[batch];
    e.kernels->energies(x, n, run.lags, w, head, tail, energy);
    for (uint32_t s = 0; s < count; ++s) {
        double *stored = &run.acf[uint64_t{first + s} * run.lags];
        const double loudness =
            qn_ecma_specific_loudness(group.first_filtered + first + s, std::sqrt(2.0 * energy[s] / n));
        if (!qn_is_finite(loudness)) return QN_STATUS_NUMERICAL_FAILURE;
        if (loudness == 0) {
            std::memset(stored, 0, run.lags * sizeof(double));
            continue;
        }
        // The block padded with N zeros, which the transform takes as such;
        // its power spectrum (r0^2, (r_k^2 + i_k^2, 0) for k < N, r_N^2)
        // transformed back: the linear autocorrelation. The spectrum passes
        // from one transform to the other without being stored.
        double total = 0;
        if (!qn_fft_rpower_backward(run.plan.get(), w[s], n, 1.0 / (2.0 * n), &total))
            return QN_STATUS_NUMERICAL_FAILURE;
        if (!qn_is_finite(total)) return QN_STATUS_NUMERICAL_FAILURE;
        // Normalised by the energies of the two parts that overlap at each
        // lag.
        e.kernels->normalise(w[s], head[s], tail[s], n, run.lags, loudness,
                             run.shared_count != 0 ? run.shared_count : 1.0, stored);
    }
    return QN_STATUS_SUCCESS;
}

// The frames whose blocks are both known once block `known` is.
void emit_frames(group_run &run, engine &e, band_track &track, uint64_t known) {
    const uint64_t per_hop = run.frames_per_hop;
    const uint64_t v = e.frames;
    while (track.next_frame < v) {
        const uint64_t k = track.next_frame;
        const uint64_t i = k / per_hop;
        const uint64_t i2 = i + 1 < run.blocks ? i + 1 : i;
        if (i2 > known) return;
        const double t = static_cast<double>(k % per_hop) / static_cast<double>(per_hop);
        const double a = (1 - t) * track.tonal[i & 1] + t * track.tonal[i2 & 1];
        const double total = (1 - t) * track.total[i & 1] + t * track.total[i2 & 1];
        double *slot = &e.pending[(k % pending_frames) * pending_values + track.band];
        slot[2 * 53] = (1 - t) * track.frequency[i & 1] + t * track.frequency[i2 & 1];
        const double snr = a / (at_least_zero(total - a) + guard);
        const double a_s = smooth(track.tonal_series, a);
        const double total_s = smooth(track.total_series, total);
        const double snr_s = smooth(track.snr_series, snr);
        const double r = snr_s / track.snr_scale;
        const double weight = r > snr_threshold ? 1 - std::exp(-snr_slope * (r - snr_threshold)) : 0.0;
        const double tonal = at_least_zero(weight * a_s);
        slot[0] = tonal;
        slot[53] = at_least_zero(total_s - tonal);
        ++track.next_frame;
    }
}

// Tonal estimate, loudness and frequency of block i for every output band,
// then the frames that become complete.
qn_status block_values(group_run &run, engine &e, uint64_t i) {
    const uint32_t lags = run.lags;
    const bool middle = i > 0 && i + 1 < run.blocks;
    for (uint32_t o = 0; o < run.outputs; ++o) {
        band_track &track = run.tracks[o];
        const double *now = &run.averaged[(uint64_t{o} * 3 + i % 3) * lags];
        const bool three = middle && track.band < qn_ecma_tonal_three_block_bands;
        const double *before = three ? &run.averaged[(uint64_t{o} * 3 + (i - 1) % 3) * lags] : nullptr;
        const double *after = three ? &run.averaged[(uint64_t{o} * 3 + (i + 1) % 3) * lags] : nullptr;
        // The three-block mean: the sum in block order, divided by 3.
        const double v = three ? (before[0] + now[0] + after[0]) / 3 : now[0];
        double tonal = 0, total = 0, frequency = 0;
        if (v != 0) {
            const qn_ecma_lag_window &win = track.window;
            const double *values = now + win.first;
            if (three) {
                e.kernels->mean_of_three(before + win.first, now + win.first, after + win.first, win.count,
                                         run.window.get());
                values = run.window.get();
            }
            double power = 0;
            uint32_t bin = 0;
            if (!qn_ecma_periodicity_peak(&e.periodicity, values, win.first, win.count, &power, &bin))
                return QN_STATUS_NUMERICAL_FAILURE;
            const double estimate = 4 * std::sqrt(power) / win.count;
            tonal = estimate > v ? v : estimate;
            total = v;
            frequency = bin * hz_per_bin;
        }
        track.tonal[i & 1] = tonal;
        track.total[i & 1] = total;
        track.frequency[i & 1] = frequency;
        emit_frames(run, e, track, i);
    }
    return QN_STATUS_SUCCESS;
}

// Every block of the group that ends within what has been filtered.
qn_status advance(group_run &run, engine &e, const qn_ecma_band_signals &bands) {
    while (run.next_block < run.blocks && run.next_block * run.hop <= bands.end) {
        const uint64_t m = run.next_block;
        const uint64_t block_end = m * run.hop;
        for (uint32_t j = 0; j < run.filtered; j += batch) {
            const qn_status s =
                block_acfs(run, e, bands, block_end, j, run.filtered - j < batch ? run.filtered - j : batch);
            if (s != QN_STATUS_SUCCESS) return s;
        }
        // Averaged over neighbouring bands: each divided by their count
        // (already, where the count is shared), added in band order.
        for (uint32_t o = 0; o < run.outputs; ++o) {
            const band_track &track = run.tracks[o];
            e.kernels->average(&run.acf[uint64_t{track.first_neighbour} * run.lags], run.lags, track.neighbour_count,
                               run.lags, run.shared_count != 0 ? 1.0 : track.neighbour_count,
                               &run.averaged[(uint64_t{o} * 3 + m % 3) * run.lags]);
        }
        // A block of the low bands waits for the block after it.
        qn_status s = QN_STATUS_SUCCESS;
        if (!run.three_blocks) {
            s = block_values(run, e, m);
        } else {
            if (m >= 1) s = block_values(run, e, m - 1);
            if (s == QN_STATUS_SUCCESS && m + 1 == run.blocks) s = block_values(run, e, m);
        }
        if (s != QN_STATUS_SUCCESS) return s;
        ++run.next_block;
    }
    return QN_STATUS_SUCCESS;
}

// Specific tonality and total specific loudness of frame k from its tonal
// and noise loudness; the frame, checked finite in index order, goes to
// the sink.
qn_status deliver(engine &e, uint64_t k) {
    const double *slot = &e.pending[(k % pending_frames) * pending_values];
    double *out = e.frame;
    std::memcpy(out, slot, pending_values * sizeof(double));
    const double *tonal = out;
    const double *noise = out + 53;
    double *tonality = out + 3 * 53;
    double *loudness = out + 4 * 53;
    double noise_sum = 0, tonal_max = 0, total_max = 0;
    for (int b = 0; b < band_count; ++b) {
        noise_sum += noise[b];
        // Largest values from 0 on; a NaN never replaces them.
        if (tonal[b] > tonal_max) tonal_max = tonal[b];
        if (tonal[b] + noise[b] > total_max) total_max = tonal[b] + noise[b];
    }
    const double ratio = tonal_max / (noise_sum + guard);
    const double q = ratio > ratio_threshold ? 1 - std::exp(-ratio_slope * (ratio - ratio_threshold)) : 0.0;
    const double exponent = exponent_scale / (total_max + guard) + exponent_floor;
    for (int b = 0; b < band_count; ++b) {
        tonality[b] = tonality_calibration * q * tonal[b];
        const double weighted = noise_weight * noise[b];
        const double mu = tonal[b] > weighted ? tonal[b] : weighted;
        loudness[b] =
            mu > 0 ? mu * std::pow(std::pow(tonal[b] / mu, exponent) + std::pow(weighted / mu, exponent), 1 / exponent)
                   : 0.0;
    }
    for (uint64_t i = 0; i < qn_ecma_tonal_values_per_frame; ++i)
        if (!qn_is_finite(out[i])) return QN_STATUS_NUMERICAL_FAILURE;
    e.sink.put(e.sink.context, out);
    return QN_STATUS_SUCCESS;
}

}  // namespace

qn_ecma_tonal_engine *qn_ecma_tonal_engine_make(qn_simd path, const qn_ecma_frame_sink &sink) noexcept {
    qn_object_ptr<engine> e = qn_make_object<engine>();
    if (e == nullptr) return nullptr;
    e->kernels = &qn_ecma_tonal_kernels_for(path);
    e->frames = unknown;
    e->done = 0;
    e->sink = sink;
    e->blocks = qn_alloc_array<double>(uint64_t{batch} * longest_block);
    e->pending = qn_alloc_array_zeroed<double>(pending_frames * pending_values);
    if (!e->blocks || !e->pending || !qn_ecma_periodicity_init(&e->periodicity, path)) return nullptr;
    for (int g = 0; g < qn_ecma_tonal_group_count; ++g)
        if (!make_group(e->groups[g], g)) return nullptr;
    return e.release();
}

void qn_ecma_tonal_engine_free(qn_ecma_tonal_engine *engine) noexcept { qn_free_object(engine); }

uint64_t qn_ecma_tonal_next_block_end(const qn_ecma_tonal_engine &e) noexcept {
    uint64_t next = UINT64_MAX;
    for (const group_run &run : e.groups)
        if (run.next_block < run.blocks && run.next_block * run.hop < next) next = run.next_block * run.hop;
    return next;
}

qn_status qn_ecma_tonal_advance(qn_ecma_tonal_engine *e, const qn_ecma_band_signals &bands) noexcept {
    for (group_run &run : e->groups) {
        const qn_status s = advance(run, *e, bands);
        if (s != QN_STATUS_SUCCESS) return s;
    }
    // Every output band of a group has given the same frames.
    uint64_t complete = UINT64_MAX;
    for (const group_run &run : e->groups)
        if (run.tracks[0].next_frame < complete) complete = run.tracks[0].next_frame;
    for (; e->done < complete; ++e->done) {
        const qn_status s = deliver(*e, e->done);
        if (s != QN_STATUS_SUCCESS) return s;
    }
    return QN_STATUS_SUCCESS;
}

void qn_ecma_tonal_set_end(qn_ecma_tonal_engine *e, uint64_t n) noexcept {
    e->frames = qn_ecma_tonal_frames(n);
    for (group_run &run : e->groups) run.blocks = qn_ecma_tonal_padded_end(n) / run.hop + 1;
}

uint64_t qn_ecma_tonal_frames_done(const qn_ecma_tonal_engine &e) noexcept { return e.done; }

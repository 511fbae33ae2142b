// The tonality engine, in memory that does not grow with the signal.
//
// The ear-filtered buffer is produced a chunk at a time and run through
// the 53 auditory filters at once (each band is filtered once, although
// bands at the edges of the groups serve two of them). Every band keeps the
// last 8192 + chunk samples it produced: enough for the longest block that
// ends in the newest chunk. Each group then takes the blocks that have
// become complete, computes their autocorrelations, averages them over
// neighbouring bands, and keeps the averages of the last three blocks (the
// low bands also average over three consecutive blocks). A block's tonal
// and total loudness and tonal frequency feed the frames up to it; the
// frame series are recursive in time and carry their state from frame to
// frame. The output array is the only thing that grows with the signal.
//
// Every value is computed with the arithmetic, in the order, of the
// whole-signal method; only the periodicity spectrum may reorganise its
// transform (see periodicity.h).
#include <cmath>
#include <cstring>

#include "ecma/band_bank.h"
#include "ecma/front_end.h"
#include "ecma/periodicity.h"
#include "ecma/tonal_kernels.h"
#include "ecma/tonality.h"
#include "fft/fft.h"
#include "base/alloc.h"
#include "base/checks.h"

namespace {

using qn_ecma::band_count;

// Buffer samples filtered per round, and the samples each band keeps.
constexpr uint64_t chunk = 8192;
constexpr uint64_t longest_block = 8192;
constexpr uint64_t history = longest_block + chunk;
// Rows a little longer than the history, so that the bank's rows do not
// share cache sets.
constexpr uint64_t row_stride = history + 24;

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
    uint64_t blocks, next_block;
    qn_fft_rplan_ptr plan;          // real transform of 2 N
    qn_heap_array<double> work;     // a batch of blocks, 2 N each
    qn_heap_array<double> head;     // their head energies, N + 1 each
    qn_heap_array<double> tail;     // their tail energies, N + 1 each
    qn_heap_array<double> acf;      // filtered bands x lags, of the newest block
    qn_heap_array<double> averaged; // output bands x 3 blocks x lags
    qn_heap_array<double> window;   // three-block means of a lag window
    qn_heap_array<band_track> tracks;
};

struct engine {
    double *out;
    uint64_t frames;
    const double *rows;  // band b's history at rows + b row_stride
    uint64_t end;        // buffer samples filtered so far
    const qn_ecma_tonal_kernels *kernels;
    qn_ecma_periodicity periodicity;
};

bool make_group(group_run &run, int g, uint64_t buffer_length) {
    const qn_ecma_tonal_group &group = qn_ecma_tonal_groups[g];
    run.group = &group;
    run.length = group.block_length;
    run.hop = group.block_length / 4;
    run.frames_per_hop = run.hop / static_cast<uint32_t>(qn_ecma_tonal_frame_hop);
    run.lags = qn_ecma_tonal_lag_count(g);
    run.filtered = group.last_filtered - group.first_filtered + 1;
    run.outputs = group.last_output - group.first_output + 1;
    run.three_blocks = group.first_output < qn_ecma_tonal_three_block_bands;
    // Block m ends m hops after the signal start; the last ends at the end
    // of the buffer.
    run.blocks = (buffer_length - qn_ecma_tonal_lead) / run.hop + 1;
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
    return true;
}

// The autocorrelations of one block of up to `batch` filtered bands, from
// `first` on: each normalised and scaled by the block's loudness, into
// `stored` (lags values per band). Lanes beyond `count` work on spare
// buffers and are ignored.
qn_status block_acfs(group_run &run, const engine &e, uint64_t offset, uint32_t first, uint32_t count) {
    const uint32_t n = run.length;
    const qn_ecma_tonal_group &group = *run.group;
    const double *x[batch];
    double *w[batch], *head[batch], *tail[batch];
    for (int s = 0; s < batch; ++s) {
        const uint32_t band = group.first_filtered + first + (s < static_cast<int>(count) ? s : count - 1);
        x[s] = e.rows + band * row_stride + offset;
        w[s] = &run.work[uint64_t{2} * n * s];
        head[s] = &run.head[uint64_t{n + 1} * s];
        tail[s] = &run.tail[uint64_t{n + 1} * s];
    }
    // Half-wave rectified blocks and their energies; the normalisation
    // reads head[n - l] and tail[l] for l below the lags stored.
    double energy[batch];
    e.kernels->energies(x, n, run.lags, w, head, tail, energy);
    double loudness[batch] = {};
    for (uint32_t s = 0; s < count; ++s) {
        loudness[s] = qn_ecma_specific_loudness(group.first_filtered + first + s, std::sqrt(2.0 * energy[s] / n));
        if (!qn_is_finite(loudness[s])) return QN_STATUS_NUMERICAL_FAILURE;
        if (loudness[s] == 0) continue;
        std::memset(w[s] + n, 0, n * sizeof(double));
        if (!qn_fft_rforward(run.plan.get(), w[s], 1.0)) return QN_STATUS_NUMERICAL_FAILURE;
    }
    // The power spectra in the packed layout: r0, (r_k, i_k) for k < N,
    // r_N; the imaginary entries become 0. Each total is summed in bin
    // order.
    double total[batch];
    for (int s = 0; s < batch; ++s) {
        w[s][0] = w[s][0] * w[s][0];
        total[s] = w[s][0];
    }
    double t0 = total[0], t1 = total[1], t2 = total[2], t3 = total[3];
    static_assert(batch == 4);
    for (uint32_t k = 1; k < n; ++k) {
        const auto power = [k](double *v) {
            const double p = v[2 * k - 1] * v[2 * k - 1] + v[2 * k] * v[2 * k];
            v[2 * k - 1] = p;
            v[2 * k] = 0;
            return p;
        };
        t0 += power(w[0]);
        t1 += power(w[1]);
        t2 += power(w[2]);
        t3 += power(w[3]);
    }
    total[0] = t0;
    total[1] = t1;
    total[2] = t2;
    total[3] = t3;
    for (int s = 0; s < batch; ++s) {
        w[s][2 * n - 1] = w[s][2 * n - 1] * w[s][2 * n - 1];
        total[s] += w[s][2 * n - 1];
    }
    for (uint32_t s = 0; s < count; ++s) {
        double *stored = &run.acf[uint64_t{first + s} * run.lags];
        if (loudness[s] == 0) {
            std::memset(stored, 0, run.lags * sizeof(double));
            continue;
        }
        if (!qn_is_finite(total[s])) return QN_STATUS_NUMERICAL_FAILURE;
        if (!qn_fft_rbackward(run.plan.get(), w[s], 1.0 / (2.0 * n))) return QN_STATUS_NUMERICAL_FAILURE;
        // Normalised by the energies of the two parts that overlap at each
        // lag.
        e.kernels->normalise(w[s], head[s], tail[s], n, run.lags, loudness[s], stored);
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
        const uint64_t at = 53 * k + track.band;
        e.out[2 * 53 * v + at] = (1 - t) * track.frequency[i & 1] + t * track.frequency[i2 & 1];
        const double snr = a / (at_least_zero(total - a) + guard);
        const double a_s = smooth(track.tonal_series, a);
        const double total_s = smooth(track.total_series, total);
        const double snr_s = smooth(track.snr_series, snr);
        const double r = snr_s / track.snr_scale;
        const double weight = r > snr_threshold ? 1 - std::exp(-snr_slope * (r - snr_threshold)) : 0.0;
        const double tonal = at_least_zero(weight * a_s);
        e.out[at] = tonal;
        e.out[53 * v + at] = at_least_zero(total_s - tonal);
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
qn_status advance(group_run &run, engine &e) {
    while (run.next_block < run.blocks && qn_ecma_tonal_lead + run.next_block * run.hop <= e.end) {
        const uint64_t m = run.next_block;
        const uint64_t block_end = qn_ecma_tonal_lead + m * run.hop;
        // Where the block starts in the rows, which end at e.end.
        const uint64_t offset = history - (e.end - block_end) - run.length;
        for (uint32_t j = 0; j < run.filtered; j += batch) {
            const qn_status s = block_acfs(run, e, offset, j, run.filtered - j < batch ? run.filtered - j : batch);
            if (s != QN_STATUS_SUCCESS) return s;
        }
        // Averaged over neighbouring bands: each divided by their count,
        // added in band order.
        for (uint32_t o = 0; o < run.outputs; ++o) {
            const band_track &track = run.tracks[o];
            e.kernels->average(&run.acf[uint64_t{track.first_neighbour} * run.lags], run.lags, track.neighbour_count,
                               run.lags, &run.averaged[(uint64_t{o} * 3 + m % 3) * run.lags]);
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

// Specific tonality and total specific loudness of every frame from its
// tonal and noise loudness, then the finite test of all five arrays.
qn_status finish(double *out, uint64_t frames) {
    const uint64_t plane = 53 * frames;
    for (uint64_t k = 0; k < frames; ++k) {
        const double *tonal = out + 53 * k;
        const double *noise = out + plane + 53 * k;
        double *tonality = out + 3 * plane + 53 * k;
        double *loudness = out + 4 * plane + 53 * k;
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
            loudness[b] = mu > 0 ? mu * std::pow(std::pow(tonal[b] / mu, exponent) + std::pow(weighted / mu, exponent),
                                                 1 / exponent)
                                 : 0.0;
        }
    }
    for (uint64_t i = 0; i < 5 * plane; ++i)
        if (!qn_is_finite(out[i])) return QN_STATUS_NUMERICAL_FAILURE;
    return QN_STATUS_SUCCESS;
}

}  // namespace

qn_status qn_ecma_tonal_run(const double *samples, uint64_t n, qn_sound_field field, double *out,
                            uint64_t frames, qn_simd path) noexcept {
    qn_ecma_ear_stream ear;
    const qn_status checked = qn_ecma_ear_stream_init(&ear, samples, n, qn_ecma_tonal_lead,
                                                      qn_ecma_tonal_multiple, true, field);
    if (checked != QN_STATUS_SUCCESS) return checked;

    qn_heap_array<double> ear_chunk = qn_alloc_array<double>(chunk);
    qn_heap_array<double> rows = qn_alloc_array_zeroed<double>(band_count * row_stride);
    qn_heap_array<qn_ecma_band_bank> bank = qn_alloc_array<qn_ecma_band_bank>(1);
    engine e{};
    e.out = out;
    e.frames = frames;
    e.rows = rows.get();
    e.kernels = &qn_ecma_tonal_kernels_for(path);
    if (!ear_chunk || !rows || !bank || !qn_ecma_periodicity_init(&e.periodicity, path))
        return QN_STATUS_ALLOCATION_FAILED;
    group_run groups[qn_ecma_tonal_group_count];
    for (int g = 0; g < qn_ecma_tonal_group_count; ++g)
        if (!make_group(groups[g], g, ear.length)) return QN_STATUS_ALLOCATION_FAILED;
    // Fails only for a vector path the processor lacks, which no export asks for.
    if (!qn_ecma_band_bank_init(bank.get(), 0, band_count, path)) return QN_STATUS_INVALID_ARGUMENT;

    while (e.end < ear.length) {
        const uint64_t c = ear.length - e.end < chunk ? ear.length - e.end : chunk;
        for (int b = 0; b < band_count; ++b) {
            double *row = rows.get() + b * row_stride;
            std::memmove(row, row + c, (history - c) * sizeof(double));
        }
        if (!qn_ecma_ear_stream_read(&ear, ear_chunk.get(), c)) return QN_STATUS_NUMERICAL_FAILURE;
        if (!qn_ecma_band_bank_run(bank.get(), ear_chunk.get(), c, rows.get() + (history - c), row_stride))
            return QN_STATUS_NUMERICAL_FAILURE;
        e.end += c;
        for (group_run &run : groups) {
            const qn_status s = advance(run, e);
            if (s != QN_STATUS_SUCCESS) return s;
        }
    }
    return finish(out, frames);
}

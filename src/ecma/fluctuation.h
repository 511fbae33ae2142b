// ECMA-418-2 fluctuation strength: the geometry of its blocks and frames,
// written once for the frame-count query, the engine and the tests; the
// line-pair model of a block's envelope spectrum and its solves; the
// analysis of one band in one block; and the engine.
#ifndef QN_ECMA_FLUCTUATION_H
#define QN_ECMA_FLUCTUATION_H

#include <cstddef>
#include <cstdint>

#include "base/simd.h"
#include "ecma/fluct_kernels.h"
#include "fft/fft.h"
#include "quarnelo.h"

// ---------------------------------------------------------------------------
// Geometry

// One output frame every 960 samples (20 ms) from the signal start.
inline constexpr uint64_t qn_ecma_fluct_frame_hop = QN_ECMA_FLUCTUATION_HOP;

// Blocks of 65536 samples every 16384 over the ear-filtered buffer, which is
// 65536 zeros followed by the faded-in signal and nothing after it.
inline constexpr uint64_t qn_ecma_fluct_block = 65536;
inline constexpr uint64_t qn_ecma_fluct_block_hop = 16384;
inline constexpr uint64_t qn_ecma_fluct_lead = 65536;

// The envelope is read every 32 samples of a block: 2048 instants at
// 1500 Hz, whose spectrum has bins 1500 / 2048 = 0.732421875 Hz apart. The
// model looks at bins 0 ... 48 (up to 35 Hz) at most.
inline constexpr uint64_t qn_ecma_fluct_decimation = 32;
inline constexpr int qn_ecma_fluct_points = 2048;
inline constexpr double qn_ecma_fluct_envelope_hz = 1500.0;
inline constexpr double qn_ecma_fluct_bin_hz = 0.732421875;
inline constexpr int qn_ecma_fluct_bins = 49;

// The shortest signal analysed (more than one block), and the longest whose
// buffer of n + 65536 samples stays below 2^60.
inline constexpr uint64_t qn_ecma_fluct_min_samples = QN_ECMA_FLUCTUATION_MIN_SAMPLES;
inline constexpr uint64_t qn_ecma_fluct_max_samples = 1152921504606781439;  // 2^60 - 65537

// Frames of a signal of n samples: floor(n / 960) + 1.
inline constexpr uint64_t qn_ecma_fluct_frames(uint64_t n) { return n / qn_ecma_fluct_frame_hop + 1; }

// Blocks: ceil(n / 16384) + 1. Block l < B - 1 covers buffer samples
// 16384 l ... 16384 l + 65535; the last one the last 65536 samples of the
// buffer, so that it ends at the signal's end.
inline constexpr uint64_t qn_ecma_fluct_blocks(uint64_t n) {
    return n / qn_ecma_fluct_block_hop + (n % qn_ecma_fluct_block_hop != 0 ? 1 : 0) + 1;
}

// The first buffer sample of block l.
inline constexpr uint64_t qn_ecma_fluct_block_start(uint64_t block, uint64_t blocks, uint64_t n) {
    return block + 1 < blocks ? qn_ecma_fluct_block_hop * block : n;
}

// The instant a block stands for, in s: where it ends, counted from the
// signal start. Both this and the frame instants are correctly rounded
// quotients of exact integers, so instants that coincide compare equal.
inline double qn_ecma_fluct_block_time(uint64_t block, uint64_t blocks, uint64_t n) {
    return static_cast<double>(qn_ecma_fluct_block_start(block, blocks, n)) / 48000.0;
}

// Frame k stands for k / 50 s.
inline double qn_ecma_fluct_frame_time(uint64_t frame) { return static_cast<double>(frame) / 50.0; }

// ---------------------------------------------------------------------------
// The line-pair model
//
// A block's envelope, seen through its analysis window (samples `lead` ...
// 2047 - `tail`), is modelled as a constant x0 plus cosines 2 |c_m|
// cos(2 pi f_m t + arg c_m). The spectrum of the window shifted to rate f
// is the kernel
//   W(k; f) = exp(-j pi phi (2048 - tail + lead - 1)) sin(pi phi N1) / sin(pi phi)
// with N1 = 2048 - lead - tail and phi = k / 2048 - f / 1500 + 1e-12, so the
// model's spectrum is x0 W(k; 0) + sum_m [c_m W(k; f_m) + conj(c_m) W(k; -f_m)].
// Its 2M + 1 real unknowns (x0, Re c_m, Im c_m) are fitted to the block's
// spectrum P(k) over bins 0 ... K - 1 by least squares.

// The most lines fitted at once: every strict local maximum of bins 1 ...
// 47 (at most 24) and one more rate.
inline constexpr int qn_ecma_fluct_max_lines = 25;

// A block's windowed envelope spectrum and what the kernel needs of its
// window, computed once per block and band.
struct qn_ecma_fluct_spectrum {
    int lead, tail;                    // the window is lead ... 2047 - tail
    double re[qn_ecma_fluct_bins];     // P(k)
    double im[qn_ecma_fluct_bins];
    double power[qn_ecma_fluct_bins];  // |P(k)|^2
    double power_sum[qn_ecma_fluct_bins + 1];  // power of bins 0 ... K - 1, by K
    // The kernel by angle addition, with a_k = pi (k / 2048 + 1e-12): sin and
    // cos of a_k and of a_k N1, and exp(-j a_k L) with L = 2047 - tail + lead.
    double sin_one[qn_ecma_fluct_bins], cos_one[qn_ecma_fluct_bins];
    double sin_width[qn_ecma_fluct_bins], cos_width[qn_ecma_fluct_bins];
    double turn_re[qn_ecma_fluct_bins], turn_im[qn_ecma_fluct_bins];
    // The constant's column W(k; 0), and its Gram entry and right-hand side
    // summed over bins 0 ... K - 1, by K.
    double zero_re[qn_ecma_fluct_bins], zero_im[qn_ecma_fluct_bins];
    double zero_gram[qn_ecma_fluct_bins + 1], zero_rhs[qn_ecma_fluct_bins + 1];
    const qn_ecma_fluct_kernels *kernels;  // the vector path of the fits
};

// What the kernel needs of a rate f >= 0: u = pi f / 1500 Hz and the sines
// and cosines of u, u N1 and u L; the rate in bins, to find the main lobe.
struct qn_ecma_fluct_rate_terms {
    double rate_bins;  // f / 0.732421875 Hz
    double v;          // f / 1500 Hz
    double sin_one, cos_one;
    double sin_width, cos_width;
    double sin_length, cos_length;
    int width;
};

// sin and cos of pi m / 2048 for m < 4096 (one turn), from which the
// kernel's tables of every window are read.
struct qn_ecma_fluct_turns {
    double sin[2 * qn_ecma_fluct_points], cos[2 * qn_ecma_fluct_points];
};

void qn_ecma_fluct_turns_fill(qn_ecma_fluct_turns *turns) noexcept;

// Sets the window of a spectrum whose re and im are in place, and derives
// the power, its sums and the kernel's tables; its fits run on `path`. The
// window must hold at least one sample.
void qn_ecma_fluct_spectrum_prepare(qn_ecma_fluct_spectrum *spectrum, int lead, int tail,
                                    const qn_ecma_fluct_turns &turns, qn_simd path = qn_simd_best()) noexcept;

// W(k; rate) for 0 <= k < 49 at a rate in Hz (negative for the mirrored
// line), as the solves evaluate it.
void qn_ecma_fluct_kernel(const qn_ecma_fluct_spectrum &spectrum, int k, double rate_hz, double *re,
                          double *im) noexcept;

// The bins a solve uses: K = min(max(17, round(highest rate / 0.732421875 Hz)
// + 8), 49), halves rounded away from zero.
int qn_ecma_fluct_solve_bins(double highest_rate_hz) noexcept;

// One fit: the constant, the complex line values (two-sided: the line is
// 2 |c| cos(...)), and the residual error
//   E = sum_{k<K} |P(k)|^2 + x' G x - 2 b' x
// of the normal equations G x = b (G = Re(C^H C), b = Re(C^H P)).
struct qn_ecma_fluct_fit {
    double constant;
    double line_re[qn_ecma_fluct_max_lines];
    double line_im[qn_ecma_fluct_max_lines];
    double error;
};

// Scratch of a fit of several lines: their columns and normal equations.
struct qn_ecma_fluct_lines_work {
    // The columns by bin: column j of bin k at k tn + j, tn the columns
    // rounded up to a multiple of 8.
    double by_bin_re[qn_ecma_fluct_bins * 56], by_bin_im[qn_ecma_fluct_bins * 56];
    double gram[(2 * qn_ecma_fluct_max_lines + 1) * (2 * qn_ecma_fluct_max_lines + 1)];
    double factor[(2 * qn_ecma_fluct_max_lines + 1) * (2 * qn_ecma_fluct_max_lines + 1)];
};

// Fits `count` lines (1 ... 25) at the given rates (Hz, positive) over
// `bins` bins (1 ... 49). The normal equations are equilibrated and solved
// by a Cholesky factorisation with diagonal pivoting that stops at the
// first pivot below 1e-12 of the column's own weight: the unknowns left
// over, whose columns the others already explain, are 0. False (nothing
// useful written) only for arguments out of range.
bool qn_ecma_fluct_fit_lines(const qn_ecma_fluct_spectrum &spectrum, const double *rates_hz, int count, int bins,
                             qn_ecma_fluct_lines_work *work, qn_ecma_fluct_fit *fit) noexcept;

// One pair at `rate_hz` over `bins` bins in closed form: the 3 x 3
// equations equilibrated and solved by their adjugate, or by the general
// solve above when their determinant is below 1e-12 (the constant and the
// pair nearly alike). Gives the general solve's result to rounding.
void qn_ecma_fluct_fit_pair(const qn_ecma_fluct_spectrum &spectrum, double rate_hz, int bins,
                            qn_ecma_fluct_fit *fit) noexcept;

// The rate of a line tuned between bins: a damped Newton search on the
// single pair's error E(x) in the normalised rate x = f / 1500 Hz, from
// start_hz / 1500 Hz, over the bins of the starting rate throughout (so
// that E is smooth in x): E' and E'' by central differences with a step of
// 1e-5, the step 0.25 sign(E') min(|E'| / (|E''| + 1e-12), 2e-4) taken and
// the search ended once it is at most 1e-7, or after 40 steps. The errors a
// step below and above come from the rate's kernel terms by angle
// addition. Returns the tuned rate in Hz, not checked against the start.
double qn_ecma_fluct_tune_rate(const qn_ecma_fluct_spectrum &spectrum, double start_hz) noexcept;

// The kernel's terms of a rate (Hz) in a spectrum's window, which depend on
// the rate and the window only, and the closed-form fit of one pair from
// them: qn_ecma_fluct_fit_pair in two steps, for rates whose terms are kept.
qn_ecma_fluct_rate_terms qn_ecma_fluct_terms(const qn_ecma_fluct_spectrum &spectrum, double rate_hz) noexcept;
void qn_ecma_fluct_fit_pair_terms(const qn_ecma_fluct_spectrum &spectrum, const qn_ecma_fluct_rate_terms &terms,
                                  int bins, qn_ecma_fluct_fit *fit) noexcept;

// ---------------------------------------------------------------------------
// Weighting of modulation rates

// g: the weight of rates above the best one in a band of centre frequency
// f_c, 1 / (1 + 0.092623 |log2(f_c / 1000 Hz)|^1.24); and that of band b.
double qn_ecma_fluct_gain(double centre_hz) noexcept;
double qn_ecma_fluct_band_gain(uint64_t band) noexcept;

// w(f) for a rate in Hz: 0 up to 0 Hz, rising to 1 at 4.8659 Hz, and
// falling beyond, scaled there by the band's gain.
double qn_ecma_fluct_rate_weight(double rate_hz, double band_gain) noexcept;

// ---------------------------------------------------------------------------
// One band in one block

// What the band analysis needs besides the envelope: scratch, the turns, a
// real transform of 2048 points and the median's kernel. One per engine (or
// per thread).
// The rates a third of an octave apart at which a single pair's error is
// evaluated first in every block.
inline constexpr int qn_ecma_fluct_grid_count = 16;

struct qn_ecma_fluct_band_work {
    double grid_rate[qn_ecma_fluct_grid_count + 2];  // Hz, 1 ... 16
    int grid_bins[qn_ecma_fluct_grid_count + 2];
    // The grid's kernel terms in the window lead ... 2047 - tail, kept
    // while blocks have that window (most have the widest one).
    qn_ecma_fluct_rate_terms grid_terms[qn_ecma_fluct_grid_count + 2];
    int grid_lead, grid_tail;                // -1: none kept
    double smooth[2][qn_ecma_fluct_points];  // the smoothed envelopes of up to two bands
    double windowed[qn_ecma_fluct_points];   // the envelope in its window, then its spectrum
    qn_ecma_fluct_spectrum spectrum;
    qn_ecma_fluct_lines_work lines;
    qn_ecma_fluct_turns turns;
    qn_fft_rplan *plan;                      // 2048 points, real
    qn_simd path;
    const qn_ecma_fluct_kernels *kernels;
};

// Null when memory or the plan cannot be had.
qn_ecma_fluct_band_work *qn_ecma_fluct_band_work_make(qn_simd path = qn_simd_best()) noexcept;
void qn_ecma_fluct_band_work_free(qn_ecma_fluct_band_work *work) noexcept;

// The outcome for one band in one block. `reached` is false when the block
// is quiet or unmodulated in this band (its value is then 0 and it takes no
// part in the block's loudness normalisation); otherwise `weighted` is the
// weighted power of the band's strongest harmonic complex of lines and
// `power` the envelope's power the lines account for (constant included),
// both in Pa^2.
struct qn_ecma_fluct_band_result {
    bool reached;
    double weighted;
    double power;
};

// The analysis of the 2048-sample envelope (Pa) of one band in one block:
// the window, the spectrum, the candidate rates, the fitted lines, the
// fine-tuned dominant rate and the harmonic complex. False when the
// transform fails or an intermediate value is not finite.
bool qn_ecma_fluct_band(const double *envelope, uint64_t band, qn_ecma_fluct_band_work *work,
                        qn_ecma_fluct_band_result *result) noexcept;

// The analyses of `count` (1 or 2) bands of a block, each the result
// qn_ecma_fluct_band gives; two bands' tests of their windows run side by
// side. False when either analysis fails.
bool qn_ecma_fluct_bands(const double *const *envelopes, const uint64_t *bands, int count,
                         qn_ecma_fluct_band_work *work, qn_ecma_fluct_band_result *results) noexcept;

// ---------------------------------------------------------------------------
// Envelopes
//
// The magnitude of the analytic signal of one block of 65536 samples at
// every 32nd sample from the first: 2048 values.
//   fast:    the analytic signal only at the 2048 instants, from the folds
//            of the block's four segments of 16384 samples, each made once
//            (its 16 odd phases of 32 transformed at 2048 points);
//   literal: two complex transforms of 65536, as the method is written.
enum class qn_ecma_fluct_transforms : uint8_t { fast, literal };

// A segment's samples at the envelope instants, and the values of its fold:
// 1025 complex values (re, im pairs).
inline constexpr std::size_t qn_ecma_fluct_segment = 16384;
inline constexpr std::size_t qn_ecma_fluct_segment_points = 512;
inline constexpr std::size_t qn_ecma_fluct_fold_values = 2 * 1025;

// Scratch and plans of the envelopes, per engine (or thread).
struct qn_ecma_fluct_envelope_work;

// Made for one form; null when memory or a plan cannot be had.
qn_ecma_fluct_envelope_work *qn_ecma_fluct_envelope_make(qn_ecma_fluct_transforms transforms,
                                                         qn_simd path = qn_simd_best()) noexcept;
void qn_ecma_fluct_envelope_free(qn_ecma_fluct_envelope_work *work) noexcept;

// Fast form. The fold of the segment of 16384 samples that starts at
// `start` in a ring of mask + 1 samples (a power of two, at least 16384),
// and its 512 samples at the envelope instants. False when a transform
// fails.
bool qn_ecma_fluct_segment_fold(qn_ecma_fluct_envelope_work *work, const double *ring, std::size_t mask,
                                std::size_t start, double *fold, double *instants) noexcept;

// Adds the fold of the segment at place 0 ... 3 of a block to the block's.
void qn_ecma_fluct_fold_add(double *sum, const double *fold, int place) noexcept;

// The fold of a block from its four segments' folds, in one pass (the same
// values as adding them in order of place to zeros).
// `next`, when not 0, tells that the caller sums next the folds that lie
// this many doubles after these: they are fetched towards the cache as
// this sum goes (they were made a hop or more ago and have left it).
void qn_ecma_fluct_fold_sum(double *sum, const double *const *folds, std::size_t next = 0) noexcept;

// The envelope of a block from its fold and its 2048 samples at the
// envelope instants. False when the transform fails.
bool qn_ecma_fluct_fold_envelope(qn_ecma_fluct_envelope_work *work, const double *fold, const double *instants,
                                 double *envelope) noexcept;

// Literal form: the envelope of the block of 65536 samples that starts at
// `start` in a ring of mask + 1 samples. False when a transform fails.
bool qn_ecma_fluct_envelope_literal(qn_ecma_fluct_envelope_work *work, const double *ring, std::size_t mask,
                                    std::size_t start, double *envelope) noexcept;

// ---------------------------------------------------------------------------
// Engine

// The analysis as a state that runs on while the band signals arrive
// (band_signals.h), positions counted from the signal start. Whenever the
// band signals reach a multiple of 16384 samples, the segment just completed
// is transformed into its share of the envelopes of the four blocks that
// hold it, and the block of the hop grid that ends there is analysed: block
// l < B - 1 ends 16384 l samples after the signal start. The last block,
// flush with the end of the signal, is taken when the end is known. A
// frame's band values are known once the block two after its interval is
// in; its exponent needs the spread of the 35 frames on either side, so
// frames go to the sink (53 values, band b at index b) 35 frames behind.

struct qn_ecma_band_signals;
struct qn_ecma_frame_sink;

// Band signals must keep this many samples for the engine: the last block,
// whose place is known only when the signal ends, is read whole then.
inline constexpr uint64_t qn_ecma_fluct_span = qn_ecma_fluct_block;

struct qn_ecma_fluct_engine;

// A new engine, or null when memory or a plan cannot be had. Released with
// qn_ecma_fluct_engine_free (null is ignored).
qn_ecma_fluct_engine *qn_ecma_fluct_engine_make(qn_ecma_fluct_transforms transforms, qn_simd path,
                                                const qn_ecma_frame_sink &sink) noexcept;
void qn_ecma_fluct_engine_free(qn_ecma_fluct_engine *engine) noexcept;

// Where the next segment the engine will take as the band signals arrive
// ends; UINT64_MAX once the signal's end is known.
uint64_t qn_ecma_fluct_next_block_end(const qn_ecma_fluct_engine &engine) noexcept;

// Takes every segment and block that ends within the band signals (whose
// span is a power of two, at least qn_ecma_fluct_span), and hands on every
// frame that becomes complete. QN_STATUS_NUMERICAL_FAILURE when a value is
// not finite; the engine is then of no further use.
qn_status qn_ecma_fluct_advance(qn_ecma_fluct_engine *engine, const qn_ecma_band_signals &signals) noexcept;

// The signal has ended: the band signals have reached its end, n samples
// (n >= 65537). Takes the last block and hands on the remaining frames.
// QN_STATUS_NUMERICAL_FAILURE as qn_ecma_fluct_advance.
qn_status qn_ecma_fluct_finish(qn_ecma_fluct_engine *engine, const qn_ecma_band_signals &signals) noexcept;

// Frames handed on so far.
uint64_t qn_ecma_fluct_frames_done(const qn_ecma_fluct_engine &engine) noexcept;

// The tap of the band signals (band_signals.h; the context is the
// engine): when bands first ... first + count - 1 reach the end of the
// segment the next point of the hop grid closes, their folds are made at
// once, while their samples are still in the cache, and the point, when
// taken, folds only the bands left. False when a transform fails.
bool qn_ecma_fluct_tap(void *context, const qn_ecma_band_signals &signals, int first, int count,
                       uint64_t reached) noexcept;

// The most frames the engine can have handed on once the band signals
// reach position `end` before the signal's end is known.
inline constexpr uint64_t qn_ecma_fluct_frames_by(uint64_t end) { return end / qn_ecma_fluct_frame_hop + 1; }

// The whole analysis of a signal the caller has checked (pointer aside,
// which is checked here with the samples): n within the bounds above, a
// valid sound field, and room for 53 * frames doubles at `out`, not
// overlapping the signal. The hearing model's band signals run piece by
// piece into the engine, which writes the output frame by frame. Working
// memory is about 33 MiB whatever n is. The statuses are those of the
// signal check (null signal, non-finite sample),
// QN_STATUS_ALLOCATION_FAILED and QN_STATUS_NUMERICAL_FAILURE.
qn_status qn_ecma_fluct_run(const double *samples, uint64_t n, qn_sound_field field, double *out,
                            qn_simd path = qn_simd_best(),
                            qn_ecma_fluct_transforms transforms = qn_ecma_fluct_transforms::fast) noexcept;

#endif

// ECMA-418-2 roughness: the geometry of its blocks and frames, written once
// for the frame-count query, the engine and the tests; the peak analysis
// that turns one band's weighted modulation spectrum into raw roughness;
// and the engine itself.
#ifndef QN_ECMA_ROUGHNESS_H
#define QN_ECMA_ROUGHNESS_H

#include <cstdint>

#include "base/simd.h"
#include "quarnelo.h"

// ---------------------------------------------------------------------------
// Geometry

// One output frame every 960 samples (20 ms) from the signal start.
inline constexpr uint64_t qn_ecma_rough_frame_hop = 960;

// Blocks of 16384 samples every 4096 over the ear-filtered buffer, which is
// 16384 zeros followed by the faded-in signal and nothing after it.
inline constexpr uint64_t qn_ecma_rough_block = 16384;
inline constexpr uint64_t qn_ecma_rough_block_hop = 4096;
inline constexpr uint64_t qn_ecma_rough_lead = 16384;

// The envelope is read every 32 samples of a block: 512 instants, whose
// spectrum has 257 bins 1.5 kHz / 512 = 2.9296875 Hz apart.
inline constexpr uint64_t qn_ecma_rough_decimation = 32;
inline constexpr uint64_t qn_ecma_rough_envelope = 512;
inline constexpr int qn_ecma_rough_bins = 257;
inline constexpr double qn_ecma_rough_bin_hz = 2.9296875;

// The shortest signal analysed (five blocks), and the longest whose buffer
// of n + 16384 samples stays below 2^60.
inline constexpr uint64_t qn_ecma_rough_min_samples = QN_ECMA_ROUGHNESS_MIN_SAMPLES;
inline constexpr uint64_t qn_ecma_rough_max_samples = 1152921504606830591;  // 2^60 - 16385

// Frames of a signal of n samples: floor(n / 960) + 1.
inline constexpr uint64_t qn_ecma_rough_frames(uint64_t n) { return n / qn_ecma_rough_frame_hop + 1; }

// Blocks: ceil(n / 4096) + 1. Block i < B - 1 covers buffer samples 4096 i
// ... 4096 i + 16383; the last one the last 16384 samples of the buffer, so
// it ends at the signal's end.
inline constexpr uint64_t qn_ecma_rough_blocks(uint64_t n) {
    return n / qn_ecma_rough_block_hop + (n % qn_ecma_rough_block_hop != 0 ? 1 : 0) + 1;
}

// The instant a block stands for, in s: where it ends, counted from the
// signal start. Both this and the frame instants are correctly rounded
// quotients of exact integers, so instants that coincide compare equal.
inline double qn_ecma_rough_block_time(uint64_t block, uint64_t blocks, uint64_t n) {
    const uint64_t end = block + 1 < blocks ? qn_ecma_rough_block_hop * block : n;
    return static_cast<double>(end) / 48000.0;
}

// Frame k stands for k / 50 s.
inline double qn_ecma_rough_frame_time(uint64_t frame) { return static_cast<double>(frame) / 50.0; }

// ---------------------------------------------------------------------------
// Peak analysis

// What the peak analysis needs of a band, computed once per call.
struct qn_ecma_rough_band_constants {
    double amplitude_divisor;  // rho: peak weights are divided by it
    double best_rate_hz;       // f_max: the modulation rate that is roughest
    double high_exponent;      // q_h: weight of rates above f_max
    double low_exponent;       // q_l: weight of a fundamental below f_max
};

qn_ecma_rough_band_constants qn_ecma_rough_constants(uint64_t band) noexcept;

// Raw roughness of one band in one block from its weighted modulation
// spectrum, 257 doubles (bin m at 2.9296875 m Hz): 0 or a value of at least
// 0.074376. Reads bins 2 ... 255 only, allocates nothing. No status: a
// non-finite result is the caller's to catch. The band is not checked
// (0 ... 52).
double qn_ecma_band_roughness(const double *spectrum, uint64_t band) noexcept;

// The same with the band's constants given.
double qn_ecma_band_roughness_with(const double *spectrum, const qn_ecma_rough_band_constants &band) noexcept;

// ---------------------------------------------------------------------------
// Engine

// How the modulation spectrum of a block is computed: `fast` from the
// envelope's imaginary part at the 512 envelope instants, made for each
// quarter block once, when it arrives, and summed over the block's four
// quarters (its real part is the samples themselves); `literal` by two
// complex transforms of 16384 and one of 512, as the method is written
// (for tests and benchmarks).
enum class qn_ecma_rough_transforms : uint8_t { fast, literal };

// The analysis as a state that runs on while the band signals arrive
// (band_signals.h). Block i < B - 1 ends 4096 i samples after the signal
// start and is taken as soon as the band signals reach its end; the last
// block, flush with the end of the signal, when the end is known. Each
// frame is handed to the sink (53 values, band b at index b) once the
// block two after its interval is in, the interpolation's slopes needing
// the neighbouring blocks.

struct qn_ecma_rough_engine;
struct qn_ecma_band_signals;
struct qn_ecma_frame_sink;

// Band signals must keep this many samples for the engine: one block.
inline constexpr uint64_t qn_ecma_rough_span = qn_ecma_rough_block;

// A new engine whose kernels run on `path`, or null when memory is
// refused. Released with qn_ecma_rough_engine_free (null is ignored).
qn_ecma_rough_engine *qn_ecma_rough_engine_make(qn_ecma_rough_transforms transforms, qn_simd path,
                                                const qn_ecma_frame_sink &sink) noexcept;
void qn_ecma_rough_engine_free(qn_ecma_rough_engine *engine) noexcept;

// Where the next block the engine will take as the band signals arrive
// ends; UINT64_MAX once the signal's end is known.
uint64_t qn_ecma_rough_next_block_end(const qn_ecma_rough_engine &engine) noexcept;

// Takes every block that ends within the band signals, and hands on every
// frame that becomes complete. The engine's vector kernels run on the band
// signals' vector path (the same bits on every path). QN_STATUS_NUMERICAL_FAILURE when a value is
// not finite; the engine is then of no further use.
qn_status qn_ecma_rough_advance(qn_ecma_rough_engine *engine, const qn_ecma_band_signals &signals) noexcept;

// The signal has ended: the band signals have reached its end, n samples
// (n >= 15360). Takes the last block and hands on the remaining frames.
// QN_STATUS_NUMERICAL_FAILURE as qn_ecma_rough_advance.
qn_status qn_ecma_rough_finish(qn_ecma_rough_engine *engine, const qn_ecma_band_signals &signals) noexcept;

// Frames handed on so far.
uint64_t qn_ecma_rough_frames_done(const qn_ecma_rough_engine &engine) noexcept;

// The most frames the engine can have handed on once the band signals
// reach position `end` before the signal's end is known: the frames up to
// the instant of the block two before the newest.
inline constexpr uint64_t qn_ecma_rough_frames_by(uint64_t end) { return end / qn_ecma_rough_frame_hop + 1; }

// Runs the analysis over a signal the caller has checked (pointer aside,
// which is checked here with the samples): n within the bounds above, a
// valid sound field, and room for 53 * frames doubles at `out`. Writes the
// output as it goes, frame by frame. Working memory is about 8 MB whatever
// n is. The statuses are those of the signal check (null signal,
// non-finite sample), QN_STATUS_ALLOCATION_FAILED and
// QN_STATUS_NUMERICAL_FAILURE.
qn_status qn_ecma_rough_run(const double *samples, uint64_t n, qn_sound_field field, double *out,
                            qn_simd path = qn_simd_best(),
                            qn_ecma_rough_transforms transforms = qn_ecma_rough_transforms::fast) noexcept;

#endif

// The library's Fourier transforms: complex and real transforms of any
// length, in place, each multiplied by a scale factor.
//
// A plan is made for one length and used by one thread at a time (plans are
// made per call and never shared, so no state is shared between calls).
// Making a plan can fail (length 0, memory): the result is null, never an
// exception. Execution returns false on failure.
//
// Complex data are interleaved (re, im) doubles, 2 n of them.
//   forward:  X[k] = scale * sum_j x[j] e^(-2 pi i j k / n)
//   backward: x[j] = scale * sum_k X[k] e^(+2 pi i j k / n)
// so backward(forward(x)) with scales 1 and 1/n returns x.
//
// Real data are n doubles. The forward transform of a real signal is stored
// packed: r0, r1, i1, r2, i2, ..., and for even n the real r(n/2) last (for
// odd n the last pair is r((n-1)/2), i((n-1)/2)). The backward transform
// takes that layout and returns the real signal.
#ifndef QN_FFT_FFT_H
#define QN_FFT_FFT_H

#include <cstddef>
#include <memory>

struct qn_fft_cplan;
struct qn_fft_rplan;

qn_fft_cplan *qn_fft_cplan_make(std::size_t n) noexcept;
void qn_fft_cplan_free(qn_fft_cplan *plan) noexcept;
std::size_t qn_fft_cplan_length(const qn_fft_cplan *plan) noexcept;
bool qn_fft_cforward(qn_fft_cplan *plan, double *data, double scale) noexcept;
bool qn_fft_cbackward(qn_fft_cplan *plan, double *data, double scale) noexcept;
// The forward transform where only the lowest and highest bins are wanted:
// X[k] for k < keep and for n - keep < k, to rounding as the full
// transform; the other bins are left without meaning. Cheaper than the
// full transform when keep is small beside n (the last passes are then
// evaluated at the wanted bins only); otherwise the full transform.
bool qn_fft_cforward_ends(qn_fft_cplan *plan, double *data, std::size_t keep, double scale) noexcept;

qn_fft_rplan *qn_fft_rplan_make(std::size_t n) noexcept;
void qn_fft_rplan_free(qn_fft_rplan *plan) noexcept;
std::size_t qn_fft_rplan_length(const qn_fft_rplan *plan) noexcept;
bool qn_fft_rforward(qn_fft_rplan *plan, double *data, double scale) noexcept;
bool qn_fft_rbackward(qn_fft_rplan *plan, double *data, double scale) noexcept;
// The forward transform of a real signal whose samples from `filled` on
// are zeros (filled at most n): data[filled ... n - 1] need not hold them,
// since they are taken as zeros (and may be overwritten before the
// spectrum is). The bits of qn_fft_rforward on the signal with its zeros
// written out; cheaper where the first pass can skip the zeros (a quarter
// or half of the signal filled, on a length of powers of two).
bool qn_fft_rforward_filled(qn_fft_rplan *plan, double *data, std::size_t filled, double scale) noexcept;
// The real signal of the power spectrum of a real signal (its circular
// autocorrelation, times n): qn_fft_rforward_filled with scale 1, every
// packed bin (r, i) replaced by (r^2 + i^2, 0) (r0 and r(n/2) by their
// squares), then qn_fft_rbackward with `scale`, with the bits of those three
// steps. *total gets the sum of the powers, added in an order of the
// engine's choosing: it tells whether they are all finite, which any order
// of adding tells alike (but for a sum within rounding of the largest
// double). On the built-in engine, for even n, the spectrum
// is never written out: one pass takes the forward transform's output to
// the backward transform's input.
bool qn_fft_rpower_backward(qn_fft_rplan *plan, double *data, std::size_t filled, double scale,
                            double *total) noexcept;

// Owners that destroy their plan on every way out of a scope.
struct qn_fft_cplan_deleter {
    void operator()(qn_fft_cplan *plan) const noexcept { qn_fft_cplan_free(plan); }
};
struct qn_fft_rplan_deleter {
    void operator()(qn_fft_rplan *plan) const noexcept { qn_fft_rplan_free(plan); }
};
using qn_fft_cplan_ptr = std::unique_ptr<qn_fft_cplan, qn_fft_cplan_deleter>;
using qn_fft_rplan_ptr = std::unique_ptr<qn_fft_rplan, qn_fft_rplan_deleter>;

#endif

// The library's own transforms, behind the interface of fft.h.
//
// Lengths that factor into primes up to 61 run as a mixed-radix Stockham
// transform: butterflies of radix 8, 4, 2, 3 and 5 with their own code and a
// generic butterfly for the other primes, one pass per factor, twiddles from
// a table of exactly reduced angles. Lengths with a larger prime factor go
// through Bluestein's algorithm: a convolution of a chirp with the data,
// computed by transforms of a length with factors 2, 3 and 5 only. A real
// transform of even length n is a complex transform of n / 2 and one pass
// that separates the spectra of the even and odd samples; odd lengths use a
// complex transform of n.
//
// The kernels exist for SSE2 (every x86-64, the baseline path) and AVX2 (the
// avx2 path); a plan takes the path it is given, by default the best this
// processor runs. Both give the same bits.
//
// The engine is compiled in every configuration, so that its tests and the
// comparison benchmark run whatever backend fft.h is built on.
#ifndef QN_FFT_BUILTIN_H
#define QN_FFT_BUILTIN_H

#include <cstddef>

#include "base/simd.h"

struct qn_fft_builtin_cplan;
struct qn_fft_builtin_rplan;

// Same contracts as the functions of fft.h. A plan for a path this
// processor lacks is not made (null).
qn_fft_builtin_cplan *qn_fft_builtin_cplan_make(std::size_t n,
                                                qn_simd path = qn_simd_best()) noexcept;
void qn_fft_builtin_cplan_free(qn_fft_builtin_cplan *plan) noexcept;
std::size_t qn_fft_builtin_cplan_length(const qn_fft_builtin_cplan *plan) noexcept;
bool qn_fft_builtin_cforward(qn_fft_builtin_cplan *plan, double *data, double scale) noexcept;
bool qn_fft_builtin_cbackward(qn_fft_builtin_cplan *plan, double *data, double scale) noexcept;
bool qn_fft_builtin_cforward_ends(qn_fft_builtin_cplan *plan, double *data, std::size_t keep,
                                  double scale) noexcept;

qn_fft_builtin_rplan *qn_fft_builtin_rplan_make(std::size_t n,
                                                qn_simd path = qn_simd_best()) noexcept;
void qn_fft_builtin_rplan_free(qn_fft_builtin_rplan *plan) noexcept;
std::size_t qn_fft_builtin_rplan_length(const qn_fft_builtin_rplan *plan) noexcept;
bool qn_fft_builtin_rforward(qn_fft_builtin_rplan *plan, double *data, double scale) noexcept;
bool qn_fft_builtin_rforward_filled(qn_fft_builtin_rplan *plan, double *data, std::size_t filled,
                                    double scale) noexcept;
bool qn_fft_builtin_rbackward(qn_fft_builtin_rplan *plan, double *data, double scale) noexcept;
bool qn_fft_builtin_rpower_backward(qn_fft_builtin_rplan *plan, double *data, std::size_t filled, double scale,
                                    double *total) noexcept;

#endif

// A packed real spectrum (fft.h's layout) made its power spectrum in place:
// r0^2, (r_k^2 + i_k^2, 0), and for even n r(n/2)^2; returns the powers'
// sum in order of the bins. Shared by the engines for their plain form of
// qn_fft_rpower_backward.
#ifndef QN_FFT_PACKED_POWER_H
#define QN_FFT_PACKED_POWER_H

#include <cstddef>

inline double qn_fft_packed_power(double *data, std::size_t n) {
    double sum = data[0] * data[0];
    data[0] = sum;
    for (std::size_t k = 1; 2 * k < n; ++k) {
        const double p = data[2 * k - 1] * data[2 * k - 1] + data[2 * k] * data[2 * k];
        data[2 * k - 1] = p;
        data[2 * k] = 0;
        sum += p;
    }
    if (n % 2 == 0 && n >= 2) {
        data[n - 1] = data[n - 1] * data[n - 1];
        sum += data[n - 1];
    }
    return sum;
}

#endif

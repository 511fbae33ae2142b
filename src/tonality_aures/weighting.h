// The Aures weighting of a frame's tonal components: how far each stands
// above what masks it (Terhardt's SPL excess), the three weightings of
// bandwidth, frequency and SPL excess combined into the tonal weight w_T, and
// with the loudness weighting w_Gr the tonality T.
//
// The component list is a set of parallel arrays of n entries sorted by
// ascending frequency; the list order decides the mutual masking (earlier
// components mask later ones along the upper slope, later ones earlier ones
// along the lower slope), so it must be kept.
#ifndef QN_TONALITY_AURES_WEIGHTING_H
#define QN_TONALITY_AURES_WEIGHTING_H

#include <cstdint>

// The residual spectrum that masks the components, one entry per bin:
// power[j] = 10^(M[j] / 10) of its level M[j] in dB and rate[j], the
// critical-band rate of the bin's frequency (qn_aures_bark).
struct qn_aures_masking {
    const double *power;
    const double *rate;
    int32_t count;
    bool rate_rises;  // rate rises strictly with j (qn_aures_bin_rates)
};

// SPL excess in dB of each component i over its masking power: the
// residual power within 0.5 Bark of its rate (leaving out the five bins
// band[i] - 2 ... band[i] + 2 when band[i] >= 0, the component's own bin
// and its neighbours), the other components added as amplitudes along
// their masking slopes, and the threshold in quiet. `rate` holds the
// components' rates (qn_aures_bark of their frequencies), `level` their
// levels in dB. Negative excesses are stored as 0.
//
// Returns 0 (at once for n <= 0), or qn_aures_step_failed at the first
// excess that is not finite; earlier ones stay written.
int32_t qn_aures_spl_excess(const qn_aures_masking &masking, const double *frequency, const double *rate,
                            const double *level, const int32_t *band, int32_t n, double *excess) noexcept;

// The tonal weight w_T of the components: the root of the sum over the
// components of (w1^(1/0.29) (w2^0.29)^(1/0.29) (w3^0.29)^(1/0.29))^2, with
// w1 weighting the bandwidth beyond the window's own (window_bandwidth), w2
// the frequency and w3 the SPL excess. Only w1 ends up raised to 1/0.29; w2
// and w3 enter with power 1 (to rounding), which the constant 1.1055 of the
// tonality was fitted to. Components with a frequency, bandwidth or excess
// of 0 or less add nothing. 0 for n < 1; NaN when a value is not finite or a
// window bandwidth is negative.
double qn_aures_tonal_weight(const double *frequency, const double *bandwidth, const double *excess,
                             const double *window_bandwidth, int32_t n) noexcept;

// The loudness weighting w_Gr = 1 - N_residual / N_frame (0 for a frame
// whose loudness is not above 1e-99 sone). Not clamped; the caller
// raises a negative value to 0.
double qn_aures_loudness_weight(double frame_loudness, double residual_loudness) noexcept;

// T = 1.1055 w_T^0.29 w_Gr^0.79.
double qn_aures_tonality(double tonal_weight, double loudness_weight) noexcept;

#endif

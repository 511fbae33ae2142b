// Tonal components of one frame's level spectrum, after Terhardt: narrow
// spectral regions that stand out of their critical band (a line smeared by
// the window, a cluster of lines, a narrow band of noise), and single lines
// that stand out of their neighbouring bins.
//
// Everything here works on arrays lent by the engine and allocates nothing.
#ifndef QN_TONALITY_AURES_COMPONENTS_H
#define QN_TONALITY_AURES_COMPONENTS_H

#include <cstdint>

// What a detector or weighting step returns when it meets a value it cannot
// use (a level, a sum or a bandwidth that is not finite, a bandwidth that is
// not positive). The engine turns it into its numerical failure.
inline constexpr int32_t qn_aures_step_failed = -1;

// At most this many narrow-band regions per frame; the search ends there.
inline constexpr int qn_aures_max_narrowbands = 20;

// Critical-band rate in Bark of a frequency in Hz (Zwicker and Terhardt's
// closed form). Every rate of the tonality is computed by this function, so
// that two rates of the same frequency compare equal.
double qn_aures_bark(double frequency_hz) noexcept;

// Fills rate[i] with the critical-band rate of bin i (frequency i df) for
// i = 0 ... len - 1. Returns true when the rates rise strictly from bin to
// bin, so that the bins of any band of rates are one contiguous run.
bool qn_aures_bin_rates(double *rate, int32_t len, double df) noexcept;

// The bins whose rate lies in lo ... hi (both included) lie in first ...
// last: the exact run when the rates rise, else all len bins (the caller
// still tests each bin). first > last when the run is empty.
void qn_aures_rate_run(const double *rate, int32_t len, bool rate_rises, double lo, double hi, int32_t *first,
                       int32_t *last) noexcept;

// One narrow-band region.
struct qn_aures_narrowband {
    int32_t start;            // first bin of the extended range
    int32_t end;              // last bin of the extended range (inclusive)
    double centre;            // Hz: geometric mean of the two 3-dB edge frequencies
    double bandwidth;         // Hz: 5 %-95 % energy width divided by 0.9
    double level;             // dB: power above the baseline between the 3-dB edges
    double lower_edge_level;  // dB: working level at `start` before the region was removed
    double upper_edge_level;  // dB: working level at `end` before the region was removed
};

// The level spectrum the search reads: `level` (dB) of each of len bins.
// When `ratio` is given, a level may still be NaN, and is then computed on
// first use as 10 log10(ratio[i]), ratio[i] being the bin's power over the
// reference power, positive and finite: the search touches the bins near
// the regions it examines, seldom the whole spectrum. Without `ratio` every
// level must be there (and finite).
struct qn_aures_spectrum {
    double *level;
    const double *ratio;
    int32_t len;
};

// Working arrays of the narrow-band search for a spectrum of len bins. The
// rates are filled once per call by qn_aures_bin_rates (they do not change
// from frame to frame); every other array is the search's own.
struct qn_aures_search_workspace {
    const double *rate;         // critical-band rate of each bin, Bark
    bool rate_rises;            // qn_aures_bin_rates returned true
    double *level_power;        // 10^(L / 10), computed on first use
    double *smoothed;           // power mean of a bin and its two neighbours, dB, on first use
    double *search;             // smoothed level of the bins where a region may peak
    double *working;            // where a recorded region was removed: its baseline (dB)
    double *power;              // there: 10^(working / 10)
    double *scratch;            // sort buffer, then baseline powers of a pass
    double *excess;             // power above the baseline, per bin of a region
    double *share;              // cumulative share of that excess
    unsigned char *claimed;     // bins taken by an earlier pass
};

// The narrow-band search over the level spectrum (len bins of width df Hz,
// bin 0 at 0 Hz). Runs at most 20 passes; each pass claims the region
// around the highest remaining smoothed level between 20 Hz and 5000 Hz and
// records it when it is narrower than a critical band and stands at least
// 7 dB above both neighbouring critical bands. A recorded region is then
// replaced by its baseline in the working level, so later passes measure
// their critical bands without it. The search ends early at a highest
// smoothed level below 0 dB. Levels it computes stay in spectrum.level.
//
// Writes the records in the order found and returns their number (0 ... 20),
// or qn_aures_step_failed when a smoothed level, a band sum, a power sum, a
// bandwidth or a level is unusable.
int32_t qn_aures_narrowband_search(const qn_aures_spectrum &spectrum, const qn_aures_search_workspace &w,
                                   qn_aures_narrowband *records, double df) noexcept;

// Tonal peaks: bins p in first ... last (inclusive) whose level rises
// strictly from bin p - 1, does not fall to bin p + 1 (a plateau yields its
// lower bin), stands at least 7 dB above the bins 6 and 9 away on both
// sides, lies inside no recorded region's range and is above 0 dB. The
// caller keeps first >= 9 and last + 9 below the length of L. Writes each
// peak's bin, level and frequency p fs / N in ascending bin order; returns
// their number, or qn_aures_step_failed when there are more than `capacity`.
int32_t qn_aures_pick_peaks(const double *L, int32_t first, int32_t last, const qn_aures_narrowband *records,
                            int32_t record_count, double fs, int32_t N, int32_t *bins, double *levels,
                            double *frequencies, int32_t capacity) noexcept;

// The 3-dB bandwidth of each tonal peak (bin bins[i], level levels[i]) in
// the level spectrum L of all N bins of a transform at rate fs: the walk to
// the first bin more than 3 dB down on each side, interpolated linearly in
// dB. Bins 0 ... 3 are never taken as the lower crossing. Returns 0, at once
// for count <= 0, or qn_aures_step_failed at the first bandwidth that is
// zero, negative or not finite (earlier ones stay written). Every bin must
// lie in 0 ... N - 1, with N at least 5.
int32_t qn_aures_peak_bandwidths(const double *L, int32_t N, const int32_t *bins, const double *levels,
                                 int32_t count, double *bandwidths, double fs) noexcept;

#endif

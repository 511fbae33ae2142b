// The Aures tonality computed literally: every frame recomputes every power
// and critical-band rate it needs, every search pass sums all bins, the
// extension thresholds come from a full qsort, and every lookup is a scan.
// Slow; the tests hold the library's engine to it bit for bit (both use the
// library's transforms and third-octave loudness, and the same arithmetic
// in the same order).
#ifndef QN_TESTS_AURES_LITERAL_H
#define QN_TESTS_AURES_LITERAL_H

#include <cstdint>
#include <vector>

#include "quarnelo.h"

namespace qn_test {

struct aures_record {
    int start = 0, end = 0;
    double centre = 0, bandwidth = 0, level = 0, lower_edge_level = 0, upper_edge_level = 0;
};

struct aures_frame_detail {
    std::vector<double> level;            // L1, all 12000 bins, dB
    std::vector<aures_record> records;    // narrow bands in the order found
    std::vector<int> peaks;               // tonal peak bins, ascending
    std::vector<double> peak_bandwidths;  // their 3-dB bandwidths, Hz
    // The component list after the sort by frequency.
    std::vector<double> frequency, component_level, bandwidth, window_bandwidth, excess;
    std::vector<int> band;
    double frame_loudness = 0, residual_loudness = 0;  // sone (0 when not computed)
    double tonal_weight = 0, loudness_weight = 0, tonality = 0;
};

// Window constants of the method: the sum of the window, the amplitude
// scale sqrt 2 / sum, and the window's noise correction E_w in dB.
struct aures_window {
    std::vector<double> w;
    double sum = 0, scale = 0, noise_db = 0;
};
aures_window aures_literal_window();

// The power ratios (|X|^2 + 1e-99) / (20 uPa)^2 and the level spectrum L1
// = 10 log10 of them (12000 values each, dB) of one frame of 12000 samples.
std::vector<double> aures_literal_ratios(const double *frame);
std::vector<double> aures_literal_levels(const double *frame);

// The narrow-band search alone over L[0 ... len - 1] with bins df Hz
// apart: the number of records (or -1), the records, and in `trace` the
// claim flags at the end and how often a 3-dB edge was open at a bin an
// earlier pass had claimed.
struct aures_search_trace {
    std::vector<unsigned char> claimed;
    int open_claimed_edges = 0;
    int records = 0;  // what the search returned
};
int aures_literal_search(const std::vector<double> &L, int len, double df, std::vector<aures_record> &records,
                         aures_search_trace *trace = nullptr);

// Tonality per frame, or an engine code (negative) in `code`; on success
// `code` is the number of frames.
std::vector<double> aures_literal(const double *samples, int32_t n, qn_sound_field field, int32_t *code,
                                  std::vector<aures_frame_detail> *details = nullptr);

}  // namespace qn_test

#endif

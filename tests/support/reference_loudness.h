// Straightforward scalar versions of the filter bank and of the
// time-varying loudness: one band at a time, one sample at a time, every
// check after every sample. The library's vectorised code must agree with
// them bit for bit; the benchmarks measure the speed-up over them.
#ifndef QN_TESTS_REFERENCE_LOUDNESS_H
#define QN_TESTS_REFERENCE_LOUDNESS_H

#include <cstdint>
#include <vector>

#include "quarnelo.h"

namespace qn_test {

// Band levels in dB, or an empty vector on a numerical failure.
std::vector<double> reference_third_octave_levels(const double *x, uint64_t count, uint64_t skip);

// The levels of every whole interval of `step` samples (28 per interval,
// interval-major), the bank running on through the whole signal.
std::vector<double> reference_band_level_series(const double *x, uint64_t count, uint64_t step);

struct time_result {
    qn_status status = QN_STATUS_SUCCESS;
    std::vector<double> loudness;  // one per frame
    std::vector<double> specific;  // 240 per frame
};

time_result reference_loudness_time(const double *x, uint64_t count, qn_sound_field field);

}  // namespace qn_test

#endif

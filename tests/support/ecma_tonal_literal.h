// ECMA-418-2 tonality computed literally: the whole ear-filtered buffer,
// one whole band signal at a time, the full autocorrelation store of every
// group (filtered bands x blocks x lags), the frame series as whole arrays
// and every periodicity spectrum as a full 16384-point transform. Its memory
// grows with the signal (some 50 MB per second), so it serves only short
// signals; the tests hold the library's engine to it.
#ifndef QN_TESTS_ECMA_TONAL_LITERAL_H
#define QN_TESTS_ECMA_TONAL_LITERAL_H

#include <cstdint>
#include <vector>

#include "quarnelo.h"

namespace qn_test {

// The five arrays (265 V values, frame-major) in `out`, and the status.
qn_status ecma_tonal_literal(const double *samples, uint64_t count, qn_sound_field field,
                             std::vector<double> &out);

}  // namespace qn_test

#endif

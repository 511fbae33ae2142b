// ECMA-418-2 fluctuation strength computed literally: the whole ear-filtered
// buffer, each band's whole filtered signal, the envelope of every block
// and band by two complex transforms of 65536, the analysis of each band's
// envelope (the library's own, tested on its own), the loudness scaling of
// each block, the interpolation through all blocks and the frame pass over
// the whole series. Memory grows with the signal; the tests hold the
// library's engine to it.
#ifndef QN_TESTS_ECMA_FLUCT_LITERAL_H
#define QN_TESTS_ECMA_FLUCT_LITERAL_H

#include <cstdint>
#include <vector>

#include "quarnelo.h"

namespace qn_test {

struct ecma_fluct_literal_result {
    qn_status status = QN_STATUS_SUCCESS;
    uint64_t blocks = 0, frames = 0;
    std::vector<double> values;        // the block values A(l, z), blocks x 53
    std::vector<double> interpolated;  // frames x 53, before the frame pass
    std::vector<double> fluctuation;   // frames x 53, the result
};

ecma_fluct_literal_result ecma_fluct_literal(const std::vector<double> &signal, qn_sound_field field);

}  // namespace qn_test

#endif

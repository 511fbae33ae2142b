// ECMA-418-2 roughness computed literally: the whole ear-filtered buffer,
// each band's whole filtered signal, the modulation spectra of every block
// and band by two complex transforms of 16384 and one of 512, then the
// block pass, the interpolation through all blocks and the final transform.
// Memory grows with the signal; the tests hold the library's engine to it.
#ifndef QN_TESTS_ECMA_ROUGH_LITERAL_H
#define QN_TESTS_ECMA_ROUGH_LITERAL_H

#include <cstdint>
#include <vector>

#include "quarnelo.h"

namespace qn_test {

struct ecma_rough_literal_result {
    qn_status status = QN_STATUS_SUCCESS;
    uint64_t blocks = 0, frames = 0;
    std::vector<double> loudness;      // N'(i, b), blocks x 53
    std::vector<double> raw;           // raw roughness R(i, b), blocks x 53
    std::vector<double> interpolated;  // frames x 53, before the final transform
    std::vector<double> roughness;     // frames x 53, the result
};

ecma_rough_literal_result ecma_rough_literal(const std::vector<double> &signal, qn_sound_field field);

}  // namespace qn_test

#endif

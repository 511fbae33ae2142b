// The roughness engine computed literally: complex transforms throughout,
// three per channel, the weighted envelopes brought back to the time domain
// and correlated sample by sample. Slow; the tests hold the library's engine
// to it.
#ifndef QN_TESTS_DW_LITERAL_H
#define QN_TESTS_DW_LITERAL_H

#include <cstdint>
#include <vector>

namespace qn_test {

struct dw_frame_detail {
    std::vector<int> components;       // bins of the audible components
    std::vector<double> levels;        // their levels, dB
    std::vector<double> depth;         // m by channel index
    std::vector<double> correlation;   // k by pair index
    std::vector<std::vector<double>> envelope;  // weighted envelope by channel index
    double roughness = 0;
};

// Roughness per frame, or a negative engine code in `code`.
std::vector<double> dw_literal(const double *samples, int32_t n, int32_t *code,
                               std::vector<dw_frame_detail> *details = nullptr);

}  // namespace qn_test

#endif

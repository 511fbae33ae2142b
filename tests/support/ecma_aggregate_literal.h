// The reductions of the hearing model's specific values written out
// literally over whole arrays: the time-dependent value of every frame, the
// averaged specific values and the single value by their formulas, the
// percentile by sorting a copy, and the specific loudness of the tonal and
// noise parts by the power sum as it is usually written. The tests hold the
// library's running sums and its selection without a copy to them.
#ifndef QN_TESTS_ECMA_AGGREGATE_LITERAL_H
#define QN_TESTS_ECMA_AGGREGATE_LITERAL_H

#include <cstdint>
#include <vector>

#include "quarnelo.h"

namespace qn_test {

struct ecma_aggregate_literal_result {
    std::vector<double> series;    // X(l), one per frame
    std::vector<double> averaged;  // X'(z), 53
    double value = 0;              // the single value
};

// `specific` holds whole frames of 53 values; the metric is one of
// QN_ECMA_LOUDNESS, QN_ECMA_ROUGHNESS and QN_ECMA_FLUCTUATION, and the
// frames are more than its first frame.
ecma_aggregate_literal_result ecma_aggregate_literal(qn_ecma_metric metric, const std::vector<double> &specific);

// The `fraction` quantile by linear interpolation between the order
// statistics of a sorted copy.
double percentile_literal(std::vector<double> values, double fraction);

// The exponent of a frame's power sum, from its largest tonal plus noise
// specific loudness.
double ecma_loudness_exponent(double largest);

// N'(l,z) = [N't^e + (0.5331 N'n)^e]^(1/e) for frames x 53 tonal and noise
// values, e the frame's exponent.
std::vector<double> ecma_specific_loudness_literal(const double *tonal, const double *noise, uint64_t frames);

}  // namespace qn_test

#endif

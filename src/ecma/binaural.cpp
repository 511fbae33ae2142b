// Two ears: the quadratic mean of their specific values, element by element.
#include <cmath>

#include "base/checks.h"
#include "quarnelo.h"

namespace {

// Where the squares of the larger value stay normal doubles: from 2^-500
// (square 2^-1000) to 2^500 (twice the square 2^1001). Beyond, both values
// are scaled by 2^-600 or 2^600, which is exact, and the mean scaled back.
// The smaller value may then lose bits to underflow, but its square is at
// most 2^-75 of the larger one's, far below what the sum keeps of it.
constexpr double large = 0x1p500;
constexpr double small = 0x1p-500;
constexpr double down = 0x1p-600;
constexpr double up = 0x1p600;

// sqrt(fl(x * x)) is x for every x whose square neither overflows nor
// underflows, and fl(x * x + x * x) / 2 is fl(x * x): equal ears give their
// value back, bit for bit.
inline double mean_of_squares_root(double a, double b) { return std::sqrt((a * a + b * b) / 2); }

inline double quadratic_mean(double a, double b) {
    const double larger = a > b ? a : b;
    if (larger > large) return mean_of_squares_root(a * down, b * down) * up;
    // Two zeros give zero with the sign their sum has, so that -0.0 in both
    // ears stays -0.0.
    if (larger == 0) return a + b;
    if (larger < small) return mean_of_squares_root(a * up, b * up) * down;
    return mean_of_squares_root(a, b);
}

}  // namespace

extern "C" {

QN_API qn_status qn_ecma_binaural(const double *left, const double *right, uint64_t count, double *out,
                                  uint64_t out_capacity) {
    if (left == nullptr || right == nullptr || out == nullptr) return QN_STATUS_NULL_POINTER;
    if (count > qn_max_count) return QN_STATUS_SIZE_OVERFLOW;
    if (out_capacity < count) return QN_STATUS_OUTPUT_TOO_SMALL;
    // In place is fine: each element is read before it is written, and no
    // other is read afterwards. A shifted overlap would read written values.
    if ((out != left && qn_overlaps(out, count, left, count)) || (out != right && qn_overlaps(out, count, right, count)))
        return QN_STATUS_INVALID_ARGUMENT;
    for (uint64_t i = 0; i < count; ++i) {
        const double pair[2] = {left[i], right[i]};
        for (double x : pair) {
            if (!qn_is_finite(x)) return QN_STATUS_NON_FINITE_INPUT;
            if (x < 0) return QN_STATUS_INVALID_ARGUMENT;
        }
    }
    for (uint64_t i = 0; i < count; ++i) out[i] = quadratic_mean(left[i], right[i]);
    return QN_STATUS_SUCCESS;
}

}  // extern "C"

// The octant table of the roots of unity.
#include "fft/roots.h"

#include <cmath>

void qn_fft_roots_fill(qn_fft_roots *roots, uint64_t n, double *table) noexcept {
    roots->n = n;
    roots->step = qn_fft_roots_step(n);
    roots->table = table;
    const uint64_t entries = qn_fft_roots_entries(n);
    // The angle pi step i / (4 n) is formed in long double, so the only
    // roundings left are that of the argument to double and those of sin
    // and cos themselves: each entry is within about one unit in the last
    // place, whatever n.
    const long double quarter_pi = 0.785398163397448309615660845819875721L;
    for (uint64_t i = 0; i < entries; ++i) {
        const long double angle =
            quarter_pi * static_cast<long double>(roots->step * i) / static_cast<long double>(n);
        const double x = static_cast<double>(angle);
        table[2 * i] = std::cos(x);
        table[2 * i + 1] = std::sin(x);
    }
}

// The sound levels of a whole signal the plain way: each weighting filter
// over the whole signal into an array, section after section, the time
// weightings into arrays, then every result read off the arrays. The
// library runs all of it sample by sample in blocks with carried states;
// the two must agree bit for bit.
#ifndef QN_TESTS_SOUND_LEVELS_LITERAL_H
#define QN_TESTS_SOUND_LEVELS_LITERAL_H

#include <cstdint>
#include <vector>

namespace qn_test {

struct literal_sound_levels {
    std::vector<double> levels;    // the seven, by QN_LEVEL_* index
    std::vector<double> laf, las;  // a point every 480 samples from sample 480 on
};

literal_sound_levels sound_levels_literal(const std::vector<double> &x);

}  // namespace qn_test

#endif

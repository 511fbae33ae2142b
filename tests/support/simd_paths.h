// The vector paths a test runs: every path this processor has. A path it
// lacks is named on stdout, so a run on an older processor says what it
// could not test.
#ifndef QN_TESTS_SIMD_PATHS_H
#define QN_TESTS_SIMD_PATHS_H

#include <cstdio>
#include <vector>

#include "base/simd.h"

namespace qn_test {

inline std::vector<qn_simd> simd_paths() {
    std::vector<qn_simd> paths;
    for (qn_simd path : qn_simd_paths) {
        if (qn_simd_available(path)) {
            paths.push_back(path);
        } else {
            std::printf("vector path %s: not on this processor, not tested\n", qn_simd_name(path));
        }
    }
    return paths;
}

}  // namespace qn_test

#endif

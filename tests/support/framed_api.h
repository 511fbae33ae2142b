// Checks shared by the API tests of the metrics with one value per frame:
// the table of frame counts (support/frame_counts.h), and every heap request
// of an analysis failing in turn.
#ifndef QN_TESTS_FRAMED_API_H
#define QN_TESTS_FRAMED_API_H

#include <gtest/gtest.h>

#include <cstdint>
#include <initializer_list>

#include "quarnelo.h"
#include "support/alloc_hook.h"
#include "support/expect.h"
#include "support/frame_counts.h"

namespace qn_test {

// `analyse(out, frame_count)` is one call of an analysis of one frame. Run
// once, it counts its heap requests; then each request fails in turn, and
// the call must answer QN_STATUS_ALLOCATION_FAILED, write neither output
// and release every block it obtained.
template <class Analyse>
void expect_allocation_failures(Analyse analyse) {
    double out = sentinel;
    uint64_t frames = 0;
    qn_test_fail_allocation_at(-1);
    ASSERT_EQ(analyse(&out, &frames), QN_STATUS_SUCCESS);
    const int64_t requests = qn_test_allocation_count();
    const int64_t live = qn_test_live_allocations();
    ASSERT_GT(requests, 1);
    for (int64_t i = 0; i < requests; ++i) {
        out = sentinel;
        frames = 99;
        {
            qn_test_allocation_failure fail(i);
            EXPECT_EQ(analyse(&out, &frames), QN_STATUS_ALLOCATION_FAILED) << "request " << i;
        }
        EXPECT_EQ(out, sentinel) << "request " << i;
        EXPECT_EQ(frames, 99u) << "request " << i;
        EXPECT_EQ(qn_test_live_allocations(), live) << "request " << i;
    }
}

}  // namespace qn_test

#endif

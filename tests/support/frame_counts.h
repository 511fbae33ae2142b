// The frame-count queries of the framed exports share one shape: a table of
// sample counts and rates, the status of each, and what the count holds
// afterwards. This checks one query against its table.
#ifndef QN_TESTS_FRAME_COUNTS_H
#define QN_TESTS_FRAME_COUNTS_H

#include <gtest/gtest.h>

#include <cstdint>
#include <initializer_list>

#include "quarnelo.h"

namespace qn_test {

// What the count holds before each call; a failing query that must write
// nothing leaves it so.
inline constexpr uint64_t frame_count_before = 777;

struct frame_count_case {
    uint64_t count;
    int32_t rate;
    qn_status status;
    uint64_t frames_after;  // the frame count on success, else what the query leaves
};

using frame_count_query = qn_status (*)(uint64_t, int32_t, uint64_t *);

// Every row, and the null count pointer (QN_STATUS_NULL_POINTER whatever
// the other arguments).
inline void expect_frame_counts(const char *name, frame_count_query query,
                                std::initializer_list<frame_count_case> cases) {
    for (const frame_count_case &c : cases) {
        uint64_t frames = frame_count_before;
        EXPECT_EQ(query(c.count, c.rate, &frames), c.status) << name << ": " << c.count << " samples at " << c.rate;
        EXPECT_EQ(frames, c.frames_after) << name << ": " << c.count << " samples at " << c.rate;
    }
    EXPECT_EQ(query(0, 0, nullptr), QN_STATUS_NULL_POINTER) << name;
    EXPECT_EQ(query(48000, 48000, nullptr), QN_STATUS_NULL_POINTER) << name;
}

}  // namespace qn_test

#endif

// Failure injection for the library's heap requests, available only to
// tests and fuzzers (they link this allocator in place of the shipped one).
// The state is per thread, so concurrent tests do not disturb each other.
#ifndef QN_TESTS_ALLOC_HOOK_H
#define QN_TESTS_ALLOC_HOOK_H

#include <cstdint>

// From now on, the request with index `index` (0 = the next one) fails, and
// so does every later one when `sticky` is true. A negative index disarms.
void qn_test_fail_allocation_at(int64_t index, bool sticky = false);

// Requests made on this thread since the last call of
// qn_test_fail_allocation_at (or since the thread started).
int64_t qn_test_allocation_count();

// Blocks obtained and not yet released on this thread.
int64_t qn_test_live_allocations();

// Arms the hook for one scope and disarms it on leaving.
struct qn_test_allocation_failure {
    explicit qn_test_allocation_failure(int64_t index, bool sticky = false) {
        qn_test_fail_allocation_at(index, sticky);
    }
    ~qn_test_allocation_failure() { qn_test_fail_allocation_at(-1); }
    qn_test_allocation_failure(const qn_test_allocation_failure &) = delete;
    qn_test_allocation_failure &operator=(const qn_test_allocation_failure &) = delete;
};

#endif

// The test build's allocator: the C heap behind a per-thread failure switch.
#include "alloc_hook.h"

#include <cstdlib>

#include "base/alloc.h"

namespace {
thread_local int64_t fail_index = -1;
thread_local bool fail_sticky = false;
thread_local int64_t requests = 0;
thread_local int64_t live = 0;

bool should_fail() {
    const int64_t index = requests++;
    if (fail_index < 0) return false;
    return index == fail_index || (fail_sticky && index > fail_index);
}
}  // namespace

void qn_test_fail_allocation_at(int64_t index, bool sticky) {
    fail_index = index;
    fail_sticky = sticky;
    requests = 0;
}

int64_t qn_test_allocation_count() { return requests; }

int64_t qn_test_live_allocations() { return live; }

void *qn_alloc(std::size_t bytes) noexcept {
    if (should_fail()) return nullptr;
    void *block = std::malloc(bytes == 0 ? 1 : bytes);
    if (block != nullptr) ++live;
    return block;
}

void *qn_alloc_zeroed(std::size_t bytes) noexcept {
    if (should_fail()) return nullptr;
    void *block = std::calloc(bytes == 0 ? 1 : bytes, 1);
    if (block != nullptr) ++live;
    return block;
}

void qn_free(void *block) noexcept {
    if (block != nullptr) --live;
    std::free(block);
}

// The benchmarks' allocator: the C heap, as in the shipped library, with a
// count of the bytes the library holds, so that a benchmark can report its
// working memory (the largest amount held at once) apart from the caller's
// own input and output arrays.
#include <malloc.h>

#include <atomic>
#include <cstdlib>

#include "bench_support.h"
#include "frame/alloc.h"

namespace {
std::atomic<int64_t> held{0};
std::atomic<int64_t> peak{0};

void *counted(void *block) {
    if (block != nullptr) {
        const int64_t now = held.fetch_add(static_cast<int64_t>(malloc_usable_size(block))) +
                            static_cast<int64_t>(malloc_usable_size(block));
        int64_t seen = peak.load();
        while (now > seen && !peak.compare_exchange_weak(seen, now)) {
        }
    }
    return block;
}
}  // namespace

void *qn_alloc(std::size_t bytes) noexcept { return counted(std::malloc(bytes == 0 ? 1 : bytes)); }

void *qn_alloc_zeroed(std::size_t bytes) noexcept { return counted(std::calloc(bytes == 0 ? 1 : bytes, 1)); }

void qn_free(void *block) noexcept {
    if (block != nullptr) held.fetch_sub(static_cast<int64_t>(malloc_usable_size(block)));
    std::free(block);
}

namespace qn_bench {

void reset_peak_memory() { peak.store(held.load()); }

double peak_memory_mib() { return static_cast<double>(peak.load()) / (1024.0 * 1024.0); }

}  // namespace qn_bench

// The benchmarks' allocator: the C heap, as the shipped library has it, with
// a count of the bytes the library holds and their peak, so that working
// memory is measured rather than estimated.
#include <atomic>
#include <cstdlib>
#include <cstring>

#include "bench_support.h"
#include "base/alloc.h"

namespace {

std::atomic<std::size_t> held{0};
std::atomic<std::size_t> peak{0};

// Each block carries its size in front, 16 bytes so that the caller's part
// keeps malloc's alignment.
constexpr std::size_t header = 16;

void *account(void *raw, std::size_t bytes) {
    if (raw == nullptr) return nullptr;
    std::memcpy(raw, &bytes, sizeof bytes);
    const std::size_t now = held.fetch_add(bytes, std::memory_order_relaxed) + bytes;
    std::size_t seen = peak.load(std::memory_order_relaxed);
    while (now > seen && !peak.compare_exchange_weak(seen, now, std::memory_order_relaxed)) {
    }
    return static_cast<char *>(raw) + header;
}

}  // namespace

void *qn_alloc(std::size_t bytes) noexcept {
    if (bytes == 0) bytes = 1;
    return account(std::malloc(header + bytes), bytes);
}

void *qn_alloc_zeroed(std::size_t bytes) noexcept {
    if (bytes == 0) bytes = 1;
    return account(std::calloc(header + bytes, 1), bytes);
}

void qn_free(void *block) noexcept {
    if (block == nullptr) return;
    char *raw = static_cast<char *>(block) - header;
    std::size_t bytes = 0;
    std::memcpy(&bytes, raw, sizeof bytes);
    held.fetch_sub(bytes, std::memory_order_relaxed);
    std::free(raw);
}

namespace qn_bench {

void reset_heap_peak() { peak.store(held.load(std::memory_order_relaxed), std::memory_order_relaxed); }

std::size_t heap_peak() { return peak.load(std::memory_order_relaxed); }

}  // namespace qn_bench

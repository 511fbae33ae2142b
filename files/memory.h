// The memory the tool allows itself (--max-memory), shared by the files
// analysed at once: a file holds its estimated need from before its first
// sample is read until its results are made, and waits while other files
// hold what it needs. A file that needs more than is allowed in all is
// refused before reading.
#ifndef QUARNELO_FILES_MEMORY_H
#define QUARNELO_FILES_MEMORY_H

#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>

namespace qnf {

// The process's address-space limit (RLIMIT_AS) in bytes, 0 when none is
// set.
uint64_t address_space_limit();

// Half of the physical memory (at least 256 MB), and at most half of the
// address-space limit where one is set.
uint64_t default_memory_allowed();

// `threads`, or fewer where an address-space limit would not hold their
// stacks and the allocator's arenas beside the analyses.
int threads_within_address_space(int threads);

// "4G", "500M", "64k" or a number of bytes; false when not a size.
bool parse_memory_size(const std::string &text, uint64_t &bytes);

class memory_budget {
public:
    explicit memory_budget(uint64_t total) : total_(total), free_(total) {}
    uint64_t total() const { return total_; }

    // Holds `bytes` (at most total()), waiting until they are free.
    void acquire(uint64_t bytes);
    // Holds `bytes` if they are free now; false otherwise.
    bool try_acquire(uint64_t bytes);
    void release(uint64_t bytes);

private:
    std::mutex lock_;
    std::condition_variable freed_;
    const uint64_t total_;
    uint64_t free_;
};

// What one file holds of a budget; released when it goes.
class memory_hold {
public:
    explicit memory_hold(memory_budget *budget) : budget_(budget) {}
    ~memory_hold();
    memory_hold(const memory_hold &) = delete;
    memory_hold &operator=(const memory_hold &) = delete;

    // Grows the hold to `bytes` in all: false, with a reason, when that is
    // more than the budget allows. `wait` waits for other files to release
    // memory (for the first request of a file); otherwise only what is free
    // now is taken.
    bool grow_to(uint64_t bytes, bool wait, std::string &error);

private:
    memory_budget *budget_;
    uint64_t held_ = 0;
};

}  // namespace qnf

#endif

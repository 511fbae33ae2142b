#include "memory.h"

#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>

#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdlib>

#include "input.h"

namespace qnf {

uint64_t address_space_limit() {
    rlimit limit{};
    if (::getrlimit(RLIMIT_AS, &limit) != 0 || limit.rlim_cur == RLIM_INFINITY) return 0;
    return static_cast<uint64_t>(limit.rlim_cur);
}

uint64_t default_memory_allowed() {
    const long pages = ::sysconf(_SC_PHYS_PAGES);
    const long page = ::sysconf(_SC_PAGESIZE);
    constexpr uint64_t minimum = 256ull << 20;
    uint64_t half = pages <= 0 || page <= 0 ? 4ull << 30 : static_cast<uint64_t>(pages) / 2 * static_cast<uint64_t>(page);
    // Under an address-space limit, half of it: the other half is for the
    // threads' stacks, the libraries and what the allocator keeps.
    if (const uint64_t limit = address_space_limit(); limit > 0 && limit / 2 < half) return limit / 2;
    return half < minimum ? minimum : half;
}

int threads_within_address_space(int threads) {
    // A thread reserves its stack (8 MB by default) and, often, an arena of
    // the allocator: 64 MB of address space a thread keeps the pool within
    // a limit's half.
    const uint64_t limit = address_space_limit();
    if (limit == 0) return threads;
    const uint64_t most = std::max<uint64_t>(1, limit / 2 / (64ull << 20));
    return static_cast<int>(std::min<uint64_t>(static_cast<uint64_t>(threads), most));
}

bool parse_memory_size(const std::string &text, uint64_t &bytes) {
    if (text.empty() || !(std::isdigit(static_cast<unsigned char>(text[0])) || text[0] == '.')) return false;
    errno = 0;
    char *end = nullptr;
    const double value = std::strtod(text.c_str(), &end);
    if (errno != 0 || end == text.c_str() || !std::isfinite(value) || value < 0) return false;
    const std::string unit(end);
    double scale = 1;
    if (unit == "k" || unit == "K" || unit == "kB") scale = 1e3;
    else if (unit == "M" || unit == "MB") scale = 1e6;
    else if (unit == "G" || unit == "GB") scale = 1e9;
    else if (unit == "T" || unit == "TB") scale = 1e12;
    else if (!unit.empty()) return false;
    const double b = value * scale;
    if (b >= 1.8e19) return false;
    bytes = static_cast<uint64_t>(b);
    return true;
}

void memory_budget::acquire(uint64_t bytes) {
    std::unique_lock<std::mutex> hold(lock_);
    freed_.wait(hold, [&] { return free_ >= bytes; });
    free_ -= bytes;
}

bool memory_budget::try_acquire(uint64_t bytes) {
    std::lock_guard<std::mutex> hold(lock_);
    if (free_ < bytes) return false;
    free_ -= bytes;
    return true;
}

void memory_budget::release(uint64_t bytes) {
    {
        std::lock_guard<std::mutex> hold(lock_);
        free_ += bytes;
    }
    freed_.notify_all();
}

memory_hold::~memory_hold() {
    if (held_ > 0) budget_->release(held_);
}

bool memory_hold::grow_to(uint64_t bytes, bool wait, std::string &error) {
    if (bytes <= held_) return true;
    if (bytes > budget_->total()) {
        error = "needs about " + byte_text(bytes) + ", more than the " + byte_text(budget_->total()) +
                " allowed (--max-memory)";
        return false;
    }
    const uint64_t more = bytes - held_;
    if (wait) {
        budget_->acquire(more);
    } else if (!budget_->try_acquire(more)) {
        error = "needs about " + byte_text(bytes) + ", more than the memory free while other files are analysed";
        return false;
    }
    held_ = bytes;
    return true;
}

}  // namespace qnf

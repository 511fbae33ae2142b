// The allocator of the shipped library: the C heap, nothing else.
#include "base/alloc.h"

#include <cstdlib>

void *qn_alloc(std::size_t bytes) noexcept { return std::malloc(bytes == 0 ? 1 : bytes); }

void *qn_alloc_zeroed(std::size_t bytes) noexcept { return std::calloc(bytes == 0 ? 1 : bytes, 1); }

void qn_free(void *block) noexcept { std::free(block); }

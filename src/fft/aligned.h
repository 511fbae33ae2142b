// Heap blocks of doubles whose usable part starts on a 32-byte boundary,
// for the transforms' working buffers.
#ifndef QN_FFT_ALIGNED_H
#define QN_FFT_ALIGNED_H

#include <cstdint>

#include "base/alloc.h"

// Obtains room for `count` doubles into `owner` and points `base` at the
// first aligned one. False when the size is out of bounds or memory is
// refused.
inline bool qn_fft_make_aligned(qn_heap_array<double> &owner, double *&base, uint64_t count) noexcept {
    if (count > qn_max_count - 4) return false;
    owner = qn_alloc_array<double>(count + 4);
    if (!owner) return false;
    const uintptr_t at = reinterpret_cast<uintptr_t>(owner.get());
    base = owner.get() + ((32 - at % 32) % 32) / sizeof(double);
    return true;
}

#endif

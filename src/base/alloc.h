// Heap blocks of the library. Every request goes through qn_alloc, so that
// failure is a null pointer (never an exception) and so that the test build
// can make chosen requests fail. Sizes are counted in elements and pass the
// overflow-checked product before they reach the allocator.
#ifndef QN_BASE_ALLOC_H
#define QN_BASE_ALLOC_H

#include <cstddef>
#include <cstdint>
#include <memory>
#include <new>
#include <type_traits>

#include "base/checks.h"

// Null on failure. A request for 0 bytes is served as 1 byte, so that null
// always means failure.
void *qn_alloc(std::size_t bytes) noexcept;
void *qn_alloc_zeroed(std::size_t bytes) noexcept;
void qn_free(void *block) noexcept;

struct qn_free_deleter {
    template <class T>
    void operator()(T *block) const noexcept { qn_free(block); }
};

// Owner of a heap array of trivial elements.
template <class T>
using qn_heap_array = std::unique_ptr<T[], qn_free_deleter>;

namespace qn_detail {
template <class T>
inline T *alloc_elements(uint64_t count, bool zeroed) noexcept {
    static_assert(std::is_trivially_default_constructible_v<T> &&
                  std::is_trivially_destructible_v<T>);
    uint64_t bytes = 0;
    if (count > qn_max_count || !qn_mul_size(count, sizeof(T), &bytes)) return nullptr;
    if (bytes > SIZE_MAX) return nullptr;
    void *block = zeroed ? qn_alloc_zeroed(static_cast<std::size_t>(bytes))
                         : qn_alloc(static_cast<std::size_t>(bytes));
    return static_cast<T *>(block);
}
}  // namespace qn_detail

// An uninitialised array of `count` elements, or null when the size is out
// of bounds or the heap refuses.
template <class T>
inline qn_heap_array<T> qn_alloc_array(uint64_t count) noexcept {
    return qn_heap_array<T>(qn_detail::alloc_elements<T>(count, false));
}

// The same, filled with zero bytes.
template <class T>
inline qn_heap_array<T> qn_alloc_array_zeroed(uint64_t count) noexcept {
    return qn_heap_array<T>(qn_detail::alloc_elements<T>(count, true));
}

// One object of type T in a heap block (value-initialised), or null; and
// its release. For plans and other small owners that are not arrays.
template <class T>
inline T *qn_alloc_object() noexcept {
    void *block = qn_alloc(sizeof(T));
    return block == nullptr ? nullptr : new (block) T();
}

template <class T>
inline void qn_free_object(T *object) noexcept {
    if (object == nullptr) return;
    object->~T();
    qn_free(object);
}

// Owner of one such object, so that a maker that fails halfway releases what
// it made on every way out; release() hands the object over on success.
struct qn_object_deleter {
    template <class T>
    void operator()(T *object) const noexcept { qn_free_object(object); }
};
template <class T>
using qn_object_ptr = std::unique_ptr<T, qn_object_deleter>;

template <class T>
inline qn_object_ptr<T> qn_make_object() noexcept {
    return qn_object_ptr<T>(qn_alloc_object<T>());
}

#endif

#pragma once
// Replaces the global operator new and delete to count what the process allocates while
// `counting` is set. Include it in exactly one file of a test program.

#include <atomic>
#include <cstddef>
#include <cstdlib>
#include <new>

namespace vitrine::test {
inline std::atomic<bool> counting{false};
inline std::atomic<size_t> allocated{0};    // bytes
inline std::atomic<size_t> allocations{0};  // calls

inline void countAllocation(size_t size) {
    if (!counting.load(std::memory_order_relaxed)) return;
    allocated += size;
    ++allocations;
}

// Allocations made by `work`, counted from zero.
template <typename Work>
size_t allocationsOf(Work work) {
    allocated = 0;
    allocations = 0;
    counting = true;
    work();
    counting = false;
    return allocations.load();
}
}  // namespace vitrine::test

// These replace the global pair, so free() does match the malloc() below; GCC cannot tell.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
#endif

void* operator new(size_t size) {
    vitrine::test::countAllocation(size);
    if (void* p = std::malloc(size ? size : 1)) return p;
    throw std::bad_alloc();
}
// The library's nothrow form would otherwise allocate outside the pair (std::stable_sort uses it).
void* operator new(size_t size, const std::nothrow_t&) noexcept {
    vitrine::test::countAllocation(size);
    return std::malloc(size ? size : 1);
}
void operator delete(void* p) noexcept {
    std::free(p);
}
void operator delete(void* p, size_t) noexcept {
    std::free(p);
}

// The counting allocator: the program's own malloc family, passing every call on to glibc's and
// counting the allocations. Linked only into the counting build.

#include "AllocationCounter.h"

#include <cstddef>

extern "C" {
void* __libc_malloc(size_t size);
void* __libc_calloc(size_t count, size_t size);
void* __libc_realloc(void* p, size_t size);
void __libc_free(void* p);

void* malloc(size_t size) noexcept {
    bench::AllocationCounter::allocations.fetch_add(1, std::memory_order_relaxed);
    bench::AllocationCounter::bytes.fetch_add(size, std::memory_order_relaxed);
    return __libc_malloc(size);
}
void* calloc(size_t count, size_t size) noexcept {
    bench::AllocationCounter::allocations.fetch_add(1, std::memory_order_relaxed);
    bench::AllocationCounter::bytes.fetch_add(count * size, std::memory_order_relaxed);
    return __libc_calloc(count, size);
}
void* realloc(void* p, size_t size) noexcept {
    bench::AllocationCounter::allocations.fetch_add(1, std::memory_order_relaxed);
    bench::AllocationCounter::bytes.fetch_add(size, std::memory_order_relaxed);
    return __libc_realloc(p, size);
}
void free(void* p) noexcept {
    __libc_free(p);
}
}

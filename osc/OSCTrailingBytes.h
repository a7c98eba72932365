#pragma once

#include <cstddef>
#include <cstdint>
#include <new>

namespace vitrine {

// An allocator for std::allocate_shared that puts `trailing` bytes right behind the control block
// (which holds the object), so that an object and the bytes it owns cost one allocation: a packet
// and its encoding, a block of values and its slots. Where the bytes start is written to `*bytes`
// before the object is constructed.
template <typename T>
struct WithTrailingBytes {
    using value_type = T;

    WithTrailingBytes(size_t trailing, uint8_t** bytes) : trailing(trailing), bytes(bytes) {}
    template <typename U>
    WithTrailingBytes(const WithTrailingBytes<U>& other) noexcept
        : trailing(other.trailing), bytes(other.bytes) {}

    T* allocate(size_t n) {
        auto* const start = static_cast<uint8_t*>(::operator new(head(n) + trailing));
        *bytes = start + head(n);
        return reinterpret_cast<T*>(start);
    }
    // Unsized: clang does not declare the sized form unless asked to.
    void deallocate(T* p, size_t) noexcept { ::operator delete(static_cast<void*>(p)); }

    template <typename U>
    bool operator==(const WithTrailingBytes<U>& other) const noexcept {
        return trailing == other.trailing && bytes == other.bytes;
    }

    // The block rounded up so that the bytes behind it start aligned like anything operator new
    // returns.
    static size_t head(size_t n) {
        constexpr size_t align = alignof(std::max_align_t);
        return (n * sizeof(T) + align - 1) & ~(align - 1);
    }

    size_t trailing;
    uint8_t** bytes;
};

}  // namespace vitrine

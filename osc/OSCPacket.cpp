#include "osc/OSCPacket.h"

#include <cstddef>
#include <new>

#include "basics/Log.h"
#include "osc/OSCBundle.h"
#include "osc/OSCMessage.h"
#include "osc/OSCMessageReceiver.h"

namespace vitrine {

namespace {

// Allocates the shared pointer's control block, which holds the packet, with the encoded bytes
// right behind it: a packet costs one allocation. Where the bytes start is written to `*bytes`
// before the packet is constructed.
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

// Far beyond any datagram, and small enough that the block's size cannot wrap around.
constexpr int64_t kLongestPacket = int64_t{1} << 40;

}  // namespace

OSCPacket::OSCPacket(Private, uint8_t* const& start, size_t size) : bytes(start), length(size) {}

std::shared_ptr<OSCPacket> OSCPacket::createWithContent(
    const std::shared_ptr<const OSCPacketContent>& content) {
    const int64_t length = content ? content->bufferLength() : 0;
    if (length >= 1 && length <= kLongestPacket) {
        try {
            const auto size = static_cast<size_t>(length);
            uint8_t* bytes = nullptr;
            auto packet = std::allocate_shared<OSCPacket>(
                WithTrailingBytes<OSCPacket>(size, &bytes), Private{}, bytes, size);
            OSCByteWriter out({bytes, size});
            content->writeTo(out);
            if (out.complete()) return packet;
        } catch (const std::bad_alloc&) {
        }
    }
    Log::write("\t\terr: %s - BAIL", "-[OSCPacket initWithContent:]");
    return nullptr;
}

void OSCPacket::parseRawBuffer(const uint8_t* buffer, int32_t length, OSCMessageReceiver* receiver,
                               uint32_t txAddress, uint16_t txPort) {
    if (!receiver) return;
    if (buffer && length >= 2 && buffer[0] == '#' && buffer[1] == 'b') {
        OSCBundle::parseRawBuffer(buffer, length, receiver, std::nullopt, txAddress, txPort);
        return;
    }
    if (const auto message = OSCMessage::parseRawBuffer(buffer, length, txAddress, txPort))
        receiver->_addMessage(message);
}

}  // namespace vitrine

#pragma once

#include <cstdint>
#include <memory>

#include "osc/OSCPacketContent.h"

namespace vitrine {

class OSCMessageReceiver;

// The encoded bytes of one message or bundle, exactly as one datagram carries them. The packet
// owns its bytes, exactly bufferLength of them, held in the same allocation as the packet itself,
// and does not keep the content it was made from.
// Thread safety: immutable; shared objects safe for concurrent reading.
class OSCPacket {
    struct Private {
        explicit Private() = default;
    };

public:
    // Encodes the content into one buffer of exactly its bufferLength, asked once. Absent
    // content, a length below 1, a failed allocation or content that does not write exactly that
    // many bytes give nothing and log "-[OSCPacket initWithContent:] - BAIL".
    static std::shared_ptr<OSCPacket> createWithContent(
        const std::shared_ptr<const OSCPacketContent>& content);

    // `bytes` is read when the packet is constructed, after the allocation that holds both has
    // set it.
    OSCPacket(Private, uint8_t* const& bytes, size_t length);

    // The entry point for one received datagram: a datagram that starts with "#b" is decoded as a
    // bundle without an inherited time tag, anything else as one message. Every message found goes
    // to the receiver's _addMessage; one that does not decode is dropped after the parser's own
    // log line. Nothing without a receiver. No byte at or beyond `length` is read.
    static void parseRawBuffer(const uint8_t* buffer, int32_t length, OSCMessageReceiver* receiver,
                               uint32_t txAddress, uint16_t txPort);

    int64_t bufferLength() const { return static_cast<int64_t>(length); }
    const uint8_t* payload() const { return length ? bytes : nullptr; }

private:
    const uint8_t* const bytes;
    const size_t length;
};

}  // namespace vitrine

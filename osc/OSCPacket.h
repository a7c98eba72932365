#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "osc/OSCPacketContent.h"

namespace vitrine {

class OSCMessageReceiver;

// The encoded bytes of one message or bundle, exactly as one datagram carries them. The packet
// owns its bytes and does not keep the content it was made from.
// Thread safety: immutable; shared objects safe for concurrent reading.
class OSCPacket {
    struct Private {
        explicit Private() = default;
    };

public:
    // Encodes the content into one zero-filled buffer of exactly its bufferLength. Absent
    // content, a length below 1 or a failed allocation give nothing and log
    // "-[OSCPacket initWithContent:] - BAIL".
    static std::shared_ptr<OSCPacket> createWithContent(
        const std::shared_ptr<const OSCPacketContent>& content);

    OSCPacket(Private, std::vector<uint8_t> bytes);

    // The entry point for one received datagram: a datagram that starts with "#b" is decoded as a
    // bundle without an inherited time tag, anything else as one message. Every message found goes
    // to the receiver's _addMessage; one that does not decode is dropped after the parser's own
    // log line. Nothing without a receiver. No byte at or beyond `length` is read.
    static void parseRawBuffer(const uint8_t* buffer, int32_t length, OSCMessageReceiver* receiver,
                               uint32_t txAddress, uint16_t txPort);

    int64_t bufferLength() const { return static_cast<int64_t>(bytes.size()); }
    const uint8_t* payload() const { return bytes.empty() ? nullptr : bytes.data(); }

private:
    const std::vector<uint8_t> bytes;
};

}  // namespace vitrine

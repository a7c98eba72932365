#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "osc/OSCPacketContent.h"

namespace vitrine {

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

    int64_t bufferLength() const { return static_cast<int64_t>(bytes.size()); }
    const uint8_t* payload() const { return bytes.empty() ? nullptr : bytes.data(); }

private:
    const std::vector<uint8_t> bytes;
};

}  // namespace vitrine

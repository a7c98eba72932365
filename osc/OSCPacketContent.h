#pragma once

#include <cstdint>

namespace vitrine {

// Anything that can become one datagram: a message or a bundle. A packet asks for the exact
// length first, allocates one zero-filled buffer of that size and lets the content write itself.
// Thread safety: implementations are safe for concurrent reading once built.
class OSCPacketContent {
public:
    virtual ~OSCPacketContent() = default;

    virtual int64_t bufferLength() const = 0;
    // Writes exactly bufferLength() bytes' worth into a zero-filled buffer of that length; a null
    // buffer is ignored.
    virtual void writeToBuffer(uint8_t* buffer) const = 0;
};

}  // namespace vitrine

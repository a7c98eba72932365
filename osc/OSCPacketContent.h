#pragma once

#include <cstdint>
#include <cstring>

#include "osc/OSCByteWriter.h"

namespace vitrine {

// Anything that can become one datagram: a message or a bundle. A packet asks for the exact
// length once, allocates one buffer of that size and lets the content write itself through a
// bounds-checked writer.
// Thread safety: implementations are safe for concurrent reading once built.
class OSCPacketContent {
public:
    virtual ~OSCPacketContent() = default;

    virtual int64_t bufferLength() const = 0;
    // Writes exactly bufferLength() bytes' worth into a zero-filled buffer of that length; a null
    // buffer is ignored.
    virtual void writeToBuffer(uint8_t* buffer) const = 0;
    // Writes the encoding at the writer's position, every byte of it padding included. Messages
    // and bundles write straight through the writer without asking their length again; other
    // content gets zero-filled room of its bufferLength for writeToBuffer.
    virtual void writeTo(OSCByteWriter& out) const {
        const int64_t length = bufferLength();
        if (length < 0) {
            out.fail();
            return;
        }
        if (uint8_t* room = out.take(static_cast<size_t>(length))) {
            if (length) std::memset(room, 0, static_cast<size_t>(length));
            writeToBuffer(room);
        }
    }
};

}  // namespace vitrine

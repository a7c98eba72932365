#pragma once

#include <initializer_list>
#include <memory>
#include <string>
#include <string_view>

#include "osc/OSCMessage.h"
#include "osc/OSCPacket.h"
#include "support/UdpListener.h"
#include "support/Waiting.h"

namespace vitrine::test {

// The datagram a packet of `content` puts on the wire.
inline Bytes encoded(const std::shared_ptr<const OSCPacketContent>& content) {
    const auto packet = OSCPacket::createWithContent(content);
    return packet ? Bytes(packet->payload(), packet->payload() + packet->bufferLength()) : Bytes{};
}

inline std::shared_ptr<OSCMessage> numbered(const std::string& address, int32_t number) {
    auto message = OSCMessage::createWithAddress(address);
    message->addInt(number);
    return message;
}

// Hand-made datagrams. A string field is the text, a NUL and padding to a multiple of 4.
inline Bytes field(std::string_view text) {
    Bytes out(text.begin(), text.end());
    out.resize((text.size() + 4) & ~size_t{3}, 0);
    return out;
}
inline Bytes word(uint32_t n) {
    return {uint8_t(n >> 24), uint8_t(n >> 16), uint8_t(n >> 8), uint8_t(n)};
}
inline Bytes join(std::initializer_list<Bytes> parts) {
    Bytes all;
    for (const auto& part : parts) all.insert(all.end(), part.begin(), part.end());
    return all;
}

}  // namespace vitrine::test

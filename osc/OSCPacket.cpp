#include "osc/OSCPacket.h"

#include <new>
#include <stdexcept>

#include "basics/Log.h"
#include "osc/OSCBundle.h"
#include "osc/OSCMessage.h"
#include "osc/OSCMessageReceiver.h"

namespace vitrine {

OSCPacket::OSCPacket(Private, std::vector<uint8_t> encoded) : bytes(std::move(encoded)) {}

std::shared_ptr<OSCPacket> OSCPacket::createWithContent(
    const std::shared_ptr<const OSCPacketContent>& content) {
    const int64_t length = content ? content->bufferLength() : 0;
    if (length >= 1) {
        try {
            std::vector<uint8_t> encoded(static_cast<size_t>(length), uint8_t{0});
            content->writeToBuffer(encoded.data());
            return std::make_shared<OSCPacket>(Private{}, std::move(encoded));
        } catch (const std::bad_alloc&) {
        } catch (const std::length_error&) {
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

#include "osc/OSCPacket.h"

#include <cstddef>
#include <new>

#include "basics/Log.h"
#include "osc/OSCBundle.h"
#include "osc/OSCMessage.h"
#include "osc/OSCMessageReceiver.h"
#include "osc/OSCTrailingBytes.h"

namespace vitrine {

namespace {

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

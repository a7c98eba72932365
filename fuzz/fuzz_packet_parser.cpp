// Feeds arbitrary bytes to the datagram entry, as a receiving port does. Every message it delivers
// must encode again and decode to the same number of values, and a bundle made of all of them must
// deliver them all again with its time tag: what the library receives, it can forward. Then the
// messages are dispatched to the address space, which builds nodes from whatever addresses they
// carry and answers their queries, and the tree is described and taken down again.

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "basics/Log.h"
#include "osc/OSCAddressSpace.h"
#include "osc/OSCBundle.h"
#include "osc/OSCMessage.h"
#include "osc/OSCMessageReceiver.h"
#include "osc/OSCPacket.h"

using namespace vitrine;

namespace {

class Collector : public OSCMessageReceiver {
public:
    void _addMessage(const std::shared_ptr<OSCMessage>& message) override {
        if (!message) std::abort();
        messages.push_back(message);
    }
    std::vector<std::shared_ptr<OSCMessage>> messages;
};

std::vector<std::shared_ptr<OSCMessage>> deliver(const uint8_t* data, size_t size) {
    Collector collector;
    OSCPacket::parseRawBuffer(data, static_cast<int32_t>(size), &collector, 0x0100007F, 9);
    return collector.messages;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    // Malformed input logs a line per datagram; writing millions of them would only slow the run.
    Log::setSink([](const std::string&) {});
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > INT32_MAX) return 0;
    const auto messages = deliver(data, size);
    if (messages.empty()) return 0;

    auto bundle = OSCBundle::create();
    for (const auto& message : messages) {
        (void)message->description();
        const auto encoded = message->writeToNSData();
        if (!encoded || static_cast<int64_t>(encoded->size()) != message->bufferLength())
            std::abort();
        const auto again = deliver(encoded->data(), encoded->size());
        if (again.size() != 1 || again[0]->valueCount() != message->valueCount()) std::abort();
        bundle->addElement(message);
    }
    bundle->setTimeTag(messages.front()->timeTag());

    const auto packet = OSCPacket::createWithContent(bundle);
    if (!packet) std::abort();
    const auto forwarded = deliver(packet->payload(), static_cast<size_t>(packet->bufferLength()));
    if (forwarded.size() != messages.size()) std::abort();
    const auto& sent = bundle->timeTag();
    for (const auto& message : forwarded) {
        const auto& tag = message->timeTag();
        if (tag.has_value() != sent.has_value()) std::abort();
        // The wire carries whole microseconds; a tag beyond the 32-bit seconds (microseconds of
        // a million or more can make one) is held at the last representable moment.
        if (tag && *sent < 4294967296.0 && !(std::fabs(*tag - *sent) <= 2e-6)) std::abort();
    }

    const auto space = OSCAddressSpace::mainAddressSpace();
    for (const auto& message : messages) space->dispatchMessage(message);
    (void)space->description();
    if (const auto children = space->nodeContents()) {
        for (const auto& child : children->lockCreateArrayCopy()) space->deleteLocalNode(child);
    }
    return 0;
}

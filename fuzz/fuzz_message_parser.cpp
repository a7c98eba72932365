// Feeds arbitrary bytes to the message decoder as one received datagram. Whatever it decodes must
// encode again, and that encoding must decode to the same values: a decoded message is something
// the library may forward.

#include <cstdint>
#include <cstdlib>

#include "basics/Log.h"
#include "osc/OSCMessage.h"

using namespace vitrine;

namespace {

std::shared_ptr<OSCMessage> parse(const uint8_t* data, size_t size) {
    return OSCMessage::parseRawBuffer(data, static_cast<int32_t>(size), 0x0100007F, 9);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    // Malformed input logs a line per datagram; writing millions of them would only slow the run.
    Log::setSink([](const std::string&) {});
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > INT32_MAX) return 0;
    const auto message = parse(data, size);
    if (!message) return 0;
    (void)message->description();
    for (int32_t i = 0; i < message->valueCount(); ++i) {
        const auto value = message->valueAtIndex(i);
        (void)value->lengthyDescription();
        (void)value->calculateDoubleValue();
        if (const auto copied = value->copy(); !copied || !copied->isEqual(*value)) std::abort();
    }

    const auto encoded = message->writeToNSData();
    if (!encoded || static_cast<int64_t>(encoded->size()) != message->bufferLength()) std::abort();
    const auto again = parse(encoded->data(), encoded->size());
    if (!again || again->valueCount() != message->valueCount()) std::abort();
    for (int32_t i = 0; i < message->valueCount(); ++i) {
        if (!again->valueAtIndex(i)->isEqual(*message->valueAtIndex(i))) std::abort();
    }
    return 0;
}

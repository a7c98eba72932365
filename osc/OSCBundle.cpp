#include "osc/OSCBundle.h"

#include <cmath>
#include <cstring>

#include "basics/Log.h"
#include "osc/OSCByteReader.h"
#include "osc/OSCMessage.h"
#include "osc/OSCMessageReceiver.h"

namespace vitrine {

namespace {

constexpr const char* kParseMethod =
    "+[OSCBundle parseRawBuffer:ofMaxLength:toInPort:inheritedTimeTag:fromAddr:port:]";
constexpr size_t kHeaderLength = 16;
constexpr size_t kFirstRoom = 8;
constexpr uint32_t kImmediateMicroseconds = 1;

void writeTimeTag(OSCByteWriter& out, const std::optional<Date>& date) {
    uint32_t seconds = 0;
    uint32_t microseconds = kImmediateMicroseconds;
    // The comparison is false for NaN too: a moment that has passed (or none) means "at once".
    if (date && *date >= 0.0) {
        double whole = std::floor(*date);
        double fraction = std::round((*date - whole) * 1000000.0);
        if (fraction >= 1000000.0) {
            whole += 1.0;
            fraction = 0.0;
        }
        if (whole > 4294967295.0) {
            seconds = 0xFFFFFFFFu;
            microseconds = 999999;
        } else {
            seconds = static_cast<uint32_t>(whole);
            microseconds = static_cast<uint32_t>(fraction);
        }
    }
    out.put32(seconds);
    out.put32(microseconds);
}

// The time tag of the bundle header at `header`, whose 16 bytes the caller knows are there.
std::optional<Date> effectiveTimeTag(const OSCByteReader& in, size_t header,
                                     const std::optional<Date>& inherited) {
    const uint32_t seconds = in.readUInt32(header + 8).value_or(0);
    const uint32_t microseconds = in.readUInt32(header + 12).value_or(0);
    if (seconds == 0 && (microseconds == 0 || microseconds == kImmediateMicroseconds))
        return inherited;
    return static_cast<Date>(seconds) + static_cast<double>(microseconds) / 1000000.0;
}

}  // namespace

std::shared_ptr<OSCBundle> OSCBundle::create() {
    return std::make_shared<OSCBundle>(Private{});
}

std::shared_ptr<OSCBundle> OSCBundle::createWithElement(const Element& element) {
    auto bundle = create();
    bundle->addElement(element);
    return bundle;
}

std::shared_ptr<OSCBundle> OSCBundle::createWithElementArray(const std::vector<Element>& list) {
    auto bundle = create();
    bundle->addElementArray(list);
    return bundle;
}

bool OSCBundle::holds(const OSCBundle* bundle) const {
    for (const auto& element : elements) {
        const auto* nested = dynamic_cast<const OSCBundle*>(element.get());
        if (nested && (nested == bundle || nested->holds(bundle))) return true;
    }
    return false;
}

void OSCBundle::addElement(Element element) {
    if (!element) return;
    if (const auto* nested = dynamic_cast<const OSCBundle*>(element.get())) {
        if (nested == this || nested->holds(this)) return;
    } else if (!dynamic_cast<const OSCMessage*>(element.get())) {
        return;
    }
    // Bundles are mostly a handful of messages: room for several at once rather than growing
    // through 1, 2 and 4.
    if (elements.empty()) elements.reserve(kFirstRoom);
    elements.push_back(std::move(element));
}

void OSCBundle::addElementArray(const std::vector<Element>& list) {
    for (const auto& element : list) addElement(element);
}

int64_t OSCBundle::bufferLength() const {
    int64_t length = kHeaderLength;
    for (const auto& element : elements) length += 4 + element->bufferLength();
    return length;
}

void OSCBundle::writeToBuffer(uint8_t* buffer) const {
    if (!buffer) return;
    OSCByteWriter out({buffer, static_cast<size_t>(bufferLength())});
    writeTo(out);
}

void OSCBundle::writeTo(OSCByteWriter& out) const {
    out.putBytes("#bundle", 8);  // with its NUL
    writeTimeTag(out, bundleTimeTag);
    for (const auto& element : elements) {
        uint8_t* const lengthField = out.take(4);
        const size_t start = out.position();
        element->writeTo(out);
        if (lengthField)
            OSCByteWriter::store32(lengthField, static_cast<uint32_t>(out.position() - start));
    }
}

void OSCBundle::parseRawBuffer(const uint8_t* buffer, int32_t length, OSCMessageReceiver* receiver,
                               std::optional<Date> inheritedTimeTag, uint32_t txAddress,
                               uint16_t txPort) {
    if (!buffer || !receiver || length < static_cast<int32_t>(kHeaderLength) + 1) return;
    const OSCByteReader in({buffer, static_cast<size_t>(length)});

    // One entry per bundle being walked; the last one is the innermost. Every `end` lies within
    // the datagram, so what a walk reads between its position and its end is there.
    struct Walk {
        size_t position;
        size_t end;
        std::optional<Date> timeTag;
    };
    std::vector<Walk> walks;
    walks.reserve(4);
    walks.push_back({kHeaderLength, in.size(), effectiveTimeTag(in, 0, inheritedTimeTag)});

    while (!walks.empty()) {
        Walk& walk = walks.back();
        if (walk.position >= walk.end) {
            walks.pop_back();
            continue;
        }
        const std::optional<uint32_t> field = in.readUInt32(walk.position);
        if (walk.end - walk.position < 4 || !field) {
            Log::write("\t\terr: breaking, element length cut off. %s", kParseMethod);
            walks.pop_back();
            continue;
        }
        const auto elementLength = static_cast<int32_t>(*field);
        const size_t start = walk.position + 4;
        if (elementLength <= 0 || static_cast<size_t>(elementLength) > walk.end - start) {
            Log::write("\t\terr: breaking, element length %d doesn't fit in the bundle. %s",
                       elementLength, kParseMethod);
            walks.pop_back();
            continue;
        }
        const auto size = static_cast<size_t>(elementLength);
        walk.position = start + size;
        const OSCByteReader element(in.subspan(start, size));

        if (element.startsWith(0, "#b")) {
            if (walks.size() >= static_cast<size_t>(kMaxNestingDepth)) {
                Log::write("\t\terr: breaking, bundles nested deeper than %d. %s", kMaxNestingDepth,
                           kParseMethod);
                walks.pop_back();
                continue;
            }
            // Too short to hold an element: nothing to deliver, and nothing to complain about.
            if (size <= kHeaderLength) continue;
            const std::optional<Date> timeTag = effectiveTimeTag(in, start, walk.timeTag);
            walks.push_back({start + kHeaderLength, start + size, timeTag});
            continue;
        }

        const auto message =
            OSCMessage::parseRawBuffer(element.data(), elementLength, txAddress, txPort);
        if (!message) {
            Log::write("\t\terr: breaking, message couldn't be parsed. %s", kParseMethod);
            walks.pop_back();
            continue;
        }
        if (walk.timeTag) message->setTimeTag(walk.timeTag);
        receiver->_addMessage(message);
    }
}

}  // namespace vitrine

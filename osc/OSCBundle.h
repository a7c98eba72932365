#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

#include "basics/Date.h"
#include "osc/OSCPacketContent.h"

namespace vitrine {

class OSCMessageReceiver;

// Messages and bundles grouped under one time tag and sent as one datagram. Time tags are carried,
// never waited for: a received bundle's messages are handed on at once, each with the effective
// time tag in its timeTag.
//
// Time tags on the wire count seconds from the reference date 2001-01-01 00:00:00 UTC (the epoch
// of Date) and carry the fraction of a second as whole microseconds, not as the 1/2^32 fraction
// of NTP; peers must use the same convention. Seconds 0 with microseconds 1 means "immediately";
// on reception seconds 0 with microseconds 0 means "immediately" too.
//
// Thread safety: built on one thread, then only read; shared objects safe for concurrent reading
// (encoding). Decoding keeps no state and may run on several threads at once.
class OSCBundle : public OSCPacketContent {
    struct Private {
        explicit Private() = default;
    };

public:
    using Element = std::shared_ptr<OSCPacketContent>;

    // Nested bundles deeper than this (the outermost bundle counting as 1) are not decoded.
    static constexpr int kMaxNestingDepth = 16;

    static std::shared_ptr<OSCBundle> create();
    // An empty element is ignored, as by addElement.
    static std::shared_ptr<OSCBundle> createWithElement(const Element& element);
    static std::shared_ptr<OSCBundle> createWithElementArray(const std::vector<Element>& elements);

    explicit OSCBundle(Private) {}

    // Appends messages and bundles (and classes derived from them); anything else, an empty
    // pointer, this bundle itself and any bundle that already holds this one are ignored, so a
    // bundle never contains itself and its length stays finite. Taken by value: an element
    // handed over as a temporary is moved in, without a reference count going up and down.
    void addElement(Element element);
    // addElement for each, in order; an empty list does nothing.
    void addElementArray(const std::vector<Element>& elements);

    const std::vector<Element>& elementArray() const { return elements; }
    // Absent means "immediately".
    const std::optional<Date>& timeTag() const { return bundleTimeTag; }
    void setTimeTag(std::optional<Date> date) { bundleTimeTag = date; }

    // 16 + the sum over the elements of (4 + their length).
    int64_t bufferLength() const override;
    // "#bundle", the time tag, then each element preceded by its length. A time tag is written as
    // whole seconds and the fraction rounded to the nearest microsecond, so that a time tag
    // decoded from the wire is encoded again to the same bytes. A date before the reference date
    // (or not a number) is written as "immediately"; one beyond the 32-bit seconds range as the
    // last representable microsecond.
    void writeToBuffer(uint8_t* buffer) const override;
    // The same through the writer; each element's length field is filled in once the element has
    // been written, so no element is asked its length twice.
    void writeTo(OSCByteWriter& out) const override;

    // Decodes the bundle in buffer[0, length) and gives each message it holds, depth first, to
    // the receiver, stamped with the effective time tag: the bundle's own, or for an immediate
    // bundle the inherited one (which may be absent). Nothing without a buffer or a receiver, or
    // for a length below 17 (a bundle without elements). No byte at or beyond `length` is read.
    //
    // An element that cannot be decoded stops the walk of the bundle that holds it, with one log
    // line; the messages before it stay delivered, and the bundles around it go on with their
    // next element, whose position they know from their own length fields:
    //  - a message that does not parse: the parser's line, then
    //    "\t\terr: breaking, message couldn't be parsed. %s";
    //  - an element length that is not positive or reaches beyond the bundle:
    //    "\t\terr: breaking, element length %d doesn't fit in the bundle. %s";
    //  - one to three bytes left where an element length should be:
    //    "\t\terr: breaking, element length cut off. %s";
    //  - a bundle nested deeper than kMaxNestingDepth:
    //    "\t\terr: breaking, bundles nested deeper than %d. %s";
    // each %s being "+[OSCBundle
    // parseRawBuffer:ofMaxLength:toInPort:inheritedTimeTag:fromAddr:port:]". Nested bundles are
    // walked with an explicit stack, never by recursion.
    static void parseRawBuffer(const uint8_t* buffer, int32_t length, OSCMessageReceiver* receiver,
                               std::optional<Date> inheritedTimeTag, uint32_t txAddress,
                               uint16_t txPort);

private:
    bool holds(const OSCBundle* bundle) const;

    std::vector<Element> elements;
    std::optional<Date> bundleTimeTag;
};

}  // namespace vitrine

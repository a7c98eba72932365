#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "basics/Date.h"
#include "osc/OSCPacketContent.h"
#include "osc/OSCValue.h"

namespace vitrine {

enum OSCMessageType : int32_t {
    OSCMessageTypeUnknown = 0,
    OSCMessageTypeControl = 1,
    OSCMessageTypeQuery = 2,
    OSCMessageTypeReply = 3,
    OSCMessageTypeError = 4,
};

enum OSCQueryType : int32_t {
    OSCQueryTypeUnknown = 0,
    OSCQueryTypeNamespaceExploration = 1,
    OSCQueryTypeDocumentation = 2,
    OSCQueryTypeTypeSignature = 3,
    OSCQueryTypeCurrentValue = 4,
    OSCQueryTypeReturnTypeString = 5,
};

// An OSC address with an ordered list of values; also the carrier of queries, replies and errors.
// Built on one thread, then only read.
// Thread safety: distinct objects safe; shared objects safe for concurrent reading (encoding,
// describing, copying), unsafe while values are still being appended.
class OSCMessage : public OSCPacketContent {
    struct Private {
        explicit Private() = default;
    };

public:
    using ValueList = std::vector<std::shared_ptr<OSCValue>>;

    // An absent address gives nothing. The address is normalised to "/a/b" form; an empty one
    // leaves the message without an address. Wildcards are judged on the text as given.
    static std::shared_ptr<OSCMessage> createWithAddress(const std::optional<std::string>& address);
    // Stores its arguments as they are; the parser and every other constructor go through here.
    static std::shared_ptr<OSCMessage> createFast(std::optional<std::string> address,
                                                  bool wildcardsInAddress,
                                                  OSCMessageType messageType,
                                                  OSCQueryType queryType, uint32_t queryTXAddress,
                                                  uint16_t queryTXPort);

    // Decodes one received message from exactly `length` bytes: a whole datagram or one element
    // of a bundle, so `buffer` may point into a larger buffer and nothing at or beyond
    // buffer + length is ever read. The sender's address and port are stored as given.
    // Recognises queries ("/a/", "/a/#documentation" ...), "#reply" and "#error" by the address.
    // Gives nothing, with one log line, for a datagram that is not a readable message: no type
    // tags, argument data running past the end ("\t\terr: msg argument data runs past the end"),
    // arrays nested more than kMaxArrayDepth deep ("\t\terr: msg arrays nested too deeply"),
    // or an address that is not valid UTF-8 ("\t\terr: msg address is not valid UTF-8"). A
    // truncated message is dropped whole rather than delivered with some of its values, so that
    // no receiver acts on half a message. A string argument that is not valid UTF-8 only loses
    // that one value. Never throws; a null buffer, a length of 0 or a negative length give nothing.
    static std::shared_ptr<OSCMessage> parseRawBuffer(const uint8_t* buffer, int32_t length,
                                                      uint32_t txAddress, uint16_t txPort);
    // Deepest nesting of arrays that parseRawBuffer accepts.
    static constexpr int kMaxArrayDepth = 32;

    OSCMessage(Private, std::optional<std::string> address, bool wildcardsInAddress,
               OSCMessageType messageType, OSCQueryType queryType, uint32_t queryTXAddress,
               uint16_t queryTXPort);

    // Appending. Each creates the matching OSCValue and passes it to addValue; values that cannot
    // be created (an absent string, colour or buffer) append nothing.
    void addInt(int32_t number);
    void addFloat(float number);
    void addDouble(double number);
    void addString(const std::optional<std::string>& text);
    void addColor(const std::optional<OSCColor>& color);
    void addBOOL(bool flag);
    // The blob shares the buffer.
    void addNSDataBlob(std::shared_ptr<const OSCData> data);
    // An empty pointer is ignored. The common case, a plain value joining a list that is already
    // there, is inline: it is what every decoded and every built value goes through.
    void addValue(std::shared_ptr<OSCValue> newValue) {
        if (count >= 2 && newValue && isPlainValue(*newValue)) {
            values->push_back(std::move(newValue));
            ++count;
        } else {
            addFirstOrIrregularValue(std::move(newValue));
        }
    }
    // Room for `expected` values in all, so that appending them grows the list at most once;
    // a hint only, which changes nothing a reader can see.
    void reserveValues(int32_t expected);

    const std::optional<std::string>& address() const { return messageAddress; }
    int32_t valueCount() const { return count; }
    // The first value, or nothing when there is none. Like the other readers these give the
    // message's own pointer, valid while the message lives; copy it to keep the value beyond that.
    // Reading a value then costs no reference-count traffic.
    const std::shared_ptr<OSCValue>& value() const { return count < 2 ? single : values->front(); }
    // Nothing for an index outside 0 .. valueCount - 1.
    const std::shared_ptr<OSCValue>& valueAtIndex(int32_t index) const {
        if (count < 2) return index == 0 ? single : none();
        if (index < 0 || index >= count) return none();
        return (*values)[static_cast<size_t>(index)];
    }
    // Present only from the second value on, and then holding all of them.
    const std::optional<ValueList>& valueArray() const { return values; }

    // Numeric view of one value. With at most one value a bad index gives 0.0; with several a bad
    // index gives -1.0, which callers use to tell "no such value" from a zero.
    float calculateFloatValueAtIndex(int32_t index) const;
    double calculateDoubleValueAtIndex(int32_t index) const;
    float calculateFloatValue() const { return calculateFloatValueAtIndex(0); }
    double calculateDoubleValue() const { return calculateDoubleValueAtIndex(0); }

    // Execution time inherited from an enclosing bundle; never encoded.
    const std::optional<Date>& timeTag() const { return messageTimeTag; }
    void setTimeTag(std::optional<Date> date) { messageTimeTag = date; }
    // A free slot for the library's user; carried by copies, never encoded.
    const std::shared_ptr<void>& msgInfo() const { return info; }
    void setMsgInfo(std::shared_ptr<void> newInfo) { info = std::move(newInfo); }

    bool wildcardsInAddress() const { return wildcards; }
    OSCMessageType messageType() const { return kind; }
    OSCQueryType queryType() const { return query; }
    // The sender's IPv4 address and UDP port (network order as received); 0 when built locally.
    uint32_t queryTXAddress() const { return txAddress; }
    uint16_t queryTXPort() const { return txPort; }
    void _setWildcardsInAddress(bool flag) { wildcards = flag; }
    void _setMessageType(OSCMessageType type) { kind = type; }
    void _setQueryType(OSCQueryType type) { query = type; }

    // The address text as it goes on the wire: queries get their "/#..." suffix, replies and
    // errors are sent to "#reply" and "#error".
    std::optional<std::string> replyAddress() const;

    int64_t bufferLength() const override;
    void writeToBuffer(uint8_t* buffer) const override;
    void writeTo(OSCByteWriter& out) const override;
    // The encoding in a buffer of its own; nothing when it cannot be allocated.
    std::shared_ptr<const OSCData> writeToNSData() const;

    // A new message with the same fields, sharing (not copying) the value objects.
    std::shared_ptr<OSCMessage> copy() const;

    // Queries, replies and errors. Each gives nothing for an absent argument, without a log line.
    //
    // A query asks about the node at `address` (normalised); on the wire the address carries the
    // query's suffix ("/a/#documentation", "/a/" for the children, "/" for the root's children).
    static std::shared_ptr<OSCMessage> createQueryType(OSCQueryType type,
                                                       const std::optional<std::string>& address);
    // A reply sent to "#reply" that carries the normalised address as its one string value. An
    // empty address normalises to nothing, and the reply then carries no value.
    static std::shared_ptr<OSCMessage> createReplyForAddress(
        const std::optional<std::string>& address);
    // An error that keeps the address as given; it is written under "#error", so the address
    // itself does not travel.
    static std::shared_ptr<OSCMessage> createErrorForAddress(
        const std::optional<std::string>& address);
    // A reply (or error) aimed back at the query's sender, whose first value identifies the
    // question: the query's replyAddress as a string when the query has no values, else the
    // query's whole encoding as a blob. Nothing when that encoding cannot be made; no value when
    // the query has no address to identify it by. The answer's own values are appended after.
    static std::shared_ptr<OSCMessage> createReplyForMessage(
        const std::shared_ptr<const OSCMessage>& query);
    static std::shared_ptr<OSCMessage> createErrorForMessage(
        const std::shared_ptr<const OSCMessage>& query);

    std::string description() const;
    std::string _description() const;

private:
    // The written address as two pieces, so that length and encoding need no joined string.
    struct WrittenAddress {
        std::string_view base;
        std::string_view suffix;
        bool present = false;
        size_t size() const { return base.size() + suffix.size(); }
    };
    WrittenAddress writtenAddress() const;
    // A value with exactly one tag (anything but an array, or a value of no known type).
    static bool isPlainValue(const OSCValue& value) {
        return value.type() != OSCValArray && value.type() != OSCValUnknown;
    }
    void addFirstOrIrregularValue(std::shared_ptr<OSCValue> newValue);
    static const std::shared_ptr<OSCValue>& none();
    // Room for the next value this message makes: blocks of 4, then twice what the message
    // holds, so that a message built value by value allocates about log2(n) times, not n.
    size_t nextBlockCapacity() const;
    // The message's block, first replaced by a new one when it is full.
    OSCValue::Block& roomForValue();
    int64_t typeTagCount() const;  // the comma plus every value's tags
    std::string describeValues() const;
    static std::shared_ptr<OSCMessage> createAnswerForMessage(
        OSCMessageType answerType, const std::shared_ptr<const OSCMessage>& query);

    std::optional<std::string> messageAddress;
    int32_t count = 0;
    int32_t reserved = 16;
    // Set once a value whose tags are not exactly one (an array) is added; until then the tag
    // string is the comma and one tag per value, without asking the values.
    bool irregularTags = false;
    std::shared_ptr<OSCValue> single;
    // Where the values this message makes itself (addInt and the like) are placed.
    OSCValue::Block valueBlock;
    std::optional<ValueList> values;
    std::optional<Date> messageTimeTag;
    bool wildcards = false;
    OSCMessageType kind = OSCMessageTypeControl;
    OSCQueryType query = OSCQueryTypeUnknown;
    uint32_t txAddress = 0;
    uint16_t txPort = 0;
    std::shared_ptr<void> info;
};

}  // namespace vitrine

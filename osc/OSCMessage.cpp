#include "osc/OSCMessage.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "osc/OSCStringAdditions.h"

namespace vitrine {

namespace {

constexpr int64_t round4(int64_t n) {
    return (n + 3) & ~int64_t{3};
}

// How the platform renders an absent object inside a description.
constexpr const char* kAbsent = "(null)";

std::string orAbsent(const std::optional<std::string>& text) {
    return text ? *text : kAbsent;
}

// The suffix a query of each type appends to its address; the root drops the leading "/".
std::string_view querySuffix(OSCQueryType type) {
    switch (type) {
        case OSCQueryTypeNamespaceExploration:
            return "/";
        case OSCQueryTypeDocumentation:
            return "/#documentation";
        case OSCQueryTypeTypeSignature:
            return "/#type-signature";
        case OSCQueryTypeCurrentValue:
            return "/#current-value";
        case OSCQueryTypeReturnTypeString:
            return "/#return-type-string";
        default:
            return {};
    }
}

}  // namespace

OSCMessage::OSCMessage(Private, std::optional<std::string> address, bool wildcardsInAddress,
                       OSCMessageType messageType, OSCQueryType queryType, uint32_t queryTXAddress,
                       uint16_t queryTXPort)
    : messageAddress(std::move(address)),
      wildcards(wildcardsInAddress),
      kind(messageType),
      query(queryType),
      txAddress(queryTXAddress),
      txPort(queryTXPort) {}

std::shared_ptr<OSCMessage> OSCMessage::createFast(std::optional<std::string> address,
                                                   bool wildcardsInAddress,
                                                   OSCMessageType messageType,
                                                   OSCQueryType queryType, uint32_t queryTXAddress,
                                                   uint16_t queryTXPort) {
    return std::make_shared<OSCMessage>(Private{}, std::move(address), wildcardsInAddress,
                                        messageType, queryType, queryTXAddress, queryTXPort);
}

std::shared_ptr<OSCMessage> OSCMessage::createWithAddress(
    const std::optional<std::string>& address) {
    if (!address) return nullptr;
    return createFast(stringByDeletingLastAndAddingFirstSlash(*address),
                      containsOSCWildCard(*address), OSCMessageTypeControl, OSCQueryTypeUnknown, 0,
                      0);
}

size_t OSCMessage::nextBlockCapacity() const {
    constexpr size_t kFirst = 4;
    constexpr size_t kLargest = 64;
    const auto held = static_cast<size_t>(count);
    return held == 0 ? kFirst : std::min(2 * held, kLargest);
}

OSCValue::Block& OSCMessage::roomForValue() {
    if (valueBlock.full()) valueBlock = OSCValue::Block(nextBlockCapacity());
    return valueBlock;
}

void OSCMessage::addInt(int32_t number) {
    addValue(OSCValue::placeIn(roomForValue(), number));
}

void OSCMessage::addFloat(float number) {
    addValue(OSCValue::placeIn(roomForValue(), number));
}

// The absent string, colour and blob go the factories' way, which log (or not) as they always do.
void OSCMessage::addString(const std::optional<std::string>& text) {
    if (!text) return addValue(OSCValue::createWithString(text));
    addValue(OSCValue::placeIn(roomForValue(), std::make_shared<const std::string>(*text)));
}

void OSCMessage::addDouble(double number) {
    addValue(OSCValue::placeIn(roomForValue(), number));
}

void OSCMessage::addColor(const std::optional<OSCColor>& color) {
    if (!color) return addValue(OSCValue::createWithColor(color));
    addValue(OSCValue::placeIn(roomForValue(), std::make_shared<const OSCColor>(*color)));
}

void OSCMessage::addBOOL(bool flag) {
    addValue(OSCValue::createWithBool(flag));
}

void OSCMessage::addNSDataBlob(std::shared_ptr<const OSCData> data) {
    if (!data) return;
    addValue(OSCValue::placeIn(roomForValue(), std::move(data)));
}

void OSCMessage::addFirstOrIrregularValue(std::shared_ptr<OSCValue> newValue) {
    if (!newValue) return;
    if (!isPlainValue(*newValue)) irregularTags = true;
    if (count == 0) {
        single = std::move(newValue);
    } else if (count == 1) {
        values.emplace();
        values->reserve(static_cast<size_t>(reserved));
        values->push_back(std::move(single));
        single.reset();
        values->push_back(std::move(newValue));
    } else {
        values->push_back(std::move(newValue));
    }
    ++count;
}

void OSCMessage::reserveValues(int32_t expected) {
    if (expected <= count) return;
    if (values) {
        values->reserve(static_cast<size_t>(expected));
    } else {
        reserved = std::max(expected, int32_t{2});
    }
}

const std::shared_ptr<OSCValue>& OSCMessage::none() {
    static const std::shared_ptr<OSCValue> kNone;
    return kNone;
}

float OSCMessage::calculateFloatValueAtIndex(int32_t index) const {
    return static_cast<float>(calculateDoubleValueAtIndex(index));
}

double OSCMessage::calculateDoubleValueAtIndex(int32_t index) const {
    if (count < 2) return index == 0 && single ? single->calculateDoubleValue() : 0.0;
    if (index < 0 || index >= count) return -1.0;
    return (*values)[static_cast<size_t>(index)]->calculateDoubleValue();
}

OSCMessage::WrittenAddress OSCMessage::writtenAddress() const {
    switch (kind) {
        case OSCMessageTypeReply:
            return {"#reply", {}, true};
        case OSCMessageTypeError:
            return {"#error", {}, true};
        default:
            break;
    }
    if (!messageAddress) return {};
    WrittenAddress written{*messageAddress, {}, true};
    if (kind == OSCMessageTypeQuery) {
        written.suffix = querySuffix(query);
        if (!written.suffix.empty() && *messageAddress == "/") written.suffix.remove_prefix(1);
    }
    return written;
}

std::optional<std::string> OSCMessage::replyAddress() const {
    const WrittenAddress written = writtenAddress();
    if (!written.present) return std::nullopt;
    std::string text;
    text.reserve(written.size());
    text.append(written.base).append(written.suffix);
    return text;
}

int64_t OSCMessage::typeTagCount() const {
    if (!irregularTags) return 1 + count;
    int64_t tags = 1;
    if (count < 2) {
        if (single) tags += single->typeSignatureLength();
    } else {
        for (const auto& element : *values) tags += element->typeSignatureLength();
    }
    return tags;
}

int64_t OSCMessage::bufferLength() const {
    int64_t data = 0;
    if (count < 2) {
        if (single) data = single->bufferLength();
    } else {
        for (const auto& element : *values) data += element->bufferLength();
    }
    const auto addressLength = static_cast<int64_t>(writtenAddress().size());
    return round4(addressLength + 1) + round4(typeTagCount() + 1) + data;
}

void OSCMessage::writeToBuffer(uint8_t* buffer) const {
    if (!buffer) return;
    OSCByteWriter out({buffer, static_cast<size_t>(bufferLength())});
    writeTo(out);
}

void OSCMessage::writeTo(OSCByteWriter& out) const {
    const WrittenAddress written = writtenAddress();
    OSCByteWriter address =
        out.split(static_cast<size_t>(round4(static_cast<int64_t>(written.size()) + 1)));
    address.putBytes(written.base.data(), written.base.size());
    address.putBytes(written.suffix.data(), written.suffix.size());
    address.padRest();
    // The values write their tags into the tag string and their data after it, in one pass.
    OSCByteWriter tags = out.split(static_cast<size_t>(round4(typeTagCount() + 1)));
    tags.put8(',');
    if (count < 2) {
        if (single) single->writeTo(tags, out);
    } else {
        for (const auto& element : *values) element->writeTo(tags, out);
    }
    tags.padRest();
    if (address.failed() || tags.failed()) out.fail();
}

std::shared_ptr<const OSCData> OSCMessage::writeToNSData() const {
    const int64_t length = bufferLength();
    if (length < 1) return nullptr;
    try {
        auto data = std::make_shared<OSCData>(static_cast<size_t>(length));
        OSCByteWriter out(*data);
        writeTo(out);
        if (!out.complete()) return nullptr;
        return data;
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
}

std::shared_ptr<OSCMessage> OSCMessage::copy() const {
    auto duplicate = createFast(messageAddress, wildcards, kind, query, txAddress, txPort);
    if (count < 2) {
        duplicate->addValue(single);
    } else {
        for (const auto& element : *values) duplicate->addValue(element);
    }
    duplicate->messageTimeTag = messageTimeTag;
    duplicate->info = info;
    return duplicate;
}

std::string OSCMessage::describeValues() const {
    if (count < 2) return single ? single->description() : kAbsent;
    return OSCValue::descriptionOfValues(*values);
}

std::string OSCMessage::_description() const {
    const std::string quotedAddress = "'" + orAbsent(messageAddress) + "'";
    if (count == 0) return quotedAddress;
    if (count == 1) return quotedAddress + ", '" + single->description() + "'";
    return quotedAddress + "-'" + OSCValue::descriptionOfValues(*values) + "'";
}

std::string OSCMessage::description() const {
    switch (kind) {
        case OSCMessageTypeUnknown:
            return "<OSCMsg ? " + describeValues() + ">";
        case OSCMessageTypeControl:
            return "<OSCMessage " + _description() + ">";
        case OSCMessageTypeQuery:
            switch (query) {
                case OSCQueryTypeUnknown:
                    return "<OSCMsg unknown query " + _description() + ">";
                case OSCQueryTypeNamespaceExploration:
                    return "<OSCMsg namespace query " + _description() + ">";
                case OSCQueryTypeDocumentation:
                    return "<OSCMsg doc query " + _description() + ">";
                case OSCQueryTypeTypeSignature:
                    return "<OSCMsg type sig query " + orAbsent(messageAddress) + ">";
                case OSCQueryTypeCurrentValue:
                    return "<OSCMsg current val query " + orAbsent(messageAddress) + ">";
                case OSCQueryTypeReturnTypeString:
                    return "<OSCMsg return type query " + orAbsent(messageAddress) + ">";
                default:
                    return "<OSCMsg Reply " + describeValues() + ">";
            }
        case OSCMessageTypeReply:
            return "<OSCMsg Reply " + describeValues() + ">";
        case OSCMessageTypeError:
            return "<OSCMsg Err " + describeValues() + ">";
        default:
            return std::string("<OSCMessage ") + kAbsent + ">";
    }
}

std::shared_ptr<OSCMessage> OSCMessage::createQueryType(OSCQueryType type,
                                                        const std::optional<std::string>& address) {
    if (!address) return nullptr;
    return createFast(stringByDeletingLastAndAddingFirstSlash(*address),
                      containsOSCWildCard(*address), OSCMessageTypeQuery, type, 0, 0);
}

std::shared_ptr<OSCMessage> OSCMessage::createReplyForAddress(
    const std::optional<std::string>& address) {
    if (!address) return nullptr;
    auto reply = createFast(std::nullopt, false, OSCMessageTypeReply, OSCQueryTypeUnknown, 0, 0);
    if (auto normalised = stringByDeletingLastAndAddingFirstSlash(*address))
        reply->addString(std::move(normalised));
    return reply;
}

std::shared_ptr<OSCMessage> OSCMessage::createErrorForAddress(
    const std::optional<std::string>& address) {
    if (!address) return nullptr;
    return createFast(address, containsOSCWildCard(*address), OSCMessageTypeError,
                      OSCQueryTypeUnknown, 0, 0);
}

std::shared_ptr<OSCMessage> OSCMessage::createAnswerForMessage(
    OSCMessageType answerType, const std::shared_ptr<const OSCMessage>& query) {
    if (!query) return nullptr;
    std::shared_ptr<OSCValue> question;
    if (query->valueCount() > 0) {
        // With values the address alone would not tell two questions apart.
        question = OSCValue::createWithNSDataBlob(query->writeToNSData());
        if (!question) return nullptr;
    } else if (auto written = query->replyAddress()) {
        question = OSCValue::createWithString(std::move(written));
    }
    auto answer = createFast(std::nullopt, false, answerType, OSCQueryTypeUnknown,
                             query->queryTXAddress(), query->queryTXPort());
    answer->addValue(question);
    return answer;
}

std::shared_ptr<OSCMessage> OSCMessage::createReplyForMessage(
    const std::shared_ptr<const OSCMessage>& query) {
    return createAnswerForMessage(OSCMessageTypeReply, query);
}

std::shared_ptr<OSCMessage> OSCMessage::createErrorForMessage(
    const std::shared_ptr<const OSCMessage>& query) {
    return createAnswerForMessage(OSCMessageTypeError, query);
}

}  // namespace vitrine

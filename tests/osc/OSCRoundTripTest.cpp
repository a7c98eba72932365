#include <gtest/gtest.h>

#include <bit>
#include <functional>
#include <random>

#include "basics/Log.h"
#include "osc/OSCBundle.h"
#include "osc/OSCMessage.h"
#include "osc/OSCPacket.h"
#include "osc/OSCStringAdditions.h"
#include "support/CollectingReceiver.h"

using namespace vitrine;

namespace {

// Random messages of every kind, with every value type and nested arrays, and random nested
// bundles of them, from a fixed seed.
class RandomOSC {
public:
    explicit RandomOSC(uint32_t seed) : rng(seed) {}

    std::shared_ptr<OSCMessage> message() {
        static constexpr std::pair<OSCMessageType, OSCQueryType> kKinds[] = {
            {OSCMessageTypeControl, OSCQueryTypeUnknown},
            {OSCMessageTypeControl, OSCQueryTypeUnknown},
            {OSCMessageTypeQuery, OSCQueryTypeNamespaceExploration},
            {OSCMessageTypeQuery, OSCQueryTypeDocumentation},
            {OSCMessageTypeQuery, OSCQueryTypeTypeSignature},
            {OSCMessageTypeQuery, OSCQueryTypeCurrentValue},
            {OSCMessageTypeQuery, OSCQueryTypeReturnTypeString},
            {OSCMessageTypeReply, OSCQueryTypeUnknown},
            {OSCMessageTypeError, OSCQueryTypeUnknown},
        };
        const auto [type, query] = kKinds[below(std::size(kKinds))];
        std::optional<std::string> address;
        if (type != OSCMessageTypeReply && type != OSCMessageTypeError) address = path();
        // On the wire a control message to "/" is a namespace query of the root.
        if (type == OSCMessageTypeControl && address == "/") address = "/jar";
        auto result = OSCMessage::createFast(address, address && containsOSCWildCard(*address),
                                             type, query, 0, 0);
        for (size_t i = below(6); i > 0; --i) result->addValue(value(0));
        return result;
    }

    // Each message put in the bundle is noted with the time tag in force where it stands.
    struct Placed {
        std::shared_ptr<OSCMessage> message;
        std::optional<Date> timeTag;
    };
    std::shared_ptr<OSCBundle> bundle(std::vector<Placed>& placed, int depth = 1,
                                      std::optional<Date> inherited = std::nullopt) {
        auto made = OSCBundle::create();
        // Whole microseconds above the "immediately" marks, as a peer would send them.
        if (below(2))
            made->setTimeTag(static_cast<Date>(1 + below(0x7FFFFFFE)) + below(1000000) / 1e6);
        const auto effective = made->timeTag() ? made->timeTag() : inherited;
        for (size_t n = below(5); n > 0; --n) {
            if (depth < 5 && below(4) == 0) {
                made->addElement(bundle(placed, depth + 1, effective));
            } else {
                placed.push_back({message(), effective});
                made->addElement(placed.back().message);
            }
        }
        return made;
    }

private:
    size_t below(size_t n) { return std::uniform_int_distribution<size_t>(0, n - 1)(rng); }
    uint32_t bits() { return static_cast<uint32_t>(rng()); }
    uint64_t bits64() { return (uint64_t{bits()} << 32) | bits(); }

    std::string path() {
        static constexpr std::string_view kChars = "abcxyz019_-*?é";
        if (below(8) == 0) return "/";
        std::string text;
        for (size_t segments = 1 + below(3); segments > 0; --segments) {
            text += '/';
            for (size_t n = 1 + below(6); n > 0; --n) {
                const size_t at = below(kChars.size() - 1);
                // "é" is two bytes: take both or neither.
                text += kChars[at] == '\xC3' ? std::string("é") : std::string(1, kChars[at]);
            }
        }
        return text;
    }

    // One- to four-byte UTF-8 pieces, joined at random.
    std::string text() {
        static constexpr std::string_view kPieces[] = {
            "a", "Z", " ", "~", "é", "€", "\U0001F3FA", "\u07FF", "\uFFFD", "\U0010FFFF"};
        std::string out;
        for (size_t n = below(12); n > 0; --n) out += kPieces[below(std::size(kPieces))];
        return out;
    }

    std::shared_ptr<OSCValue> value(int depth) {
        using V = OSCValue;
        // Colour components that are whole 255ths survive the byte encoding exactly.
        const auto part = [this] { return static_cast<double>(below(256)) / 255.0; };
        const std::function<std::shared_ptr<OSCValue>()> makers[] = {
            [&] { return V::createWithInt(static_cast<int32_t>(bits())); },
            [&] { return V::createWithFloat(std::bit_cast<float>(bits())); },
            [&] { return V::createWithString(text()); },
            [&] { return V::createWithString(std::string()); },
            [&] { return V::createWithTimeSeconds(bits(), below(1000000)); },
            [&] { return V::createWithLongLong(static_cast<int64_t>(bits64())); },
            [&] { return V::createWithDouble(std::bit_cast<double>(bits64())); },
            [&] { return V::createWithChar(static_cast<int8_t>(bits())); },
            [&] {
                return V::createWithColor(OSCColor{part(), part(), part(), part()});
            },
            [&] {
                const uint32_t w = bits();
                return V::createWithMIDIChannel(w, w >> 8, w >> 16, w >> 24);
            },
            [&] { return V::createWithBool(below(2)); },
            [&] { return V::createWithNil(); },
            [&] { return V::createWithInfinity(); },
            [&] { return V::createWithSMPTEChunk(static_cast<int32_t>(bits())); },
            [&] {
                auto blob = std::make_shared<OSCData>(below(10));
                for (auto& byte : *blob) byte = static_cast<uint8_t>(bits());
                return V::createWithNSDataBlob(std::move(blob));
            },
            [&] {  // last, so that arrays stop nesting past depth 4
                auto array = V::createArray();
                for (size_t n = below(5); n > 0; --n) array->addValue(value(depth + 1));
                return array;
            },
        };
        return makers[below(std::size(makers) - (depth < 4 ? 0 : 1))]();
    }

    std::mt19937 rng;
};

void expectSameMessage(const OSCMessage& sent, const OSCMessage& received) {
    SCOPED_TRACE(sent.description() + " -> " + received.description());
    EXPECT_EQ(received.messageType(), sent.messageType());
    EXPECT_EQ(received.queryType(), sent.queryType());
    EXPECT_EQ(received.address(), sent.address());
    EXPECT_EQ(received.wildcardsInAddress(), sent.wildcardsInAddress());
    EXPECT_EQ(received.queryTXAddress(), 0x0100007Fu);
    EXPECT_EQ(received.queryTXPort(), 9000);
    ASSERT_EQ(received.valueCount(), sent.valueCount());
    for (int32_t i = 0; i < sent.valueCount(); ++i)
        EXPECT_TRUE(received.valueAtIndex(i)->isEqual(*sent.valueAtIndex(i)))
            << i << ": " << received.valueAtIndex(i)->description() << " vs "
            << sent.valueAtIndex(i)->description();
}

}  // namespace

TEST(OSCRoundTrip, RandomMessagesDecodeToEqualValuesAndReencodeIdentically) {
    LogCapture capture;
    for (uint32_t seed = 1; seed <= 300; ++seed) {
        SCOPED_TRACE(seed);
        const auto original = RandomOSC(seed).message();
        const auto bytes = original->writeToNSData();
        const auto parsed = OSCMessage::parseRawBuffer(
            bytes->data(), static_cast<int32_t>(bytes->size()), 0x0100007F, 9000);
        ASSERT_NE(parsed, nullptr) << original->description();
        expectSameMessage(*original, *parsed);
        EXPECT_EQ(*parsed->writeToNSData(), *bytes);
    }
    EXPECT_TRUE(capture.lines().empty());
}

TEST(OSCRoundTrip, RandomNestedBundlesDeliverEveryMessageInOrderWithItsTimeTag) {
    LogCapture capture;
    size_t messagesChecked = 0;
    for (uint32_t seed = 1; seed <= 200; ++seed) {
        SCOPED_TRACE(seed);
        std::vector<RandomOSC::Placed> placed;
        const auto packet = OSCPacket::createWithContent(RandomOSC(seed).bundle(placed));
        ASSERT_NE(packet, nullptr);
        test::CollectingReceiver receiver;
        OSCPacket::parseRawBuffer(packet->payload(), static_cast<int32_t>(packet->bufferLength()),
                                  &receiver, 0x0100007F, 9000);
        ASSERT_EQ(receiver.messages.size(), placed.size());
        for (size_t i = 0; i < placed.size(); ++i) {
            expectSameMessage(*placed[i].message, *receiver.messages[i]);
            EXPECT_EQ(receiver.messages[i]->timeTag(), placed[i].timeTag);
        }
        messagesChecked += placed.size();
    }
    // The seeds must exercise a fair number of messages, not mostly empty bundles.
    EXPECT_GT(messagesChecked, 300u);
    EXPECT_TRUE(capture.lines().empty());
}

#include <gtest/gtest.h>

#include <cstring>
#include <random>

#include "osc/OSCBundle.h"
#include "osc/OSCMessage.h"
#include "osc/OSCPacket.h"
#include "support/CollectingReceiver.h"

using namespace vitrine;

namespace {

// Builds random bundles and the messages a receiver must get back from their encoding, in order,
// each with the time tag in force where it stands.
class RandomBundles {
public:
    explicit RandomBundles(uint32_t seed) : random(seed) {}

    std::shared_ptr<OSCBundle> bundle(int depth, std::optional<Date> inherited) {
        auto made = OSCBundle::create();
        if (chance(2)) {
            // Whole microseconds above the "immediately" marks, as a peer would send them.
            const auto seconds = static_cast<uint32_t>(between(1, 0x7FFFFFFF));
            const auto microseconds = static_cast<uint32_t>(between(0, 999999));
            made->setTimeTag(static_cast<Date>(seconds) + microseconds / 1000000.0);
        }
        const std::optional<Date> effective = made->timeTag() ? made->timeTag() : inherited;
        const int count = between(0, 4);
        for (int i = 0; i < count; ++i) {
            if (depth < 5 && chance(4)) {
                made->addElement(bundle(depth + 1, effective));
            } else {
                auto sent = message();
                made->addElement(sent);
                expected.push_back({sent, effective});
            }
        }
        return made;
    }

    struct Expected {
        std::shared_ptr<OSCMessage> message;
        std::optional<Date> timeTag;
    };
    std::vector<Expected> expected;

private:
    int between(int low, int high) { return std::uniform_int_distribution<int>(low, high)(random); }
    bool chance(int oneIn) { return between(1, oneIn) == 1; }
    uint32_t word() { return static_cast<uint32_t>(random()); }

    std::string address() {
        static constexpr char kCharacters[] = "abcxyz019_-*";
        std::string text;
        const int segments = between(1, 3);
        for (int s = 0; s < segments; ++s) {
            text += '/';
            const int length = between(1, 6);
            for (int i = 0; i < length; ++i) text += kCharacters[between(0, 11)];
        }
        return text;
    }

    std::shared_ptr<OSCMessage> message() {
        std::shared_ptr<OSCMessage> made;
        switch (between(0, 9)) {
            case 0:
                made = OSCMessage::createQueryType(static_cast<OSCQueryType>(between(1, 5)),
                                                   address());
                break;
            case 1:
                made = OSCMessage::createReplyForAddress(address());
                break;
            case 2:
                made = OSCMessage::createErrorForAddress(address());
                break;
            default:
                made = OSCMessage::createWithAddress(address());
        }
        const int count = between(0, 5);
        for (int i = 0; i < count; ++i) made->addValue(value(0));
        return made;
    }

    std::shared_ptr<OSCValue> value(int depth) {
        switch (between(0, depth < 2 ? 15 : 14)) {
            case 0:
                return OSCValue::createWithInt(static_cast<int32_t>(word()));
            case 1: {
                const uint32_t bits = word();
                float number;
                std::memcpy(&number, &bits, sizeof number);
                return OSCValue::createWithFloat(number);
            }
            case 2: {
                std::string text(static_cast<size_t>(between(0, 9)), ' ');
                for (auto& c : text) c = static_cast<char>(between(0x20, 0x7E));
                return OSCValue::createWithString(text);
            }
            case 3: {
                auto data = std::make_shared<OSCData>(static_cast<size_t>(between(0, 9)));
                for (auto& byte : *data) byte = static_cast<uint8_t>(word());
                return OSCValue::createWithNSDataBlob(data);
            }
            case 4:
                return OSCValue::createWithLongLong(
                    static_cast<int64_t>(uint64_t{word()} << 32 | word()));
            case 5: {
                const uint64_t bits = uint64_t{word()} << 32 | word();
                double number;
                std::memcpy(&number, &bits, sizeof number);
                return OSCValue::createWithDouble(number);
            }
            case 6:
                return OSCValue::createWithTimeSeconds(between(0, 0x7FFFFFFF), between(0, 999999));
            case 7:
                return OSCValue::createWithChar(static_cast<int8_t>(word()));
            case 8:
                return OSCValue::createWithColor(
                    OSCColor{between(0, 255) / 255.0, between(0, 255) / 255.0,
                             between(0, 255) / 255.0, between(0, 255) / 255.0});
            case 9:
                return OSCValue::createWithMIDIChannel(
                    static_cast<uint8_t>(word()), static_cast<uint8_t>(word()),
                    static_cast<uint8_t>(word()), static_cast<uint8_t>(word()));
            case 10:
                return OSCValue::createWithBool(chance(2));
            case 11:
                return OSCValue::createWithNil();
            case 12:
                return OSCValue::createWithInfinity();
            case 13:
                return OSCValue::createWithSMPTEChunk(static_cast<int32_t>(word()));
            case 14:
                return OSCValue::createWithInt(between(-3, 3));
            default: {
                auto array = OSCValue::createArray();
                const int count = between(0, 4);
                for (int i = 0; i < count; ++i) array->addValue(value(depth + 1));
                return array;
            }
        }
    }

    std::mt19937 random;
};

std::vector<std::shared_ptr<OSCValue>> values(const OSCMessage& message) {
    std::vector<std::shared_ptr<OSCValue>> list;
    for (int32_t i = 0; i < message.valueCount(); ++i) list.push_back(message.valueAtIndex(i));
    return list;
}

void expectSameMessage(const OSCMessage& sent, const std::optional<Date>& timeTag,
                       const OSCMessage& received) {
    SCOPED_TRACE(sent.description() + " -> " + received.description());
    EXPECT_EQ(received.messageType(), sent.messageType());
    if (sent.messageType() == OSCMessageTypeQuery) {
        EXPECT_EQ(received.queryType(), sent.queryType());
    }
    // Replies and errors travel under "#reply" and "#error" alone.
    const bool addressTravels =
        sent.messageType() == OSCMessageTypeControl || sent.messageType() == OSCMessageTypeQuery;
    EXPECT_EQ(received.address(), addressTravels ? sent.address() : std::nullopt);
    EXPECT_EQ(received.wildcardsInAddress(), addressTravels && sent.wildcardsInAddress());
    EXPECT_EQ(received.timeTag(), timeTag);
    EXPECT_EQ(received.queryTXAddress(), 0x0100007Fu);
    EXPECT_EQ(received.queryTXPort(), 9000);

    const auto wanted = values(sent);
    const auto got = values(received);
    ASSERT_EQ(got.size(), wanted.size());
    for (size_t i = 0; i < got.size(); ++i)
        EXPECT_TRUE(got[i]->isEqual(*wanted[i]))
            << i << ": " << got[i]->description() << " vs " << wanted[i]->description();
}

}  // namespace

TEST(OSCBundleRoundTrip, RandomNestedBundlesComeBackInOrder) {
    size_t messagesChecked = 0;
    for (uint32_t seed = 1; seed <= 300; ++seed) {
        SCOPED_TRACE(seed);
        RandomBundles maker(seed);
        const auto bundle = maker.bundle(1, std::nullopt);
        const auto packet = OSCPacket::createWithContent(bundle);
        ASSERT_NE(packet, nullptr);
        test::CollectingReceiver receiver;
        OSCPacket::parseRawBuffer(packet->payload(), static_cast<int32_t>(packet->bufferLength()),
                                  &receiver, 0x0100007F, 9000);
        ASSERT_EQ(receiver.messages.size(), maker.expected.size());
        for (size_t i = 0; i < receiver.messages.size(); ++i)
            expectSameMessage(*maker.expected[i].message, maker.expected[i].timeTag,
                              *receiver.messages[i]);
        messagesChecked += receiver.messages.size();
    }
    // The seeds above must exercise a fair number of messages, not mostly empty bundles.
    EXPECT_GT(messagesChecked, 500u);
}

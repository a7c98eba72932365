// Interoperability with liblo, Debian's independent OSC implementation: real datagrams over
// 127.0.0.1 in both directions, read back value by value. Where the two differ by design the
// tests pin the difference rather than step around it.

#include <gtest/gtest.h>
#include <lo/lo.h>
#include <stdlib.h>
#include <unistd.h>

#include <array>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "osc/OSCBundle.h"
#include "osc/OSCOutPort.h"
#include "osc/OSCPacket.h"
#include "support/CollectingReceiver.h"
#include "support/OscWire.h"
#include "support/UdpListener.h"

using namespace vitrine;
using namespace vitrine::test;

namespace {

using ValueList = std::vector<std::shared_ptr<OSCValue>>;

// liblo's argument pointers point straight into its packed data, 4-byte aligned at best, so an
// argument is copied out rather than read through the union.
template <typename T>
T arg(const lo_arg* argument) {
    T value;
    std::memcpy(&value, argument, sizeof value);
    return value;
}
const char* text(const lo_arg* argument) {
    return reinterpret_cast<const char*>(argument);
}

// Seconds from 1900 (NTP's epoch) to 2001 (the epoch of this library's time tags).
constexpr uint32_t kNtpSecondsAt2001 = 3187296000u;

struct LoAddress {
    explicit LoAddress(uint16_t port)
        : address(lo_address_new("127.0.0.1", std::to_string(port).c_str())) {}
    ~LoAddress() { lo_address_free(address); }
    lo_address address;
};

// The messages one datagram holds, as this library decodes them.
std::vector<std::shared_ptr<OSCMessage>> decode(const Bytes& datagram) {
    CollectingReceiver receiver;
    OSCPacket::parseRawBuffer(datagram.data(), static_cast<int32_t>(datagram.size()), &receiver, 0,
                              0);
    return receiver.messages;
}

void expectValues(const OSCMessage& message, const ValueList& expected) {
    ASSERT_EQ(message.valueCount(), static_cast<int32_t>(expected.size())) << message.description();
    for (size_t i = 0; i < expected.size(); ++i) {
        const auto got = message.valueAtIndex(static_cast<int32_t>(i));
        EXPECT_TRUE(got && *got == *expected[i])
            << "value " << i << ": " << (got ? got->description() : "none") << " instead of "
            << expected[i]->description();
    }
}

std::shared_ptr<const OSCData> blob(std::initializer_list<uint8_t> bytes) {
    return std::make_shared<const OSCData>(bytes);
}

// Our datagram, sent through a sending port to 127.0.0.1 and caught there.
Bytes sentByUs(const std::shared_ptr<OSCPacketContent>& content) {
    UdpListener listener;
    const auto port = OSCOutPort::createWithAddress("127.0.0.1", listener.port());
    if (const auto bundle = std::dynamic_pointer_cast<OSCBundle>(content)) {
        port->sendThisBundle(bundle);
    } else {
        port->sendThisMessage(std::static_pointer_cast<OSCMessage>(content));
    }
    return listener.receive().value_or(Bytes{});
}

// What liblo's server sees when it dispatches a datagram: one event per bundle start, message
// and bundle end. A Unix-socket server: it is never sent to, only handed the bytes.
class LoDispatch {
public:
    LoDispatch() {
        char pattern[] = "/tmp/vitrine-interop-XXXXXX";
        directory = mkdtemp(pattern);
        server = lo_server_new_with_proto((directory + "/lo").c_str(), LO_UNIX, nullptr);
        lo_server_add_method(server, nullptr, nullptr, &LoDispatch::onMessage, this);
        lo_server_add_bundle_handlers(server, &LoDispatch::onBundleStart, &LoDispatch::onBundleEnd,
                                      this);
    }
    ~LoDispatch() {
        lo_server_free(server);
        unlink((directory + "/lo").c_str());
        rmdir(directory.c_str());
    }

    int dispatch(Bytes datagram) {
        return lo_server_dispatch_data(server, datagram.data(), datagram.size());
    }

    std::vector<std::string> events;

private:
    static int onMessage(const char* path, const char* types, lo_arg** argv, int argc, lo_message,
                         void* self) {
        std::string event = std::string(path) + " " + types;
        for (int i = 0; i < argc; ++i) {
            if (types[i] == 'i') event += " " + std::to_string(arg<int32_t>(argv[i]));
            if (types[i] == 's') event += " " + std::string(text(argv[i]));
        }
        static_cast<LoDispatch*>(self)->events.push_back(event);
        return 0;
    }
    static int onBundleStart(lo_timetag time, void* self) {
        static_cast<LoDispatch*>(self)->events.push_back("bundle " + std::to_string(time.sec) +
                                                         " " + std::to_string(time.frac));
        return 0;
    }
    static int onBundleEnd(void* self) {
        static_cast<LoDispatch*>(self)->events.push_back("end");
        return 0;
    }

    std::string directory;
    lo_server server = nullptr;
};

TEST(LibloToVitrine, EveryTypeLibloSendsReadsAsTheSameValues) {
    UdpListener listener;
    LoAddress to(listener.port());
    lo_message m = lo_message_new();
    uint8_t midi[4] = {0x00, 0x90, 0x3C, 0x7F};
    const uint8_t bytes[5] = {0xDE, 0xAD, 0xBE, 0xEF, 0x01};
    lo_blob b = lo_blob_new(5, bytes);
    lo_message_add_int32(m, -42);
    lo_message_add_float(m, 0.5f);
    lo_message_add_string(m, "héllo");
    lo_message_add_symbol(m, "sym");
    lo_message_add_int64(m, 9000000000LL);
    lo_message_add_double(m, 2.25);
    lo_message_add_timetag(m, lo_timetag{3, 500000});
    lo_message_add_char(m, 'A');
    lo_message_add_midi(m, midi);
    lo_message_add_true(m);
    lo_message_add_false(m);
    lo_message_add_nil(m);
    lo_message_add_infinitum(m);
    lo_message_add_blob(m, b);
    ASSERT_GT(lo_send_message(to.address, "/all", m), 0);
    lo_message_free(m);
    lo_blob_free(b);

    const auto datagram = listener.receive();
    ASSERT_TRUE(datagram);
    const auto messages = decode(*datagram);
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0]->address(), "/all");
    expectValues(
        *messages[0],
        {OSCValue::createWithInt(-42), OSCValue::createWithFloat(0.5f),
         OSCValue::createWithString("héllo"),
         // A symbol has no type of its own here: it reads as a string.
         OSCValue::createWithString("sym"), OSCValue::createWithLongLong(9000000000LL),
         OSCValue::createWithDouble(2.25),
         // The two words arrive unchanged; what they mean differs (see TimeTags).
         OSCValue::createWithTimeSeconds(3, 500000), OSCValue::createWithChar('A'),
         OSCValue::createWithMIDIChannel(0x00, 0x90, 0x3C, 0x7F), OSCValue::createWithBool(true),
         OSCValue::createWithBool(false), OSCValue::createWithNil(), OSCValue::createWithInfinity(),
         OSCValue::createWithNSDataBlob(blob({0xDE, 0xAD, 0xBE, 0xEF, 0x01}))});
}

TEST(LibloToVitrine, BundlesAndNestedBundlesArriveInOrderWithTheirTimeTags) {
    UdpListener listener;
    LoAddress to(listener.port());
    lo_bundle outer = lo_bundle_new(lo_timetag{100, 250000});
    lo_bundle immediate = lo_bundle_new(LO_TT_IMMEDIATE);
    lo_bundle later = lo_bundle_new(lo_timetag{200, 0});
    lo_message a = lo_message_new(), b = lo_message_new(), c = lo_message_new();
    lo_message_add_int32(a, 1);
    lo_message_add_string(c, "x");
    lo_bundle_add_message(outer, "/a", a);
    lo_bundle_add_message(immediate, "/b", b);
    lo_bundle_add_message(later, "/c", c);
    lo_bundle_add_bundle(outer, immediate);
    lo_bundle_add_bundle(outer, later);
    ASSERT_GT(lo_send_bundle(to.address, outer), 0);
    lo_bundle_free_recursive(outer);

    const auto datagram = listener.receive();
    ASSERT_TRUE(datagram);
    const auto messages = decode(*datagram);
    ASSERT_EQ(messages.size(), 3u);
    // The immediate inner bundle passes on the outer time tag; the other has its own.
    const std::vector<std::pair<std::string, Date>> expected = {
        {"/a", 100.25}, {"/b", 100.25}, {"/c", 200.0}};
    for (size_t i = 0; i < 3; ++i) {
        EXPECT_EQ(messages[i]->address(), expected[i].first);
        EXPECT_EQ(messages[i]->timeTag(), expected[i].second);
    }
    expectValues(*messages[0], {OSCValue::createWithInt(1)});
    expectValues(*messages[2], {OSCValue::createWithString("x")});
}

TEST(LibloToVitrine, TimeTagsCountFrom1900InBinaryFractionsThereAndFrom2001InMicrosecondsHere) {
    // liblo's time tag for 2001-01-01 00:00:00.5 UTC: NTP seconds, and half of 2^32.
    const lo_timetag ntp{kNtpSecondsAt2001, 0x80000000u};
    UdpListener listener;
    LoAddress to(listener.port());
    lo_bundle bundle = lo_bundle_new(ntp);
    lo_message m = lo_message_new();
    lo_message_add_timetag(m, ntp);
    lo_bundle_add_message(bundle, "/t", m);
    ASSERT_GT(lo_send_bundle(to.address, bundle), 0);
    lo_bundle_free_recursive(bundle);

    const auto datagram = listener.receive();
    ASSERT_TRUE(datagram);
    const auto messages = decode(*datagram);
    ASSERT_EQ(messages.size(), 1u);
    // Read with this library's convention the same words are 3187296000 s after 2001 (in 2102)
    // plus 2147483648 "microseconds", some 36 minutes.
    EXPECT_EQ(messages[0]->timeTag(), 3187296000.0 + 2147.483648);
    // As an argument the words are kept; the seconds half reads as a signed number.
    const auto value = messages[0]->value();
    ASSERT_TRUE(value && value->type() == OSCValTimeTag);
    EXPECT_EQ(value->timeValue().seconds, static_cast<int32_t>(kNtpSecondsAt2001));
    EXPECT_EQ(value->timeValue().microSeconds, 0x80000000u);
}

TEST(VitrineToLiblo, EveryTypeWeSendLibloReadsAsTheSameValues) {
    auto message = OSCMessage::createWithAddress("/all");
    message->addInt(-42);
    message->addFloat(0.5f);
    message->addString("héllo");
    message->addValue(OSCValue::createWithLongLong(-9000000000LL));
    message->addDouble(2.25);
    message->addValue(OSCValue::createWithTimeSeconds(3, 500000));
    message->addValue(OSCValue::createWithChar('A'));
    message->addValue(OSCValue::createWithMIDIChannel(0x00, 0x90, 0x3C, 0x7F));
    message->addBOOL(true);
    message->addBOOL(false);
    message->addValue(OSCValue::createWithNil());
    message->addValue(OSCValue::createWithInfinity());
    message->addNSDataBlob(blob({0xDE, 0xAD, 0xBE, 0xEF, 0x01}));

    Bytes datagram = sentByUs(message);
    ASSERT_FALSE(datagram.empty());
    int result = 0;
    lo_message m = lo_message_deserialise(datagram.data(), datagram.size(), &result);
    ASSERT_TRUE(m) << "liblo error " << result;
    EXPECT_STREQ(lo_message_get_types(m), "ifshdtcmTFNIb");
    lo_arg** argv = lo_message_get_argv(m);
    EXPECT_EQ(arg<int32_t>(argv[0]), -42);
    EXPECT_EQ(arg<float>(argv[1]), 0.5f);
    EXPECT_STREQ(text(argv[2]), "héllo");
    EXPECT_EQ(arg<int64_t>(argv[3]), -9000000000LL);
    EXPECT_EQ(arg<double>(argv[4]), 2.25);
    EXPECT_EQ(arg<lo_timetag>(argv[5]).sec, 3u);
    EXPECT_EQ(arg<lo_timetag>(argv[5]).frac,
              500000u);  // liblo reads it as 500000 / 2^32 s, about 116 µs
    EXPECT_EQ(arg<char>(argv[6]), 'A');
    using Midi = std::array<uint8_t, 4>;
    EXPECT_EQ(arg<Midi>(argv[7]), (Midi{0x00, 0x90, 0x3C, 0x7F}));
    ASSERT_EQ(lo_blob_datasize(reinterpret_cast<lo_blob>(argv[12])), 5u);
    EXPECT_EQ(std::memcmp(lo_blob_dataptr(reinterpret_cast<lo_blob>(argv[12])),
                          "\xDE\xAD\xBE\xEF\x01", 5),
              0);
    lo_message_free(m);
}

TEST(VitrineToLiblo, BundlesAndNestedBundlesDispatchInOrderWithTheTimeTagWords) {
    auto outer = OSCBundle::create();
    outer->setTimeTag(10.25);
    auto immediate = OSCBundle::create();
    auto later = OSCBundle::create();
    later->setTimeTag(20.5);
    outer->addElement(numbered("/a", 1));
    immediate->addElement(OSCMessage::createWithAddress("/b"));
    auto c = OSCMessage::createWithAddress("/c");
    c->addString("x");
    later->addElement(c);
    outer->addElement(immediate);
    outer->addElement(later);

    LoDispatch lo;
    EXPECT_GT(lo.dispatch(sentByUs(outer)), 0);
    // liblo takes our seconds since 2001 for seconds since 1900, and our microseconds for
    // 1/2^32 units: 10.25 s after 2001 reads as 1900-01-01 00:00:10.000058. Being long past,
    // every message is dispatched at once.
    EXPECT_EQ(lo.events,
              (std::vector<std::string>{"bundle 10 250000", "/a i 1", "bundle 0 1", "/b ", "end",
                                        "bundle 20 500000", "/c s x", "end", "end"}));
}

TEST(Interop, CharactersAgreeBothWaysThoughTheirPaddingBytesDiffer) {
    // A "c" travels in 32 bits. liblo widens the character without its sign, this library with
    // it; both read only the low byte, so a character above 0x7F survives either way.
    lo_message m = lo_message_new();
    lo_message_add_char(m, static_cast<char>(0xE9));
    size_t size = 0;
    auto* raw = static_cast<uint8_t*>(lo_message_serialise(m, "/c", nullptr, &size));
    const Bytes theirs(raw, raw + size);
    free(raw);
    lo_message_free(m);
    EXPECT_EQ(hex(theirs), hex(join({field("/c"), field(",c"), word(0x000000E9)})));
    const auto decoded = decode(theirs);
    ASSERT_EQ(decoded.size(), 1u);
    expectValues(*decoded[0], {OSCValue::createWithChar(static_cast<int8_t>(0xE9))});

    auto ours = OSCMessage::createWithAddress("/c");
    ours->addValue(OSCValue::createWithChar(static_cast<int8_t>(0xE9)));
    Bytes datagram = sentByUs(ours);
    EXPECT_EQ(hex(datagram), hex(join({field("/c"), field(",c"), word(0xFFFFFFE9)})));
    int result = 0;
    m = lo_message_deserialise(datagram.data(), datagram.size(), &result);
    ASSERT_TRUE(m) << "liblo error " << result;
    EXPECT_EQ(arg<uint8_t>(lo_message_get_argv(m)[0]), 0xE9);
    lo_message_free(m);
}

TEST(Interop, QueryAddressesArePlainAddressesToLibloAndQueriesHere) {
    // liblo has no query extension: our queries and replies reach its handlers as ordinary
    // messages under their written addresses (the reply's first value names the question).
    const auto query = OSCMessage::createQueryType(OSCQueryTypeDocumentation, "/synth");
    const auto listing = OSCMessage::createQueryType(OSCQueryTypeNamespaceExploration, "/synth");
    LoDispatch lo;
    for (const auto& message : {query, listing, OSCMessage::createReplyForMessage(query)}) {
        EXPECT_GT(lo.dispatch(sentByUs(message)), 0);
    }
    EXPECT_EQ(lo.events, (std::vector<std::string>{"/synth/#documentation ", "/synth/ ",
                                                   "#reply s /synth/#documentation"}));

    // The other way, a liblo message to such an address is a query here.
    lo_message m = lo_message_new();
    size_t size = 0;
    auto* raw =
        static_cast<uint8_t*>(lo_message_serialise(m, "/synth/#documentation", nullptr, &size));
    const auto decoded = decode(Bytes(raw, raw + size));
    free(raw);
    lo_message_free(m);
    ASSERT_EQ(decoded.size(), 1u);
    EXPECT_EQ(decoded[0]->messageType(), OSCMessageTypeQuery);
    EXPECT_EQ(decoded[0]->queryType(), OSCQueryTypeDocumentation);
    EXPECT_EQ(decoded[0]->address(), "/synth");
}

TEST(VitrineToLiblo, ArraysColoursAndSMPTETimesAreOursAlone) {
    // liblo knows neither arrays, nor the "r" colour, nor "E" SMPTE times, and refuses the whole
    // message; within this library they travel both ways (tested with the codec).
    auto array = OSCValue::createArray();
    array->addValue(OSCValue::createWithInt(1));
    const std::vector<std::pair<const char*, std::shared_ptr<OSCValue>>> cases = {
        {"array", array},
        {"colour", OSCValue::createWithColor(OSCColor{1.0, 0.5, 0.0, 1.0})},
        {"SMPTE", OSCValue::createWithSMPTEVals(2, 0, 1, 2, 3, 4)},
    };
    for (const auto& [name, value] : cases) {
        SCOPED_TRACE(name);
        auto message = OSCMessage::createWithAddress("/x");
        message->addValue(value);
        Bytes datagram = sentByUs(message);
        ASSERT_FALSE(datagram.empty());
        int result = 0;
        lo_message m = lo_message_deserialise(datagram.data(), datagram.size(), &result);
        EXPECT_EQ(m, nullptr);
        EXPECT_EQ(result, LO_EINVALIDARG);
        if (m) lo_message_free(m);
    }
}

}  // namespace

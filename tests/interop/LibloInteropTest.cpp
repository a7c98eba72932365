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

#include "basics/Log.h"
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
using Events = std::vector<std::string>;

// liblo's argument pointers point straight into its packed data, 4-byte aligned at best, so an
// argument is copied out rather than read through the union.
template <typename T>
T arg(const lo_arg* argument) {
    T value;
    std::memcpy(&value, argument, sizeof value);
    return value;
}

// Seconds from 1900 (NTP's epoch) to 2001 (the epoch of this library's time tags).
constexpr uint32_t kNtpSecondsAt2001 = 3187296000u;
const uint8_t kBlob[5] = {0xDE, 0xAD, 0xBE, 0xEF, 0x01};
uint8_t kMidi[4] = {0x00, 0x90, 0x3C, 0x7F};

// One value of each type both sides know, as liblo builds it ("S" a symbol, "s" a string)...
lo_message libloEveryType(const char* types) {
    lo_message m = lo_message_new();
    lo_blob blob = lo_blob_new(5, kBlob);
    lo_message_add(m, types, -42, 0.5f, "héllo", "sym", int64_t{-9000000000}, 2.25,
                   lo_timetag{kNtpSecondsAt2001, 0x80000000u}, 'A', kMidi, blob);
    lo_blob_free(blob);
    return m;
}

// ... and here, where a symbol has no type of its own and is a string. Time tag words travel
// unchanged (what they mean differs, see the bundle tests).
ValueList everyType() {
    return {OSCValue::createWithInt(-42),
            OSCValue::createWithFloat(0.5f),
            OSCValue::createWithString("héllo"),
            OSCValue::createWithString("sym"),
            OSCValue::createWithLongLong(-9000000000LL),
            OSCValue::createWithDouble(2.25),
            OSCValue::createWithTimeSeconds(kNtpSecondsAt2001, 0x80000000u),
            OSCValue::createWithChar('A'),
            OSCValue::createWithMIDIChannel(0x00, 0x90, 0x3C, 0x7F),
            OSCValue::createWithBool(true),
            OSCValue::createWithBool(false),
            OSCValue::createWithNil(),
            OSCValue::createWithInfinity(),
            OSCValue::createWithNSDataBlob(std::make_shared<const OSCData>(kBlob, kBlob + 5))};
}

// The messages one datagram holds, as this library decodes them.
std::vector<std::shared_ptr<OSCMessage>> decode(const Bytes& datagram) {
    CollectingReceiver receiver;
    OSCPacket::parseRawBuffer(datagram.data(), static_cast<int32_t>(datagram.size()), &receiver, 0,
                              0);
    return receiver.messages;
}

// Our datagram, sent through a sending port to 127.0.0.1 and caught there.
Bytes sentByUs(const std::shared_ptr<OSCPacketContent>& content) {
    UdpListener listener;
    OSCOutPort::createWithAddress("127.0.0.1", listener.port())
        ->sendThisPacket(OSCPacket::createWithContent(content));
    return listener.receive().value_or(Bytes{});
}

std::shared_ptr<OSCMessage> messageOf(const std::string& address, const ValueList& values) {
    auto message = OSCMessage::createWithAddress(address);
    for (const auto& value : values) message->addValue(value);
    return message;
}

// What liblo sends to 127.0.0.1, caught there.
template <typename Send>
Bytes sentByLiblo(Send send) {
    UdpListener listener;
    lo_address to = lo_address_new("127.0.0.1", std::to_string(listener.port()).c_str());
    const int sent = send(to);
    lo_address_free(to);
    return sent > 0 ? listener.receive().value_or(Bytes{}) : Bytes{};
}

Bytes libloBytes(lo_message m, const char* path) {
    size_t size = 0;
    auto* raw = static_cast<uint8_t*>(lo_message_serialise(m, path, nullptr, &size));
    Bytes bytes(raw, raw + size);
    free(raw);
    lo_message_free(m);
    return bytes;
}

using LoMessage = std::unique_ptr<void, decltype(&lo_message_free)>;
LoMessage libloRead(Bytes datagram, int* result) {
    return {lo_message_deserialise(datagram.data(), datagram.size(), result), &lo_message_free};
}

// What liblo's server sees when it dispatches a datagram: one event per bundle start, message
// and bundle end. A Unix-socket server: it is never sent to, only handed the bytes.
class LoDispatch {
public:
    LoDispatch() : directory(mkdtemp(pattern)) {
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

    Events events;

private:
    static int onMessage(const char* path, const char* types, lo_arg** argv, int argc, lo_message,
                         void* self) {
        std::string event = std::string(path) + " " + types;
        for (int i = 0; i < argc; ++i) {
            if (types[i] == 'i') event += " " + std::to_string(arg<int32_t>(argv[i]));
            if (types[i] == 's') event += " " + std::string(reinterpret_cast<const char*>(argv[i]));
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

    char pattern[28] = "/tmp/vitrine-interop-XXXXXX";
    std::string directory;
    lo_server server = nullptr;
};

TEST(Interop, EveryTypeBothSidesKnowReadsAsTheSameValuesEitherWay) {
    // liblo to us: its datagram reads as the values.
    const auto messages = decode(sentByLiblo([](lo_address to) {
        lo_message m = libloEveryType("ifsShdtcmTFNIb");
        const int sent = lo_send_message(to, "/all", m);
        lo_message_free(m);
        return sent;
    }));
    ASSERT_EQ(messages.size(), 1u);
    // Descriptions show every value in full, the same as comparing them one by one.
    EXPECT_EQ(messages[0]->description(), messageOf("/all", everyType())->description());
    // Us to liblo: our datagram is byte for byte the one liblo makes of the same values, so it
    // reads ours as it reads its own.
    const Bytes ours = sentByUs(messageOf("/all", everyType()));
    EXPECT_EQ(hex(ours), hex(libloBytes(libloEveryType("ifsshdtcmTFNIb"), "/all")));
    int result = 0;
    const auto m = libloRead(ours, &result);
    ASSERT_TRUE(m) << "liblo error " << result;
    EXPECT_STREQ(lo_message_get_types(m.get()), "ifsshdtcmTFNIb");
}

TEST(LibloToVitrine, NestedBundlesArriveInOrderWithTheirTimeTagsReadFrom2001InMicroseconds) {
    // 2001-01-01 00:00:00.5 UTC to liblo (NTP seconds, half of 2^32) reads here as 3187296000 s
    // after 2001 plus 2147483648 "microseconds"; the immediate inner bundle passes it on.
    const auto messages = decode(sentByLiblo([](lo_address to) {
        lo_bundle outer = lo_bundle_new({kNtpSecondsAt2001, 0x80000000u});
        lo_bundle immediate = lo_bundle_new(LO_TT_IMMEDIATE), later = lo_bundle_new({200, 250000});
        lo_message a = lo_message_new(), b = lo_message_new(), c = lo_message_new();
        lo_message_add_int32(a, 1);
        lo_message_add_string(c, "x");
        lo_bundle_add_message(outer, "/a", a);
        lo_bundle_add_message(immediate, "/b", b);
        lo_bundle_add_message(later, "/c", c);
        lo_bundle_add_bundle(outer, immediate);
        lo_bundle_add_bundle(outer, later);
        const int sent = lo_send_bundle(to, outer);
        lo_bundle_free_recursive(outer);
        return sent;
    }));
    Events heard;
    for (const auto& message : messages)
        heard.push_back(message->description() +
                        stringWithFormat(" at %.6f", message->timeTag().value_or(-1)));
    EXPECT_EQ(heard, (Events{"<OSCMessage '/a', '<OSCVal i 1>'> at 3187298147.483648",
                             "<OSCMessage '/b'> at 3187298147.483648",
                             "<OSCMessage '/c', '<OSCVal s x>'> at 200.250000"}));
}

TEST(VitrineToLiblo, NestedBundlesDispatchInOrderWithTheTimeTagWords) {
    auto outer = OSCBundle::create(), immediate = OSCBundle::create(), later = OSCBundle::create();
    outer->setTimeTag(10.25);
    later->setTimeTag(20.5);
    outer->addElement(numbered("/a", 1));
    immediate->addElement(OSCMessage::createWithAddress("/b"));
    later->addElement(messageOf("/c", {OSCValue::createWithString("x")}));
    outer->addElement(immediate);
    outer->addElement(later);
    LoDispatch lo;
    EXPECT_GT(lo.dispatch(sentByUs(outer)), 0);
    // liblo takes our seconds since 2001 for seconds since 1900, and our microseconds for
    // 1/2^32 units: 10.25 s after 2001 reads as 1900-01-01 00:00:10.000058. Being long past,
    // every message is dispatched at once.
    EXPECT_EQ(lo.events, (Events{"bundle 10 250000", "/a i 1", "bundle 0 1", "/b ", "end",
                                 "bundle 20 500000", "/c s x", "end", "end"}));
}

TEST(Interop, CharactersAgreeBothWaysThoughTheirPaddingBytesDiffer) {
    // A "c" travels in 32 bits. liblo widens the character without its sign, this library with
    // it; both read only the low byte, so a character above 0x7F survives either way.
    lo_message m = lo_message_new();
    lo_message_add_char(m, static_cast<char>(0xE9));
    const Bytes theirs = libloBytes(m, "/c");
    EXPECT_EQ(hex(theirs), hex(join({field("/c"), field(",c"), word(0x000000E9)})));
    const auto decoded = decode(theirs);
    ASSERT_EQ(decoded.size(), 1u);
    const auto e9 = OSCValue::createWithChar(static_cast<int8_t>(0xE9));
    EXPECT_TRUE(decoded[0]->value() && *decoded[0]->value() == *e9) << decoded[0]->description();

    const Bytes ours = sentByUs(messageOf("/c", {e9}));
    EXPECT_EQ(hex(ours), hex(join({field("/c"), field(",c"), word(0xFFFFFFE9)})));
    int result = 0;
    const auto read = libloRead(ours, &result);
    ASSERT_TRUE(read) << "liblo error " << result;
    EXPECT_EQ(arg<uint8_t>(lo_message_get_argv(read.get())[0]), 0xE9);
}

TEST(VitrineToLiblo, QueriesAndRepliesArePlainMessagesToLiblo) {
    // liblo has no query extension: our queries and replies reach its handlers as ordinary
    // messages under their written addresses (the reply's first value names the question). The
    // other way is a plain datagram, read as a query by the parser's own tests.
    const auto query = OSCMessage::createQueryType(OSCQueryTypeDocumentation, "/synth");
    const auto listing = OSCMessage::createQueryType(OSCQueryTypeNamespaceExploration, "/synth");
    LoDispatch lo;
    for (const auto& message : {query, listing, OSCMessage::createReplyForMessage(query)}) {
        EXPECT_GT(lo.dispatch(sentByUs(message)), 0);
    }
    EXPECT_EQ(lo.events,
              (Events{"/synth/#documentation ", "/synth/ ", "#reply s /synth/#documentation"}));
}

}  // namespace

// The same OSC work done by Vitrine and by the two OSC libraries Debian ships (oscpack and liblo),
// in one run: building and encoding, encoding a built message, decoding and reading every value,
// and decoding into a handler, for the scene's "/list", a message of mixed types and a bundle of
// ten "/list". Before anything is timed, every encoder must produce the same bytes and every
// decoder must read the right values; otherwise the program says what differs and times nothing.
// Built with VITRINE_COUNT_ALLOCATIONS, it also reports allocations and bytes per operation.
// The address-space dispatch cases, beside liblo's method dispatch, are in PeerDispatchBench.cpp.

#include <benchmark/benchmark.h>
#include <lo/lo.h>
#include <oscpack/ip/IpEndpointName.h>
#include <oscpack/osc/OscOutboundPacketStream.h>
#include <oscpack/osc/OscPacketListener.h>
#include <oscpack/osc/OscReceivedElements.h>

#include <bit>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <functional>
#include <memory>
#include <numbers>
#include <string>
#include <vector>

#include "AllocationCounter.h"
#include "PeerDispatchBench.h"
#include "osc/OSCBundle.h"
#include "osc/OSCByteReader.h"
#include "osc/OSCMessage.h"
#include "osc/OSCMessageReceiver.h"
#include "osc/OSCPacket.h"
#include "osc/OSCValue.h"

namespace {

using namespace vitrine;
using Bytes = std::vector<uint8_t>;

constexpr int kListCount = 12;
constexpr int kBundleCount = 10;
constexpr int64_t kLong = 0x0102030405060708;
constexpr double kPi = std::numbers::pi;
constexpr uint32_t kTagSeconds = 0x01020304;
constexpr uint32_t kTagMicroseconds = 500000;
constexpr uint64_t kTagWord = (uint64_t{kTagSeconds} << 32) | kTagMicroseconds;
const uint8_t kBlob[16] = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15};
// Sum of the "/list" values 1 .. 12.
constexpr int64_t kListSum = kListCount * (kListCount + 1) / 2;

// ---- Vitrine

std::shared_ptr<OSCMessage> vitrineList() {
    auto message = OSCMessage::createWithAddress("/list");
    for (int i = 1; i <= kListCount; ++i) message->addInt(i);
    return message;
}

std::shared_ptr<OSCMessage> vitrineMixed() {
    auto message = OSCMessage::createWithAddress("/mixed");
    message->addInt(1);
    message->addFloat(0.5f);
    message->addString("hello");
    message->addNSDataBlob(std::make_shared<const OSCData>(std::begin(kBlob), std::end(kBlob)));
    message->addValue(OSCValue::createWithLongLong(kLong));
    message->addDouble(kPi);
    message->addValue(OSCValue::createWithTimeSeconds(kTagSeconds, kTagMicroseconds));
    return message;
}

std::shared_ptr<OSCBundle> vitrineBundle() {
    auto bundle = OSCBundle::create();
    for (int i = 0; i < kBundleCount; ++i) bundle->addElement(vitrineList());
    return bundle;
}

Bytes bytesOf(const std::shared_ptr<OSCPacket>& packet) {
    return {packet->payload(), packet->payload() + packet->bufferLength()};
}

int64_t readList(const OSCMessage& message) {
    int64_t sum = 0;
    for (int32_t i = 0; i < message.valueCount(); ++i) sum += message.valueAtIndex(i)->intValue();
    return sum;
}

// One checksum over every value of the mixed message, the same in every library's reader.
struct MixedRead {
    int32_t i = 0;
    float f = 0;
    std::string s;
    Bytes b;
    int64_t h = 0;
    double d = 0;
    uint64_t t = 0;
    bool right() const {
        return i == 1 && f == 0.5f && s == "hello" && b == Bytes(std::begin(kBlob), std::end(kBlob)) &&
               h == kLong && d == kPi && t == kTagWord;
    }
    // What the timed loops keep, so that no read is optimised away.
    int64_t digest() const {
        return i + static_cast<int64_t>(f) + static_cast<int64_t>(s.size()) +
               static_cast<int64_t>(b.size()) + h + static_cast<int64_t>(d) +
               static_cast<int64_t>(t);
    }
};

// Reads without copying, as a caller that only looks at the values would.
int64_t digestMixed(const OSCMessage& m) {
    if (m.valueCount() != 7) return -1;
    const auto time = m.valueAtIndex(6)->timeValue();
    return m.valueAtIndex(0)->intValue() + static_cast<int64_t>(m.valueAtIndex(1)->floatValue()) +
           static_cast<int64_t>(m.valueAtIndex(2)->stringValue().size()) +
           static_cast<int64_t>(m.valueAtIndex(3)->blobNSData()->size()) +
           m.valueAtIndex(4)->longLongValue() +
           static_cast<int64_t>(m.valueAtIndex(5)->doubleValue()) +
           static_cast<int64_t>((uint64_t(uint32_t(time.seconds)) << 32) | time.microSeconds);
}

MixedRead readMixed(const OSCMessage& m) {
    MixedRead r;
    if (m.valueCount() != 7) return r;
    r.i = m.valueAtIndex(0)->intValue();
    r.f = m.valueAtIndex(1)->floatValue();
    r.s = m.valueAtIndex(2)->stringValue();
    const auto& blob = m.valueAtIndex(3)->blobNSData();
    if (blob) r.b = *blob;
    r.h = m.valueAtIndex(4)->longLongValue();
    r.d = m.valueAtIndex(5)->doubleValue();
    const auto time = m.valueAtIndex(6)->timeValue();
    r.t = (uint64_t(uint32_t(time.seconds)) << 32) | time.microSeconds;
    return r;
}

class SummingReceiver : public OSCMessageReceiver {
public:
    void _addMessage(const std::shared_ptr<OSCMessage>& message) override {
        sum += readList(*message);
        ++messages;
    }
    int64_t sum = 0;
    int messages = 0;
};

// ---- oscpack

constexpr size_t kStreamSize = 2048;

size_t oscpackList(char* out) {
    osc::OutboundPacketStream p(out, kStreamSize);
    p << osc::BeginMessage("/list");
    for (int i = 1; i <= kListCount; ++i) p << static_cast<osc::int32>(i);
    p << osc::EndMessage;
    return p.Size();
}

size_t oscpackMixed(char* out) {
    osc::OutboundPacketStream p(out, kStreamSize);
    p << osc::BeginMessage("/mixed") << static_cast<osc::int32>(1) << 0.5f << "hello"
      << osc::Blob(kBlob, sizeof kBlob) << static_cast<osc::int64>(kLong) << kPi
      << osc::TimeTag(kTagWord) << osc::EndMessage;
    return p.Size();
}

size_t oscpackBundle(char* out) {
    osc::OutboundPacketStream p(out, kStreamSize);
    p << osc::BeginBundleImmediate;
    for (int m = 0; m < kBundleCount; ++m) {
        p << osc::BeginMessage("/list");
        for (int i = 1; i <= kListCount; ++i) p << static_cast<osc::int32>(i);
        p << osc::EndMessage;
    }
    p << osc::EndBundle;
    return p.Size();
}

int64_t oscpackReadList(const osc::ReceivedMessage& m) {
    int64_t sum = 0;
    for (auto a = m.ArgumentsBegin(); a != m.ArgumentsEnd(); ++a) sum += a->AsInt32();
    return sum;
}

MixedRead oscpackReadMixed(const osc::ReceivedMessage& m) {
    MixedRead r;
    auto a = m.ArgumentsBegin();
    r.i = (a++)->AsInt32();
    r.f = (a++)->AsFloat();
    r.s = (a++)->AsString();
    const void* data = nullptr;
    osc::osc_bundle_element_size_t size = 0;
    (a++)->AsBlob(data, size);
    r.b.assign(static_cast<const uint8_t*>(data), static_cast<const uint8_t*>(data) + size);
    r.h = (a++)->AsInt64();
    r.d = (a++)->AsDouble();
    r.t = (a++)->AsTimeTag();
    return r;
}

int64_t oscpackDigestMixed(const osc::ReceivedMessage& m) {
    auto a = m.ArgumentsBegin();
    int64_t sum = (a++)->AsInt32();
    sum += static_cast<int64_t>((a++)->AsFloat());
    sum += static_cast<int64_t>(std::strlen((a++)->AsString()));
    const void* data = nullptr;
    osc::osc_bundle_element_size_t size = 0;
    (a++)->AsBlob(data, size);
    sum += size;
    sum += (a++)->AsInt64();
    sum += static_cast<int64_t>((a++)->AsDouble());
    sum += static_cast<int64_t>((a++)->AsTimeTag());
    return sum;
}

class OscpackListener : public osc::OscPacketListener {
public:
    int64_t sum = 0;
    int messages = 0;

protected:
    void ProcessMessage(const osc::ReceivedMessage& m, const IpEndpointName&) override {
        sum += oscpackReadList(m);
        ++messages;
    }
};

// ---- liblo

lo_message loList() {
    lo_message m = lo_message_new();
    for (int i = 1; i <= kListCount; ++i) lo_message_add_int32(m, i);
    return m;
}

lo_message loMixed() {
    lo_message m = lo_message_new();
    lo_message_add_int32(m, 1);
    lo_message_add_float(m, 0.5f);
    lo_message_add_string(m, "hello");
    lo_blob blob = lo_blob_new(sizeof kBlob, kBlob);
    lo_message_add_blob(m, blob);
    lo_blob_free(blob);
    lo_message_add_int64(m, kLong);
    lo_message_add_double(m, kPi);
    lo_message_add_timetag(m, lo_timetag{kTagSeconds, kTagMicroseconds});
    return m;
}

size_t loSerialise(lo_message m, const char* path, uint8_t* out) {
    size_t size = kStreamSize;
    lo_message_serialise(m, path, out, &size);
    return size;
}

size_t loBundleEncode(uint8_t* out) {
    lo_bundle b = lo_bundle_new(LO_TT_IMMEDIATE);
    for (int i = 0; i < kBundleCount; ++i) lo_bundle_add_message(b, "/list", loList());
    size_t size = kStreamSize;
    lo_bundle_serialise(b, out, &size);
    lo_bundle_free_recursive(b);
    return size;
}

int64_t loReadList(lo_message m) {
    lo_arg** argv = lo_message_get_argv(m);
    const int count = lo_message_get_argc(m);
    int64_t sum = 0;
    for (int i = 0; i < count; ++i) sum += argv[i]->i;
    return sum;
}

MixedRead loReadMixed(lo_message m) {
    MixedRead r;
    if (lo_message_get_argc(m) != 7) return r;
    lo_arg** argv = lo_message_get_argv(m);
    r.i = argv[0]->i;
    r.f = argv[1]->f;
    r.s = &argv[2]->s;
    const auto blob = reinterpret_cast<lo_blob>(argv[3]);
    const auto* data = static_cast<const uint8_t*>(lo_blob_dataptr(blob));
    r.b.assign(data, data + lo_blob_datasize(blob));
    r.h = argv[4]->h;
    r.d = argv[5]->d;
    r.t = (uint64_t{argv[6]->t.sec} << 32) | argv[6]->t.frac;
    return r;
}

int64_t loDigestMixed(lo_message m) {
    lo_arg** argv = lo_message_get_argv(m);
    return argv[0]->i + static_cast<int64_t>(argv[1]->f) +
           static_cast<int64_t>(std::strlen(&argv[2]->s)) +
           lo_blob_datasize(reinterpret_cast<lo_blob>(argv[3])) + argv[4]->h +
           static_cast<int64_t>(argv[5]->d) +
           static_cast<int64_t>((uint64_t{argv[6]->t.sec} << 32) | argv[6]->t.frac);
}

struct LoSum {
    int64_t sum = 0;
    int messages = 0;
};

int loListHandler(const char*, const char*, lo_arg** argv, int argc, lo_message, void* user) {
    auto* total = static_cast<LoSum*>(user);
    for (int i = 0; i < argc; ++i) total->sum += argv[i]->i;
    ++total->messages;
    return 0;
}

// A server that is only ever handed bytes (lo_server_dispatch_data); it never receives from
// its socket.
struct LoServer {
    LoServer() : server(lo_server_new_with_proto(nullptr, LO_UDP, nullptr)) {
        lo_server_add_method(server, "/list", nullptr, loListHandler, &total);
    }
    ~LoServer() { lo_server_free(server); }
    LoServer(const LoServer&) = delete;
    LoServer& operator=(const LoServer&) = delete;
    lo_server server;
    LoSum total;
};

// ---- the floors: what the design's rules cost on their own (not counted in the table's ratios)

// The wire layer alone: a datagram walked with the parser's bounds-checked reader and tag table,
// every argument read into plain locals, nothing made. The digest is the one the readers above
// compute (the "/list" sum, the mixed digest), so the walk is checked like a decoder.
int64_t walkWire(const Bytes& bytes) {
    const OSCByteReader in({bytes.data(), bytes.size()});
    const auto addressEnd = in.findNul(0);
    if (!addressEnd) return -1;
    const size_t tagStart = OSCByteReader::nextMultipleOf4Above(*addressEnd);
    if (in.byteAt(tagStart) != uint8_t{','}) return -1;
    const auto tagEnd = in.findNul(tagStart + 1);
    if (!tagEnd) return -1;
    size_t at = OSCByteReader::nextMultipleOf4Above(*tagEnd);
    int64_t digest = 0;
    for (size_t t = tagStart + 1; t < *tagEnd; ++t) {
        const OSCValueType type = OSCValue::typeForTag(in.data()[t]);
        if (type == OSCValString) {
            const auto nul = in.findNul(at);
            if (!nul) return -1;
            digest += static_cast<int64_t>(*nul - at);
            at = OSCByteReader::nextMultipleOf4Above(*nul);
        } else if (type == OSCValBlob) {
            const auto size = in.readUInt32(at);
            if (!size || *size > in.remaining(at + 4)) return -1;
            digest += *size;
            at = OSCByteReader::roundUp4(at + 4 + *size);
        } else if (OSCValue::wireDataSize(type) == 4) {
            const auto word = in.readUInt32(at);
            if (!word) return -1;
            digest += type == OSCValFloat ? static_cast<int64_t>(std::bit_cast<float>(*word))
                                          : static_cast<int32_t>(*word);
            at += 4;
        } else if (OSCValue::wireDataSize(type) == 8) {
            const auto word = in.readUInt64(at);
            if (!word) return -1;
            digest += type == OSCValDouble ? static_cast<int64_t>(std::bit_cast<double>(*word))
                                           : static_cast<int64_t>(*word);
            at += 8;
        } else {
            return -1;
        }
    }
    return digest;
}

// The ownership alone, as the parser hands values out: one block, each value a shared_ptr
// aliasing it, collected in a value list.
void ownListValues(OSCValue::ValueList& list) {
    const OSCValue::Batch batch(kListCount);
    list.reserve(kListCount);
    for (int i = 1; i <= kListCount; ++i) list.push_back(OSCValue::createWithInt(i));
}

// Everything a decoded message is (the message, its block of values, its value list), made
// without looking at the wire.
std::shared_ptr<OSCMessage> ownMessage(std::string address, int values) {
    auto message = OSCMessage::createFast(std::move(address), false, OSCMessageTypeControl,
                                          OSCQueryTypeUnknown, 0, 0);
    message->reserveValues(values);
    return message;
}

std::shared_ptr<OSCMessage> ownListMessage() {
    auto message = ownMessage("/list", kListCount);
    const OSCValue::Batch batch(kListCount);
    for (int i = 1; i <= kListCount; ++i) message->addValue(OSCValue::createWithInt(i));
    return message;
}

std::shared_ptr<OSCMessage> ownMixedMessage() {
    auto message = ownMessage("/mixed", 7);
    const OSCValue::Batch batch(7);
    message->addValue(OSCValue::createWithInt(1));
    message->addValue(OSCValue::createWithFloat(0.5f));
    message->addValue(OSCValue::createWithString(std::string("hello")));
    message->addValue(OSCValue::createWithNSDataBlob(
        std::make_shared<const OSCData>(std::begin(kBlob), std::end(kBlob))));
    message->addValue(OSCValue::createWithLongLong(kLong));
    message->addValue(OSCValue::createWithDouble(kPi));
    message->addValue(OSCValue::createWithTimeSeconds(kTagSeconds, kTagMicroseconds));
    return message;
}

// ---- the cross-checks

int failures = 0;

void expect(bool ok, const std::string& what) {
    if (ok) return;
    std::fprintf(stderr, "cross-check failed: %s\n", what.c_str());
    ++failures;
}

std::string hex(const uint8_t* p, size_t n) {
    std::string text;
    char digits[4];
    for (size_t i = 0; i < n; ++i) {
        std::snprintf(digits, sizeof digits, "%02x", p[i]);
        text += digits;
    }
    return text;
}

void expectSameBytes(const std::string& what, const Bytes& vitrine, const char* peer,
                     size_t peerSize, const std::string& peerName) {
    const auto* p = reinterpret_cast<const uint8_t*>(peer);
    expect(vitrine.size() == peerSize && std::memcmp(vitrine.data(), p, peerSize) == 0,
           what + ": Vitrine " + hex(vitrine.data(), vitrine.size()) + " vs " + peerName + " " +
               hex(p, peerSize));
}

void crossCheck(const Bytes& list, const Bytes& mixed, const Bytes& bundle) {
    char out[kStreamSize];
    uint8_t lo[kStreamSize];
    expectSameBytes("/list", list, out, oscpackList(out), "oscpack");
    expectSameBytes("mixed", mixed, out, oscpackMixed(out), "oscpack");
    expectSameBytes("bundle", bundle, out, oscpackBundle(out), "oscpack");
    lo_message m = loList();
    expectSameBytes("/list", list, reinterpret_cast<char*>(lo), loSerialise(m, "/list", lo),
                    "liblo");
    lo_message_free(m);
    m = loMixed();
    expectSameBytes("mixed", mixed, reinterpret_cast<char*>(lo), loSerialise(m, "/mixed", lo),
                    "liblo");
    lo_message_free(m);
    expectSameBytes("bundle", bundle, reinterpret_cast<char*>(lo), loBundleEncode(lo), "liblo");

    // Every decoder reads the values back.
    const auto vl = OSCMessage::parseRawBuffer(list.data(), int32_t(list.size()), 0, 0);
    expect(vl && readList(*vl) == kListSum, "Vitrine reads /list");
    const auto vm = OSCMessage::parseRawBuffer(mixed.data(), int32_t(mixed.size()), 0, 0);
    expect(vm && readMixed(*vm).right(), "Vitrine reads mixed");
    expect(vm && digestMixed(*vm) == readMixed(*vm).digest(), "Vitrine digests mixed");
    SummingReceiver receiver;
    OSCPacket::parseRawBuffer(bundle.data(), int32_t(bundle.size()), &receiver, 0, 0);
    expect(receiver.messages == kBundleCount && receiver.sum == kBundleCount * kListSum,
           "Vitrine reads the bundle");

    const osc::ReceivedMessage pl(osc::ReceivedPacket(reinterpret_cast<const char*>(list.data()),
                                                      osc::osc_bundle_element_size_t(list.size())));
    expect(oscpackReadList(pl) == kListSum, "oscpack reads /list");
    const osc::ReceivedMessage pm(osc::ReceivedPacket(
        reinterpret_cast<const char*>(mixed.data()), osc::osc_bundle_element_size_t(mixed.size())));
    expect(oscpackReadMixed(pm).right(), "oscpack reads mixed");
    expect(oscpackDigestMixed(pm) == oscpackReadMixed(pm).digest(), "oscpack digests mixed");
    OscpackListener listener;
    listener.ProcessPacket(reinterpret_cast<const char*>(bundle.data()), int(bundle.size()),
                           IpEndpointName());
    expect(listener.messages == kBundleCount && listener.sum == kBundleCount * kListSum,
           "oscpack reads the bundle");

    int result = 0;
    Bytes copy = list;
    m = lo_message_deserialise(copy.data(), copy.size(), &result);
    expect(m && loReadList(m) == kListSum, "liblo reads /list");
    if (m) lo_message_free(m);
    copy = mixed;
    m = lo_message_deserialise(copy.data(), copy.size(), &result);
    expect(m && loReadMixed(m).right(), "liblo reads mixed");
    expect(m && loDigestMixed(m) == loReadMixed(m).digest(), "liblo digests mixed");
    if (m) lo_message_free(m);
    expect(walkWire(list) == kListSum, "the wire walk reads /list");
    expect(vm && walkWire(mixed) == readMixed(*vm).digest(), "the wire walk reads mixed");
    expect(readList(*ownListMessage()) == kListSum, "the owned /list holds its values");
    expect(vm && digestMixed(*ownMixedMessage()) == digestMixed(*vm),
           "the owned mixed message holds its values");

    LoServer server;
    copy = bundle;
    lo_server_dispatch_data(server.server, copy.data(), copy.size());
    expect(server.total.messages == kBundleCount && server.total.sum == kBundleCount * kListSum,
           "liblo reads the bundle");
}

// ---- the timed cases

Bytes gList, gMixed, gBundle;

void report(benchmark::State& state, const bench::AllocationCounter::Scope& scope) {
    scope.report(state);
}

// Each case counts the allocations of its timed loop (in the counting build).
#define VITRINE_CASE(name, ...)                      \
    void name(benchmark::State& state) {             \
        bench::AllocationCounter::Scope allocations; \
        __VA_ARGS__;                                 \
        report(state, allocations);                  \
    }

// "/list" build + encode
VITRINE_CASE(ListBuildEncodeVitrine, for (auto _ : state) {
    benchmark::DoNotOptimize(OSCPacket::createWithContent(vitrineList()));
})
VITRINE_CASE(ListBuildEncodeOscpack, char out[kStreamSize]; for (auto _ : state) {
    benchmark::DoNotOptimize(oscpackList(out));
    benchmark::ClobberMemory();
})
VITRINE_CASE(ListBuildEncodeLiblo, uint8_t out[kStreamSize]; for (auto _ : state) {
    lo_message m = loList();
    benchmark::DoNotOptimize(loSerialise(m, "/list", out));
    lo_message_free(m);
})

// "/list" encode a built message (oscpack has no built message: its stream is the message)
VITRINE_CASE(ListEncodeVitrine, const auto message = vitrineList(); allocations.restart();
             for (auto _ : state) { benchmark::DoNotOptimize(OSCPacket::createWithContent(message)); })
VITRINE_CASE(ListEncodeOscpack, char out[kStreamSize]; for (auto _ : state) {
    benchmark::DoNotOptimize(oscpackList(out));
    benchmark::ClobberMemory();
})
VITRINE_CASE(ListEncodeLiblo, uint8_t out[kStreamSize]; lo_message m = loList();
             allocations.restart();
             for (auto _ : state) { benchmark::DoNotOptimize(loSerialise(m, "/list", out)); } lo_message_free(m);)

// "/list" decode + read 12 ints
VITRINE_CASE(ListDecodeReadVitrine, for (auto _ : state) {
    const auto m = OSCMessage::parseRawBuffer(gList.data(), int32_t(gList.size()), 0, 0);
    benchmark::DoNotOptimize(readList(*m));
})
VITRINE_CASE(ListDecodeReadOscpack, for (auto _ : state) {
    const osc::ReceivedMessage m(osc::ReceivedPacket(reinterpret_cast<const char*>(gList.data()),
                                                     osc::osc_bundle_element_size_t(gList.size())));
    benchmark::DoNotOptimize(oscpackReadList(m));
})
VITRINE_CASE(ListDecodeReadLiblo, int result = 0; for (auto _ : state) {
    lo_message m = lo_message_deserialise(gList.data(), gList.size(), &result);
    benchmark::DoNotOptimize(loReadList(m));
    lo_message_free(m);
})

// "/list" decode + deliver to a handler
VITRINE_CASE(ListDeliverVitrine, SummingReceiver receiver; for (auto _ : state) {
    OSCPacket::parseRawBuffer(gList.data(), int32_t(gList.size()), &receiver, 0, 0);
} benchmark::DoNotOptimize(receiver.sum);)
VITRINE_CASE(ListDeliverOscpack, OscpackListener listener; const IpEndpointName from;
             for (auto _ : state) {
                 listener.ProcessPacket(reinterpret_cast<const char*>(gList.data()),
                                        int(gList.size()), from);
             } benchmark::DoNotOptimize(listener.sum);)
VITRINE_CASE(ListDeliverLiblo, LoServer server; allocations.restart(); for (auto _ : state) {
    lo_server_dispatch_data(server.server, gList.data(), gList.size());
} benchmark::DoNotOptimize(server.total.sum);)

// mixed build + encode
VITRINE_CASE(MixedBuildEncodeVitrine, for (auto _ : state) {
    benchmark::DoNotOptimize(OSCPacket::createWithContent(vitrineMixed()));
})
VITRINE_CASE(MixedBuildEncodeOscpack, char out[kStreamSize]; for (auto _ : state) {
    benchmark::DoNotOptimize(oscpackMixed(out));
    benchmark::ClobberMemory();
})
VITRINE_CASE(MixedBuildEncodeLiblo, uint8_t out[kStreamSize]; for (auto _ : state) {
    lo_message m = loMixed();
    benchmark::DoNotOptimize(loSerialise(m, "/mixed", out));
    lo_message_free(m);
})

// mixed decode + read
VITRINE_CASE(MixedDecodeReadVitrine, for (auto _ : state) {
    const auto m = OSCMessage::parseRawBuffer(gMixed.data(), int32_t(gMixed.size()), 0, 0);
    benchmark::DoNotOptimize(digestMixed(*m));
})
VITRINE_CASE(MixedDecodeReadOscpack, for (auto _ : state) {
    const osc::ReceivedMessage m(osc::ReceivedPacket(reinterpret_cast<const char*>(gMixed.data()),
                                                     osc::osc_bundle_element_size_t(gMixed.size())));
    benchmark::DoNotOptimize(oscpackDigestMixed(m));
})
VITRINE_CASE(MixedDecodeReadLiblo, int result = 0; for (auto _ : state) {
    lo_message m = lo_message_deserialise(gMixed.data(), gMixed.size(), &result);
    benchmark::DoNotOptimize(loDigestMixed(m));
    lo_message_free(m);
})

// bundle of ten "/list" build + encode
VITRINE_CASE(BundleBuildEncodeVitrine, for (auto _ : state) {
    benchmark::DoNotOptimize(OSCPacket::createWithContent(vitrineBundle()));
})
VITRINE_CASE(BundleBuildEncodeOscpack, char out[kStreamSize]; for (auto _ : state) {
    benchmark::DoNotOptimize(oscpackBundle(out));
    benchmark::ClobberMemory();
})
VITRINE_CASE(BundleBuildEncodeLiblo, uint8_t out[kStreamSize];
             for (auto _ : state) { benchmark::DoNotOptimize(loBundleEncode(out)); })

// bundle of ten "/list" decode + read
VITRINE_CASE(BundleDecodeReadVitrine, SummingReceiver receiver; for (auto _ : state) {
    OSCPacket::parseRawBuffer(gBundle.data(), int32_t(gBundle.size()), &receiver, 0, 0);
} benchmark::DoNotOptimize(receiver.sum);)
VITRINE_CASE(BundleDecodeReadOscpack, OscpackListener listener; const IpEndpointName from;
             for (auto _ : state) {
                 listener.ProcessPacket(reinterpret_cast<const char*>(gBundle.data()),
                                        int(gBundle.size()), from);
             } benchmark::DoNotOptimize(listener.sum);)
VITRINE_CASE(BundleDecodeReadLiblo, LoServer server; allocations.restart(); for (auto _ : state) {
    lo_server_dispatch_data(server.server, gBundle.data(), gBundle.size());
} benchmark::DoNotOptimize(server.total.sum);)

// The floor: copying the 72 bytes of "/list".
VITRINE_CASE(Memcpy72, uint8_t out[72]; for (auto _ : state) {
    std::memcpy(out, gList.data(), sizeof out);
    benchmark::DoNotOptimize(out);
    benchmark::ClobberMemory();
})

VITRINE_CASE(FloorWireList, for (auto _ : state) { benchmark::DoNotOptimize(walkWire(gList)); })
VITRINE_CASE(FloorWireMixed, for (auto _ : state) { benchmark::DoNotOptimize(walkWire(gMixed)); })
VITRINE_CASE(FloorOwnListValues, for (auto _ : state) {
    OSCValue::ValueList list;
    ownListValues(list);
    benchmark::DoNotOptimize(list.data());
})
VITRINE_CASE(FloorOwnListMessage,
             for (auto _ : state) { benchmark::DoNotOptimize(readList(*ownListMessage())); })
VITRINE_CASE(FloorOwnMixedMessage,
             for (auto _ : state) { benchmark::DoNotOptimize(digestMixed(*ownMixedMessage())); })

}  // namespace

int main(int argc, char** argv) {
    gList = bytesOf(OSCPacket::createWithContent(vitrineList()));
    gMixed = bytesOf(OSCPacket::createWithContent(vitrineMixed()));
    gBundle = bytesOf(OSCPacket::createWithContent(vitrineBundle()));
    crossCheck(gList, gMixed, gBundle);
    failures += bench::checkDispatchCases();
    if (failures) {
        std::fprintf(stderr, "%d cross-check(s) failed; nothing timed.\n", failures);
        return 1;
    }

    struct Case {
        const char* name;
        void (*vitrine)(benchmark::State&);
        void (*oscpack)(benchmark::State&);
        void (*liblo)(benchmark::State&);
    };
    const Case cases[] = {
        {"list_build_encode", ListBuildEncodeVitrine, ListBuildEncodeOscpack, ListBuildEncodeLiblo},
        {"list_encode_built", ListEncodeVitrine, ListEncodeOscpack, ListEncodeLiblo},
        {"list_decode_read", ListDecodeReadVitrine, ListDecodeReadOscpack, ListDecodeReadLiblo},
        {"list_decode_deliver", ListDeliverVitrine, ListDeliverOscpack, ListDeliverLiblo},
        {"mixed_build_encode", MixedBuildEncodeVitrine, MixedBuildEncodeOscpack,
         MixedBuildEncodeLiblo},
        {"mixed_decode_read", MixedDecodeReadVitrine, MixedDecodeReadOscpack, MixedDecodeReadLiblo},
        {"bundle10_build_encode", BundleBuildEncodeVitrine, BundleBuildEncodeOscpack,
         BundleBuildEncodeLiblo},
        {"bundle10_decode_read", BundleDecodeReadVitrine, BundleDecodeReadOscpack,
         BundleDecodeReadLiblo},
    };
    for (const Case& c : cases) {
        benchmark::RegisterBenchmark((std::string(c.name) + "/vitrine").c_str(), c.vitrine);
        benchmark::RegisterBenchmark((std::string(c.name) + "/oscpack").c_str(), c.oscpack);
        benchmark::RegisterBenchmark((std::string(c.name) + "/liblo").c_str(), c.liblo);
    }
    bench::registerDispatchCases();
    benchmark::RegisterBenchmark("memcpy72/floor", Memcpy72);
    benchmark::RegisterBenchmark("floor/wire_list", FloorWireList);
    benchmark::RegisterBenchmark("floor/wire_mixed", FloorWireMixed);
    benchmark::RegisterBenchmark("floor/own_list_values", FloorOwnListValues);
    benchmark::RegisterBenchmark("floor/own_list_message", FloorOwnListMessage);
    benchmark::RegisterBenchmark("floor/own_mixed_message", FloorOwnMixedMessage);

    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}

// Throughput of the OSC encoder and decoders, of a send through an OSCOutPort on loopback, and of
// MutLockArray's locked forms under one and two threads.

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <benchmark/benchmark.h>

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "basics/MutLockArray.h"
#include "osc/OSCBundle.h"
#include "osc/OSCMessage.h"
#include "osc/OSCMessageReceiver.h"
#include "osc/OSCOutPort.h"
#include "osc/OSCPacket.h"
#include "osc/OSCValue.h"

namespace {

using namespace vitrine;

// One scene's first half as the controller sends it: channel 1 at full, eleven dim channels.
std::shared_ptr<OSCMessage> sceneList() {
    const auto message = OSCMessage::createWithAddress("/list");
    message->addInt(255);
    for (int channel = 2; channel <= 12; ++channel) message->addInt(26);
    return message;
}

std::shared_ptr<OSCMessage> allTypes(const std::shared_ptr<const OSCData>& blob) {
    const auto message = OSCMessage::createWithAddress("/all/types");
    message->addInt(7);
    message->addFloat(0.5f);
    message->addString("theriaque");
    message->addValue(OSCValue::createWithTimeSeconds(700000000, 250000));
    message->addValue(OSCValue::createWithLongLong(1LL << 40));
    message->addDouble(0.25);
    message->addValue(OSCValue::createWithChar('j'));
    message->addColor(OSCColor{1.0, 0.5, 0.25, 1.0});
    message->addValue(OSCValue::createWithMIDIChannel(1, 0x90, 60, 100));
    message->addBOOL(true);
    message->addValue(OSCValue::createWithNil());
    message->addValue(OSCValue::createWithInfinity());
    const auto array = OSCValue::createArray();
    array->addValue(OSCValue::createWithInt(1));
    array->addValue(OSCValue::createWithInt(2));
    message->addValue(array);
    message->addNSDataBlob(blob);
    message->addValue(OSCValue::createWithSMPTEVals(OSCSMPTEFPS25, 0, 1, 2, 3, 4));
    return message;
}

std::shared_ptr<OSCBundle> threeMessageBundle() {
    const auto bundle = OSCBundle::create();
    bundle->addElement(sceneList());
    const auto second = OSCMessage::createWithAddress("/list2");
    for (int channel = 13; channel <= 24; ++channel) second->addInt(26);
    bundle->addElement(second);
    const auto toggle = OSCMessage::createWithAddress("/switch");
    toggle->addInt(1);
    bundle->addElement(toggle);
    return bundle;
}

// Counts what the decoder hands on, so the messages are not optimised away.
class CountingReceiver : public OSCMessageReceiver {
public:
    void _addMessage(const std::shared_ptr<OSCMessage>& message) override {
        count += message->valueCount();
    }
    int64_t count = 0;
};

std::vector<uint8_t> encoded(const std::shared_ptr<const OSCPacketContent>& content) {
    const auto packet = OSCPacket::createWithContent(content);
    return {packet->payload(), packet->payload() + packet->bufferLength()};
}

void encodeOnly(benchmark::State& state, const std::shared_ptr<OSCMessage>& message) {
    int64_t bytes = 0;
    for (auto _ : state) {
        const auto packet = OSCPacket::createWithContent(message);
        benchmark::DoNotOptimize(packet->payload());
        bytes += packet->bufferLength();
    }
    state.SetBytesProcessed(bytes);
}

void BM_EncodeList(benchmark::State& state) {
    encodeOnly(state, sceneList());
}
BENCHMARK(BM_EncodeList);

void BM_EncodeIs(benchmark::State& state) {
    encodeOnly(state, OSCMessage::createWithAddress("/is"));
}
BENCHMARK(BM_EncodeIs);

void BM_BuildEncodeAllTypes(benchmark::State& state) {
    const auto blob = std::make_shared<const OSCData>(OSCData{1, 2, 3, 4, 5});
    int64_t bytes = 0;
    for (auto _ : state) {
        const auto packet = OSCPacket::createWithContent(allTypes(blob));
        benchmark::DoNotOptimize(packet->payload());
        bytes += packet->bufferLength();
    }
    state.SetBytesProcessed(bytes);
}
BENCHMARK(BM_BuildEncodeAllTypes);

void BM_BuildEncodeBundle3(benchmark::State& state) {
    int64_t bytes = 0;
    for (auto _ : state) {
        const auto packet = OSCPacket::createWithContent(threeMessageBundle());
        benchmark::DoNotOptimize(packet->payload());
        bytes += packet->bufferLength();
    }
    state.SetBytesProcessed(bytes);
}
BENCHMARK(BM_BuildEncodeBundle3);

void BM_ParseList(benchmark::State& state) {
    const std::vector<uint8_t> datagram = encoded(sceneList());
    if (datagram.size() != 72) {
        state.SkipWithError("the /list datagram is not 72 bytes");
        return;
    }
    const int32_t length = static_cast<int32_t>(datagram.size());
    for (auto _ : state) {
        const auto message = OSCMessage::parseRawBuffer(datagram.data(), length, 0, 0);
        benchmark::DoNotOptimize(message.get());
    }
    state.SetBytesProcessed(state.iterations() * length);
}
BENCHMARK(BM_ParseList);

void BM_ParseBundle3(benchmark::State& state) {
    const std::vector<uint8_t> datagram = encoded(threeMessageBundle());
    const int32_t length = static_cast<int32_t>(datagram.size());
    CountingReceiver receiver;
    for (auto _ : state) {
        OSCPacket::parseRawBuffer(datagram.data(), length, &receiver, 0, 0);
    }
    benchmark::DoNotOptimize(receiver.count);
    state.SetBytesProcessed(state.iterations() * length);
    state.counters["datagram_bytes"] = length;
}
BENCHMARK(BM_ParseBundle3);

// A plain UDP socket on 127.0.0.1 at a port the kernel picks: the only destination the send
// benchmarks use. Nobody reads it while they run; the kernel drops what overflows its buffer,
// which costs the sender nothing.
class LoopbackSink {
public:
    LoopbackSink() : sock(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0)) {
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t size = sizeof addr;
        if (sock < 0 || ::bind(sock, reinterpret_cast<sockaddr*>(&addr), size) != 0 ||
            ::getsockname(sock, reinterpret_cast<sockaddr*>(&addr), &size) != 0)
            return;
        boundPort = ntohs(addr.sin_port);
    }
    ~LoopbackSink() {
        if (sock >= 0) ::close(sock);
    }
    LoopbackSink(const LoopbackSink&) = delete;
    LoopbackSink& operator=(const LoopbackSink&) = delete;

    uint16_t port() const { return boundPort; }

private:
    int sock;
    uint16_t boundPort = 0;
};

std::shared_ptr<OSCOutPort> loopbackPort(benchmark::State& state, const LoopbackSink& sink) {
    if (sink.port() < 1024) {
        state.SkipWithError("no loopback socket");
        return nullptr;
    }
    auto port = OSCOutPort::createWithAddress("127.0.0.1", sink.port(), "bench");
    if (!port) state.SkipWithError("no OSCOutPort to 127.0.0.1");
    return port;
}

void BM_OutPortSendPacket(benchmark::State& state) {
    LoopbackSink sink;
    const auto port = loopbackPort(state, sink);
    if (!port) return;
    const auto packet = OSCPacket::createWithContent(sceneList());
    for (auto _ : state) port->sendThisPacket(packet);
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_OutPortSendPacket);

void BM_OutPortSendMessage(benchmark::State& state) {
    LoopbackSink sink;
    const auto port = loopbackPort(state, sink);
    if (!port) return;
    const auto message = sceneList();
    for (auto _ : state) port->sendThisMessage(message);
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_OutPortSendMessage);

struct Jar {
    int level = 0;
};

// Shared by the threads of one run; a fixed content for the readers.
MutLockArray<Jar>& readArray() {
    static MutLockArray<Jar> array(64);
    static const bool filled = [] {
        for (int i = 0; i < 64; ++i) array.lockAddObject(std::make_shared<Jar>(Jar{i}));
        return true;
    }();
    (void)filled;
    return array;
}

// Emptied every 4096 additions of a thread so that long runs stay small; the emptying (and the
// elements' releases it brings) is part of the figure.
void BM_MutLockArrayAdd(benchmark::State& state) {
    static MutLockArray<Jar> array;
    const auto jar = std::make_shared<Jar>();
    int added = 0;
    for (auto _ : state) {
        array.lockAddObject(jar);
        if (++added == 4096) {
            array.lockRemoveAllObjects();
            added = 0;
        }
    }
    state.SetItemsProcessed(state.iterations());
    if (state.thread_index() == 0) array.lockRemoveAllObjects();
}
BENCHMARK(BM_MutLockArrayAdd)->Threads(1)->Threads(2)->UseRealTime();

void BM_MutLockArrayCount(benchmark::State& state) {
    MutLockArray<Jar>& array = readArray();
    for (auto _ : state) benchmark::DoNotOptimize(array.lockCount());
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_MutLockArrayCount)->Threads(1)->Threads(2)->UseRealTime();

void BM_MutLockArrayObjectAtIndex(benchmark::State& state) {
    MutLockArray<Jar>& array = readArray();
    uint64_t index = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(array.lockObjectAtIndex(index).get());
        index = (index + 1) & 63;
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_MutLockArrayObjectAtIndex)->Threads(1)->Threads(2)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();

// Loopback round trips of the scene's 72-byte "/list", over 127.0.0.1 only. One client, the same
// plain-socket code for every peer, sends the datagram and blocks until it comes back; the peer
// under test receives it through its own receiving loop, hands it to a handler, and the handler
// sends it back through the peer's own sending path:
//   raw                plain POSIX sockets on both sides (the floor);
//   raw_poll           the same, with a wait bounded at 1 ms (ppoll) before each read, as a
//                      receiving port must wait (the floor under that rule);
//   raw_poll_drain     the same, and before each answer one read that does not block finds the
//                      socket empty, as a receiving port with drain wait 0 confirms its drain;
//   vitrine_default    an OSCInPort with the design's settings (10 ms between passes, 1 ms drain
//                      wait) whose delegate answers through an OSCOutPort;
//   vitrine_fastest    the same with interval 0 and drain wait 0;
//   liblo              a liblo server thread whose method answers with lo_send_message;
//   oscpack            oscpack's receive loop on a thread of its own, answering from its listener.
// Each case runs pinned (every thread on one CPU) and unpinned, and reports p50 and p99 of the
// round trip in microseconds as counters. Every answer must be the very bytes that were sent, or
// the case stops with an error. --round_trips=N sets the number of round trips per case.

#include <arpa/inet.h>
#include <benchmark/benchmark.h>
#include <lo/lo.h>
#include <netinet/in.h>
#include <poll.h>
#include <oscpack/ip/IpEndpointName.h>
#include <oscpack/ip/UdpSocket.h>
#include <oscpack/osc/OscOutboundPacketStream.h>
#include <oscpack/osc/OscPacketListener.h>
#include <oscpack/osc/OscReceivedElements.h>
#include <sched.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "osc/OSCInPort.h"
#include "osc/OSCInPortDelegate.h"
#include "osc/OSCMessage.h"
#include "osc/OSCOutPort.h"
#include "osc/OSCPacket.h"

namespace {

using namespace vitrine;
using Clock = std::chrono::steady_clock;

constexpr int kListCount = 12;
int64_t gRoundTrips = 2000;
// Set by a case that could not run or got a wrong answer, so that the program fails.
bool gFailed = false;

void fail(benchmark::State& state, const char* why) {
    gFailed = true;
    state.SkipWithError(why);
}
std::vector<uint8_t> gList;

sockaddr_in loopback(uint16_t port) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return address;
}

// A UDP socket bound to 127.0.0.1 on a port the kernel chooses.
struct LoopbackSocket {
    LoopbackSocket() : fd(::socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP)) {
        const sockaddr_in address = loopback(0);
        if (fd < 0 || ::bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0)
            return;
        sockaddr_in bound{};
        socklen_t length = sizeof bound;
        if (::getsockname(fd, reinterpret_cast<sockaddr*>(&bound), &length) == 0)
            port = ntohs(bound.sin_port);
    }
    ~LoopbackSocket() {
        if (fd >= 0) ::close(fd);
    }
    LoopbackSocket(const LoopbackSocket&) = delete;
    LoopbackSocket& operator=(const LoopbackSocket&) = delete;
    bool ready() const { return fd >= 0 && port != 0; }
    void setReceiveTimeout(std::chrono::microseconds wait) const {
        const timeval timeout{static_cast<time_t>(wait.count() / 1000000),
                              static_cast<suseconds_t>(wait.count() % 1000000)};
        ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
    }
    int fd;
    uint16_t port = 0;
};

// A free loopback port for a peer that wants its port named up front (oscpack).
uint16_t freePort() {
    return LoopbackSocket().port;
}

// The peers. Each starts its receiving side on construction, answers to `client` and ends its
// threads on destruction; `port` is where the client sends.
class Peer {
public:
    virtual ~Peer() = default;
    virtual uint16_t port() const = 0;
    virtual bool ready() const = 0;
};

class RawPeer : public Peer {
public:
    enum class Wait { none, poll, pollAndDrain };

    explicit RawPeer(uint16_t client, Wait wait = Wait::none) {
        if (!socket.ready()) return;
        // The receive timeout lets the thread notice the end without a datagram to wake it.
        socket.setReceiveTimeout(std::chrono::milliseconds(100));
        thread = std::jthread([this, wait, destination = loopback(client)](std::stop_token stop) {
            uint8_t buffer[2048];
            uint8_t spare[4];
            while (!stop.stop_requested()) {
                if (wait != Wait::none) {
                    pollfd waited{socket.fd, POLLIN, 0};
                    const timespec timeout{0, 1000000};
                    if (::ppoll(&waited, 1, &timeout, nullptr) <= 0) continue;
                }
                const ssize_t length = ::recv(socket.fd, buffer, sizeof buffer, 0);
                if (length <= 0) continue;
                // The read that finds the socket empty comes before the answer, as in a
                // receiving port's pass; only one datagram is ever in flight.
                if (wait == Wait::pollAndDrain) ::recv(socket.fd, spare, sizeof spare, MSG_DONTWAIT);
                ::sendto(socket.fd, buffer, static_cast<size_t>(length), 0,
                         reinterpret_cast<const sockaddr*>(&destination), sizeof destination);
            }
        });
    }
    uint16_t port() const override { return socket.port; }
    bool ready() const override { return socket.ready(); }

private:
    LoopbackSocket socket;
    std::jthread thread;
};

class VitrinePeer : public Peer {
    struct Echo : OSCInPortDelegate {
        void receivedOSCMessage(const std::shared_ptr<OSCMessage>& message) override {
            out->sendThisMessage(message);
        }
        std::shared_ptr<OSCOutPort> out;
    };

public:
    VitrinePeer(uint16_t client, bool fastest) : echo(std::make_shared<Echo>()) {
        echo->out = OSCOutPort::createWithAddress("127.0.0.1", client);
        in = OSCInPort::createWithPort(0);
        if (!in || !echo->out) return;
        if (fastest) {
            in->setInterval(0);
            in->setDrainWaitMicroseconds(0);
        }
        in->setDelegate(echo);
        in->start();
    }
    ~VitrinePeer() override {
        if (in) in->prepareToBeDeleted();
    }
    uint16_t port() const override { return in ? in->port() : 0; }
    bool ready() const override { return in && echo->out; }

private:
    std::shared_ptr<Echo> echo;
    std::shared_ptr<OSCInPort> in;
};

class LibloPeer : public Peer {
public:
    explicit LibloPeer(uint16_t client)
        : destination(lo_address_new("127.0.0.1", std::to_string(client).c_str())),
          thread(lo_server_thread_new_with_proto(nullptr, LO_UDP, nullptr)) {
        if (!ready()) return;
        lo_server_thread_add_method(thread, "/list", nullptr, answer, destination);
        lo_server_thread_start(thread);
    }
    ~LibloPeer() override {
        if (thread) {
            lo_server_thread_stop(thread);
            lo_server_thread_free(thread);
        }
        if (destination) lo_address_free(destination);
    }
    uint16_t port() const override {
        return thread ? static_cast<uint16_t>(lo_server_thread_get_port(thread)) : 0;
    }
    bool ready() const override { return destination && thread; }

private:
    static int answer(const char* path, const char*, lo_arg**, int, lo_message message,
                      void* destination) {
        lo_send_message(static_cast<lo_address>(destination), path, message);
        return 0;
    }
    lo_address destination;
    lo_server_thread thread;
};

class OscpackPeer : public Peer {
public:
    explicit OscpackPeer(uint16_t client) : chosen(freePort()) {
        if (chosen == 0) return;
        listener = std::make_unique<Listener>(client);
        socket = std::make_unique<::UdpListeningReceiveSocket>(
            IpEndpointName(127, 0, 0, 1, chosen), listener.get());
        listener->socket = socket.get();
        thread = std::jthread([this] { socket->Run(); });
    }
    ~OscpackPeer() override {
        if (socket) socket->AsynchronousBreak();
    }
    uint16_t port() const override { return chosen; }
    bool ready() const override { return socket != nullptr; }

private:
    // Writes each "/list" back with oscpack's own stream, as an answer built from what was read.
    struct Listener : osc::OscPacketListener {
        explicit Listener(uint16_t client) : client(127, 0, 0, 1, client) {}
        void ProcessMessage(const osc::ReceivedMessage& message, const IpEndpointName&) override {
            if (std::string_view(message.AddressPattern()) != "/list") return;
            char out[2048];
            osc::OutboundPacketStream stream(out, sizeof out);
            stream << osc::BeginMessage(message.AddressPattern());
            for (auto a = message.ArgumentsBegin(); a != message.ArgumentsEnd(); ++a)
                stream << a->AsInt32();
            stream << osc::EndMessage;
            socket->SendTo(client, stream.Data(), stream.Size());
        }
        ::UdpSocket* socket = nullptr;
        IpEndpointName client;
    };

    uint16_t chosen;
    std::unique_ptr<Listener> listener;
    std::unique_ptr<::UdpListeningReceiveSocket> socket;
    std::jthread thread;  // declared last: joined before the socket goes
};

// Keeps every thread made while it lives, and the thread that made it, on one CPU.
class OneCPU {
public:
    explicit OneCPU(bool pin) {
        if (!pin || sched_getaffinity(0, sizeof saved, &saved) != 0) return;
        for (int cpu = 0; cpu < CPU_SETSIZE; ++cpu) {
            if (!CPU_ISSET(cpu, &saved)) continue;
            cpu_set_t one;
            CPU_ZERO(&one);
            CPU_SET(cpu, &one);
            pinned = sched_setaffinity(0, sizeof one, &one) == 0;
            break;
        }
    }
    ~OneCPU() {
        if (pinned) sched_setaffinity(0, sizeof saved, &saved);
    }
    OneCPU(const OneCPU&) = delete;
    OneCPU& operator=(const OneCPU&) = delete;

private:
    cpu_set_t saved{};
    bool pinned = false;
};

double percentile(std::vector<double>& samples, double fraction) {
    if (samples.empty()) return 0;
    const auto rank = static_cast<size_t>(fraction * static_cast<double>(samples.size() - 1) + 0.5);
    std::nth_element(samples.begin(), samples.begin() + static_cast<std::ptrdiff_t>(rank),
                     samples.end());
    return samples[rank];
}

template <typename MakePeer>
void roundTrips(benchmark::State& state, MakePeer makePeer) {
    const OneCPU cpu(state.range(0) != 0);
    LoopbackSocket client;
    if (!client.ready()) {
        fail(state, "no loopback socket");
        return;
    }
    // A lost datagram ends the case rather than the program.
    client.setReceiveTimeout(std::chrono::seconds(2));
    const std::unique_ptr<Peer> peer = makePeer(client.port);
    if (!peer->ready()) {
        fail(state, "the peer could not start");
        return;
    }
    const sockaddr_in destination = loopback(peer->port());
    std::vector<double> microseconds;
    microseconds.reserve(static_cast<size_t>(state.max_iterations));
    uint8_t answer[2048];
    for (auto _ : state) {
        const auto start = Clock::now();
        ::sendto(client.fd, gList.data(), gList.size(), 0,
                 reinterpret_cast<const sockaddr*>(&destination), sizeof destination);
        const ssize_t length = ::recv(client.fd, answer, sizeof answer, 0);
        const auto end = Clock::now();
        if (length != static_cast<ssize_t>(gList.size()) ||
            std::memcmp(answer, gList.data(), gList.size()) != 0) {
            fail(state, length < 0 ? "no answer within 2 s" : "the answer differs");
            break;
        }
        microseconds.push_back(std::chrono::duration<double, std::micro>(end - start).count());
    }
    state.counters["p50_us"] = percentile(microseconds, 0.50);
    state.counters["p99_us"] = percentile(microseconds, 0.99);
}

void Raw(benchmark::State& state) {
    roundTrips(state, [](uint16_t client) { return std::make_unique<RawPeer>(client); });
}
void RawPoll(benchmark::State& state) {
    roundTrips(state, [](uint16_t client) {
        return std::make_unique<RawPeer>(client, RawPeer::Wait::poll);
    });
}
void RawPollDrain(benchmark::State& state) {
    roundTrips(state, [](uint16_t client) {
        return std::make_unique<RawPeer>(client, RawPeer::Wait::pollAndDrain);
    });
}
void VitrineDefault(benchmark::State& state) {
    roundTrips(state,
               [](uint16_t client) { return std::make_unique<VitrinePeer>(client, false); });
}
void VitrineFastest(benchmark::State& state) {
    roundTrips(state, [](uint16_t client) { return std::make_unique<VitrinePeer>(client, true); });
}
void Liblo(benchmark::State& state) {
    roundTrips(state, [](uint16_t client) { return std::make_unique<LibloPeer>(client); });
}
void Oscpack(benchmark::State& state) {
    roundTrips(state, [](uint16_t client) { return std::make_unique<OscpackPeer>(client); });
}

}  // namespace

int main(int argc, char** argv) {
    // Our own flag, taken out before the library sees the arguments.
    int kept = 1;
    for (int i = 1; i < argc; ++i) {
        constexpr std::string_view flag = "--round_trips=";
        if (std::string_view(argv[i]).starts_with(flag)) {
            gRoundTrips = std::max<int64_t>(1, std::atoll(argv[i] + flag.size()));
        } else {
            argv[kept++] = argv[i];
        }
    }
    argc = kept;

    auto list = OSCMessage::createWithAddress("/list");
    for (int i = 1; i <= kListCount; ++i) list->addInt(i);
    const auto packet = OSCPacket::createWithContent(list);
    gList.assign(packet->payload(), packet->payload() + packet->bufferLength());

    struct Case {
        const char* name;
        void (*run)(benchmark::State&);
        int64_t divisor;  // the design's defaults take about 11 ms a round trip: fewer of them
    };
    const Case cases[] = {{"roundtrip/raw", Raw, 1},
                          {"roundtrip/raw_poll", RawPoll, 1},
                          {"roundtrip/raw_poll_drain", RawPollDrain, 1},
                          {"roundtrip/vitrine_default", VitrineDefault, 10},
                          {"roundtrip/vitrine_fastest", VitrineFastest, 1},
                          {"roundtrip/liblo", Liblo, 1},
                          {"roundtrip/oscpack", Oscpack, 1}};
    for (const Case& c : cases) {
        benchmark::RegisterBenchmark(c.name, c.run)
            ->ArgName("pinned")
            ->Arg(1)
            ->Arg(0)
            ->Iterations(std::max<int64_t>(1, gRoundTrips / c.divisor))
            ->Unit(benchmark::kMicrosecond)
            ->UseRealTime();
    }

    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return gFailed ? 1 : 0;
}

// A receiving port under a flood of datagrams while the main thread relabels and moves it and
// another thread sends questions and reads the port's state.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <future>
#include <thread>

#include "basics/MainLoop.h"
#include "basics/RunLoop.h"
#include "osc/OSCInPort.h"
#include "osc/OSCPacket.h"
#include "support/KernelUdpDrops.h"
#include "support/RecordingZeroConfPublisher.h"
#include "support/UdpListener.h"

using namespace vitrine;
using namespace std::chrono_literals;

namespace {

test::Bytes sequenceDatagram(int32_t number) {
    auto message = OSCMessage::createWithAddress(std::string("/seq"));
    message->addInt(number);
    const auto packet = OSCPacket::createWithContent(message);
    return test::bytes(packet->payload(), static_cast<size_t>(packet->bufferLength()));
}

// Checks that sequence numbers only ever grow: nothing duplicated, nothing reordered.
class SequenceChecker : public OSCInPortDelegate {
public:
    void receivedOSCMessage(const std::shared_ptr<OSCMessage>& message) override {
        if (message->address() != "/seq") {
            ++others;
            return;
        }
        const int32_t number = message->value() ? message->value()->intValue() : -1;
        std::lock_guard guard(lock);
        if (number <= last) ++outOfOrder;
        last = number;
        ++received;
    }
    int64_t count() {
        std::lock_guard guard(lock);
        return received;
    }
    int64_t disorder() {
        std::lock_guard guard(lock);
        return outOfOrder;
    }
    std::atomic<int64_t> others{0};

private:
    std::mutex lock;
    int32_t last = -1;
    int64_t received = 0;
    int64_t outOfOrder = 0;
};

// Sends from a socket of its own to 127.0.0.1.
class Sender {
public:
    Sender() : sock(socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, IPPROTO_UDP)) {}
    ~Sender() { close(sock); }
    void send(uint16_t port, const test::Bytes& bytes) {
        sockaddr_in to{};
        to.sin_family = AF_INET;
        to.sin_port = htons(port);
        to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        (void)sendto(sock, bytes.data(), bytes.size(), 0, reinterpret_cast<sockaddr*>(&to),
                     sizeof to);
    }

private:
    int sock;
};

}  // namespace

TEST(OSCInPortStressThreads, FloodWhileTheMainThreadRelabelsAndMovesThePort) {
    test::RecordingZeroConfPublisher zeroConf;
    const auto loop = RunLoop::create();
    const auto previousLoop = MainLoop::setCurrent(loop);
    std::thread mainThread([&] { loop->run(); });
    const auto onMain = [&](std::function<void()> work) {
        std::promise<void> done;
        loop->post([&] {
            work();
            done.set_value();
        });
        done.get_future().wait();
    };

    const auto checker = std::make_shared<SequenceChecker>();
    std::shared_ptr<OSCInPort> port;
    onMain([&] {
        port = OSCInPort::createWithPort(0, std::string("flooded 0"));
        port->setDelegate(checker);
        port->setInterval(0.002);
        port->start();
    });
    ASSERT_NE(port, nullptr);

    std::atomic<bool> churning{true};
    std::atomic<int32_t> nextSequence{0};
    std::thread flooder([&] {
        Sender sender;
        while (churning.load()) {
            for (int i = 0; i < 25; ++i)
                sender.send(port->port(), sequenceDatagram(nextSequence++));
            std::this_thread::sleep_for(1ms);
        }
    });

    test::UdpListener silent;
    const auto out = OSCOutPort::createWithAddress(std::string("127.0.0.1"), silent.port());
    std::atomic<int> questions{0}, errors{0};
    std::thread asker([&] {
        for (int i = 0; churning.load(); ++i) {
            port->dispatchQuery(
                OSCMessage::createQueryType(OSCQueryTypeDocumentation, "/q/" + std::to_string(i)),
                out, 0.2f, [&](const std::shared_ptr<OSCMessage>& reply) {
                    if (reply->messageType() == OSCMessageTypeError) ++errors;
                });
            ++questions;
            (void)port->zeroConfName();
            (void)port->createSnapshot();
            (void)port->description();
            (void)port->ipAddressString();
            std::this_thread::sleep_for(3ms);
        }
    });

    std::set<uint16_t> portsUsed{port->port()};
    for (int round = 1; round <= 8; ++round) {
        std::this_thread::sleep_for(120ms);
        onMain([&] {
            if (round % 2) {
                port->setPortLabel("flooded " + std::to_string(round));
            } else {
                port->setPort(0);
            }
        });
        portsUsed.insert(port->port());
    }
    std::this_thread::sleep_for(100ms);
    churning = false;
    flooder.join();
    asker.join();
    EXPECT_GE(portsUsed.size(), 4u);
    EXPECT_GT(checker->count(), 0);
    EXPECT_GT(questions.load(), 0);

    // Once the port holds still, only the kernel may lose anything.
    std::this_thread::sleep_for(100ms);
    const int64_t before = checker->count();
    const auto dropsBefore = test::kernelUdpDrops(port->port());
    constexpr int kFinal = 500;
    {
        Sender sender;
        for (int i = 0; i < kFinal; ++i) {
            sender.send(port->port(), sequenceDatagram(nextSequence++));
            if (i % 10 == 9) std::this_thread::sleep_for(2ms);
        }
    }
    const auto deadline = std::chrono::steady_clock::now() + 10s;
    while (checker->count() < before + kFinal && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(5ms);
    std::this_thread::sleep_for(100ms);
    const auto dropsAfter = test::kernelUdpDrops(port->port());
    const int64_t kernelDrops =
        dropsBefore && dropsAfter ? static_cast<int64_t>(*dropsAfter - *dropsBefore) : 0;
    EXPECT_EQ(checker->count() - before + kernelDrops, kFinal);
    EXPECT_EQ(checker->disorder(), 0);
    EXPECT_EQ(checker->others.load(), 0);

    // Every filed question is answered by its timeout.
    const auto settled = std::chrono::steady_clock::now() + 5s;
    while (port->_pendingQueryCount() > 0 && std::chrono::steady_clock::now() < settled)
        std::this_thread::sleep_for(10ms);
    EXPECT_EQ(port->_pendingQueryCount(), 0u);
    EXPECT_GT(errors.load(), 0);
    EXPECT_LE(errors.load(), questions.load());

    onMain([&] { port->stop(); });
    EXPECT_FALSE(port->_threadRunning());
    port->prepareToBeDeleted();
    loop->stop();
    mainThread.join();
    MainLoop::setCurrent(previousLoop);
}

// A receiving port under a flood of datagrams while the main thread relabels and moves it and
// another thread sends questions and reads the port's state.
#include <gtest/gtest.h>

#include <future>
#include <set>

#include "basics/RunLoop.h"
#include "osc/OSCInPort.h"
#include "osc/OSCMemoryZeroConfNetwork.h"
#include "support/OscWire.h"

using namespace vitrine;
using namespace std::chrono_literals;

namespace {

// Checks that sequence numbers only ever grow (nothing duplicated, nothing reordered), and counts
// the messages numbered from a mark on.
struct SequenceChecker : OSCInPortDelegate {
    struct Counts {
        int64_t all = 0, fromMark = 0, wrong = 0;
        int32_t last = -1;
    };
    void receivedOSCMessage(const std::shared_ptr<OSCMessage>& message) override {
        const int32_t number = message->address() == "/seq" ? message->value()->intValue() : -1;
        std::lock_guard guard(lock);
        seen.wrong += number <= seen.last;
        seen.last = number;
        ++seen.all;
        seen.fromMark += number >= mark;
    }
    Counts counts() {
        std::lock_guard guard(lock);
        return seen;
    }
    std::mutex lock;
    Counts seen;
    std::atomic<int32_t> mark{INT32_MAX};
};

}  // namespace

TEST(OSCInPortStressThreads, FloodWhileTheMainThreadRelabelsAndMovesThePort) {
    const auto zeroConf = std::make_shared<OSCMemoryZeroConfNetwork>();
    const auto loop = RunLoop::create();
    const auto previousLoop = MainLoop::setCurrent(loop);
    std::thread mainThread([&] { loop->run(); });
    const auto onMain = [&](std::function<void()> work) {
        std::promise<void> done;
        loop->post([&] { work(), done.set_value(); });
        done.get_future().wait();
    };
    const auto checker = std::make_shared<SequenceChecker>();
    std::shared_ptr<OSCInPort> port;
    onMain([&] {
        port = OSCInPort::createWithPort(0, std::string("flooded 0"));
        port->setZeroConfService(zeroConf);
        port->setDelegate(checker);
        port->setInterval(0.002);
        port->start();
    });
    ASSERT_NE(port, nullptr);

    std::atomic<bool> churning{true};
    std::atomic<int32_t> nextSequence{0};
    std::thread flooder([&] {
        test::UdpListener sender;
        while (churning.load()) {
            for (int i = 0; i < 25; ++i)
                sender.sendTo(port->port(), test::encoded(test::numbered("/seq", nextSequence++)));
            test::pace(1ms);
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
            (void)port->createSnapshot();  // reads the label and the port
            (void)port->ipAddressString();
            test::pace(3ms);
        }
    });
    // Each round starts once the port has delivered more of the flood where it now is.
    const auto delivered = [&] { return checker->counts().all; };
    const auto moreDelivered = [&] {
        const int64_t from = delivered();
        EXPECT_TRUE(test::waitUntil([&] { return delivered() >= from + 50; }, 10s));
    };
    std::set<uint16_t> portsUsed{port->port()};
    for (int round = 1; round <= 8; ++round) {
        moreDelivered();
        onMain([&] {
            if (round % 2) port->setPortLabel("flooded " + std::to_string(round));
            if (round % 2 == 0) port->setPort(0);
        });
        portsUsed.insert(port->port());
    }
    moreDelivered();
    churning = false;
    flooder.join();
    asker.join();
    EXPECT_GE(portsUsed.size(), 4u);

    // Once the port holds still nothing is lost. A probe that comes through was queued behind
    // whatever was left of the flood (the kernel may drop probes while the socket's buffer is
    // still full); then batches that the buffer can hold, each delivered whole before the next
    // goes out, so the kernel has no reason to drop any.
    test::UdpListener sender;
    const auto sendNext = [&] {
        sender.sendTo(port->port(), test::encoded(test::numbered("/seq", nextSequence++)));
    };
    ASSERT_TRUE(test::waitUntil([&] {
        sendNext();
        const int32_t probe = nextSequence - 1;
        return test::waitUntil([&] { return checker->counts().last >= probe; }, 20ms);
    }));
    checker->mark = nextSequence.load();
    for (int64_t batch = 1; batch <= 25; ++batch) {
        for (int i = 0; i < 20; ++i) sendNext();
        ASSERT_TRUE(test::waitUntil([&] { return checker->counts().fromMark >= 20 * batch; }))
            << checker->counts().fromMark << " of " << 20 * batch << " delivered";
    }
    const auto counts = checker->counts();
    EXPECT_EQ(std::pair(counts.fromMark, counts.wrong), std::pair(int64_t{500}, int64_t{0}));

    // Every filed question is answered by its timeout.
    EXPECT_TRUE(test::waitUntil([&] { return port->_pendingQueryCount() == 0; }));
    EXPECT_GT(errors.load(), 0);
    EXPECT_LE(errors.load(), questions.load());

    onMain([&] { port->stop(); });
    EXPECT_FALSE(port->_threadRunning());
    port->prepareToBeDeleted();
    loop->stop();
    mainThread.join();
    MainLoop::setCurrent(previousLoop);
}

// The receiving port with its thread running: delivery, dropped datagrams, answers and timeouts,
// moving the port, stopping it, and its announcement on the network.
#include <gtest/gtest.h>

#include <future>
#include <stdexcept>

#include "basics/Log.h"
#include "basics/NotificationCenter.h"
#include "basics/RunLoop.h"
#include "osc/OSCBundle.h"
#include "osc/OSCManager.h"
#include "osc/OSCMemoryZeroConfNetwork.h"
#include "support/MessageRecorder.h"
#include "support/OscWire.h"

using namespace vitrine;
using namespace std::chrono_literals;
using test::encoded;
using test::numbered;
using test::waitUntil;
using Clock = std::chrono::steady_clock;

namespace {

// A started port on a port the system picks, reporting to a fresh recorder, and a peer.
struct RunningPort {
    std::shared_ptr<test::MessageRecorder> recorder = std::make_shared<test::MessageRecorder>();
    std::shared_ptr<OSCInPort> port;
    test::UdpListener peer;

    explicit RunningPort(const std::optional<std::string>& label = std::nullopt,
                         std::shared_ptr<OSCZeroConfService> zeroConf = nullptr)
        : port(OSCInPort::createWithPort(0, label)) {
        port->setDelegate(recorder);
        port->setZeroConfService(std::move(zeroConf));
        port->start();
    }
    ~RunningPort() { port->prepareToBeDeleted(); }
    void send(const test::Bytes& datagram) { peer.sendTo(port->port(), datagram); }
    std::shared_ptr<OSCOutPort> toPeer() {
        return OSCOutPort::createWithAddress(std::string("127.0.0.1"), peer.port());
    }
    // Sends `count` numbered "/n" messages and expects them all back in order.
    void expectInOrder(int32_t count) {
        const size_t before = recorder->size();
        for (int32_t i = 0; i < count; ++i) send(encoded(numbered("/n", i)));
        ASSERT_TRUE(recorder->waitFor(before + count));
        const auto heard = recorder->all();
        for (int32_t i = 0; i < count; ++i)
            EXPECT_EQ(heard[before + i].message->value()->intValue(), i);
    }
};

std::string published(const OSCMemoryZeroConfNetwork::Publication& p) {
    return p.what + " " + p.name;
}

}  // namespace

TEST(OSCInPortThreads, DatagramsAndBundlesReachTheDelegateOnTheReceivingThread) {
    RunningPort running;
    LogCapture capture;
    running.send({'/', 'a', 0, 0, ',', 0, 0});  // 7 bytes: dropped, the next one delivered
    running.send(encoded(numbered("/list", 7)));
    const auto bundle = OSCBundle::create();
    for (int32_t i = 1; i <= 3; ++i) bundle->addElement(numbered("/b", i));
    running.send(encoded(bundle));
    // Delivered after everything sent before it: nothing more can come from those.
    running.send(encoded(numbered("/end", 0)));
    ASSERT_TRUE(running.recorder->waitFor(5));
    const auto heard = running.recorder->all();
    ASSERT_EQ(heard.size(), 5u);
    EXPECT_NE(heard[0].thread, std::this_thread::get_id());
    EXPECT_EQ(heard[0].message->description(), "<OSCMessage '/list', '<OSCVal i 7>'>");
    // The sender is recorded as the datagram carried it, in network order.
    EXPECT_EQ(heard[0].message->queryTXAddress(), htonl(INADDR_LOOPBACK));
    EXPECT_EQ(ntohs(heard[0].message->queryTXPort()), running.peer.port());
    for (int32_t i = 1; i <= 3; ++i) {
        EXPECT_EQ(heard[i].message->description(),
                  "<OSCMessage '/b', '<OSCVal i " + std::to_string(i) + ">'>");
        EXPECT_EQ(heard[i].thread, heard[0].thread);
    }
    EXPECT_EQ(capture.lines(),
              std::vector<std::string>{
                  "\t\terr: bytes isn't multiple of 4 in -[OSCInPort OSCThreadProc]"});
}

TEST(OSCInPortThreads, DatagramsPiledUpInTheSocketArriveInOrderWithOrWithoutTheDrainWait) {
    RunningPort running;
    // Long pauses between passes, so that the datagrams pile up in the socket.
    running.port->setInterval(0.3);
    std::atomic<int> socketUsable{0};
    running.recorder->setHook([&](const auto&) {
        // Takes the socket's lock: a port that delivered while draining would hang here.
        if (running.port->ipAddressString()) ++socketUsable;
    });
    running.expectInOrder(20);
    EXPECT_EQ(socketUsable.load(), 20);

    EXPECT_EQ(running.port->drainWaitMicroseconds(), 1000);
    for (const auto& [asked, stored] : {std::pair{-5, 0}, {5000, 1000}, {250, 250}, {0, 0}}) {
        running.port->setDrainWaitMicroseconds(asked);
        EXPECT_EQ(running.port->drainWaitMicroseconds(), stored) << asked;
    }
    running.port->setInterval(0);
    running.expectInOrder(20);
}

TEST(OSCInPortThreads, AnUnansweredQuestionGetsAnErrorAfterItsTimeoutEvenWithoutDelegate) {
    RunningPort running;
    running.port->setDelegate({});
    std::promise<std::pair<std::shared_ptr<OSCMessage>, Clock::time_point>> answered;
    const auto sent = Clock::now();
    running.port->dispatchQuery(OSCMessage::createQueryType(OSCQueryTypeCurrentValue, "/level"),
                                running.toPeer(), 1.0f, [&](const std::shared_ptr<OSCMessage>& r) {
                                    answered.set_value({r, Clock::now()});
                                });
    auto future = answered.get_future();
    ASSERT_EQ(future.wait_for(5s), std::future_status::ready);
    const auto [error, when] = future.get();
    EXPECT_EQ(error->description(), "<OSCMsg Err <OSCVal s /level/#current-value>>");
    EXPECT_GE(when - sent, 1000ms);
    EXPECT_EQ(running.port->_pendingQueryCount(), 0u);
}

TEST(OSCInPortThreads, MovingToATakenPortKeepsThePortWorkingOnItsOldOne) {
    RunningPort running;
    const uint16_t original = running.port->port();
    const test::UdpListener occupant;
    LogCapture capture;
    running.port->setPort(occupant.port());
    EXPECT_EQ(capture.lines(), std::vector<std::string>{"\t\terr: couldn't bind socket for OSC"});
    EXPECT_EQ(running.port->port(), original);
    running.expectInOrder(1);
    // A port the system picks is taken up, and the old one let go.
    running.port->setPort(0);
    EXPECT_NE(running.port->port(), 0);
    EXPECT_NE(running.port->port(), original);
    running.expectInOrder(1);
    EXPECT_NE(OSCInPort::createWithPort(original), nullptr);
}

TEST(OSCInPortThreads, StopOnTheMainThreadWaitsAndElsewhereIsPostedToIt) {
    RunningPort running;
    ASSERT_TRUE(MainLoop::current()->isMainThread());
    running.port->stop();
    EXPECT_FALSE(running.port->_threadRunning());
    running.port->stop();  // its thread has ended: nothing to wait for
    running.port->start();
    running.port->start();
    std::thread([&] { running.port->stop(); }).join();
    EXPECT_TRUE(running.port->_threadRunning());
    const auto loop = std::dynamic_pointer_cast<RunLoop>(MainLoop::current());
    EXPECT_TRUE(waitUntil([&] {
        loop->runFor(5ms);
        return !running.port->_threadRunning();
    }));
}

TEST(OSCInPortThreads, AnExceptionInAPassIsLoggedAndTheThreadGoesOn) {
    RunningPort running;
    running.recorder->setHook([](const std::shared_ptr<OSCMessage>& message) {
        if (message->address() == "/boom") throw std::runtime_error("boom");
    });
    LogCapture capture;
    running.send(encoded(numbered("/boom", 1)));
    ASSERT_TRUE(waitUntil([&] { return capture.lines().size() == 1; }));
    EXPECT_EQ(capture.lines()[0], "\t\t-[OSCInPort OSCThreadProc] caught exception boom on " +
                                      running.port->description());
    // No lock was left held: the socket still serves questions and the next datagram arrives.
    running.port->_dispatchQuery(OSCMessage::createQueryType(OSCQueryTypeDocumentation, "/x"),
                                 running.toPeer());
    EXPECT_TRUE(running.peer.receive());
    running.expectInOrder(1);
}

TEST(OSCInPortThreads, APortReleasedFromItsOwnDelegateCallbackEndsQuietly) {
    auto recorder = std::make_shared<test::MessageRecorder>();
    std::shared_ptr<OSCInPort> slot = OSCInPort::createWithPort(0);
    const uint16_t number = slot->port();
    slot->setDelegate(recorder);
    slot->start();
    std::mutex slotLock;
    recorder->setHook([&](const auto&) {
        std::shared_ptr<OSCInPort> last;
        std::lock_guard guard(slotLock);
        last.swap(slot);
    });
    test::UdpListener().sendTo(number, encoded(numbered("/bye", 1)));
    ASSERT_TRUE(recorder->waitFor(1));
    // The socket was closed by the port's destruction on its own thread.
    ASSERT_TRUE(waitUntil([&] { return OSCInPort::createWithPort(number) != nullptr; }));
    std::lock_guard guard(slotLock);
    EXPECT_EQ(slot, nullptr);
}

TEST(OSCInPortThreads, ALabelledPortAnnouncesItselfAboutASecondAfterStarting) {
    const auto zeroConf = std::make_shared<OSCMemoryZeroConfNetwork>();
    int changes = 0;
    auto observer = NotificationCenter::defaultCenter().addObserver(
        "OSCInPortsChangedNotification", [&](const Notification& notification) {
            EXPECT_EQ(notification.object, nullptr);
            ++changes;
        });
    const auto started = Clock::now();
    RunningPort running(std::string("Apothecary"), zeroConf);
    const auto publishes = [&](size_t n) {
        return waitUntil([&] { return zeroConf->count("publish") == n; }, 4s);
    };
    ASSERT_TRUE(publishes(1));
    const auto first = zeroConf->publications()[0];
    EXPECT_GE(first.when - started, 700ms);
    EXPECT_EQ(first.domain + " " + first.type + " " + first.name, "local. _osc._udp. Apothecary");
    EXPECT_EQ(first.port, running.port->port());
    running.port->setPortLabel(std::string("Apothecary"));
    EXPECT_EQ(changes, 0);
    running.port->setPortLabel(std::string("Pharmacy"));
    EXPECT_EQ(changes, 1);
    // Withdrawn at once; the new name follows about a second later.
    ASSERT_GE(zeroConf->publications().size(), 2u);
    EXPECT_EQ(published(zeroConf->publications()[1]), "stop Apothecary");
    ASSERT_TRUE(publishes(2));
    EXPECT_EQ(zeroConf->count("stop"), 1u);
    EXPECT_EQ(running.port->zeroConfName(), "Pharmacy");
    // An unlabelled port announces nothing: the next publication is the next label's.
    running.port->setPortLabel(std::nullopt);
    EXPECT_EQ(changes, 2);
    running.port->setPortLabel(std::string("Herbier"));
    ASSERT_TRUE(publishes(3));
    const auto events = zeroConf->publications();
    EXPECT_EQ(published(events.end()[-2]) + ", " + published(events.back()),
              "stop Pharmacy, publish Herbier");
}

TEST(OSCInPortThreads, PortsOfAManagerAnnounceThemselvesThroughItsZeroConfService) {
    const auto zeroConf = std::make_shared<OSCMemoryZeroConfNetwork>();
    // Also for ports from a factory of the application's own.
    const auto manager = OSCManager::createWithInPortClass(
        [](uint16_t port, const std::optional<std::string>& label) {
            return OSCInPort::createWithPort(port, label);
        },
        {}, std::string("_osc._udp"), zeroConf);
    const auto port = manager->createNewInputForPort(0, std::string("Chevrette"));
    ASSERT_TRUE(port);
    ASSERT_TRUE(waitUntil([&] { return zeroConf->count("publish") == 1; }, 3s));
    EXPECT_EQ(port->zeroConfName(), "Chevrette");
    manager->removeInput(port);
    EXPECT_EQ(published(zeroConf->publications().back()), "stop Chevrette");
}

// The receiving port with its thread running: delivery, dropped datagrams, answers and timeouts,
// moving the port, stopping it, and its announcement on the network.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <stdexcept>
#include <thread>

#include "basics/Log.h"
#include "basics/MainLoop.h"
#include "basics/NotificationCenter.h"
#include "basics/RunLoop.h"
#include "osc/OSCBundle.h"
#include "osc/OSCInPort.h"
#include "osc/OSCPacket.h"
#include "support/MessageRecorder.h"
#include "support/RecordingZeroConfPublisher.h"
#include "support/UdpListener.h"

using namespace vitrine;
using namespace std::chrono_literals;
using test::Bytes;
using Clock = std::chrono::steady_clock;

namespace {

std::shared_ptr<OSCMessage> numbered(const char* address, int32_t number) {
    auto message = OSCMessage::createWithAddress(std::string(address));
    message->addInt(number);
    return message;
}

Bytes encoded(const std::shared_ptr<const OSCPacketContent>& content) {
    const auto packet = OSCPacket::createWithContent(content);
    return test::bytes(packet->payload(), static_cast<size_t>(packet->bufferLength()));
}

// A started port on a port the system picks, reporting to a fresh recorder.
struct RunningPort {
    std::shared_ptr<test::MessageRecorder> recorder = std::make_shared<test::MessageRecorder>();
    std::shared_ptr<OSCInPort> port;

    explicit RunningPort(const std::optional<std::string>& label = std::nullopt)
        : port(OSCInPort::createWithPort(0, label)) {
        if (!port) return;
        port->setDelegate(recorder);
        port->start();
    }
    ~RunningPort() {
        if (port) port->prepareToBeDeleted();
    }
};

bool waitUntil(const std::function<bool()>& condition, std::chrono::milliseconds timeout = 5s) {
    const auto deadline = Clock::now() + timeout;
    while (!condition()) {
        if (Clock::now() > deadline) return false;
        std::this_thread::sleep_for(2ms);
    }
    return true;
}

}  // namespace

TEST(OSCInPortThreads, DatagramsAndBundlesReachTheDelegateOnTheReceivingThread) {
    RunningPort running;
    ASSERT_NE(running.port, nullptr);
    test::UdpListener peer;

    peer.sendTo(running.port->port(), encoded(numbered("/list", 7)));
    ASSERT_TRUE(running.recorder->waitFor(1));
    auto heard = running.recorder->all();
    EXPECT_NE(heard[0].thread, std::this_thread::get_id());
    EXPECT_EQ(heard[0].message->address(), "/list");
    EXPECT_EQ(heard[0].message->value()->intValue(), 7);
    // The sender is recorded as the datagram carried it, in network order.
    EXPECT_EQ(heard[0].message->queryTXAddress(), htonl(INADDR_LOOPBACK));
    EXPECT_EQ(ntohs(heard[0].message->queryTXPort()), peer.port());

    const auto bundle = OSCBundle::create();
    for (int32_t i = 1; i <= 3; ++i) bundle->addElement(numbered("/b", i));
    peer.sendTo(running.port->port(), encoded(bundle));
    ASSERT_TRUE(running.recorder->waitFor(4));
    std::this_thread::sleep_for(50ms);
    heard = running.recorder->all();
    ASSERT_EQ(heard.size(), 4u);
    for (int32_t i = 1; i <= 3; ++i) {
        EXPECT_EQ(heard[i].message->address(), "/b");
        EXPECT_EQ(heard[i].message->value()->intValue(), i);
        EXPECT_EQ(heard[i].thread, heard[0].thread);
    }
}

TEST(OSCInPortThreads, OnePassDeliversAllWaitingDatagramsInArrivalOrderOutsideItsLocks) {
    RunningPort running;
    ASSERT_NE(running.port, nullptr);
    // Long pauses between passes, so that the datagrams below pile up in the socket.
    running.port->setInterval(0.3);
    std::this_thread::sleep_for(50ms);
    std::atomic<int> socketUsable{0};
    running.recorder->setHook([&](const auto&) {
        // Takes the socket's lock: a port that delivered while draining would hang here.
        if (running.port->ipAddressString()) ++socketUsable;
    });

    test::UdpListener peer;
    constexpr int32_t kCount = 20;
    for (int32_t i = 0; i < kCount; ++i)
        peer.sendTo(running.port->port(), encoded(numbered("/n", i)));
    ASSERT_TRUE(running.recorder->waitFor(kCount));
    const auto heard = running.recorder->all();
    for (int32_t i = 0; i < kCount; ++i) EXPECT_EQ(heard[i].message->value()->intValue(), i);
    // One pass delivered them all: far less time between first and last than between passes.
    EXPECT_LT(heard.back().when - heard.front().when, 150ms);
    EXPECT_EQ(socketUsable.load(), kCount);
}

TEST(OSCInPortThreads, ADatagramNotAMultipleOfFourIsDroppedWithItsLine) {
    RunningPort running;
    ASSERT_NE(running.port, nullptr);
    test::UdpListener peer;
    LogCapture capture;
    peer.sendTo(running.port->port(), Bytes{'/', 'a', 0, 0, ',', 0, 0});
    peer.sendTo(running.port->port(), encoded(numbered("/after", 1)));
    ASSERT_TRUE(running.recorder->waitFor(1));
    EXPECT_EQ(running.recorder->all()[0].message->address(), "/after");
    EXPECT_EQ(capture.lines(),
              std::vector<std::string>{
                  "\t\terr: bytes isn't multiple of 4 in -[OSCInPort OSCThreadProc]"});
}

TEST(OSCInPortThreads, AnAnswerGoesToItsHandlerOnceAndNeverToTheDelegate) {
    RunningPort running;
    ASSERT_NE(running.port, nullptr);
    test::UdpListener peer;
    const auto out = OSCOutPort::createWithAddress(std::string("127.0.0.1"), peer.port());

    std::atomic<int> answers{0};
    std::shared_ptr<OSCMessage> answer;
    std::mutex answerLock;
    running.port->dispatchQuery(OSCMessage::createQueryType(OSCQueryTypeDocumentation, "/synth"),
                                out, 5.0f, [&](const std::shared_ptr<OSCMessage>& reply) {
                                    std::lock_guard guard(answerLock);
                                    answer = reply;
                                    ++answers;
                                });

    // The peer answers the question it received, twice.
    const auto question = peer.receive();
    ASSERT_TRUE(question);
    const auto parsed =
        OSCMessage::parseRawBuffer(question->data(), static_cast<int32_t>(question->size()), 0, 0);
    ASSERT_NE(parsed, nullptr);
    ASSERT_EQ(parsed->messageType(), OSCMessageTypeQuery);
    const auto reply = OSCMessage::createReplyForMessage(parsed);
    reply->addString(std::string("a synthesiser"));
    peer.sendTo(running.port->port(), encoded(reply));
    peer.sendTo(running.port->port(), encoded(reply));
    peer.sendTo(running.port->port(), encoded(numbered("/marker", 1)));

    ASSERT_TRUE(running.recorder->waitFor(1));
    std::this_thread::sleep_for(100ms);
    EXPECT_EQ(answers.load(), 1);
    {
        std::lock_guard guard(answerLock);
        ASSERT_NE(answer, nullptr);
        EXPECT_EQ(answer->messageType(), OSCMessageTypeReply);
        EXPECT_EQ(answer->value()->stringValue(), "/synth/#documentation");
        EXPECT_EQ(answer->valueAtIndex(1)->stringValue(), "a synthesiser");
    }
    const auto heard = running.recorder->all();
    ASSERT_EQ(heard.size(), 1u);
    EXPECT_EQ(heard[0].message->address(), "/marker");
    EXPECT_EQ(running.port->_pendingQueryCount(), 0u);
}

TEST(OSCInPortThreads, AnUnansweredQuestionGetsAnErrorAfterItsTimeoutEvenWithoutDelegate) {
    const auto port = OSCInPort::createWithPort(0);
    ASSERT_NE(port, nullptr);
    port->start();
    test::UdpListener silent;
    const auto out = OSCOutPort::createWithAddress(std::string("127.0.0.1"), silent.port());

    std::mutex lock;
    std::condition_variable answered;
    std::shared_ptr<OSCMessage> error;
    Clock::time_point when;
    const auto sent = Clock::now();
    port->dispatchQuery(OSCMessage::createQueryType(OSCQueryTypeCurrentValue, "/level"), out, 1.0f,
                        [&](const std::shared_ptr<OSCMessage>& reply) {
                            std::lock_guard guard(lock);
                            error = reply;
                            when = Clock::now();
                            answered.notify_all();
                        });
    {
        std::unique_lock guard(lock);
        ASSERT_TRUE(answered.wait_for(guard, 5s, [&] { return error != nullptr; }));
        EXPECT_EQ(error->messageType(), OSCMessageTypeError);
        EXPECT_EQ(error->value()->stringValue(), "/level/#current-value");
        EXPECT_GE(when - sent, 1000ms);
        EXPECT_LE(when - sent, 1700ms);
    }
    EXPECT_EQ(port->_pendingQueryCount(), 0u);
    port->prepareToBeDeleted();
}

TEST(OSCInPortThreads, MovingToATakenPortKeepsThePortWorkingOnItsOldOne) {
    RunningPort running;
    ASSERT_NE(running.port, nullptr);
    const uint16_t original = running.port->port();
    test::UdpListener peer;
    const test::UdpListener occupant;
    {
        LogCapture capture;
        running.port->setPort(occupant.port());
        EXPECT_EQ(capture.lines(),
                  std::vector<std::string>{"\t\terr: couldn't bind socket for OSC"});
    }
    EXPECT_EQ(running.port->port(), original);
    EXPECT_TRUE(running.port->bound());
    EXPECT_TRUE(running.port->_threadRunning());
    peer.sendTo(original, encoded(numbered("/still", 1)));
    ASSERT_TRUE(running.recorder->waitFor(1));

    // A free port is taken up, and the old one let go.
    const uint16_t next = test::freeUdpPort();
    running.port->setPort(next);
    if (running.port->port() != next) GTEST_SKIP() << "port " << next << " was taken meanwhile";
    peer.sendTo(next, encoded(numbered("/moved", 2)));
    ASSERT_TRUE(running.recorder->waitFor(2));
    EXPECT_EQ(running.recorder->all()[1].message->address(), "/moved");
    const auto reopened = OSCInPort::createWithPort(original);
    EXPECT_NE(reopened, nullptr);
}

TEST(OSCInPortThreads, StopOnTheMainThreadWaitsAndElsewhereIsPostedToIt) {
    RunningPort running;
    ASSERT_NE(running.port, nullptr);
    ASSERT_TRUE(MainLoop::current()->isMainThread());
    running.port->stop();
    EXPECT_FALSE(running.port->_threadRunning());
    // Again, and on a port whose thread has ended: nothing to wait for.
    const auto before = Clock::now();
    running.port->stop();
    running.port->stop();
    EXPECT_LT(Clock::now() - before, 100ms);

    running.port->start();
    running.port->start();
    EXPECT_TRUE(running.port->_threadRunning());
    std::thread([&] { running.port->stop(); }).join();
    std::this_thread::sleep_for(50ms);
    EXPECT_TRUE(running.port->_threadRunning());
    auto loop = std::dynamic_pointer_cast<RunLoop>(MainLoop::current());
    ASSERT_NE(loop, nullptr);
    loop->runFor(50ms);
    EXPECT_FALSE(running.port->_threadRunning());
}

TEST(OSCInPortThreads, AnExceptionInAPassIsLoggedAndTheThreadGoesOn) {
    RunningPort running;
    ASSERT_NE(running.port, nullptr);
    running.recorder->setHook([](const std::shared_ptr<OSCMessage>& message) {
        if (message->address() == "/boom") throw std::runtime_error("boom");
    });
    test::UdpListener peer;
    LogCapture capture;
    peer.sendTo(running.port->port(), encoded(numbered("/boom", 1)));
    ASSERT_TRUE(running.recorder->waitFor(1));
    ASSERT_TRUE(waitUntil([&] { return capture.lines().size() == 1; }));
    EXPECT_EQ(capture.lines()[0], "\t\t-[OSCInPort OSCThreadProc] caught exception boom on " +
                                      running.port->description());
    // No lock was left held: the socket still serves questions and the next datagram arrives.
    const auto out = OSCOutPort::createWithAddress(std::string("127.0.0.1"), peer.port());
    running.port->_dispatchQuery(OSCMessage::createQueryType(OSCQueryTypeDocumentation, "/x"), out);
    EXPECT_TRUE(peer.receive());
    peer.sendTo(running.port->port(), encoded(numbered("/fine", 2)));
    ASSERT_TRUE(running.recorder->waitFor(2));
}

TEST(OSCInPortThreads, APortReleasedFromItsOwnDelegateCallbackEndsQuietly) {
    auto recorder = std::make_shared<test::MessageRecorder>();
    auto port = OSCInPort::createWithPort(0);
    ASSERT_NE(port, nullptr);
    const uint16_t number = port->port();
    port->setDelegate(recorder);
    port->start();
    std::mutex slotLock;
    std::shared_ptr<OSCInPort> slot = std::move(port);
    recorder->setHook([&](const auto&) {
        std::shared_ptr<OSCInPort> last;
        std::lock_guard guard(slotLock);
        last.swap(slot);
    });
    test::UdpListener peer;
    peer.sendTo(number, encoded(numbered("/bye", 1)));
    ASSERT_TRUE(recorder->waitFor(1));
    // The socket was closed by the port's destruction on its own thread.
    ASSERT_TRUE(waitUntil([&] { return OSCInPort::createWithPort(number) != nullptr; }));
    std::lock_guard guard(slotLock);
    EXPECT_EQ(slot, nullptr);
}

TEST(OSCInPortThreads, ALabelledPortAnnouncesItselfAboutASecondAfterStarting) {
    test::RecordingZeroConfPublisher zeroConf;
    int changes = 0;
    auto observer = NotificationCenter::defaultCenter().addObserver(
        "OSCInPortsChangedNotification", [&](const Notification& notification) {
            EXPECT_EQ(notification.object, nullptr);
            ++changes;
        });
    RunningPort running(std::string("Apothecary"));
    ASSERT_NE(running.port, nullptr);
    std::this_thread::sleep_for(700ms);
    EXPECT_EQ(zeroConf.count("publish"), 0u);
    ASSERT_TRUE(waitUntil([&] { return zeroConf.count("publish") == 1; }, 3s));
    auto events = zeroConf.events();
    EXPECT_EQ(events[0].domain, "local.");
    EXPECT_EQ(events[0].type, "_osc._udp.");
    EXPECT_EQ(events[0].name, "Apothecary");
    EXPECT_EQ(events[0].port, running.port->port());
    EXPECT_EQ(running.port->zeroConfName(), "Apothecary");

    running.port->setPortLabel(std::string("Apothecary"));
    EXPECT_EQ(changes, 0);
    running.port->setPortLabel(std::string("Pharmacy"));
    EXPECT_EQ(changes, 1);
    // Withdrawn at once; the new name follows about a second later.
    events = zeroConf.events();
    ASSERT_GE(events.size(), 2u);
    EXPECT_EQ(events[1].what, "stop");
    EXPECT_EQ(events[1].name, "Apothecary");
    ASSERT_TRUE(waitUntil([&] { return zeroConf.count("publish") == 2; }, 3s));
    EXPECT_EQ(zeroConf.events().back().name, "Pharmacy");
    EXPECT_EQ(running.port->zeroConfName(), "Pharmacy");

    // An unlabelled port announces nothing.
    running.port->setPortLabel(std::nullopt);
    EXPECT_EQ(changes, 2);
    std::this_thread::sleep_for(1300ms);
    EXPECT_EQ(zeroConf.count("publish"), 2u);
}

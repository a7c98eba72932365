// The manager's receiving ports, whose threads run: creation rules and notifications, delivery
// to the manager's delegate, and questions routed through the first receiving port.
#include <gtest/gtest.h>

#include <atomic>
#include <map>

#include "basics/NotificationCenter.h"
#include "osc/OSCManager.h"
#include "osc/OSCPacket.h"
#include "support/MessageRecorder.h"
#include "support/UdpListener.h"

using namespace vitrine;
using namespace std::chrono_literals;

namespace {

test::Bytes encoded(const std::shared_ptr<const OSCPacketContent>& content) {
    const auto packet = OSCPacket::createWithContent(content);
    return test::bytes(packet->payload(), static_cast<size_t>(packet->bufferLength()));
}

struct InNotifications {
    std::atomic<int> count{0};
    NotificationCenter::Token token;
    explicit InNotifications(const std::shared_ptr<OSCManager>& manager)
        : token(NotificationCenter::defaultCenter().addObserver(
              "OSCInPortsChangedNotification", manager, [this](const Notification&) { ++count; })) {
    }
};

}  // namespace

TEST(OSCManagerThreads, AnInputPortNumberOrLabelIsTakenOnlyOnce) {
    const auto manager = OSCManager::create();
    InNotifications notes(manager);

    const auto first = manager->createNewInputForPort(0, std::string("stage"));
    ASSERT_NE(first, nullptr);
    EXPECT_TRUE(first->_threadRunning());
    EXPECT_EQ(first->delegate(), manager);
    EXPECT_EQ(notes.count.load(), 1);

    EXPECT_EQ(manager->createNewInputForPort(first->port()), nullptr);
    EXPECT_EQ(manager->createNewInputForPort(0, std::string("stage")), nullptr);
    EXPECT_EQ(notes.count.load(), 1);

    const auto second = manager->createNewInputForPort(0);
    ASSERT_NE(second, nullptr);
    ASSERT_TRUE(second->portLabel());
    EXPECT_EQ(manager->findInputWithLabel(second->portLabel()), second);
    EXPECT_EQ(notes.count.load(), 2);
    EXPECT_EQ(manager->findInputWithLabel(std::string("stage")), first);
    EXPECT_EQ(manager->findInputsWithLabel(std::string("stage")),
              (std::vector<std::shared_ptr<OSCInPort>>{first}));

    // A snapshot re-creates the port on its number once the original has gone.
    const auto snapshot = first->createSnapshot();
    manager->removeInput(first);
    EXPECT_FALSE(first->_threadRunning());
    EXPECT_EQ(notes.count.load(), 3);
    manager->removeInput(first);
    EXPECT_EQ(notes.count.load(), 3);
    first->prepareToBeDeleted();
    const auto again = manager->createNewInputFromSnapshot(&snapshot);
    ASSERT_NE(again, nullptr);
    EXPECT_EQ(again->port(), std::get<int64_t>(snapshot.at("port")));
    EXPECT_EQ(again->portLabel(), "stage");

    manager->deleteAllInputs();
    EXPECT_EQ(notes.count.load(), 5);
    EXPECT_FALSE(again->_threadRunning());
    EXPECT_FALSE(second->_threadRunning());
    EXPECT_EQ(manager->inPortArray()->lockCount(), 0u);
}

TEST(OSCManagerThreads, ReceivedMessagesReachTheManagersDelegate) {
    const auto manager = OSCManager::create();
    const auto recorder = std::make_shared<test::MessageRecorder>();
    manager->setDelegate(std::static_pointer_cast<OSCManagerDelegate>(recorder));
    const auto port = manager->createNewInputForPort(0, std::string("controller"));
    ASSERT_NE(port, nullptr);

    test::UdpListener showcase;
    auto connected = OSCMessage::createWithAddress(std::string("/connected"));
    connected->addInt(1);
    showcase.sendTo(port->port(), encoded(connected));
    ASSERT_TRUE(recorder->waitFor(1));
    EXPECT_EQ(recorder->all()[0].message->address(), "/connected");
    manager->deleteAllInputs();
}

TEST(OSCManagerThreads, QuestionsLeaveThroughTheFirstReceivingPort) {
    const auto manager = OSCManager::create();
    const auto first = manager->createNewInputForPort(0);
    const auto second = manager->createNewInputForPort(0);
    ASSERT_NE(first, nullptr);
    ASSERT_NE(second, nullptr);
    test::UdpListener peer;
    const auto out = manager->createNewOutputToAddress(std::string("127.0.0.1"), peer.port());

    std::atomic<int> answers{0};
    manager->dispatchQuery(OSCMessage::createQueryType(OSCQueryTypeNamespaceExploration, "/"), out,
                           5.0f, [&](const auto&) { ++answers; });
    sockaddr_in from{};
    const auto question = peer.receiveFrom(from);
    ASSERT_TRUE(question);
    EXPECT_EQ(ntohs(from.sin_port), first->port());
    EXPECT_EQ(first->_pendingQueryCount(), 1u);
    EXPECT_EQ(second->_pendingQueryCount(), 0u);

    const auto parsed =
        OSCMessage::parseRawBuffer(question->data(), static_cast<int32_t>(question->size()),
                                   from.sin_addr.s_addr, from.sin_port);
    ASSERT_NE(parsed, nullptr);
    // The peer's manager would send the answer back exactly where the question came from.
    peer.sendTo(first->port(), encoded(OSCMessage::createReplyForMessage(parsed)));
    const auto deadline = std::chrono::steady_clock::now() + 5s;
    while (answers.load() == 0 && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(2ms);
    EXPECT_EQ(answers.load(), 1);
    manager->deleteAllInputs();
}

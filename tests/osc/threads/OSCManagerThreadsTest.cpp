// The manager's receiving ports, whose threads run: creation rules and notifications, delivery
// to the manager's delegate, and questions routed through the first receiving port.
#include <gtest/gtest.h>

#include <atomic>

#include "basics/NotificationCenter.h"
#include "osc/OSCManager.h"
#include "support/MessageRecorder.h"
#include "support/NotificationCount.h"
#include "support/OscWire.h"

using namespace vitrine;
using namespace std::chrono_literals;

TEST(OSCManagerThreads, AnInputPortNumberOrLabelIsTakenOnlyOnce) {
    const auto manager = OSCManager::create();
    test::NotificationCount notes(manager);
    const auto first = manager->createNewInputForPort(0, std::string("stage"));
    ASSERT_NE(first, nullptr);
    EXPECT_TRUE(first->_threadRunning());
    EXPECT_EQ(first->delegate(), manager);
    EXPECT_EQ(notes(), "1/0/0");
    // A second input on the same port, or under the same label, is refused without a word.
    EXPECT_EQ(manager->createNewInputForPort(first->port()), nullptr);
    EXPECT_EQ(manager->createNewInputForPort(0, std::string("stage")), nullptr);
    EXPECT_EQ(notes(), "1/0/0");
    const auto second = manager->createNewInputForPort(0);
    EXPECT_EQ(manager->findInputWithLabel(second->portLabel()), second);
    EXPECT_EQ(manager->findInputsWithLabel(std::string("stage")),
              (std::vector<std::shared_ptr<OSCInPort>>{first}));

    // A snapshot re-creates the port on its number once the original has gone.
    const auto snapshot = first->createSnapshot();
    manager->removeInput(first);
    manager->removeInput(first);
    EXPECT_FALSE(first->_threadRunning());
    first->prepareToBeDeleted();
    const auto again = manager->createNewInputFromSnapshot(&snapshot);
    ASSERT_NE(again, nullptr);
    EXPECT_EQ(again->createSnapshot(), snapshot);
    manager->deleteAllInputs();
    EXPECT_EQ(notes(), "5/0/0");  // two made, one removed twice, one re-made, all deleted
    EXPECT_FALSE(again->_threadRunning());
    EXPECT_EQ(manager->inPortArray()->lockCount(), 0u);
}

TEST(OSCManagerThreads, MessagesReachTheDelegateAndQuestionsLeaveThroughTheFirstReceivingPort) {
    const auto manager = OSCManager::create();
    const auto recorder = std::make_shared<test::MessageRecorder>();
    manager->setDelegate(std::static_pointer_cast<OSCManagerDelegate>(recorder));
    const auto first = manager->createNewInputForPort(0);
    const auto second = manager->createNewInputForPort(0);
    ASSERT_TRUE(first && second);
    test::UdpListener peer;
    peer.sendTo(second->port(), test::encoded(test::numbered("/connected", 1)));
    ASSERT_TRUE(recorder->waitFor(1));
    EXPECT_EQ(recorder->all()[0].message->address(), "/connected");

    std::atomic<int> answers{0};
    manager->dispatchQuery(OSCMessage::createQueryType(OSCQueryTypeNamespaceExploration, "/"),
                           manager->createNewOutputToAddress(std::string("127.0.0.1"), peer.port()),
                           5.0f, [&](const auto&) { ++answers; });
    sockaddr_in from{};
    const auto question = peer.receiveFrom(from).value_or(test::Bytes{});
    EXPECT_EQ(ntohs(from.sin_port), first->port());
    EXPECT_EQ(std::pair(first->_pendingQueryCount(), second->_pendingQueryCount()),
              std::pair(size_t{1}, size_t{0}));
    // The peer's manager would send the answer back exactly where the question came from.
    const auto parsed =
        OSCMessage::parseRawBuffer(question.data(), static_cast<int32_t>(question.size()), 0, 0);
    peer.sendTo(first->port(), test::encoded(OSCMessage::createReplyForMessage(parsed)));
    EXPECT_TRUE(test::waitUntil([&] { return answers.load() == 1; }));
    manager->deleteAllInputs();
}

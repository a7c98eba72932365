// The manager's sending ports, labels, notifications and replies; nothing here starts a
// receiving thread.
#include <gtest/gtest.h>

#include <unistd.h>

#include <climits>

#include "basics/NotificationCenter.h"
#include "osc/OSCManager.h"
#include "support/NotificationCount.h"
#include "support/UdpListener.h"

using namespace vitrine;
using Outputs = std::vector<std::shared_ptr<OSCOutPort>>;

namespace {

const std::string kLoopback = "127.0.0.1";

}  // namespace

TEST(OSCManager, OutputLabelsAreGeneratedAndKeptUnique) {
    const auto manager = OSCManager::create();
    EXPECT_EQ(manager->zeroConfManager()->serviceTypeString(), "_osc._udp");
    test::NotificationCount notes(manager);
    // Two ports may share a destination; each gets the next free generated label.
    const auto first = manager->createNewOutputToAddress(kLoopback, 10000);
    const auto second = manager->createNewOutputToAddress(kLoopback, 10000);
    EXPECT_EQ(manager->outPortLabelArray(),
              (std::vector<std::string>{"OSC Out Port 1", "OSC Out Port 2"}));
    EXPECT_EQ(notes(), "0/2/2");
    // A clashing label gives nothing but is still announced; a refused argument is not.
    EXPECT_EQ(manager->createNewOutputToAddress(kLoopback, 10001, "OSC Out Port 1"), nullptr);
    EXPECT_EQ(notes(), "0/3/3");
    EXPECT_EQ(manager->createNewOutputToAddress(kLoopback, 1023, "low"), nullptr);
    EXPECT_EQ(manager->createNewOutputToAddress(std::nullopt, 10001, "none"), nullptr);
    EXPECT_EQ(manager->createNewOutputToAddress(kLoopback, 10001, std::nullopt), nullptr);
    EXPECT_EQ(notes(), "0/3/3");
    EXPECT_EQ(manager->findOutputsWithLabel("OSC Out Port 2"), Outputs{second});
    EXPECT_EQ(manager->findOutputsWithLabel("nobody"), std::nullopt);
    EXPECT_EQ(manager->findOutputWithRawAddress(htonl(INADDR_LOOPBACK), htons(10000)), first);
    EXPECT_EQ(manager->findOutputForIndex(2), nullptr);
    EXPECT_EQ(manager->findOutputForIndex(-1), nullptr);
}

TEST(OSCManager, RemovingOutputsTakesThatPortAndAnnouncesEveryAttempt) {
    const auto manager = OSCManager::create();
    const auto a = manager->createNewOutputToAddress(kLoopback, 10000, "a");
    manager->createNewOutputToAddress(kLoopback, 10001, "b");
    const auto c = manager->createNewOutputToAddress(kLoopback, 10002, "c");
    test::NotificationCount notes(manager);
    manager->removeOutputWithLabel("b");
    EXPECT_EQ(manager->outPortArray()->lockCreateArrayCopy(), (Outputs{a, c}));
    manager->removeOutputWithLabel("b");
    manager->removeOutputWithLabel(std::nullopt);
    EXPECT_EQ(notes(), "0/2/2");
    manager->removeOutput(c);
    manager->removeAllOutputs();
    EXPECT_EQ(manager->outPortArray()->lockCount(), 0u);
    EXPECT_EQ(notes(), "0/4/4");
    // Deleting closes the ports: a deleted port sends nothing any more.
    test::UdpListener peer;
    const auto kept = manager->createNewOutputToAddress(kLoopback, peer.port(), "kept");
    manager->deleteAllOutputs();
    kept->sendThisMessage(OSCMessage::createWithAddress(std::string("/x")));
    EXPECT_TRUE(peer.takeArrived().empty());
    manager->deleteAllInputs();  // none: nothing announced
    EXPECT_EQ(notes(), "0/6/6");
}

TEST(OSCManager, InputLabelsComeFromTheHostTheBaseAndACounterUnusedByEitherList) {
    const auto manager = OSCManager::create();
    char name[HOST_NAME_MAX + 1] = {};
    gethostname(name, sizeof name - 1);
    const std::string host = name;
    EXPECT_EQ(manager->getUniqueInputLabel(), host + " VAZIZ 1");
    manager->createNewOutputToAddress(kLoopback, 10000, host + " VAZIZ 1");
    EXPECT_EQ(manager->getUniqueInputLabel(), host + " VAZIZ 2");
    manager->setInPortLabelBase(std::nullopt);
    manager->setInPortLabelBase(std::string("Vitrine"));
    EXPECT_EQ(manager->getUniqueInputLabel(), host + " Vitrine 1");
    EXPECT_EQ(manager->getUniqueOutputLabel(), "OSC Out Port 1");  // sending ports only
}

TEST(OSCManager, SnapshotsAndCustomFactoriesMakeThePorts) {
    int made = 0;
    const auto manager = OSCManager::createWithInPortClass(
        nullptr,
        [&](const std::optional<std::string>& address, uint16_t port,
            const std::optional<std::string>& label) {
            ++made;
            return OSCOutPort::createWithAddress(address, port, label);
        },
        std::string("_vitrine._udp"));
    EXPECT_EQ(manager->zeroConfManager()->serviceTypeString(), "_vitrine._udp");
    const auto original = manager->createNewOutputToAddress(kLoopback, 12345, "jar");
    const auto snapshot = original->createSnapshot();
    manager->removeOutput(original);
    EXPECT_EQ(manager->createNewOutputFromSnapshot(&snapshot)->createSnapshot(), snapshot);
    EXPECT_EQ(made, 2);
    OSCPortSnapshot unlabelled{{"address", kLoopback}, {"port", int64_t{12346}}};
    EXPECT_EQ(manager->createNewOutputFromSnapshot(&unlabelled)->portLabel(), "OSC Out Port 1");
    OSCPortSnapshot noAddress{{"port", int64_t{12346}}};
    EXPECT_EQ(manager->createNewOutputFromSnapshot(&noAddress), nullptr);
    EXPECT_EQ(manager->createNewOutputFromSnapshot(nullptr), nullptr);
    EXPECT_EQ(manager->createNewInputFromSnapshot(nullptr), nullptr);
    // Ports above 65535 keep their low 16 bits.
    EXPECT_EQ(manager->createNewOutputToAddress(kLoopback, 65536 + 10000, "wrapped")->port(),
              10000);
}

TEST(OSCManager, RepliesGoBackToWhereTheirQuestionCameFrom) {
    const auto manager = OSCManager::create();
    test::UdpListener asker;
    auto question = OSCMessage::createFast(std::string("/synth"), false, OSCMessageTypeQuery,
                                           OSCQueryTypeDocumentation, htonl(INADDR_LOOPBACK),
                                           htons(asker.port()));
    manager->transmitReplyOrError(OSCMessage::createWithAddress(std::string("/plain")));
    manager->transmitReplyOrError(OSCMessage::createReplyForAddress(std::string("/nowhere")));
    EXPECT_EQ(manager->outPortArray()->lockCount(), 0u);
    manager->transmitReplyOrError(OSCMessage::createReplyForMessage(question));
    manager->transmitReplyOrError(OSCMessage::createErrorForMessage(question));
    // One port made for the asker, used for both.
    ASSERT_EQ(manager->outPortArray()->lockCount(), 1u);
    EXPECT_EQ(manager->findOutputForIndex(0)->portLabel(), "OSC Out Port 1");
    const auto datagrams = asker.takeArrived();
    ASSERT_EQ(datagrams.size(), 2u);
    EXPECT_EQ(test::hex(datagrams[0]).substr(0, 23), "23 72 65 70 6C 79 00 00");  // "#reply"
    EXPECT_EQ(test::hex(datagrams[1]).substr(0, 23), "23 65 72 72 6F 72 00 00");  // "#error"
    // Without any receiving port a question goes nowhere.
    manager->dispatchQuery(OSCMessage::createQueryType(OSCQueryTypeDocumentation, "/x"),
                           manager->findOutputForIndex(0), 1.0f, [](const auto&) {});
    EXPECT_TRUE(asker.takeArrived().empty());
}

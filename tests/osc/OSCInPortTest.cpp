// Receiving-port behaviour that needs no running receiving thread: creation and binding,
// identity, the sending of questions, and the delivery of one pass's batch.
#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "basics/Log.h"
#include "osc/OSCInPort.h"
#include "support/MessageRecorder.h"
#include "support/UdpListener.h"

using namespace vitrine;
using test::Bytes;

namespace {

std::shared_ptr<OSCMessage> documentationQuery(const std::string& address) {
    return OSCMessage::createQueryType(OSCQueryTypeDocumentation, address);
}

std::shared_ptr<OSCOutPort> aimedAt(const test::UdpListener& listener) {
    return OSCOutPort::createWithAddress(std::string("127.0.0.1"), listener.port());
}

}  // namespace

TEST(OSCInPort, BindsEveryInterfaceAndReportsItsIdentity) {
    const auto port = OSCInPort::createWithPort(0, std::string("Jars"));
    ASSERT_NE(port, nullptr);
    EXPECT_TRUE(port->bound());
    ASSERT_NE(port->port(), 0);
    // Ports chosen by the system lie above 32767 on Linux; they print as they are.
    EXPECT_EQ(port->description(), "<OSCInPort: " + std::to_string(port->port()) + ">");
    EXPECT_EQ(port->ipAddressString(), "0.0.0.0");
    EXPECT_EQ(port->portLabel(), "Jars");
    EXPECT_EQ(port->zeroConfName(), std::nullopt);
    EXPECT_FALSE(port->_threadRunning());

    const OSCPortSnapshot snapshot = port->createSnapshot();
    EXPECT_EQ(snapshot.size(), 2u);
    EXPECT_EQ(std::get<int64_t>(snapshot.at("port")), port->port());
    EXPECT_EQ(std::get<std::string>(snapshot.at("portLabel")), "Jars");
    const auto unlabelled = OSCInPort::createWithPort(0);
    ASSERT_NE(unlabelled, nullptr);
    EXPECT_EQ(unlabelled->createSnapshot().count("portLabel"), 0u);

    port->prepareToBeDeleted();
    EXPECT_EQ(port->ipAddressString(), std::nullopt);
    port->start();
    EXPECT_FALSE(port->_threadRunning());
}

TEST(OSCInPort, ATakenPortYieldsNothingWithTheBindAndBailLines) {
    const test::UdpListener taken;
    LogCapture capture;
    EXPECT_EQ(OSCInPort::createWithPort(taken.port()), nullptr);
    EXPECT_EQ(capture.lines(),
              (std::vector<std::string>{"\t\terr: couldn't bind socket for OSC",
                                        "\t\terr: -[OSCInPort initWithPort:labelled:] - BAIL"}));
}

TEST(OSCInPort, IntervalIsNeverNegative) {
    const auto port = OSCInPort::createWithPort(0);
    ASSERT_NE(port, nullptr);
    EXPECT_DOUBLE_EQ(port->interval(), 0.01);
    port->setInterval(-1);
    EXPECT_EQ(port->interval(), 0.0);
    port->setInterval(0.25);
    EXPECT_EQ(port->interval(), 0.25);
    port->setInterval(std::nan(""));
    EXPECT_EQ(port->interval(), 0.0);
}

TEST(OSCInPort, QuestionsGoOutOfThePortsOwnSocketAndOnlyQuestions) {
    test::UdpListener peer;
    const auto port = OSCInPort::createWithPort(0);
    const auto out = aimedAt(peer);
    ASSERT_NE(port, nullptr);
    ASSERT_NE(out, nullptr);

    // An ordinary message is neither sent nor filed, through either entry.
    const auto control = OSCMessage::createWithAddress(std::string("/synth"));
    port->dispatchQuery(control, out, 1.0f, [](const auto&) {});
    port->_dispatchQuery(control, out);
    port->dispatchQuery(documentationQuery("/synth"), nullptr, 1.0f, [](const auto&) {});
    port->dispatchQuery(nullptr, out, 1.0f, [](const auto&) {});
    EXPECT_EQ(port->_pendingQueryCount(), 0u);
    EXPECT_EQ(peer.receive(std::chrono::milliseconds(200)), std::nullopt);

    port->dispatchQuery(documentationQuery("/synth"), out, 1.0f, [](const auto&) {});
    EXPECT_EQ(port->_pendingQueryCount(), 1u);
    sockaddr_in from{};
    const auto datagram = peer.receiveFrom(from);
    ASSERT_TRUE(datagram);
    // "/synth/#documentation" padded to 24 bytes, then "," and three NULs.
    EXPECT_EQ(test::hex(*datagram),
              "2F 73 79 6E 74 68 2F 23 64 6F 63 75 6D 65 6E 74 61 74 69 6F 6E 00 00 00 "
              "2C 00 00 00");
    // Sent from the receiving port, so that the answer comes back to it.
    EXPECT_EQ(ntohs(from.sin_port), port->port());

    // The same question again replaces the filed one instead of adding a second.
    port->dispatchQuery(documentationQuery("/synth"), out, 1.0f, [](const auto&) {});
    EXPECT_EQ(port->_pendingQueryCount(), 1u);

    port->prepareToBeDeleted();
    port->_dispatchQuery(documentationQuery("/synth"), out);
    port->dispatchQuery(documentationQuery("/other"), out, 1.0f, [](const auto&) {});
    EXPECT_EQ(peer.drain(std::chrono::milliseconds(100)).size(), 1u);
    EXPECT_EQ(port->_pendingQueryCount(), 1u);
}

TEST(OSCInPort, ABatchGoesToTheDelegateAndAnswersToTheirQuestions) {
    test::UdpListener peer;
    const auto port = OSCInPort::createWithPort(0);
    const auto out = aimedAt(peer);
    ASSERT_NE(port, nullptr);
    const auto recorder = std::make_shared<test::MessageRecorder>();
    port->setDelegate(recorder);

    const auto query = documentationQuery("/synth");
    std::vector<std::shared_ptr<OSCMessage>> answers;
    port->dispatchQuery(query, out, 10.0f, [&](const auto& reply) { answers.push_back(reply); });

    const auto first = OSCMessage::createWithAddress(std::string("/a"));
    const auto reply = OSCMessage::createReplyForMessage(query);
    const auto incomingQuery = documentationQuery("/b");
    const auto unknown = OSCMessage::createWithAddress(std::string("/c"));
    unknown->_setMessageType(OSCMessageTypeUnknown);
    // A reply to a question that carried values names it by a blob and matches nothing.
    const auto blobReply = OSCMessage::createReplyForMessage([] {
        auto withValue = documentationQuery("/synth");
        withValue->addInt(1);
        return withValue;
    }());
    port->handleScratchArray({first, reply, incomingQuery, unknown, blobReply, reply});

    ASSERT_EQ(answers.size(), 1u);
    EXPECT_EQ(answers[0], reply);
    EXPECT_EQ(port->_pendingQueryCount(), 0u);
    const auto heard = recorder->all();
    ASSERT_EQ(heard.size(), 2u);
    EXPECT_EQ(heard[0].message, first);
    EXPECT_EQ(heard[1].message, incomingQuery);
}

TEST(OSCInPort, WithoutADelegateTheWholeBatchIsDropped) {
    test::UdpListener peer;
    const auto port = OSCInPort::createWithPort(0);
    ASSERT_NE(port, nullptr);
    const auto query = documentationQuery("/synth");
    int answered = 0;
    port->dispatchQuery(query, aimedAt(peer), 10.0f, [&](const auto&) { ++answered; });
    port->handleScratchArray({OSCMessage::createReplyForMessage(query)});
    EXPECT_EQ(answered, 0);
    EXPECT_EQ(port->_pendingQueryCount(), 1u);

    // A delegate that has died counts as none.
    auto recorder = std::make_shared<test::MessageRecorder>();
    port->setDelegate(recorder);
    recorder.reset();
    port->handleScratchArray({OSCMessage::createReplyForMessage(query)});
    EXPECT_EQ(answered, 0);
}

// Receiving-port behaviour that needs no running receiving thread: creation and binding,
// identity, the sending of questions, and the delivery of one pass's batch.
#include <gtest/gtest.h>

#include <cmath>

#include "basics/Log.h"
#include "osc/OSCInPort.h"
#include "support/MessageRecorder.h"
#include "support/OscWire.h"

using namespace vitrine;

namespace {

std::shared_ptr<OSCMessage> documentationQuery(const std::string& address) {
    return OSCMessage::createQueryType(OSCQueryTypeDocumentation, address);
}

std::shared_ptr<OSCOutPort> aimedAt(const test::UdpListener& listener) {
    return OSCOutPort::createWithAddress(std::string("127.0.0.1"), listener.port());
}

}  // namespace

TEST(OSCInPort, PortZeroReadsBackTheKernelsPortAndATakenPortBails) {
    const auto port = OSCInPort::createWithPort(0, std::string("Jars"));
    ASSERT_NE(port->port(), 0);
    // Ports chosen by the system lie above 32767 on Linux; they print as they are.
    EXPECT_EQ(port->description(), "<OSCInPort: " + std::to_string(port->port()) + ">");
    EXPECT_EQ(port->ipAddressString(), "0.0.0.0");
    EXPECT_EQ(port->createSnapshot(), (OSCPortSnapshot{{"port", int64_t{port->port()}},
                                                       {"portLabel", std::string("Jars")}}));
    EXPECT_EQ(OSCInPort::createWithPort(0)->createSnapshot().count("portLabel"), 0u);
    EXPECT_DOUBLE_EQ(port->interval(), 0.01);
    for (const double refused : {-1.0, std::nan("")}) {
        port->setInterval(refused);
        EXPECT_EQ(port->interval(), 0.0);
    }
    port->prepareToBeDeleted();
    EXPECT_EQ(port->ipAddressString(), std::nullopt);
    port->start();
    EXPECT_FALSE(port->_threadRunning());

    const test::UdpListener taken;
    LogCapture capture;
    EXPECT_EQ(OSCInPort::createWithPort(taken.port()), nullptr);
    EXPECT_EQ(capture.lines(),
              (std::vector<std::string>{"\t\terr: couldn't bind socket for OSC",
                                        "\t\terr: -[OSCInPort initWithPort:labelled:] - BAIL"}));
}

TEST(OSCInPort, QuestionsGoOutOfThePortsOwnSocketAndOnlyQuestions) {
    test::UdpListener peer;
    const auto port = OSCInPort::createWithPort(0);
    const auto out = aimedAt(peer);
    // An ordinary message is neither sent nor filed, through either entry.
    const auto control = OSCMessage::createWithAddress(std::string("/synth"));
    port->dispatchQuery(control, out, 1.0f, [](const auto&) {});
    port->_dispatchQuery(control, out);
    port->dispatchQuery(documentationQuery("/synth"), nullptr, 1.0f, [](const auto&) {});
    port->dispatchQuery(nullptr, out, 1.0f, [](const auto&) {});
    EXPECT_EQ(port->_pendingQueryCount(), 0u);
    EXPECT_TRUE(peer.takeArrived().empty());

    port->dispatchQuery(documentationQuery("/synth"), out, 1.0f, [](const auto&) {});
    // That it leaves from the receiving port's own socket, for the answer to come back to it, is
    // the manager's threaded test.
    EXPECT_EQ(test::hex(peer.receive().value_or(test::Bytes{})),
              test::hex(test::encoded(documentationQuery("/synth"))));
    // The same question again replaces the filed one instead of adding a second.
    port->dispatchQuery(documentationQuery("/synth"), out, 1.0f, [](const auto&) {});
    EXPECT_EQ(port->_pendingQueryCount(), 1u);

    port->prepareToBeDeleted();
    port->_dispatchQuery(documentationQuery("/synth"), out);
    port->dispatchQuery(documentationQuery("/other"), out, 1.0f, [](const auto&) {});
    EXPECT_EQ(peer.takeArrived().size(), 1u);
    EXPECT_EQ(port->_pendingQueryCount(), 1u);
}

TEST(OSCInPort, ABatchGoesToTheDelegateAndAnswersToTheirQuestionsOnlyWhileADelegateLives) {
    test::UdpListener peer;
    const auto port = OSCInPort::createWithPort(0);
    const auto query = documentationQuery("/synth");
    std::vector<std::shared_ptr<OSCMessage>> answers;
    port->dispatchQuery(query, aimedAt(peer), 10.0f,
                        [&](const auto& reply) { answers.push_back(reply); });
    const auto reply = OSCMessage::createReplyForMessage(query);

    // Without a delegate, or with a dead one, the whole batch is dropped.
    port->handleScratchArray({reply});
    auto dead = std::make_shared<test::MessageRecorder>();
    port->setDelegate(dead);
    dead.reset();
    port->handleScratchArray({reply});
    EXPECT_TRUE(answers.empty());
    EXPECT_EQ(port->_pendingQueryCount(), 1u);

    const auto recorder = std::make_shared<test::MessageRecorder>();
    port->setDelegate(recorder);
    const auto first = OSCMessage::createWithAddress(std::string("/a"));
    const auto incomingQuery = documentationQuery("/b");
    const auto unknown = OSCMessage::createWithAddress(std::string("/c"));
    unknown->_setMessageType(OSCMessageTypeUnknown);
    // A reply to a question that carried values names it by a blob and matches nothing.
    auto withValue = documentationQuery("/synth");
    withValue->addInt(1);
    const auto blobReply = OSCMessage::createReplyForMessage(withValue);
    port->handleScratchArray({first, reply, incomingQuery, unknown, blobReply, reply});
    EXPECT_EQ(answers, std::vector<std::shared_ptr<OSCMessage>>{reply});
    EXPECT_EQ(port->_pendingQueryCount(), 0u);
    std::vector<std::shared_ptr<OSCMessage>> heard;
    for (const auto& arrival : recorder->all()) heard.push_back(arrival.message);
    EXPECT_EQ(heard, (std::vector<std::shared_ptr<OSCMessage>>{first, incomingQuery}));
}

#include <gtest/gtest.h>

#include <limits>

#include "basics/Log.h"
#include "osc/OSCMessage.h"
#include "osc/OSCQueryReply.h"
#include "support/UdpListener.h"

using namespace vitrine;
using test::Bytes;

namespace {

std::string encoded(const std::shared_ptr<OSCMessage>& message) {
    const auto data = message ? message->writeToNSData() : nullptr;
    EXPECT_NE(data, nullptr);
    return data ? test::hex(*data) : std::string();
}

std::shared_ptr<OSCMessage> query(OSCQueryType type, const std::string& address) {
    return OSCMessage::createQueryType(type, address);
}

class RecordingDelegate : public OSCQueryReplyDelegate {
public:
    void oscQueryReplyReceived(const std::shared_ptr<OSCMessage>& reply) override {
        replies.push_back(reply);
    }
    std::vector<std::shared_ptr<OSCMessage>> replies;
};

}  // namespace

TEST(OSCQuery, AddressFormsOnTheWire) {
    // "/synth/#documentation" (21 bytes) padded to 24, then "," and three NULs.
    EXPECT_EQ(encoded(query(OSCQueryTypeDocumentation, "/synth")),
              "2F 73 79 6E 74 68 2F 23 64 6F 63 75 6D 65 6E 74 61 74 69 6F 6E 00 00 00 "
              "2C 00 00 00");
    // The root's children are asked for with "/", not "//".
    EXPECT_EQ(encoded(query(OSCQueryTypeNamespaceExploration, "/")), "2F 00 00 00 2C 00 00 00");
    EXPECT_EQ(encoded(query(OSCQueryTypeNamespaceExploration, "a/")), "2F 61 2F 00 2C 00 00 00");
    EXPECT_EQ(query(OSCQueryTypeTypeSignature, "/")->replyAddress(), "/#type-signature");
    EXPECT_EQ(query(OSCQueryTypeCurrentValue, "/a/b/")->replyAddress(), "/a/b/#current-value");
    EXPECT_EQ(query(OSCQueryTypeReturnTypeString, "x")->replyAddress(), "/x/#return-type-string");
    EXPECT_EQ(query(OSCQueryTypeUnknown, "/x")->replyAddress(), "/x");

    const auto made = query(OSCQueryTypeDocumentation, "synth*/");
    EXPECT_EQ(made->address(), "/synth*");
    EXPECT_TRUE(made->wildcardsInAddress());
    EXPECT_EQ(made->messageType(), OSCMessageTypeQuery);
    EXPECT_EQ(made->queryType(), OSCQueryTypeDocumentation);
    EXPECT_EQ(made->queryTXAddress(), 0u);
    EXPECT_EQ(made->valueCount(), 0);
    EXPECT_EQ(made->description(), "<OSCMsg doc query '/synth*'>");
}

TEST(OSCQuery, QueriesDecodeToWhatWasAsked) {
    for (const auto type :
         {OSCQueryTypeNamespaceExploration, OSCQueryTypeDocumentation, OSCQueryTypeTypeSignature,
          OSCQueryTypeCurrentValue, OSCQueryTypeReturnTypeString}) {
        for (const std::string address : {"/", "/synth/osc1"}) {
            SCOPED_TRACE(address + " " + std::to_string(type));
            const auto sent = query(type, address);
            const auto bytes = sent->writeToNSData();
            const auto received = OSCMessage::parseRawBuffer(
                bytes->data(), static_cast<int32_t>(bytes->size()), 0x0100007F, 4000);
            ASSERT_NE(received, nullptr);
            EXPECT_EQ(received->messageType(), OSCMessageTypeQuery);
            EXPECT_EQ(received->queryType(), type);
            EXPECT_EQ(received->address(), address);
            EXPECT_EQ(received->replyAddress(), sent->replyAddress());
        }
    }
}

TEST(OSCQuery, RepliesAndErrorsForAddresses) {
    EXPECT_EQ(OSCMessage::createQueryType(OSCQueryTypeDocumentation, std::nullopt), nullptr);
    EXPECT_EQ(OSCMessage::createReplyForAddress(std::nullopt), nullptr);
    EXPECT_EQ(OSCMessage::createErrorForAddress(std::nullopt), nullptr);
    EXPECT_EQ(OSCMessage::createReplyForMessage(nullptr), nullptr);
    EXPECT_EQ(OSCMessage::createErrorForMessage(nullptr), nullptr);

    const auto reply = OSCMessage::createReplyForAddress(std::string("/synth/"));
    EXPECT_EQ(reply->messageType(), OSCMessageTypeReply);
    EXPECT_EQ(reply->address(), std::nullopt);
    EXPECT_EQ(reply->valueAtIndex(0)->stringValue(), "/synth");
    // "#reply", ",s", then the address as a string.
    EXPECT_EQ(encoded(reply), "23 72 65 70 6C 79 00 00 2C 73 00 00 2F 73 79 6E 74 68 00 00");

    // The error keeps the address as given, but is written under "#error" without it.
    const auto error = OSCMessage::createErrorForAddress(std::string("synth/"));
    EXPECT_EQ(error->messageType(), OSCMessageTypeError);
    EXPECT_EQ(error->address(), "synth/");
    EXPECT_EQ(error->valueCount(), 0);
    EXPECT_EQ(encoded(error), "23 65 72 72 6F 72 00 00 2C 00 00 00");
    EXPECT_TRUE(OSCMessage::createErrorForAddress(std::string("/a?"))->wildcardsInAddress());

    // An empty address has no normal form: a reply without a value, and no complaint.
    LogCapture capture;
    EXPECT_EQ(OSCMessage::createReplyForAddress(std::string())->valueCount(), 0);
    EXPECT_TRUE(capture.lines().empty());
}

TEST(OSCQuery, AnswersIdentifyTheirQuestion) {
    auto asked = OSCMessage::createFast(std::string("/synth"), false, OSCMessageTypeQuery,
                                        OSCQueryTypeDocumentation, 0x0100007F, 4000);
    const auto reply = OSCMessage::createReplyForMessage(asked);
    ASSERT_NE(reply, nullptr);
    EXPECT_EQ(reply->messageType(), OSCMessageTypeReply);
    EXPECT_EQ(reply->address(), std::nullopt);
    EXPECT_FALSE(reply->wildcardsInAddress());
    EXPECT_EQ(reply->queryTXAddress(), 0x0100007Fu);
    EXPECT_EQ(reply->queryTXPort(), 4000);
    ASSERT_EQ(reply->valueCount(), 1);
    EXPECT_EQ(reply->value()->stringValue(), "/synth/#documentation");
    EXPECT_EQ(encoded(reply),
              "23 72 65 70 6C 79 00 00 2C 73 00 00 2F 73 79 6E 74 68 2F 23 64 6F 63 75 6D 65 6E "
              "74 61 74 69 6F 6E 00 00 00");

    const auto error = OSCMessage::createErrorForMessage(asked);
    EXPECT_EQ(error->messageType(), OSCMessageTypeError);
    EXPECT_EQ(error->queryTXPort(), 4000);
    EXPECT_EQ(error->value()->stringValue(), "/synth/#documentation");
    EXPECT_EQ(encoded(error).substr(0, 23), "23 65 72 72 6F 72 00 00");

    // With values the question is identified by its whole encoding, carried as a blob.
    asked->addInt(3);
    const auto withValues = OSCMessage::createReplyForMessage(asked);
    ASSERT_EQ(withValues->valueCount(), 1);
    ASSERT_EQ(withValues->value()->type(), OSCValBlob);
    EXPECT_EQ(*withValues->value()->blobNSData(), *asked->writeToNSData());
    withValues->addString(std::string("answer"));
    EXPECT_EQ(withValues->valueCount(), 2);
}

TEST(OSCQueryReply, CreationNeedsQueryAndReceiver) {
    const auto asked = query(OSCQueryTypeDocumentation, "/synth");
    const auto delegate = std::make_shared<RecordingDelegate>();
    EXPECT_EQ(OSCQueryReply::createWithQuery(nullptr, 1.0, [](const auto&) {}), nullptr);
    EXPECT_EQ(OSCQueryReply::createWithQuery(asked, 1.0, OSCQueryReply::ReplyBlock{}), nullptr);
    EXPECT_EQ(OSCQueryReply::createWithQuery(nullptr, 1.0, delegate), nullptr);
    EXPECT_EQ(OSCQueryReply::createWithQuery(asked, 1.0, std::shared_ptr<OSCQueryReplyDelegate>()),
              nullptr);
    const auto pending = OSCQueryReply::createWithQuery(asked, 1.0, delegate);
    ASSERT_NE(pending, nullptr);
    EXPECT_EQ(pending->initialQuery(), asked);
    // The record does not keep its delegate alive.
    EXPECT_EQ(delegate.use_count(), 1);
}

TEST(OSCQueryReply, DispatchesToHandlerOrLivingDelegate) {
    const auto asked = query(OSCQueryTypeDocumentation, "/synth");
    const auto answer = OSCMessage::createReplyForMessage(asked);

    std::vector<std::shared_ptr<OSCMessage>> handled;
    const auto withHandler = OSCQueryReply::createWithQuery(
        asked, 1.0,
        [&handled](const std::shared_ptr<OSCMessage>& reply) { handled.push_back(reply); });
    withHandler->dispatchReply(nullptr);
    withHandler->dispatchReply(answer);
    ASSERT_EQ(handled.size(), 1u);
    EXPECT_EQ(handled[0], answer);

    auto delegate = std::make_shared<RecordingDelegate>();
    const auto withDelegate = OSCQueryReply::createWithQuery(asked, 1.0, delegate);
    withDelegate->dispatchReply(answer);
    withDelegate->dispatchReply(nullptr);
    ASSERT_EQ(delegate->replies.size(), 1u);
    EXPECT_EQ(delegate->replies[0], answer);

    // Once the delegate is gone the answer is dropped without a trace.
    delegate.reset();
    LogCapture capture;
    withDelegate->dispatchReply(answer);
    EXPECT_TRUE(capture.lines().empty());
}

TEST(OSCQueryReply, TimeoutCheck) {
    const auto asked = query(OSCQueryTypeCurrentValue, "/level");
    const Date before = dateNow();
    const auto pending = OSCQueryReply::createWithQuery(asked, 5.0, [](const auto&) {});
    const Date after = dateNow();
    EXPECT_GE(pending->timeoutDate(), before + 5.0);
    EXPECT_LE(pending->timeoutDate(), after + 5.0);

    const Date deadline = pending->timeoutDate();
    EXPECT_FALSE(pending->_timeoutCheckAgainstDate(deadline - 1.0));
    EXPECT_FALSE(pending->_timeoutCheckAgainstDate(deadline));
    EXPECT_TRUE(pending->_timeoutCheckAgainstDate(deadline + 1.0));
    EXPECT_TRUE(pending->_timeoutCheckAgainstDate(std::nullopt));
    EXPECT_TRUE(pending->_timeoutCheckAgainstDate(std::numeric_limits<double>::quiet_NaN()));

    const auto unreadable = OSCQueryReply::createWithQuery(
        asked, std::numeric_limits<double>::quiet_NaN(), [](const auto&) {});
    EXPECT_TRUE(unreadable->_timeoutCheckAgainstDate(before));
}

#include <gtest/gtest.h>

#include <limits>

#include "basics/Log.h"
#include "osc/OSCMessage.h"
#include "osc/OSCQueryReply.h"
#include "support/OscWire.h"

using namespace vitrine;

namespace {

std::string hexOf(const std::shared_ptr<OSCMessage>& message) {
    return test::hex(test::encoded(message));
}

std::shared_ptr<OSCMessage> query(OSCQueryType type, const std::string& address) {
    return OSCMessage::createQueryType(type, address);
}

struct RecordingDelegate : OSCQueryReplyDelegate {
    void oscQueryReplyReceived(const std::shared_ptr<OSCMessage>& reply) override {
        replies.push_back(reply);
    }
    std::vector<std::shared_ptr<OSCMessage>> replies;
};

}  // namespace

TEST(OSCQuery, EachKindWritesItsOwnAddress) {
    const std::vector<std::tuple<std::string, OSCMessageType, OSCQueryType, std::string>> table = {
        {"/a", OSCMessageTypeControl, OSCQueryTypeDocumentation, "/a"},
        {"/a", OSCMessageTypeQuery, OSCQueryTypeUnknown, "/a"},
        {"/a", OSCMessageTypeQuery, OSCQueryTypeNamespaceExploration, "/a/"},
        {"/", OSCMessageTypeQuery, OSCQueryTypeNamespaceExploration, "/"},
        {"/", OSCMessageTypeQuery, OSCQueryTypeDocumentation, "/#documentation"},
        {"/a", OSCMessageTypeQuery, OSCQueryTypeTypeSignature, "/a/#type-signature"},
        {"/", OSCMessageTypeQuery, OSCQueryTypeCurrentValue, "/#current-value"},
        {"/a", OSCMessageTypeQuery, OSCQueryTypeReturnTypeString, "/a/#return-type-string"},
        {"/a", OSCMessageTypeReply, OSCQueryTypeDocumentation, "#reply"},
        {"/a", OSCMessageTypeError, OSCQueryTypeUnknown, "#error"},
    };
    for (const auto& [address, type, kind, written] : table)
        EXPECT_EQ(OSCMessage::createFast(address, false, type, kind, 0, 0)->replyAddress(), written)
            << address << ' ' << type << ' ' << kind;
    // "/synth*/#documentation" (22 bytes) padded to 24, then "," and three NULs.
    EXPECT_EQ(
        hexOf(query(OSCQueryTypeDocumentation, "synth*/")),
        "2F 73 79 6E 74 68 2A 2F 23 64 6F 63 75 6D 65 6E 74 61 74 69 6F 6E 00 00 2C 00 00 00");
    EXPECT_EQ(hexOf(query(OSCQueryTypeNamespaceExploration, "/")), "2F 00 00 00 2C 00 00 00");
    EXPECT_EQ(hexOf(query(OSCQueryTypeNamespaceExploration, "a/")), "2F 61 2F 00 2C 00 00 00");
    EXPECT_TRUE(query(OSCQueryTypeDocumentation, "synth*/")->wildcardsInAddress());
    // Without an address a reply still has its own; a query has none.
    const auto reply =
        OSCMessage::createFast(std::nullopt, false, OSCMessageTypeReply, OSCQueryTypeUnknown, 0, 0);
    EXPECT_EQ(hexOf(reply), "23 72 65 70 6C 79 00 00 2C 00 00 00");
    EXPECT_EQ(hexOf(OSCMessage::createFast(std::nullopt, false, OSCMessageTypeQuery,
                                           OSCQueryTypeDocumentation, 0, 0)),
              "00 00 00 00 2C 00 00 00");
}

TEST(OSCQuery, RepliesAndErrorsIdentifyTheirQuestion) {
    EXPECT_EQ(OSCMessage::createQueryType(OSCQueryTypeDocumentation, std::nullopt), nullptr);
    EXPECT_EQ(OSCMessage::createReplyForAddress(std::nullopt), nullptr);
    EXPECT_EQ(OSCMessage::createErrorForAddress(std::nullopt), nullptr);
    EXPECT_EQ(OSCMessage::createReplyForMessage(nullptr), nullptr);
    EXPECT_EQ(OSCMessage::createErrorForMessage(nullptr), nullptr);

    // "#reply", ",s", then the normalised address as a string.
    EXPECT_EQ(hexOf(OSCMessage::createReplyForAddress(std::string("/synth/"))),
              "23 72 65 70 6C 79 00 00 2C 73 00 00 2F 73 79 6E 74 68 00 00");
    // The error keeps the address as given, but is written under "#error" without it.
    const auto error = OSCMessage::createErrorForAddress(std::string("synth/"));
    EXPECT_EQ(error->address(), "synth/");
    EXPECT_EQ(hexOf(error), "23 65 72 72 6F 72 00 00 2C 00 00 00");
    // An empty address has no normal form: a reply without a value, and no complaint.
    LogCapture capture;
    EXPECT_EQ(OSCMessage::createReplyForAddress(std::string())->valueCount(), 0);
    EXPECT_TRUE(capture.lines().empty());

    auto asked = OSCMessage::createFast(std::string("/synth"), false, OSCMessageTypeQuery,
                                        OSCQueryTypeDocumentation, 0x0100007F, 4000);
    const auto reply = OSCMessage::createReplyForMessage(asked);
    EXPECT_EQ(reply->address(), std::nullopt);
    EXPECT_EQ(reply->queryTXAddress(), 0x0100007Fu);
    EXPECT_EQ(reply->queryTXPort(), 4000);
    const auto askedError = OSCMessage::createErrorForMessage(asked);
    EXPECT_EQ(askedError->queryTXPort(), 4000);
    EXPECT_EQ(hexOf(askedError).substr(0, 35), "23 65 72 72 6F 72 00 00 2C 73 00 00");
    // With values the question is identified by its whole encoding, carried as a blob.
    asked->addInt(3);
    const auto withValues = OSCMessage::createReplyForMessage(asked);
    ASSERT_EQ(withValues->valueCount(), 1);
    ASSERT_EQ(withValues->value()->type(), OSCValBlob);
    EXPECT_EQ(*withValues->value()->blobNSData(), *asked->writeToNSData());
}

TEST(OSCQueryReply, NeedsAQueryAndAReceiverAndReachesOnlyALivingOne) {
    const auto asked = query(OSCQueryTypeDocumentation, "/synth");
    const auto answer = OSCMessage::createReplyForMessage(asked);
    auto delegate = std::make_shared<RecordingDelegate>();
    EXPECT_EQ(OSCQueryReply::createWithQuery(nullptr, 1.0, [](const auto&) {}), nullptr);
    EXPECT_EQ(OSCQueryReply::createWithQuery(asked, 1.0, OSCQueryReply::ReplyBlock{}), nullptr);
    EXPECT_EQ(OSCQueryReply::createWithQuery(nullptr, 1.0, delegate), nullptr);
    EXPECT_EQ(OSCQueryReply::createWithQuery(asked, 1.0, std::shared_ptr<OSCQueryReplyDelegate>()),
              nullptr);

    std::vector<std::shared_ptr<OSCMessage>> handled;
    const auto withHandler = OSCQueryReply::createWithQuery(
        asked, 1.0, [&](const std::shared_ptr<OSCMessage>& reply) { handled.push_back(reply); });
    withHandler->dispatchReply(nullptr);
    withHandler->dispatchReply(answer);
    EXPECT_EQ(handled, std::vector<std::shared_ptr<OSCMessage>>{answer});

    const auto withDelegate = OSCQueryReply::createWithQuery(asked, 1.0, delegate);
    EXPECT_EQ(withDelegate->initialQuery(), asked);
    EXPECT_EQ(delegate.use_count(), 1);  // not kept alive by the record
    withDelegate->dispatchReply(answer);
    withDelegate->dispatchReply(nullptr);
    EXPECT_EQ(delegate->replies, std::vector<std::shared_ptr<OSCMessage>>{answer});
    delegate.reset();
    LogCapture capture;
    withDelegate->dispatchReply(answer);  // dropped without a trace
    EXPECT_TRUE(capture.lines().empty());
}

TEST(OSCQueryReply, TimesOutAfterItsDeadlineOrAnUnreadableDate) {
    const auto asked = query(OSCQueryTypeCurrentValue, "/level");
    const Date before = dateNow();
    const auto pending = OSCQueryReply::createWithQuery(asked, 5.0, [](const auto&) {});
    EXPECT_GE(pending->timeoutDate(), before + 5.0);
    EXPECT_LE(pending->timeoutDate(), dateNow() + 5.0);
    const Date deadline = pending->timeoutDate();
    EXPECT_FALSE(pending->_timeoutCheckAgainstDate(deadline));
    EXPECT_TRUE(pending->_timeoutCheckAgainstDate(deadline + 1.0));
    EXPECT_TRUE(pending->_timeoutCheckAgainstDate(std::nullopt));
    EXPECT_TRUE(pending->_timeoutCheckAgainstDate(std::numeric_limits<double>::quiet_NaN()));
    const auto unreadable = OSCQueryReply::createWithQuery(
        asked, std::numeric_limits<double>::quiet_NaN(), [](const auto&) {});
    EXPECT_TRUE(unreadable->_timeoutCheckAgainstDate(before));
}

#include "osc/OSCQueryReply.h"

namespace vitrine {

OSCQueryReply::OSCQueryReply(Private, std::shared_ptr<OSCMessage> initialQuery, ReplyBlock handler,
                             std::shared_ptr<XJ_KBZeroingWeakRef> delegateRef, Date timeoutDate)
    : query(std::move(initialQuery)),
      replyBlock(std::move(handler)),
      replyDelegateZWR(std::move(delegateRef)),
      timeout(timeoutDate) {}

std::shared_ptr<OSCQueryReply> OSCQueryReply::createWithQuery(
    const std::shared_ptr<OSCMessage>& query, double timeout, ReplyBlock replyBlock) {
    if (!query || !replyBlock) return nullptr;
    return std::make_shared<OSCQueryReply>(Private{}, query, std::move(replyBlock), nullptr,
                                           dateNow() + timeout);
}

std::shared_ptr<OSCQueryReply> OSCQueryReply::createWithQuery(
    const std::shared_ptr<OSCMessage>& query, double timeout,
    const std::shared_ptr<OSCQueryReplyDelegate>& replyDelegate) {
    if (!query || !replyDelegate) return nullptr;
    return std::make_shared<OSCQueryReply>(Private{}, query, ReplyBlock{},
                                           XJ_KBZeroingWeakRef::refWithTarget(replyDelegate),
                                           dateNow() + timeout);
}

void OSCQueryReply::dispatchReply(const std::shared_ptr<OSCMessage>& reply) const {
    if (!reply) return;
    if (replyBlock) {
        replyBlock(reply);
        return;
    }
    if (!replyDelegateZWR) return;
    // The share keeps the delegate alive until it has returned, even if its last owner lets go
    // on another thread meanwhile.
    if (const auto delegate = replyDelegateZWR->targetAs<OSCQueryReplyDelegate>())
        delegate->oscQueryReplyReceived(reply);
}

bool OSCQueryReply::_timeoutCheckAgainstDate(std::optional<Date> date) const {
    if (!date || !query) return true;
    return !(timeout >= *date);
}

}  // namespace vitrine

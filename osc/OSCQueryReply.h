#pragma once

#include <functional>
#include <memory>
#include <optional>

#include "basics/Date.h"
#include "external/KBZeroingWeakRef/Source/XJ_KBZeroingWeakRef.h"
#include "osc/OSCMessage.h"
#include "osc/OSCQueryReplyDelegate.h"

namespace vitrine {

// A question that waits for its answer: the query, who receives the answer (a handler, or else a
// weakly held delegate), and the moment after which the question counts as unanswered.
// Thread safety: made on the asking thread, then used on the receiving port's thread; nothing
// changes after construction, and the weak reference may be read while its target dies.
class OSCQueryReply {
    struct Private {
        explicit Private() = default;
    };

public:
    using ReplyBlock = std::function<void(const std::shared_ptr<OSCMessage>& reply)>;

    // Nothing when the query or the receiver of the answer is missing. The timeout counts in
    // seconds from now.
    static std::shared_ptr<OSCQueryReply> createWithQuery(const std::shared_ptr<OSCMessage>& query,
                                                          double timeout, ReplyBlock replyBlock);
    // The delegate is not kept alive by the record.
    static std::shared_ptr<OSCQueryReply> createWithQuery(
        const std::shared_ptr<OSCMessage>& query, double timeout,
        const std::shared_ptr<OSCQueryReplyDelegate>& replyDelegate);

    OSCQueryReply(Private, std::shared_ptr<OSCMessage> query, ReplyBlock replyBlock,
                  std::shared_ptr<XJ_KBZeroingWeakRef> replyDelegateZWR, Date timeoutDate);

    const std::shared_ptr<OSCMessage>& initialQuery() const { return query; }
    Date timeoutDate() const { return timeout; }

    // Hands the answer to the handler, or to the delegate while it lives; an absent answer, or a
    // delegate that has died, drops it.
    void dispatchReply(const std::shared_ptr<OSCMessage>& reply) const;
    // True when the question has timed out by `date`, and always without a date. A timeout date
    // that cannot be compared (not a number) counts as timed out, so no record waits forever.
    bool _timeoutCheckAgainstDate(std::optional<Date> date) const;

private:
    const std::shared_ptr<OSCMessage> query;
    const ReplyBlock replyBlock;
    const std::shared_ptr<XJ_KBZeroingWeakRef> replyDelegateZWR;
    const Date timeout;
};

}  // namespace vitrine

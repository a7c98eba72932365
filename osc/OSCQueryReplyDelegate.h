#pragma once

#include <memory>

#include "basics/XJObject.h"
#include "osc/OSCMessage.h"

namespace vitrine {

// Receives the answer (a reply or an error) to a question sent through a receiving port. Held
// weakly by the pending question, so a delegate that is destroyed before the answer comes simply
// hears nothing. Derives virtually from XJObject so that a class can implement several delegate
// interfaces and still have one root.
// Thread safety: oscQueryReplyReceived runs on the receiving port's thread.
class OSCQueryReplyDelegate : public virtual XJObject {
public:
    virtual void oscQueryReplyReceived(const std::shared_ptr<OSCMessage>& reply) = 0;
};

}  // namespace vitrine

#pragma once

#include <memory>

#include "osc/OSCMessage.h"

namespace vitrine {

// Receives what a receiving port hears: every ordinary message and every query, in arrival
// order, one pass's batch at a time. Replies and errors never come here; they go to the
// question they answer. Held weakly by the port.
// Thread safety: called on the port's receiving thread with no lock of the port held, so it may
// call back into the port or its manager.
class OSCInPortDelegate {
public:
    virtual ~OSCInPortDelegate() = default;

    virtual void receivedOSCMessage(const std::shared_ptr<OSCMessage>& message) = 0;
};

}  // namespace vitrine

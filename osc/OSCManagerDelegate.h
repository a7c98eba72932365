#pragma once

#include <memory>

#include "osc/OSCMessage.h"

namespace vitrine {

// Receives every ordinary message and query that the manager's receiving ports hear. The one
// operation is optional: a delegate that does not override it hears nothing. Held weakly.
// Thread safety: called on the receiving port's thread, with no lock of the manager held.
class OSCManagerDelegate {
public:
    virtual ~OSCManagerDelegate() = default;

    virtual void receivedOSCMessage(const std::shared_ptr<OSCMessage>& /*message*/) {}
};

}  // namespace vitrine

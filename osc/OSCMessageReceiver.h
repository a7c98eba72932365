#pragma once

#include <memory>

#include "osc/OSCMessage.h"

namespace vitrine {

// What the packet and bundle decoders hand their messages to: a receiving port, or anything else
// that gathers decoded messages. The decoders call _addMessage once per message, in the order the
// messages stand in the datagram (depth first through nested bundles), on the decoding thread, and
// never dispatch anything themselves.
// Thread safety: up to the implementation; one datagram is decoded on one thread.
class OSCMessageReceiver {
public:
    virtual ~OSCMessageReceiver() = default;

    virtual void _addMessage(const std::shared_ptr<OSCMessage>& message) = 0;
};

}  // namespace vitrine

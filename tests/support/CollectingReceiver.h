#pragma once

#include <memory>
#include <vector>

#include "osc/OSCMessageReceiver.h"

namespace vitrine::test {

// Keeps every message the decoders deliver, in delivery order.
class CollectingReceiver : public OSCMessageReceiver {
public:
    void _addMessage(const std::shared_ptr<OSCMessage>& message) override {
        messages.push_back(message);
    }

    std::vector<std::shared_ptr<OSCMessage>> messages;
};

}  // namespace vitrine::test

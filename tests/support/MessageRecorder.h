#pragma once

#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "osc/OSCInPortDelegate.h"
#include "osc/OSCManagerDelegate.h"

namespace vitrine::test {

// A receiving port's (or a manager's) delegate that keeps every message with the thread it
// arrived on, and lets a test wait for a number of them.
class MessageRecorder : public OSCInPortDelegate, public OSCManagerDelegate {
public:
    struct Arrival {
        std::shared_ptr<OSCMessage> message;
        std::thread::id thread;
    };

    void receivedOSCMessage(const std::shared_ptr<OSCMessage>& message) override {
        std::function<void(const std::shared_ptr<OSCMessage>&)> hook;
        {
            std::lock_guard guard(lock);
            hook = onMessage;
        }
        if (hook) hook(message);
        {
            std::lock_guard guard(lock);
            arrivals.push_back({message, std::this_thread::get_id()});
        }
        changed.notify_all();
    }

    // Runs on the receiving thread before each message is recorded, so that a test waiting for
    // a message also sees what the hook did for it.
    void setHook(std::function<void(const std::shared_ptr<OSCMessage>&)> hook) {
        std::lock_guard guard(lock);
        onMessage = std::move(hook);
    }

    bool waitFor(size_t count, std::chrono::milliseconds timeout = std::chrono::seconds(5)) {
        std::unique_lock guard(lock);
        return changed.wait_for(guard, timeout, [&] { return arrivals.size() >= count; });
    }

    std::vector<Arrival> all() const {
        std::lock_guard guard(lock);
        return arrivals;
    }
    size_t size() const {
        std::lock_guard guard(lock);
        return arrivals.size();
    }

private:
    mutable std::mutex lock;
    std::condition_variable changed;
    std::vector<Arrival> arrivals;
    std::function<void(const std::shared_ptr<OSCMessage>&)> onMessage;
};

}  // namespace vitrine::test

#include "basics/NotificationCenter.h"

#include <algorithm>
#include <condition_variable>
#include <mutex>
#include <utility>
#include <vector>

namespace vitrine {

struct NotificationCenter::Entry {
    Entry(std::string name, bool filtered, std::weak_ptr<void> sender, Observer observer)
        : name(std::move(name)),
          filtered(filtered),
          sender(std::move(sender)),
          observer(std::move(observer)) {}

    bool matches(const Notification& notification) const {
        if (!name.empty() && name != notification.name) return false;
        if (!filtered) return true;
        return !sender.owner_before(notification.object) &&
               !notification.object.owner_before(sender);
    }

    const std::string name;
    const bool filtered;
    const std::weak_ptr<void> sender;

    std::mutex lock;
    std::condition_variable idle;
    bool removed = false;  // guarded by lock
    int calls = 0;         // calls under way on any thread; guarded by lock
    Observer observer;     // cleared by removal once no call can be running
};

struct NotificationCenter::State {
    std::mutex lock;
    std::vector<std::shared_ptr<Entry>> entries;
};

namespace {

// The entries whose observers this thread is calling right now, innermost last. Lets a removal
// made from inside an observer skip waiting for the calls of its own thread.
thread_local std::vector<const void*> callsOnThisThread;

}  // namespace

NotificationCenter::Token::Token(std::weak_ptr<State> center, std::shared_ptr<Entry> entry)
    : center(std::move(center)), entry(std::move(entry)) {}

NotificationCenter::Token& NotificationCenter::Token::operator=(Token&& other) noexcept {
    if (this != &other) {
        remove();
        center = std::move(other.center);
        entry = std::move(other.entry);
    }
    return *this;
}

void NotificationCenter::Token::remove() {
    if (!entry) return;
    Observer released;
    {
        std::unique_lock lock(entry->lock);
        entry->removed = true;
        const auto own = static_cast<int>(
            std::count(callsOnThisThread.begin(), callsOnThisThread.end(), entry.get()));
        entry->idle.wait(lock, [&] { return entry->calls == own; });
        // A call of this thread is still inside the observer; it goes with the entry instead.
        if (own == 0) released = std::move(entry->observer);
    }
    if (auto state = center.lock()) {
        std::lock_guard lock(state->lock);
        std::erase(state->entries, entry);
    }
    entry.reset();
    center.reset();
    // released goes here, outside every lock, since its captures may do anything on destruction.
}

NotificationCenter::NotificationCenter() : state(std::make_shared<State>()) {}

NotificationCenter::~NotificationCenter() = default;

NotificationCenter& NotificationCenter::defaultCenter() {
    // Never destroyed, so tokens held by static objects can still be removed at exit.
    static auto* center = new NotificationCenter;
    return *center;
}

NotificationCenter::Token NotificationCenter::addObserver(std::string name, Observer observer) {
    return add(std::move(name), false, {}, std::move(observer));
}

NotificationCenter::Token NotificationCenter::addObserver(std::string name,
                                                          std::weak_ptr<void> sender,
                                                          Observer observer) {
    return add(std::move(name), true, std::move(sender), std::move(observer));
}

NotificationCenter::Token NotificationCenter::add(std::string name, bool filtered,
                                                  std::weak_ptr<void> sender, Observer observer) {
    if (!observer) return {};
    auto entry =
        std::make_shared<Entry>(std::move(name), filtered, std::move(sender), std::move(observer));
    {
        std::lock_guard lock(state->lock);
        state->entries.push_back(entry);
    }
    return Token(state, std::move(entry));
}

void NotificationCenter::postNotification(std::string name, std::shared_ptr<void> object) {
    const Notification notification{std::move(name), std::move(object)};
    std::vector<std::shared_ptr<Entry>> targets;
    {
        std::lock_guard lock(state->lock);
        for (const auto& entry : state->entries) {
            if (entry->matches(notification)) targets.push_back(entry);
        }
    }
    for (const auto& entry : targets) {
        {
            std::lock_guard lock(entry->lock);
            if (entry->removed) continue;
            ++entry->calls;
        }
        // Ends the call's accounting also when the observer throws.
        struct CallScope {
            Entry& entry;
            explicit CallScope(Entry& e) : entry(e) { callsOnThisThread.push_back(&entry); }
            ~CallScope() {
                callsOnThisThread.pop_back();
                std::lock_guard lock(entry.lock);
                --entry.calls;
                // A remover inside an observer waits for its own calls to remain, not for none.
                entry.idle.notify_all();
            }
        } scope(*entry);
        entry->observer(notification);
    }
}

}  // namespace vitrine

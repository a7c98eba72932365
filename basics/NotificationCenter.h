#pragma once

#include <functional>
#include <memory>
#include <string>

namespace vitrine {

// One posted notification: its name and the object that posted it (empty when none).
struct Notification {
    std::string name;
    std::shared_ptr<void> object;
};

// Delivers named notifications synchronously, on the posting thread, to the observers registered
// for that name, in registration order. An observer may be limited to one sender, compared by
// ownership (any shared_ptr sharing the sender's control block matches); the centre does not
// keep that sender alive.
//
// Removal guarantee: once Token::remove (or the token's destruction) has returned, the observer
// is never called again and no call of it is running on another thread; removal waits for such
// calls to end, so do not remove an observer while holding a lock that observer takes, nor let
// two observers remove each other from posts on two threads. Removing an observer from inside a
// call on the same thread (itself or another) does not wait for that call. Posting holds no lock
// while observers run, so observers may post, add and remove. Thread safety: every operation may be
// called from any thread.
class NotificationCenter {
public:
    using Observer = std::function<void(const Notification&)>;

private:
    struct Entry;
    struct State;

public:
    // A registration. Removes its observer when destroyed; move-only.
    class Token {
    public:
        Token() = default;
        ~Token() { remove(); }
        Token(Token&& other) noexcept = default;
        Token& operator=(Token&& other) noexcept;
        Token(const Token&) = delete;
        Token& operator=(const Token&) = delete;

        void remove();
        bool active() const { return entry != nullptr; }

    private:
        friend class NotificationCenter;
        Token(std::weak_ptr<State> center, std::shared_ptr<Entry> entry);
        std::weak_ptr<State> center;
        std::shared_ptr<Entry> entry;
    };

    NotificationCenter();
    ~NotificationCenter();
    NotificationCenter(const NotificationCenter&) = delete;
    NotificationCenter& operator=(const NotificationCenter&) = delete;

    // The process-wide centre; lives until the process ends.
    static NotificationCenter& defaultCenter();

    // An empty name observes every notification. An empty observer registers nothing.
    [[nodiscard]] Token addObserver(std::string name, Observer observer);
    // Only notifications posted by sender; a sender that has died matches nothing any more.
    [[nodiscard]] Token addObserver(std::string name, std::weak_ptr<void> sender,
                                    Observer observer);

    void postNotification(std::string name, std::shared_ptr<void> object = {});

private:
    Token add(std::string name, bool filtered, std::weak_ptr<void> sender, Observer observer);

    std::shared_ptr<State> state;
};

}  // namespace vitrine

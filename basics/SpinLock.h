#pragma once

#include <atomic>
#include <thread>

namespace vitrine {

// The lock for state of a few fields (a stopwatch's start instant, a loop's flags), held only
// for those field accesses, never across a call out or a sleep. Meets Lockable, so it works
// with std::lock_guard and std::unique_lock.
// Thread safety: all operations may be called from any thread; not recursive.
class SpinLock {
public:
    SpinLock() = default;
    SpinLock(const SpinLock&) = delete;
    SpinLock& operator=(const SpinLock&) = delete;

    void lock() noexcept {
        while (held.exchange(true, std::memory_order_acquire)) {
            // Spin on a plain load so waiters do not keep stealing the cache line; yield so a
            // holder that was preempted gets the core back on an oversubscribed machine.
            while (held.load(std::memory_order_relaxed)) std::this_thread::yield();
        }
    }
    bool try_lock() noexcept { return !held.exchange(true, std::memory_order_acquire); }
    void unlock() noexcept { held.store(false, std::memory_order_release); }

private:
    std::atomic<bool> held{false};
};

}  // namespace vitrine

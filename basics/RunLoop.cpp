#include "basics/RunLoop.h"

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>
#include <utility>
#include <vector>

namespace vitrine {

namespace {

using Clock = std::chrono::steady_clock;

// A predicate may depend on other threads' state, so it is re-checked at least this often.
constexpr auto kPredicatePoll = std::chrono::milliseconds(5);

// The shortest interval keeps a zero or negative one from spinning; the longest keeps the
// clock arithmetic from overflowing.
constexpr double kShortestInterval = 1.0e-4;
constexpr double kLongestInterval = 1.0e9;

}  // namespace

struct RunLoop::State {
    std::mutex lock;
    std::condition_variable wake;
    std::deque<Work> queue;
    std::vector<std::shared_ptr<Timer>> timers;
    bool stopRequested = false;
    std::atomic<std::thread::id> mainThread{std::this_thread::get_id()};
};

class RunLoop::Timer final : public MainLoopTimer {
public:
    Timer(std::weak_ptr<State> loop, Clock::duration interval, Work action)
        : loop(std::move(loop)),
          interval(interval),
          nextFire(Clock::now() + interval),
          action(std::move(action)) {}

    void invalidate() override {
        Work released;
        {
            std::lock_guard guard(lock);
            valid = false;
            released = std::move(action);
        }
        // The loop drops the timer at its next turn.
        if (auto state = loop.lock()) {
            std::lock_guard guard(state->lock);
            state->wake.notify_all();
        }
    }

    bool isValid() const override {
        std::lock_guard guard(lock);
        return valid;
    }

    // The action as it stands, or empty once invalidated. A copy, so that invalidation from
    // inside the action cannot destroy the callable that is running.
    Work actionToRun() const {
        std::lock_guard guard(lock);
        return valid ? action : Work{};
    }

    const std::weak_ptr<State> loop;
    const Clock::duration interval;
    Clock::time_point nextFire;  // guarded by the loop's lock

private:
    mutable std::mutex lock;
    bool valid = true;
    Work action;
};

std::shared_ptr<RunLoop> RunLoop::create() {
    return std::make_shared<RunLoop>();
}

RunLoop::RunLoop() : state(std::make_shared<State>()) {}

RunLoop::~RunLoop() = default;

void RunLoop::post(Work work) {
    if (!work) return;
    std::lock_guard guard(state->lock);
    state->queue.push_back(std::move(work));
    state->wake.notify_all();
}

bool RunLoop::isMainThread() const {
    return state->mainThread.load() == std::this_thread::get_id();
}

std::shared_ptr<MainLoopTimer> RunLoop::scheduleRepeatingTimer(
    std::chrono::duration<double> interval, Work action) {
    if (!action) return nullptr;
    double seconds = interval.count();
    if (!(seconds >= kShortestInterval)) seconds = kShortestInterval;
    seconds = std::min(seconds, kLongestInterval);
    auto timer = std::make_shared<Timer>(
        state, std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(seconds)),
        std::move(action));
    std::lock_guard guard(state->lock);
    state->timers.push_back(timer);
    state->wake.notify_all();
    return timer;
}

void RunLoop::run() {
    runTurns(nullptr, nullptr);
}

void RunLoop::runFor(Duration timeout) {
    const auto deadline = Clock::now() + timeout;
    runTurns(nullptr, &deadline);
}

bool RunLoop::runUntil(const std::function<bool()>& predicate, Duration timeout) {
    const auto deadline = Clock::now() + timeout;
    return runTurns(predicate ? &predicate : nullptr, &deadline);
}

void RunLoop::stop() {
    std::lock_guard guard(state->lock);
    state->stopRequested = true;
    state->wake.notify_all();
}

bool RunLoop::runTurns(const std::function<bool()>* predicate, const Clock::time_point* deadline) {
    state->mainThread.store(std::this_thread::get_id());
    for (;;) {
        if (predicate != nullptr && (*predicate)()) return true;

        // Declared before the lock so that what they release goes outside it.
        std::vector<std::shared_ptr<Timer>> dropped;
        Work work;
        std::unique_lock lock(state->lock);
        if (state->stopRequested) {
            state->stopRequested = false;
            return false;
        }
        if (!state->queue.empty()) {
            work = std::move(state->queue.front());
            state->queue.pop_front();
            lock.unlock();
            work();
            continue;
        }

        auto& timers = state->timers;
        const auto firstValid = std::stable_partition(
            timers.begin(), timers.end(), [](const auto& timer) { return !timer->isValid(); });
        dropped.assign(timers.begin(), firstValid);
        timers.erase(timers.begin(), firstValid);

        const auto now = Clock::now();
        const auto earliest = std::min_element(
            timers.begin(), timers.end(),
            [](const auto& a, const auto& b) { return a->nextFire < b->nextFire; });
        if (earliest != timers.end() && (*earliest)->nextFire <= now) {
            const auto timer = *earliest;
            // Fires missed while the loop was busy are skipped rather than run in a burst.
            timer->nextFire += timer->interval;
            if (timer->nextFire <= now) timer->nextFire = now + timer->interval;
            lock.unlock();
            if (auto action = timer->actionToRun()) action();
            continue;
        }

        if (deadline != nullptr && now >= *deadline) return false;
        auto wakeAt = Clock::time_point::max();
        if (earliest != timers.end()) wakeAt = (*earliest)->nextFire;
        if (deadline != nullptr) wakeAt = std::min(wakeAt, *deadline);
        if (predicate != nullptr) wakeAt = std::min(wakeAt, now + kPredicatePoll);
        if (wakeAt == Clock::time_point::max()) {
            state->wake.wait(lock);
        } else {
            state->wake.wait_until(lock, wakeAt);
        }
    }
}

}  // namespace vitrine

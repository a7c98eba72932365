#include "app/program/AsioMainLoop.h"

#include <boost/asio/executor_work_guard.hpp>
#include <boost/asio/post.hpp>
#include <boost/asio/steady_timer.hpp>

#include <algorithm>
#include <mutex>

namespace vitrine {

namespace {

using Clock = std::chrono::steady_clock;

// A zero or negative interval must not spin; a huge one must not overflow the clock.
constexpr double shortestInterval = 1.0e-4;
constexpr double longestInterval = 1.0e9;

}  // namespace

// The asio timer is touched only on the loop's thread; the action and the valid flag may be
// touched from any thread under `lock`. A pending wait holds the timer, so the loop keeps the
// timer (and what its action holds) until it is invalidated or the context goes away.
class AsioMainLoop::Timer final : public MainLoopTimer, public std::enable_shared_from_this<Timer> {
public:
    Timer(boost::asio::io_context& io, Clock::duration interval, Work action)
        : timer(io), interval(interval), action(std::move(action)) {}

    void start() {
        boost::asio::post(timer.get_executor(), [self = shared_from_this()] {
            self->nextFire = Clock::now() + self->interval;
            self->arm();
        });
    }

    void invalidate() override {
        Work released;
        {
            std::lock_guard guard(lock);
            if (!valid) return;
            valid = false;
            released = std::move(action);
        }
        boost::asio::post(timer.get_executor(),
                          [self = shared_from_this()] { self->timer.cancel(); });
    }

    bool isValid() const override {
        std::lock_guard guard(lock);
        return valid;
    }

private:
    void arm() {
        timer.expires_at(nextFire);
        timer.async_wait([self = shared_from_this()](const boost::system::error_code& error) {
            if (error) return;
            self->fire();
        });
    }

    void fire() {
        Work toRun;
        {
            std::lock_guard guard(lock);
            if (!valid) return;
            toRun = action;  // a copy: the action may invalidate the timer while it runs
        }
        // A late loop skips the fires it missed rather than firing them back to back.
        nextFire = std::max(nextFire + interval, Clock::now());
        arm();
        toRun();
    }

    boost::asio::steady_timer timer;
    const Clock::duration interval;
    Clock::time_point nextFire;
    mutable std::mutex lock;
    bool valid = true;
    Work action;
};

AsioMainLoop::AsioMainLoop(boost::asio::io_context& context)
    : io(context), mainThread(std::this_thread::get_id()) {}

void AsioMainLoop::post(Work work) {
    if (work) boost::asio::post(io, std::move(work));
}

bool AsioMainLoop::isMainThread() const {
    return mainThread.load() == std::this_thread::get_id();
}

std::shared_ptr<MainLoopTimer> AsioMainLoop::scheduleRepeatingTimer(
    std::chrono::duration<double> interval, Work action) {
    if (!action) return nullptr;
    double seconds = interval.count();
    if (!(seconds >= shortestInterval)) seconds = shortestInterval;  // NaN included
    if (seconds > longestInterval) seconds = longestInterval;
    auto timer = std::make_shared<Timer>(
        io, std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(seconds)),
        std::move(action));
    timer->start();
    return timer;
}

void AsioMainLoop::run() {
    mainThread = std::this_thread::get_id();
    const auto keepRunning = boost::asio::make_work_guard(io);
    io.run();
}

}  // namespace vitrine

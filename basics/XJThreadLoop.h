#pragma once

#include <atomic>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <stop_token>
#include <string>
#include <thread>

#include "basics/SpinLock.h"

namespace vitrine {

// Runs a callback over and over on a thread of its own, one pass per interval (start to start):
// each pass is timed and the thread sleeps for what is left of the interval, never longer than
// maxInterval at a time. A pass that throws is logged and followed at once by the next one.
// While its thread runs, the thread holds a share of the loop, so the loop outlives its thread.
// Thread safety: every operation may be called from any thread, except that stopAndWaitUntilDone
// from the loop's own thread only requests the stop (it cannot wait for itself).
class XJThreadLoop : public std::enable_shared_from_this<XJThreadLoop> {
public:
    using Callback = std::function<void()>;

    // Empty when callback is empty. The interval is stored as given (not bounded by maxInterval).
    static std::shared_ptr<XJThreadLoop> createWithTimeInterval(double interval, Callback callback);
    // A loop whose passes run threadProc; meant for a specialisation.
    static std::shared_ptr<XJThreadLoop> createWithTimeInterval(double interval);

    virtual ~XJThreadLoop();
    XJThreadLoop(const XJThreadLoop&) = delete;
    XJThreadLoop& operator=(const XJThreadLoop&) = delete;

    // Launches one thread unless a run is under way; clears paused. The run counts as running
    // from the moment start returns, so a later stop always ends it.
    void start();
    // While paused, passes keep their timing but skip the callback.
    void pause();
    void resume();
    // Ends the run after the current pass; a sleep under way is cut short. Returns at once.
    void stop();
    // stop, then waits until the loop's thread has ended.
    void stopAndWaitUntilDone();
    bool running() const;

    double interval() const { return intervalValue.load(); }
    // Stores the smaller of the value and maxInterval.
    void setInterval(double seconds);
    double maxInterval() const { return maxIntervalValue.load(); }
    // Changes neither the stored interval nor a sleep under way.
    void setMaxInterval(double seconds) { maxIntervalValue.store(seconds); }

    std::string description() const;

protected:
    // The loop must be owned by a std::shared_ptr (make_shared) for start to run it.
    explicit XJThreadLoop(double interval, Callback callback = {});

    // The per-pass work of a loop without callback; does nothing here.
    virtual void threadProc() {}
    // Asks for the highest scheduling priority within the thread's policy; false if refused.
    virtual bool raiseThreadPriority();

private:
    void threadCallback(std::stop_token stopToken);
    void sleepFor(double seconds, const std::stop_token& stopToken);
    void logPassException(const char* what) const;

    std::atomic<double> intervalValue;
    std::atomic<double> maxIntervalValue{1.0};

    mutable SpinLock valLock;
    bool runningFlag = false;
    bool bail = false;
    bool paused = false;
    bool executingCallback = false;
    std::stop_source runStop;  // the current run's; guarded by valLock

    const Callback callback;

    // Serialises launching and joining; never held by the loop's thread.
    std::mutex threadLock;
    std::jthread thread;

    std::mutex sleepLock;
    std::condition_variable_any sleepCondition;
};

}  // namespace vitrine

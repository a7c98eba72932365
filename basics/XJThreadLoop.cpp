#include "basics/XJThreadLoop.h"

#include <cxxabi.h>
#include <pthread.h>
#include <sched.h>

#include <chrono>
#include <cstdlib>
#include <exception>
#include <utility>

#include "basics/Log.h"
#include "basics/XJAssertionHandler.h"

namespace vitrine {

namespace {

constexpr const char* kThreadBodyName = "-[XJThreadLoop threadCallback]";
// Bounds one sleep so the conversion to a clock duration cannot overflow.
constexpr double kLongestSleep = 1.0e6;

// The loop whose thread this is. Lets start and stopAndWaitUntilDone called from a callback
// stay clear of threadLock, which another thread may hold while joining this very thread.
thread_local const XJThreadLoop* loopOfThisThread = nullptr;

std::string demangled(const char* name) {
    int status = 0;
    char* readable = abi::__cxa_demangle(name, nullptr, nullptr, &status);
    std::string out = (status == 0 && readable != nullptr) ? readable : name;
    std::free(readable);
    return out;
}

}  // namespace

std::shared_ptr<XJThreadLoop> XJThreadLoop::createWithTimeInterval(double interval,
                                                                   Callback callback) {
    if (!callback) return nullptr;
    return std::shared_ptr<XJThreadLoop>(new XJThreadLoop(interval, std::move(callback)));
}

std::shared_ptr<XJThreadLoop> XJThreadLoop::createWithTimeInterval(double interval) {
    return std::shared_ptr<XJThreadLoop>(new XJThreadLoop(interval));
}

XJThreadLoop::XJThreadLoop(double interval, Callback callback)
    : intervalValue(interval), callback(std::move(callback)) {}

XJThreadLoop::~XJThreadLoop() {
    std::lock_guard guard(threadLock);
    if (!thread.joinable()) return;
    // The thread holds a share of the loop, so the last share can only be dropped here by the
    // thread itself on its way out; it must not join itself.
    if (thread.get_id() == std::this_thread::get_id()) {
        thread.detach();
    } else {
        stop();
        thread.join();
    }
}

void XJThreadLoop::start() {
    // On the loop's own thread the run is under way, so there is nothing to do.
    if (loopOfThisThread == this || running()) return;
    auto self = weak_from_this().lock();
    if (!self) return;
    std::lock_guard guard(threadLock);
    std::stop_source source;
    {
        std::lock_guard values(valLock);
        if (runningFlag) return;
        // Marking the run here rather than on the new thread is what keeps a second start from
        // launching a second thread and a stop made after start from being lost.
        runningFlag = true;
        bail = false;
        paused = false;
        runStop = source;
    }
    // The previous run's thread has left its loop but may still be on its way out.
    if (thread.joinable()) thread.join();
    thread = std::jthread(
        [self = std::move(self), token = source.get_token()] { self->threadCallback(token); });
}

void XJThreadLoop::pause() {
    std::lock_guard values(valLock);
    paused = true;
}

void XJThreadLoop::resume() {
    std::lock_guard values(valLock);
    paused = false;
}

void XJThreadLoop::stop() {
    std::stop_source source;
    {
        std::lock_guard values(valLock);
        if (!runningFlag) return;
        bail = true;
        source = runStop;
    }
    // Wakes the loop's sleep; done outside valLock since it takes the sleep's mutex.
    source.request_stop();
}

void XJThreadLoop::stopAndWaitUntilDone() {
    stop();
    if (loopOfThisThread == this) return;
    std::lock_guard guard(threadLock);
    if (thread.joinable()) thread.join();
}

bool XJThreadLoop::running() const {
    std::lock_guard values(valLock);
    return runningFlag;
}

void XJThreadLoop::setInterval(double seconds) {
    const double cap = maxIntervalValue.load();
    intervalValue.store(cap < seconds ? cap : seconds);
}

std::string XJThreadLoop::description() const {
    return stringWithFormat("<XJThreadLoop: %p>", static_cast<const void*>(this));
}

bool XJThreadLoop::raiseThreadPriority() {
    // The platform's 0.0-1.0 scale maps onto the priority range of the thread's own policy;
    // 1.0 is that range's top. Under the default time-sharing policy the range is a single
    // value, so the thread is already there.
    int policy = 0;
    sched_param param{};
    if (pthread_getschedparam(pthread_self(), &policy, &param) != 0) return false;
    const int highest = sched_get_priority_max(policy);
    if (highest < 0) return false;
    if (param.sched_priority >= highest) return true;
    param.sched_priority = highest;
    return pthread_setschedparam(pthread_self(), policy, &param) == 0;
}

void XJThreadLoop::logPassException(const char* what) const {
    if (callback) {
        const std::string target = demangled(callback.target_type().name());
        Log::write("\t\t%s caught exception %s on %s, target is %s", kThreadBodyName, what,
                   description().c_str(), target.c_str());
    } else {
        Log::write("\t\t%s caught exception %s on %s", kThreadBodyName, what,
                   description().c_str());
    }
}

void XJThreadLoop::sleepFor(double seconds, const std::stop_token& stopToken) {
    if (!(seconds > 0)) return;
    if (seconds > kLongestSleep) seconds = kLongestSleep;
    std::unique_lock lock(sleepLock);
    sleepCondition.wait_for(lock, stopToken, std::chrono::duration<double>(seconds),
                            [] { return false; });
}

void XJThreadLoop::threadCallback(std::stop_token stopToken) {
    loopOfThisThread = this;
    XJAssertionHandler::setCurrentHandler(std::make_shared<XJAssertionHandler>());
    if (!raiseThreadPriority()) Log::write("\terror setting thread priority to 1.0");

    using Clock = std::chrono::steady_clock;
    for (;;) {
        const auto passStart = Clock::now();
        bool failed = false;
        try {
            bool skip = false;
            {
                std::lock_guard values(valLock);
                skip = paused;
                executingCallback = !skip;
            }
            if (!skip) {
                // Cleared also when the pass throws.
                struct ClearExecuting {
                    XJThreadLoop& loop;
                    ~ClearExecuting() {
                        std::lock_guard values(loop.valLock);
                        loop.executingCallback = false;
                    }
                } clear{*this};
                if (callback) {
                    callback();
                } else {
                    threadProc();
                }
            }
        } catch (const std::exception& exception) {
            logPassException(exception.what());
            failed = true;
        } catch (...) {
            logPassException("(unknown exception)");
            failed = true;
        }

        // A failed pass goes straight on with the next one.
        if (!failed) {
            const double elapsed = std::chrono::duration<double>(Clock::now() - passStart).count();
            double sleep = intervalValue.load() - elapsed;
            const double cap = maxIntervalValue.load();
            if (cap < sleep) sleep = cap;
            sleepFor(sleep, stopToken);
        }

        std::lock_guard values(valLock);
        if (bail || !runningFlag) break;
    }

    XJAssertionHandler::setCurrentHandler(nullptr);
    loopOfThisThread = nullptr;
    std::lock_guard values(valLock);
    runningFlag = false;
}

}  // namespace vitrine

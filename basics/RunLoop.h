#pragma once

#include <chrono>
#include <functional>
#include <memory>

#include "basics/MainLoop.h"

namespace vitrine {

// A plain main loop for tools and tests: runs posted work in order and fires timers on whichever
// thread runs it, and that thread counts as the main thread (before the first run, the thread
// that created the loop does). Posted work and timer actions run with no lock held; an exception
// they throw leaves the run and reaches its caller.
// Thread safety: every operation may be called from any thread; one thread runs it at a time.
class RunLoop final : public MainLoop {
public:
    using Duration = std::chrono::steady_clock::duration;

    static std::shared_ptr<RunLoop> create();
    RunLoop();
    ~RunLoop() override;
    RunLoop(const RunLoop&) = delete;
    RunLoop& operator=(const RunLoop&) = delete;

    void post(Work work) override;
    bool isMainThread() const override;
    std::shared_ptr<MainLoopTimer> scheduleRepeatingTimer(std::chrono::duration<double> interval,
                                                          Work action) override;

    // Until stop.
    void run();
    // Until stop or until timeout has passed.
    void runFor(Duration timeout);
    // Until predicate holds (true), stop or timeout (false). The predicate runs on this thread
    // after each piece of work and at least every few milliseconds.
    bool runUntil(const std::function<bool()>& predicate, Duration timeout);
    // Ends the run under way; a stop made while no run is under way ends the next run at once,
    // so a stop racing with the start of a run is never lost.
    void stop();

private:
    struct State;
    class Timer;
    bool runTurns(const std::function<bool()>* predicate,
                  const std::chrono::steady_clock::time_point* deadline);

    std::shared_ptr<State> state;
};

}  // namespace vitrine

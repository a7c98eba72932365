#pragma once

#include <chrono>
#include <functional>
#include <memory>

#include "basics/MainLoopTimer.h"

namespace vitrine {

// The main thread and its event loop, as the library sees them: work that must run on the main
// thread is posted here, and repeating timers fire here. The application installs its own loop
// (its web server's event loop); until then the current loop is a plain RunLoop whose main thread
// is the thread that started the process, and which does nothing until someone runs it.
// Thread safety: every operation may be called from any thread.
class MainLoop {
public:
    using Work = std::function<void()>;

    virtual ~MainLoop() = default;

    // Runs work later on the main thread, in posting order. Empty work is ignored.
    virtual void post(Work work) = 0;
    virtual bool isMainThread() const = 0;
    // Calls action on the main thread every interval until the timer is invalidated. The first
    // call comes one interval from now. Empty for an empty action.
    virtual std::shared_ptr<MainLoopTimer> scheduleRepeatingTimer(
        std::chrono::duration<double> interval, Work action) = 0;

    // The process-wide loop; never empty.
    static std::shared_ptr<MainLoop> current();
    // Installs the process-wide loop (empty puts the default back); returns the previous one.
    static std::shared_ptr<MainLoop> setCurrent(std::shared_ptr<MainLoop> loop);
};

}  // namespace vitrine

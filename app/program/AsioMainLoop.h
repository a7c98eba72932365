#pragma once

#include <boost/asio/io_context.hpp>

#include <atomic>
#include <chrono>
#include <memory>
#include <thread>

#include "basics/MainLoop.h"

namespace vitrine {

// The main loop of the controller process: the web server's io_context, so that posted work,
// timers, web sessions and touches from the pages all run on the one thread that runs it.
// Thread safety: every operation may be called from any thread; one thread runs the context.
class AsioMainLoop final : public MainLoop {
public:
    // The thread that creates the loop counts as the main thread until run says otherwise.
    explicit AsioMainLoop(boost::asio::io_context& context);

    void post(Work work) override;
    bool isMainThread() const override;
    std::shared_ptr<MainLoopTimer> scheduleRepeatingTimer(std::chrono::duration<double> interval,
                                                          Work action) override;

    // Runs the context on this thread, which becomes the main thread, until it is stopped.
    void run();
    boost::asio::io_context& context() { return io; }

private:
    class Timer;

    boost::asio::io_context& io;
    std::atomic<std::thread::id> mainThread;
};

}  // namespace vitrine

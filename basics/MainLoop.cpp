#include "basics/MainLoop.h"

#include <mutex>
#include <utility>

#include "basics/RunLoop.h"

namespace vitrine {

namespace {

struct Installed {
    std::mutex lock;
    std::shared_ptr<MainLoop> loop;
    std::shared_ptr<MainLoop> fallback;
};

Installed& installed() {
    // Never destroyed: loops may be asked for from static destructors and detached threads.
    static auto* state = [] {
        auto* created = new Installed;
        created->fallback = RunLoop::create();
        created->loop = created->fallback;
        return created;
    }();
    return *state;
}

// Created during static initialisation, so the default loop's main thread is the process's
// first thread rather than whichever thread happens to ask first.
[[maybe_unused]] const bool defaultLoopCreated = (installed(), true);

}  // namespace

std::shared_ptr<MainLoop> MainLoop::current() {
    auto& state = installed();
    std::lock_guard guard(state.lock);
    return state.loop;
}

std::shared_ptr<MainLoop> MainLoop::setCurrent(std::shared_ptr<MainLoop> loop) {
    auto& state = installed();
    std::lock_guard guard(state.lock);
    return std::exchange(state.loop, loop ? std::move(loop) : state.fallback);
}

}  // namespace vitrine

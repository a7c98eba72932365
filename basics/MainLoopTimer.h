#pragma once

namespace vitrine {

// A repeating timer scheduled on the main loop. The loop keeps the timer until it is
// invalidated, so dropping the handle does not stop it.
// Thread safety: every operation may be called from any thread.
class MainLoopTimer {
public:
    virtual ~MainLoopTimer() = default;

    // No fire starts after this returns; the timer's action is released. Idempotent.
    virtual void invalidate() = 0;
    virtual bool isValid() const = 0;
};

}  // namespace vitrine

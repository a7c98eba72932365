#pragma once

namespace vitrine {

// Anything on the control screen that can trigger an action. Actions receive the triggering
// widget as their sender and ignore it, so this base only fixes the type they take.
// The widget interfaces are implemented by the screen's front end (the web front end, or the
// in-memory MemoryWidgetSet of tests and tools). Thread safety: widgets are used on the
// user-interface thread only.
class Widget {
public:
    virtual ~Widget() = default;

protected:
    Widget() = default;
    Widget(const Widget&) = default;
    Widget& operator=(const Widget&) = default;
};

}  // namespace vitrine

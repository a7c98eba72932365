#pragma once

#include <functional>
#include <utility>

namespace vitrine {

// Anything on the control screen that can trigger an action. Actions receive the triggering
// widget as their sender and ignore it, so this base only fixes the type they take.
//
// The toolkit's widgets keep what they show themselves; a front end draws them and learns of each
// change through the change handler, so the web pages and the in-memory screens of tests and
// tools share one set of widgets. A setting equal to the current one is no change and calls
// nothing, so that a front end hears of changes and not of repeated settings (the indicator is
// set twice a second).
// Thread safety: widgets are used on the user-interface thread only.
class Widget {
public:
    virtual ~Widget() = default;

    // Called after each change of what the widget shows; the front end that draws it sets it.
    void setChangeHandler(std::function<void()> handler) { changeHandler = std::move(handler); }

protected:
    Widget() = default;
    Widget(const Widget&) = default;
    Widget& operator=(const Widget&) = default;

    void noteChange() const {
        if (changeHandler) changeHandler();
    }

private:
    std::function<void()> changeHandler;
};

}  // namespace vitrine

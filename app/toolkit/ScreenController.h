#pragma once

namespace vitrine {

// The toolkit's part of a screen controller: the hooks the application loop calls once the
// screen's layout is loaded and when the system runs short of memory. A controller that
// overrides them calls these first; they do nothing themselves.
class ScreenController {
public:
    virtual ~ScreenController() = default;

    virtual void viewDidLoad() {}
    virtual void didReceiveMemoryWarning() {}

protected:
    ScreenController() = default;
    ScreenController(const ScreenController&) = default;
    ScreenController& operator=(const ScreenController&) = default;
};

}  // namespace vitrine

#pragma once

#include <memory>

#include "app/controller/ControlScreen.h"
#include "app/toolkit/ScreenController.h"

namespace vitrine {

// The controller of the application's main screen ("Main" layout). The application loop binds
// the layout's widgets to its outlets, then calls viewDidLoad, which opens the ports and starts
// the monitor. Create it with std::make_shared.
class ViewController : public ControlScreen, public ScreenController {
public:
    ViewController() = default;
    explicit ViewController(ShowcaseEndpoints showcase) { endpoints = std::move(showcase); }

    void viewDidLoad() override;
    void didReceiveMemoryWarning() override;
};

}  // namespace vitrine

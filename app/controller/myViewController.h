#pragma once

#include "app/toolkit/ScreenController.h"

namespace vitrine {

// A screen controller with nothing of its own; a screen that hosts a MyView needs no more.
class myViewController : public ScreenController {
public:
    void viewDidLoad() override { ScreenController::viewDidLoad(); }
    void didReceiveMemoryWarning() override { ScreenController::didReceiveMemoryWarning(); }
};

}  // namespace vitrine

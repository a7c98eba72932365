#include "app/controller/ViewController.h"

namespace vitrine {

void ViewController::viewDidLoad() {
    ensureAddressSpaceExists();
    createColours();
    ScreenController::viewDidLoad();
    rotateFader(false);
    openPorts();
    scheduleTimer();
}

void ViewController::didReceiveMemoryWarning() {
    ScreenController::didReceiveMemoryWarning();
}

}  // namespace vitrine

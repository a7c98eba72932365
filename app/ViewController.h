#pragma once

#include "app/SceneControl.h"

namespace vitrine {

// The controller of the application's main screen. Its scenes, switch and slider are
// SceneControl's; only its set-up is its own.
class ViewController : public SceneControl {
public:
    ViewController() = default;
};

}  // namespace vitrine

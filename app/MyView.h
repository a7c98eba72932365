#pragma once

#include "app/SceneControl.h"

namespace vitrine {

// A self-contained control screen that brings its own layout. Its scenes, switch and slider are
// SceneControl's; only its set-up is its own.
class MyView : public SceneControl {
public:
    MyView() = default;
};

}  // namespace vitrine

#pragma once

#include <memory>

#include "app/toolkit/ScreenController.h"

namespace vitrine {

// The application's one window: it shows its root screen.
// Thread safety: main thread only.
class Window {
public:
    std::shared_ptr<ScreenController> rootViewController;
};

}  // namespace vitrine

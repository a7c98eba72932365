#pragma once

#include "app/toolkit/ViewGeometry.h"
#include "app/toolkit/Widget.h"

namespace vitrine {

// A view that holds other views: the root of a layout that a view loads into itself.
class View : public Widget {
public:
    Rect frame() const { return rect; }
    void setFrame(const Rect& frame) { rect = frame; }

private:
    Rect rect;
};

}  // namespace vitrine

#pragma once

#include <memory>
#include <vector>

#include "app/toolkit/ViewGeometry.h"
#include "app/toolkit/Widget.h"

namespace vitrine {

// A view that holds other views: the root of a layout that a view loads into itself.
class View : public Widget {
public:
    virtual Rect frame() const = 0;
    virtual void setFrame(const Rect& frame) = 0;
};

}  // namespace vitrine

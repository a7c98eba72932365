#pragma once

#include <string>

#include "app/toolkit/Widget.h"
#include "osc/OSCColor.h"

namespace vitrine {

// A titled item of the screen's bar: the connection indicator.
class BarItem : public Widget {
public:
    virtual const std::string& title() const = 0;
    virtual void setTitle(const std::string& title) = 0;
    virtual const OSCColor& tintColor() const = 0;
    virtual void setTintColor(const OSCColor& colour) = 0;
};

}  // namespace vitrine

#pragma once

#include "app/toolkit/Widget.h"

namespace vitrine {

// The master on/off switch.
class Switch : public Widget {
public:
    virtual bool isOn() const = 0;
    // Changes the state shown without triggering the switch's action (switchVideo); only a
    // touch by the operator does that.
    virtual void setOn(bool on) = 0;
};

}  // namespace vitrine

#pragma once

#include "app/toolkit/Widget.h"

namespace vitrine {

// The master on/off switch.
class Switch : public Widget {
public:
    explicit Switch(bool on = false) : on(on) {}

    bool isOn() const { return on; }
    // Changes the state shown without triggering the switch's action (switchVideo); only a
    // touch by the operator does that.
    void setOn(bool value) {
        if (value == on) return;
        on = value;
        noteChange();
    }

private:
    bool on;
};

}  // namespace vitrine

#pragma once

#include "app/toolkit/Widget.h"

namespace vitrine {

// A control the master switch can lock: a scene button (a plain Control), or the dimmer slider.
// A disabled control ignores touches and never triggers its action; that is the front end's duty.
class Control : public Widget {
public:
    explicit Control(bool enabled = true) : enabled(enabled) {}

    void setEnabled(bool value) {
        if (value == enabled) return;
        enabled = value;
        noteChange();
    }
    bool isEnabled() const { return enabled; }

private:
    bool enabled;
};

}  // namespace vitrine

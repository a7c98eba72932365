#pragma once

#include "app/toolkit/Widget.h"

namespace vitrine {

// A control the master switch can lock: a scene button, or the dimmer slider. A disabled control
// ignores touches and never triggers its action; that is the front end's duty.
class Control : public Widget {
public:
    virtual void setEnabled(bool enabled) = 0;
    virtual bool isEnabled() const = 0;
};

}  // namespace vitrine

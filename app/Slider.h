#pragma once

#include "app/Control.h"

namespace vitrine {

// The dimmer of the whole-room scene. Its range is the front end's choice; 0.0 to 1.0 maps to
// channel levels 0 to 255.
class Slider : public Control {
public:
    virtual float value() const = 0;
};

}  // namespace vitrine

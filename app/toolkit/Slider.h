#pragma once

#include "app/toolkit/Control.h"
#include "app/toolkit/ViewGeometry.h"

namespace vitrine {

// The dimmer of the whole-room scene. Its range is the front end's choice; 0.0 to 1.0 maps to
// channel levels 0 to 255. The layouts lay it out lying down and the controller's set-up turns
// it upright, so where it sits is part of the widget; front ends that draw it their own way
// keep the geometry here for the controller.
class Slider : public Control {
public:
    explicit Slider(bool enabled = true, float value = 1.0f) : Control(enabled), current(value) {}

    float value() const { return current; }
    // Where a touch moved it; only the front end sets it.
    void setValue(float value) {
        if (value == current) return;
        current = value;
        noteChange();
    }

    Rect frame() const { return geometry.frame(); }
    void setFrame(const Rect& frame) { geometry.setFrame(frame); }
    // The rotation about the slider's centre, in radians; 0 as laid out.
    double transform() const { return geometry.rotation(); }
    void setTransform(double rotation) { geometry.setRotation(rotation); }

private:
    float current;
    // Lying down, as the layouts draw it.
    ViewGeometry geometry{Rect{20.0, 400.0, 280.0, 30.0}};
};

}  // namespace vitrine

#pragma once

namespace vitrine {

// A rectangle in the screen's points: origin at the top left, y growing downwards.
struct Rect {
    double x = 0.0;
    double y = 0.0;
    double width = 0.0;
    double height = 0.0;

    friend bool operator==(const Rect&, const Rect&) = default;
};

// Where a widget sits as the toolkits of touch screens model it: a centre, an untransformed size
// and a rotation about the centre. The frame is the upright box around the rotated widget, so
// rotating changes the frame, and setting the frame of a rotated widget resizes it so that its
// rotated box fills the frame. That is what lets the layout draw the dimmer lying down and the
// set-up stand it upright inside the same box.
// Thread safety: a plain value.
class ViewGeometry {
public:
    ViewGeometry() = default;
    explicit ViewGeometry(const Rect& frame) { setFrame(frame); }

    Rect frame() const;
    void setFrame(const Rect& frame);
    double rotation() const { return angle; }
    void setRotation(double radians) { angle = radians; }

private:
    double centreX = 0.0;
    double centreY = 0.0;
    double boundsWidth = 0.0;
    double boundsHeight = 0.0;
    double angle = 0.0;
};

}  // namespace vitrine

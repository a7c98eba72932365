#include "app/toolkit/ViewGeometry.h"

#include <cmath>

namespace vitrine {

Rect ViewGeometry::frame() const {
    const double c = std::fabs(std::cos(angle));
    const double s = std::fabs(std::sin(angle));
    const double width = boundsWidth * c + boundsHeight * s;
    const double height = boundsWidth * s + boundsHeight * c;
    return {centreX - width / 2.0, centreY - height / 2.0, width, height};
}

void ViewGeometry::setFrame(const Rect& frame) {
    centreX = frame.x + frame.width / 2.0;
    centreY = frame.y + frame.height / 2.0;
    const double c = std::fabs(std::cos(angle));
    const double s = std::fabs(std::sin(angle));
    // The bounds whose rotated box is the frame: | c s | |w|   |W|
    //                                            | s c | |h| = |H|
    // At 45 degrees the system has no unique answer; the size is then kept as it is.
    const double determinant = c * c - s * s;
    if (std::fabs(determinant) < 1e-9) return;
    boundsWidth = (c * frame.width - s * frame.height) / determinant;
    boundsHeight = (c * frame.height - s * frame.width) / determinant;
}

}  // namespace vitrine

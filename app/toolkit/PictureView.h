#pragma once

#include <string>

#include "app/toolkit/Widget.h"

namespace vitrine {

// The background picture of the control screen.
class PictureView : public Widget {
public:
    // Shows the application's picture resource of that name; a name that is not among the
    // resources leaves the view empty rather than keeping the previous picture.
    virtual void showPicture(const std::string& name) = 0;
};

}  // namespace vitrine

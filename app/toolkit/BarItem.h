#pragma once

#include <string>
#include <utility>

#include "app/toolkit/Widget.h"
#include "osc/OSCColor.h"

namespace vitrine {

// A titled item of the screen's bar: the connection indicator. Until it is given a tint it has
// no colour of its own (all components 0).
class BarItem : public Widget {
public:
    explicit BarItem(std::string title = {}) : text(std::move(title)) {}

    const std::string& title() const { return text; }
    virtual void setTitle(const std::string& title) {
        if (title == text) return;
        text = title;
        noteChange();
    }
    const OSCColor& tintColor() const { return tint; }
    virtual void setTintColor(const OSCColor& colour) {
        if (colour == tint) return;
        tint = colour;
        noteChange();
    }

private:
    std::string text;
    OSCColor tint{0.0, 0.0, 0.0, 0.0};
};

}  // namespace vitrine

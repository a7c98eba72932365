#pragma once

#include <memory>
#include <string_view>

#include "app/toolkit/Widget.h"

namespace vitrine {

// What a layout is loaded with as its owner: the object whose outlets take the layout's widgets
// by name and whose actions the widgets trigger by name.
class LayoutOwner {
public:
    virtual ~LayoutOwner() = default;

    // Binds a widget of the layout to the outlet of that name. False, with nothing bound, for an
    // unknown outlet or a widget of the wrong kind.
    virtual bool bindOutlet(std::string_view name, const std::shared_ptr<Widget>& widget) = 0;
    // Runs the action of that exact name with the widget that triggered it; false, with nothing
    // done, when there is no such action.
    virtual bool performAction(std::string_view name, const std::shared_ptr<Widget>& sender) = 0;
    // The owner as a front end keeps it for the widgets' actions: weakly, so that a widget never
    // keeps its owner alive.
    virtual std::weak_ptr<LayoutOwner> weakOwner() = 0;

protected:
    LayoutOwner() = default;
    LayoutOwner(const LayoutOwner&) = default;
    LayoutOwner& operator=(const LayoutOwner&) = default;
};

}  // namespace vitrine

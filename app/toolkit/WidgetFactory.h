#pragma once

#include <memory>

#include "app/toolkit/LayoutOwner.h"
#include "app/toolkit/LayoutWidget.h"
#include "app/toolkit/Widget.h"

namespace vitrine {

// A front end as the layout loader sees it: it makes the widgets a layout names and keeps them
// (controllers hold most widgets weakly), and routes each widget's action to its owner.
class WidgetFactory {
public:
    virtual ~WidgetFactory() = default;

    // A widget of the entry's kind in its initial state, whose action (if any) goes to owner;
    // empty when this front end has no widget of that kind.
    virtual std::shared_ptr<Widget> makeWidget(const LayoutWidget& layoutEntry,
                                               const std::weak_ptr<LayoutOwner>& owner) = 0;
};

}  // namespace vitrine

#include "app/controller/MyView.h"

#include <algorithm>

#include "app/toolkit/LayoutLoader.h"
#include "basics/Log.h"

namespace vitrine {

std::shared_ptr<MyView> MyView::createWithFrame(const Rect& frame, WidgetFactory& frontEnd,
                                                ShowcaseEndpoints showcase) {
    auto view = std::make_shared<MyView>(frame);
    view->endpoints = std::move(showcase);
    view->customInit(frontEnd);
    return view;
}

void MyView::addSubview(const std::shared_ptr<View>& view) {
    if (view && std::find(children.begin(), children.end(), view) == children.end())
        children.push_back(view);
}

void MyView::customInit(WidgetFactory& frontEnd) {
    ensureAddressSpaceExists();
    LayoutLoader::loadNibNamed(layoutName, *this, frontEnd);
    if (theView) {
        addSubview(theView);
        theView->setFrame(bounds());
    }
    createColours();
    rotateFader(true);
    if (const auto masterSwitch = theButton.lock()) masterSwitch->setOn(true);
    openPorts();
    scheduleTimer();
    Log::write("ok");
}

bool MyView::bindOutlet(std::string_view name, const std::shared_ptr<Widget>& widget) {
    if (name == "theView") {
        auto root = std::dynamic_pointer_cast<View>(widget);
        if (!root) return false;
        theView = std::move(root);
        return true;
    }
    if (name == "theButton") {
        auto masterSwitch = std::dynamic_pointer_cast<Switch>(widget);
        if (!masterSwitch) return false;
        theButton = masterSwitch;
        return true;
    }
    return ControlScreen::bindOutlet(name, widget);
}

}  // namespace vitrine

#include "app/controller/MemoryWidgetSet.h"

#include "app/controller/Scene.h"
#include "basics/Log.h"

namespace vitrine {

MemoryWidgetSet::MemoryWidgetSet()
    : button(std::make_shared<Switch>()),
      fader(std::make_shared<Slider>()),
      BG_image(std::make_shared<PictureView>()),
      connexion(std::make_shared<Indicator>()),
      theView(std::make_shared<View>()) {
    for (const std::string_view name : SceneControl::pictureNames())
        BG_image->knownPictures.emplace(name);
    for (size_t i = 0; i < sceneTable.size(); ++i)
        sceneButtons.push_back(std::make_shared<Control>());
}

void MemoryWidgetSet::Indicator::setTitle(const std::string& title) {
    BarItem::setTitle(title);
    changes.push_back("title:" + title);
}

void MemoryWidgetSet::Indicator::setTintColor(const OSCColor& colour) {
    BarItem::setTintColor(colour);
    changes.push_back(
        stringWithFormat("tint:%g,%g,%g,%g", colour.red, colour.green, colour.blue, colour.alpha));
}

void MemoryWidgetSet::attachTo(SceneControl& scene) const {
    SceneControl::Outlets& outlets = scene.outlets;
    outlets.button = button;
    outlets.fader = fader;
    outlets.BG_image = BG_image;
    for (size_t i = 0; i < sceneTable.size(); ++i)
        outlets.*(sceneTable[i].button) = sceneButtons[i];
    outlets.connexion = connexion;
}

std::shared_ptr<Widget> MemoryWidgetSet::makeWidget(const LayoutWidget& layoutEntry,
                                                    const std::weak_ptr<LayoutOwner>&) {
    using Kind = LayoutWidget::Kind;
    switch (layoutEntry.kind) {
        case Kind::switchWidget:
            button->setOn(layoutEntry.on);
            return button;
        case Kind::slider:
            fader->setValue(static_cast<float>(layoutEntry.value));
            fader->setEnabled(layoutEntry.enabled);
            return fader;
        case Kind::pictureView:
            if (layoutEntry.picture) BG_image->showPicture(*layoutEntry.picture);
            return BG_image;
        case Kind::barItem:
            connexion->setTitle(layoutEntry.title);
            connexion->changes.clear();
            return connexion;
        case Kind::view:
            return theView;
        case Kind::button:
            break;
    }
    const auto widget = sceneButton(layoutEntry.outlet);
    if (widget) widget->setEnabled(layoutEntry.enabled);
    return widget;
}

std::vector<std::shared_ptr<Control>> MemoryWidgetSet::lockableControls() const {
    std::vector<std::shared_ptr<Control>> controls = sceneButtons;
    controls.push_back(fader);
    return controls;
}

std::shared_ptr<Control> MemoryWidgetSet::sceneButton(std::string_view outlet) const {
    for (size_t i = 0; i < sceneTable.size(); ++i)
        if (sceneTable[i].outlet == outlet) return sceneButtons[i];
    return nullptr;
}

}  // namespace vitrine

#include "support/MemoryWidgetSet.h"

#include "basics/Log.h"

namespace vitrine {

void MemoryWidgetSet::Picture::showPicture(const std::string& name) {
    if (knownPictures.contains(name))
        current = name;
    else
        current.reset();
}

MemoryWidgetSet::MemoryWidgetSet()
    : button(std::make_shared<MasterSwitch>()),
      fader(std::make_shared<Fader>()),
      BG_image(std::make_shared<Picture>()),
      apo(std::make_shared<Button>()),
      med(std::make_shared<Button>()),
      mor(std::make_shared<Button>()),
      bout(std::make_shared<Button>()),
      t1(std::make_shared<Button>()),
      t2(std::make_shared<Button>()),
      pot(std::make_shared<Button>()),
      chev(std::make_shared<Button>()),
      potC(std::make_shared<Button>()),
      potCan(std::make_shared<Button>()),
      vase(std::make_shared<Button>()),
      raf(std::make_shared<Button>()),
      connexion(std::make_shared<Indicator>()),
      theView(std::make_shared<RootView>()) {
    for (const std::string_view name : SceneControl::pictureNames())
        BG_image->knownPictures.emplace(name);
}

void MemoryWidgetSet::attachTo(SceneControl& scene) const {
    SceneControl::Outlets& outlets = scene.outlets;
    outlets.button = button;
    outlets.fader = fader;
    outlets.BG_image = BG_image;
    outlets.apo = apo;
    outlets.med = med;
    outlets.mor = mor;
    outlets.bout = bout;
    outlets.t1 = t1;
    outlets.t2 = t2;
    outlets.pot = pot;
    outlets.chev = chev;
    outlets.potC = potC;
    outlets.potCan = potCan;
    outlets.vase = vase;
    outlets.raf = raf;
    outlets.connexion = connexion;
}

void MemoryWidgetSet::Indicator::setTitle(const std::string& title) {
    text = title;
    changes.push_back("title:" + title);
}

void MemoryWidgetSet::Indicator::setTintColor(const OSCColor& colour) {
    tint = colour;
    changes.push_back(
        stringWithFormat("tint:%g,%g,%g,%g", colour.red, colour.green, colour.blue, colour.alpha));
}

std::shared_ptr<Widget> MemoryWidgetSet::makeWidget(const LayoutWidget& layoutEntry,
                                                    const std::weak_ptr<SceneControl>&) {
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
    const std::pair<const char*, std::shared_ptr<Button>> buttons[] = {
        {"apo", apo},   {"med", med},       {"mor", mor},   {"bout", bout},
        {"t1", t1},     {"t2", t2},         {"pot", pot},   {"chev", chev},
        {"potC", potC}, {"potCan", potCan}, {"vase", vase}, {"raf", raf}};
    for (const auto& [name, widget] : buttons) {
        if (layoutEntry.outlet != name) continue;
        widget->setEnabled(layoutEntry.enabled);
        return widget;
    }
    return nullptr;
}

std::vector<std::shared_ptr<Control>> MemoryWidgetSet::lockableControls() const {
    return {apo, med, mor, bout, t1, t2, pot, chev, potC, potCan, vase, raf, fader};
}

}  // namespace vitrine

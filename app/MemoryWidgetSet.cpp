#include "app/MemoryWidgetSet.h"

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
      raf(std::make_shared<Button>()) {
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
}

std::vector<std::shared_ptr<Control>> MemoryWidgetSet::lockableControls() const {
    return {apo, med, mor, bout, t1, t2, pot, chev, potC, potCan, vase, raf, fader};
}

}  // namespace vitrine

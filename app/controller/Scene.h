#pragma once

#include <array>
#include <cstddef>
#include <initializer_list>
#include <memory>
#include <string_view>

#include "app/controller/SceneControl.h"

namespace vitrine {

// One scene button of the control screen and what it shows. The scene table below is the one
// place the scenes are written down: the controller's actions, the binding of the layouts'
// buttons to its outlets, the pages' buttons and the in-memory screens all read it.
struct Scene {
    // The controller's action, also the name pages send ("mortier").
    std::string_view action;
    // The outlet of the scene's button ("mor"), and its field among the controller's outlets.
    std::string_view outlet;
    std::weak_ptr<Control> SceneControl::Outlets::*button;
    // The button's text.
    std::string_view label;
    // The background picture the scene shows.
    std::string_view picture;
    // Channels 1 to 24. The whole room scales its levels by the dimmer; the others are sent as
    // they stand.
    SceneControl::Levels levels;
    bool dimmed = false;
};

namespace sceneLevels {

// Lit channels stand at 255, the others at the dim level 26.
constexpr SceneControl::Levels lit(std::initializer_list<size_t> channels) {
    SceneControl::Levels levels{};
    levels.fill(26);
    for (const size_t channel : channels) levels[channel - 1] = 255;
    return levels;
}

// The bottle's channel 1 stands at 25, not 26: the installation's value, not a slip.
constexpr SceneControl::Levels bouteille() {
    SceneControl::Levels levels = lit({3});
    levels[0] = 25;
    return levels;
}

constexpr SceneControl::Levels allOn() {
    SceneControl::Levels levels{};
    levels.fill(255);
    return levels;
}

}  // namespace sceneLevels

// In the order of the screen. Pictures are the resources' names as they are spelt: three have no
// "BG", the Theriaque names hold a space and the cooler's picture is "BGRafraichissoir.png".
inline constexpr std::array<Scene, 12> sceneTable{{
    {"mortier", "mor", &SceneControl::Outlets::mor, "Mortier", "BGMortier.png",
     sceneLevels::lit({1})},
    {"medaillon", "med", &SceneControl::Outlets::med, "M\u00e9daillon", "Medaillon.png",
     sceneLevels::lit({2})},
    {"bouteille", "bout", &SceneControl::Outlets::bout, "Bouteille", "BGBouteille.png",
     sceneLevels::bouteille()},
    {"chevrette", "chev", &SceneControl::Outlets::chev, "Chevrette", "BGChevrette.png",
     sceneLevels::lit({4})},
    {"onguent", "pot", &SceneControl::Outlets::pot, "Pot \u00e0 onguent", "BGOnguent.png",
     sceneLevels::lit({5})},
    {"theriaque1", "t1", &SceneControl::Outlets::t1, "Th\u00e9riaque 1", "Theriaque 1.png",
     sceneLevels::lit({6, 12, 13})},
    {"theriaque2", "t2", &SceneControl::Outlets::t2, "Th\u00e9riaque 2", "Theriaque 2.png",
     sceneLevels::lit({7})},
    {"potCanon", "potCan", &SceneControl::Outlets::potCan, "Pot canon", "BGCanon.png",
     sceneLevels::lit({8})},
    {"potCylindrique", "potC", &SceneControl::Outlets::potC, "Pot cylindrique", "BGCylindrique.png",
     sceneLevels::lit({9, 18, 19, 22})},
    {"vaseHaut", "vase", &SceneControl::Outlets::vase, "Vase haut", "BGVasehaut.png",
     sceneLevels::lit({10, 20, 21})},
    {"raffraichissoire", "raf", &SceneControl::Outlets::raf, "Rafra\u00eechissoir",
     "BGRafraichissoir.png", sceneLevels::lit({11})},
    {"vitrinerie", "apo", &SceneControl::Outlets::apo, "Vitrinerie", "BGVitrinerie.png",
     sceneLevels::allOn(), true},
}};

// What the screen shows once the switch is off.
inline constexpr std::string_view allOffPicture = "BGAllOff.png";

// The scene of that action, or null.
constexpr const Scene* sceneForAction(std::string_view action) {
    for (const Scene& scene : sceneTable)
        if (scene.action == action) return &scene;
    return nullptr;
}

// The scene whose button has that outlet, or null.
constexpr const Scene* sceneForOutlet(std::string_view outlet) {
    for (const Scene& scene : sceneTable)
        if (scene.outlet == outlet) return &scene;
    return nullptr;
}

}  // namespace vitrine

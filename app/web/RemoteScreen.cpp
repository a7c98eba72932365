#include "app/web/RemoteScreen.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <cmath>

#include "app/toolkit/BarItem.h"
#include "app/toolkit/Control.h"
#include "app/toolkit/PictureView.h"
#include "app/controller/Scene.h"
#include "app/toolkit/Slider.h"
#include "app/toolkit/Switch.h"
#include "app/toolkit/View.h"
#include "app/toolkit/ViewGeometry.h"

namespace vitrine {

using nlohmann::json;

struct RemoteScreen::Changes {
    uint64_t count = 0;
    std::function<void()> handler;

    void note() {
        ++count;
        if (handler) handler();
    }
};

RemoteScreen::RemoteScreen(std::set<std::string> knownPictures)
    : changes(std::make_shared<Changes>()), pictures(std::move(knownPictures)) {}

RemoteScreen::~RemoteScreen() {
    // Widgets shared with a controller may outlive the screen; they must not call out any more.
    changes->handler = nullptr;
}

std::shared_ptr<Widget> RemoteScreen::makeWidget(const LayoutWidget& layoutEntry,
                                                 const std::weak_ptr<LayoutOwner>& owner) {
    using Kind = LayoutWidget::Kind;
    std::shared_ptr<Widget> widget;
    switch (layoutEntry.kind) {
        case Kind::pictureView:
            if (picture) return nullptr;
            picture = std::make_shared<PictureView>(pictures);
            if (layoutEntry.picture) picture->showPicture(*layoutEntry.picture);
            widget = picture;
            break;
        case Kind::button: {
            auto button = std::make_shared<Control>(layoutEntry.enabled);
            buttons.emplace_back(layoutEntry.outlet, button);
            widget = std::move(button);
            break;
        }
        case Kind::slider:
            if (fader) return nullptr;
            fader = std::make_shared<Slider>(layoutEntry.enabled,
                                             static_cast<float>(layoutEntry.value));
            widget = fader;
            break;
        case Kind::switchWidget:
            if (masterSwitch) return nullptr;
            masterSwitch = std::make_shared<Switch>(layoutEntry.on);
            widget = masterSwitch;
            break;
        case Kind::barItem:
            if (indicator) return nullptr;
            indicator = std::make_shared<BarItem>(layoutEntry.title);
            widget = indicator;
            break;
        case Kind::view:
            widget = std::make_shared<View>();
            break;
    }
    widget->setChangeHandler([changes = changes] { changes->note(); });
    widgets.push_back(widget);
    if (layoutEntry.action) targets.push_back({*layoutEntry.action, widget, owner});
    return widget;
}

RemoteScreen::Reply RemoteScreen::handleClientText(std::string_view text) {
    if (text.size() > maxMessageSize) return {std::string(tooLong)};
    const json message = json::parse(text, nullptr, false);
    if (message.is_discarded() || !message.is_object()) return {std::string(unreadable)};
    const auto actionField = message.find("action");
    if (actionField == message.end() || !actionField->is_string()) return {std::string(noAction)};
    const auto& action = actionField->get_ref<const std::string&>();

    const auto target = std::find_if(targets.begin(), targets.end(),
                                     [&](const Target& t) { return t.action == action; });
    const auto owner = target == targets.end() ? nullptr : target->owner.lock();
    if (!owner) {
        // Quoted back shortened, and in valid UTF-8 whatever the page sent.
        const std::string shown =
            json(action.substr(0, 40)).dump(-1, ' ', false, json::error_handler_t::replace);
        return {std::string(unknownActionPrefix) + shown};
    }

    if (const auto slider = std::dynamic_pointer_cast<Slider>(target->widget)) {
        const auto value = message.find("value");
        if (value == message.end() || !value->is_number()) return {std::string(badFaderValue)};
        const double v = value->get<double>();
        if (!std::isfinite(v) || v < 0.0 || v > 1.0) return {std::string(badFaderValue)};
        if (!slider->isEnabled()) return {std::string(faderUnavailable)};
        slider->setValue(static_cast<float>(v));
    } else if (const auto toggle = std::dynamic_pointer_cast<Switch>(target->widget)) {
        const auto on = message.find("on");
        if (on == message.end() || !on->is_boolean()) return {std::string(badSwitchState)};
        // A switch acts only when it changes; a page asking for what already is was behind.
        if (on->get<bool>() == toggle->isOn()) return {std::nullopt, true};
        toggle->setOn(on->get<bool>());
    } else if (const auto control = std::dynamic_pointer_cast<Control>(target->widget)) {
        if (!control->isEnabled()) return {std::string(sceneUnavailable)};
    }
    owner->performAction(action, target->widget);
    return {};
}

std::string RemoteScreen::stateMessage() const {
    json controls = json::object();
    for (const auto& [outlet, button] : buttons)
        controls[outlet] = {{"enabled", button->isEnabled()}};
    if (fader)
        controls["fader"] = {{"enabled", fader->isEnabled()},
                             {"value", static_cast<double>(fader->value())}};
    json connexion = {{"title", ""}, {"tint", {0.0, 0.0, 0.0, 0.0}}};
    if (indicator) {
        const OSCColor& tint = indicator->tintColor();
        connexion = {{"title", indicator->title()},
                     {"tint", {tint.red, tint.green, tint.blue, tint.alpha}}};
    }
    json state = {{"type", "state"},
                  {"picture", nullptr},
                  {"switchOn", masterSwitch && masterSwitch->isOn()},
                  {"controls", std::move(controls)},
                  {"connexion", std::move(connexion)}};
    if (picture && picture->picture()) state["picture"] = *picture->picture();
    return state.dump(-1, ' ', false, json::error_handler_t::replace);
}

std::string RemoteScreen::firstStateMessage() const {
    // Built on the state's own text, so that the two can never say different things.
    json state = json::parse(stateMessage());
    json scenes = json::array();
    for (const Scene& scene : sceneTable) {
        const bool onScreen = std::any_of(buttons.begin(), buttons.end(), [&](const auto& made) {
            return made.first == scene.outlet;
        });
        if (!onScreen) continue;
        scenes.push_back({{"action", scene.action},
                          {"outlet", scene.outlet},
                          {"label", scene.label},
                          {"picture", scene.picture}});
    }
    state["scenes"] = std::move(scenes);
    return state.dump(-1, ' ', false, json::error_handler_t::replace);
}

std::string RemoteScreen::errorMessage(std::string_view text) {
    return json{{"type", "error"}, {"message", std::string(text)}}.dump(
        -1, ' ', false, json::error_handler_t::replace);
}

void RemoteScreen::setChangeHandler(std::function<void()> handler) {
    changes->handler = std::move(handler);
}

uint64_t RemoteScreen::changeCount() const {
    return changes->count;
}

}  // namespace vitrine

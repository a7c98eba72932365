#include "app/web/RemoteScreen.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdlib>

#include "app/toolkit/BarItem.h"
#include "app/toolkit/Control.h"
#include "app/toolkit/PictureView.h"
#include "app/controller/Scene.h"
#include "app/toolkit/Slider.h"
#include "app/toolkit/Switch.h"
#include "app/toolkit/View.h"
#include "app/toolkit/ViewGeometry.h"
#include "basics/MainLoop.h"

namespace vitrine {

using nlohmann::json;

namespace {

// The slider holds a 32-bit float; widened as it is, 0.8 would reach the pages as
// 0.800000011920929. The shortest decimal that reads back as the same float is what a page sent.
double shortestDecimal(float value) {
    char text[32];
    const auto end = std::to_chars(text, text + sizeof text - 1, value).ptr;
    *end = '\0';
    return std::strtod(text, nullptr);
}

}  // namespace

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
    // The timer's action points at this screen; both run on the main thread.
    dropHeldFader();
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

RemoteScreen::Reply RemoteScreen::handleClientText(std::string_view text,
                                                   Clock::time_point now) {
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

    // Malformed input is named as such; only then does its age count, before the state that the
    // operator saw (and may no longer be) does.
    if (const auto slider = std::dynamic_pointer_cast<Slider>(target->widget)) {
        const auto value = message.find("value");
        if (value == message.end() || !value->is_number()) return {std::string(badFaderValue)};
        const double v = value->get<double>();
        if (!std::isfinite(v) || v < 0.0 || v > 1.0) return {std::string(badFaderValue)};
        if (auto late = lateness(message, now)) return {std::move(late)};
        if (!slider->isEnabled()) return {std::string(faderUnavailable)};
        const float level = static_cast<float>(v);
        if (level == slider->value()) return {std::nullopt, true};
        slider->setValue(level);
        performFader(*target);
        return {};
    }
    const uint64_t changesBefore = changes->count;
    if (const auto toggle = std::dynamic_pointer_cast<Switch>(target->widget)) {
        const auto on = message.find("on");
        if (on == message.end() || !on->is_boolean()) return {std::string(badSwitchState)};
        if (auto late = lateness(message, now)) return {std::move(late)};
        // A switch acts only when it changes; a page asking for what already is was behind.
        if (on->get<bool>() == toggle->isOn()) return {std::nullopt, true};
        toggle->setOn(on->get<bool>());
    } else {
        if (auto late = lateness(message, now)) return {std::move(late)};
        if (const auto control = std::dynamic_pointer_cast<Control>(target->widget);
            control && !control->isEnabled())
            return {std::string(sceneUnavailable)};
    }
    dropHeldFader();
    owner->performAction(action, target->widget);
    // The scene already shown, chosen again: it went out again, and its sender hears so.
    return {std::nullopt, changes->count == changesBefore};
}

std::optional<std::string> RemoteScreen::lateness(const json& message, Clock::time_point now) {
    const auto field = message.find("heartbeat");
    if (field == message.end() || !field->is_number_unsigned()) return std::string(undatedAction);
    const auto id = field->get<uint64_t>();
    forgetBeatsBefore(now - maxActionAge);
    if (std::none_of(beats.begin(), beats.end(), [&](const Beat& beat) { return beat.id == id; }))
        return std::string(lateAction);
    return std::nullopt;
}

void RemoteScreen::forgetBeatsBefore(Clock::time_point oldest) {
    while (!beats.empty() && beats.front().issued < oldest) beats.pop_front();
}

std::string RemoteScreen::nextHeartbeat(Clock::time_point now) {
    forgetBeatsBefore(now - maxActionAge);
    beats.push_back({++lastBeatId, now});
    return heartbeatMessage(lastBeatId);
}

std::string RemoteScreen::latestHeartbeat(Clock::time_point now) {
    forgetBeatsBefore(now - maxActionAge);
    if (beats.empty()) return nextHeartbeat(now);
    return heartbeatMessage(beats.back().id);
}

std::string RemoteScreen::heartbeatMessage(uint64_t id) {
    return json{{"type", "heartbeat"}, {"id", id}}.dump();
}

void RemoteScreen::performFader(const Target& target) {
    if (heldFader) {
        heldFader = target;
        return;
    }
    const auto now = std::chrono::steady_clock::now();
    const auto wait =
        std::chrono::duration_cast<std::chrono::steady_clock::duration>(faderInterval) -
        (now - faderSentAt);
    if (wait <= std::chrono::steady_clock::duration::zero()) {
        faderSentAt = now;
        if (const auto owner = target.owner.lock())
            owner->performAction(target.action, target.widget);
        return;
    }
    heldFader = target;
    faderTimer = MainLoop::current()->scheduleRepeatingTimer(wait, [this] { sendHeldFader(); });
}

void RemoteScreen::sendHeldFader() {
    const std::optional<Target> held = std::move(heldFader);
    dropHeldFader();
    if (!held || !fader || !fader->isEnabled()) return;
    faderSentAt = std::chrono::steady_clock::now();
    // The action reads the slider, which holds the last value taken.
    if (const auto owner = held->owner.lock()) owner->performAction(held->action, held->widget);
}

void RemoteScreen::dropHeldFader() {
    heldFader.reset();
    if (faderTimer) faderTimer->invalidate();
    faderTimer.reset();
}

std::string RemoteScreen::stateMessage() const {
    json controls = json::object();
    for (const auto& [outlet, button] : buttons)
        controls[outlet] = {{"enabled", button->isEnabled()}};
    if (fader)
        controls["fader"] = {{"enabled", fader->isEnabled()},
                             {"value", shortestDecimal(fader->value())}};
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
                          {"picture", scene.picture},
                          {"dimmed", scene.dimmed}});
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

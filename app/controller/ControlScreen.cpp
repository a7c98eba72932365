#include "app/controller/ControlScreen.h"

#include <numbers>

#include "app/controller/Scene.h"
#include "basics/Log.h"
#include "basics/MainLoop.h"
#include "osc/OSCAddressSpace.h"
#include "osc/OSCMessage.h"
#include "osc/OSCOutPort.h"
#include "osc/OSCValue.h"

namespace vitrine {

namespace {

// The layouts draw the dimmer lying down; a quarter turn clockwise stands it up with its
// minimum at the bottom.
constexpr double faderRotation = -std::numbers::pi / 2.0;

template <typename Interface>
bool bindWeak(std::weak_ptr<Interface>& outlet, const std::shared_ptr<Widget>& widget) {
    auto typed = std::dynamic_pointer_cast<Interface>(widget);
    if (!typed) return false;
    outlet = typed;
    return true;
}

template <typename Interface>
bool bindShared(std::shared_ptr<Interface>& outlet, const std::shared_ptr<Widget>& widget) {
    auto typed = std::dynamic_pointer_cast<Interface>(widget);
    if (!typed) return false;
    outlet = std::move(typed);
    return true;
}

}  // namespace

ControlScreen::~ControlScreen() = default;

void ControlScreen::targetMethod(const std::shared_ptr<MainLoopTimer>&) {
    // Both states are drawn within the one tick, so only the second is ever seen.
    unConnect();
    const bool answered = flag.load() == 1;
    if (answered) connect();
    if (answered && !showcaseAnswered) sendHeldState();
    showcaseAnswered = answered;
    if (const auto message = OSCMessage::createWithAddress("/is"); message && outPort)
        outPort->sendThisMessage(message);
    // An answer landing between the read above and this store is lost; the next one counts.
    flag.store(0);
}

void ControlScreen::receivedOSCMessage(const std::shared_ptr<OSCMessage>& message) {
    if (!message) return;
    const auto& address = message->address();
    if (!address || *address != "/connected") return;
    const auto first = message->value();
    if (!first || first->type() != OSCValInt || first->intValue() != 1) return;
    flag.store(1);
}

void ControlScreen::connect() {
    if (const auto indicator = outlets.connexion.lock()) {
        indicator->setTintColor(connectedColor);
        indicator->setTitle(std::string(connectedTitle));
    }
}

void ControlScreen::unConnect() {
    if (const auto indicator = outlets.connexion.lock()) {
        indicator->setTitle(std::string(unconnectedTitle));
        indicator->setTintColor(unconnectedColor);
    }
}

std::map<std::string, Date> ControlScreen::userInfo() const {
    return {{"StartDate", dateNow()}};
}

bool ControlScreen::bindOutlet(std::string_view name, const std::shared_ptr<Widget>& widget) {
    if (!widget) return false;
    if (name == "button") return bindShared(outlets.button, widget);
    if (name == "fader") return bindShared(outlets.fader, widget);
    if (name == "BG_image") return bindWeak(outlets.BG_image, widget);
    if (name == "connexion") return bindWeak(outlets.connexion, widget);
    if (const Scene* scene = sceneForOutlet(name))
        return bindWeak(outlets.*(scene->button), widget);
    return false;
}

void ControlScreen::tearDown() {
    if (const auto timer = repeatingTimer.lock()) timer->invalidate();
    repeatingTimer.reset();
    outPort.reset();
    if (manager) {
        manager->setDelegate({});
        manager->deleteAllInputs();
        manager->deleteAllOutputs();
    }
}

void ControlScreen::ensureAddressSpaceExists() {
    OSCAddressSpace::mainAddressSpace();
}

void ControlScreen::createColours() {
    connectedColor = connectedComponents;
    unconnectedColor = unconnectedComponents;
}

void ControlScreen::rotateFader(bool keepFrame) {
    if (!outlets.fader) return;
    const Rect laidOut = outlets.fader->frame();
    outlets.fader->setTransform(faderRotation);
    if (keepFrame) outlets.fader->setFrame(laidOut);
}

void ControlScreen::openPorts() {
    manager = OSCManager::create();
    if (!manager) return;
    manager->setDelegate(std::weak_ptr<OSCManagerDelegate>(shared_from_this()));
    // The manager keeps the receiving port; without it no answer can arrive and the indicator
    // stays disconnected, which the operator sees, but whoever reads the log should learn why.
    if (!manager->createNewInputForPort(endpoints.receivePort))
        Log::write("\tcannot receive on UDP port %u (in use?): the indicator will stay \"%s\"",
                   static_cast<unsigned>(endpoints.receivePort),
                   std::string(unconnectedTitle).c_str());
    outPort = manager->createNewOutputToAddress(endpoints.address, endpoints.port);
}

void ControlScreen::scheduleTimer() {
    if (const auto previous = repeatingTimer.lock()) previous->invalidate();
    // The timer holds the screen, as a platform timer holds its target.
    const std::shared_ptr<ControlScreen> self = shared_from_this();
    timerUserInfo = userInfo();
    repeatingTimer = MainLoop::current()->scheduleRepeatingTimer(
        tickInterval, [self] { self->targetMethod(self->repeatingTimer.lock()); });
}

}  // namespace vitrine

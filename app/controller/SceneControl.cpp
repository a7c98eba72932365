#include "app/controller/SceneControl.h"

#include <array>
#include <cmath>
#include <limits>

#include "app/controller/Scene.h"
#include "osc/OSCMessage.h"
#include "osc/OSCOutPort.h"

namespace vitrine {

namespace {

// The scene pictures and the switched-off one, for front ends that bundle or serve them.
constexpr auto allPictures = [] {
    std::array<std::string_view, sceneTable.size() + 1> names{};
    for (size_t i = 0; i < sceneTable.size(); ++i) names[i] = sceneTable[i].picture;
    names.back() = allOffPicture;
    return names;
}();

// The scene table's row for one of the actions below; an action it lacks stops the build.
// An index rather than a pointer: GCC's undefined-behaviour instrumentation cannot compare
// addresses in a constant expression.
consteval size_t rowOf(std::string_view action) {
    for (size_t row = 0; row < sceneTable.size(); ++row)
        if (sceneTable[row].action == action) return row;
    throw "no scene has this action";
}

// The order in which the master switch locks and unlocks the controls.
constexpr std::array lockOrder{
    &SceneControl::Outlets::apo,    &SceneControl::Outlets::med,  &SceneControl::Outlets::mor,
    &SceneControl::Outlets::bout,   &SceneControl::Outlets::t1,   &SceneControl::Outlets::t2,
    &SceneControl::Outlets::pot,    &SceneControl::Outlets::chev, &SceneControl::Outlets::potC,
    &SceneControl::Outlets::potCan, &SceneControl::Outlets::vase, &SceneControl::Outlets::raf};

// 255 * v in single precision, truncated toward zero like the platform's float-to-int
// conversion. The slider's value comes from the front end and is not trusted: a NaN or a product
// outside the int32 range would make the plain conversion undefined, so those saturate instead.
int32_t scaledLevel(int32_t level, float v) {
    const float product = static_cast<float>(level) * v;
    if (std::isnan(product)) return 0;
    constexpr float limit = 2147483648.0f;  // 2^31, exact in float
    if (product >= limit) return std::numeric_limits<int32_t>::max();
    if (product < -limit) return std::numeric_limits<int32_t>::min();
    return static_cast<int32_t>(product);
}

// The actions that are not scenes, under their names.
struct OtherAction {
    std::string_view name;
    void (*perform)(SceneControl& scene, const std::shared_ptr<Widget>& sender);
};
constexpr OtherAction otherActions[] = {
    {"fader",
     [](SceneControl& scene, const std::shared_ptr<Widget>& sender) { scene.fader(sender); }},
    {"switchVideo",
     [](SceneControl& scene, const std::shared_ptr<Widget>& sender) { scene.switchVideo(sender); }},
    {"vi", [](SceneControl& scene, const std::shared_ptr<Widget>&) { scene.vi(); }},
    {"sendMyMessage",
     [](SceneControl& scene, const std::shared_ptr<Widget>&) { scene.sendMyMessage(); }},
};

}  // namespace

void SceneControl::mortier(const std::shared_ptr<Widget>&) {
    showScene(sceneTable[rowOf("mortier")]);
}
void SceneControl::medaillon(const std::shared_ptr<Widget>&) {
    showScene(sceneTable[rowOf("medaillon")]);
}
void SceneControl::bouteille(const std::shared_ptr<Widget>&) {
    showScene(sceneTable[rowOf("bouteille")]);
}
void SceneControl::chevrette(const std::shared_ptr<Widget>&) {
    showScene(sceneTable[rowOf("chevrette")]);
}
void SceneControl::onguent(const std::shared_ptr<Widget>&) {
    showScene(sceneTable[rowOf("onguent")]);
}
void SceneControl::theriaque1(const std::shared_ptr<Widget>&) {
    showScene(sceneTable[rowOf("theriaque1")]);
}
void SceneControl::theriaque2(const std::shared_ptr<Widget>&) {
    showScene(sceneTable[rowOf("theriaque2")]);
}
void SceneControl::potCanon(const std::shared_ptr<Widget>&) {
    showScene(sceneTable[rowOf("potCanon")]);
}
void SceneControl::raffraichissoire(const std::shared_ptr<Widget>&) {
    showScene(sceneTable[rowOf("raffraichissoire")]);
}
void SceneControl::potCylindrique(const std::shared_ptr<Widget>&) {
    showScene(sceneTable[rowOf("potCylindrique")]);
}
void SceneControl::vaseHaut(const std::shared_ptr<Widget>&) {
    showScene(sceneTable[rowOf("vaseHaut")]);
}
void SceneControl::vitrinerie(const std::shared_ptr<Widget>&) {
    showScene(sceneTable[rowOf("vitrinerie")]);
}
void SceneControl::fader(const std::shared_ptr<Widget>&) {
    showScene(sceneTable[rowOf("vitrinerie")]);
}

void SceneControl::switchVideo(const std::shared_ptr<Widget>&) {
    if (switchIsOn()) {
        // Switching on restores nothing: the levels stay as they are until a scene is chosen.
        setControlsEnabled(true);
    } else {
        setControlsEnabled(false);
        sceneShown = false;
        theList.fill(0);
        sendMyMessage();
        showPicture(allOffPicture);
    }
    sendSwitchState();
}

void SceneControl::vi() {
    if (outlets.button) outlets.button->setOn(true);
    sendSwitchState();
}

void SceneControl::sendMyMessage() {
    sendLevels("/list", 0);
    sendLevels("/list2", channelCount / 2);
}

void SceneControl::sendHeldState() {
    sendSwitchState();
    if (sceneShown) sendMyMessage();
}

bool SceneControl::performAction(std::string_view name, const std::shared_ptr<Widget>& sender) {
    if (const Scene* scene = sceneForAction(name)) {
        showScene(*scene);
        return true;
    }
    for (const OtherAction& action : otherActions) {
        if (action.name != name) continue;
        action.perform(*this, sender);
        return true;
    }
    return false;
}

std::span<const std::string_view> SceneControl::pictureNames() {
    return allPictures;
}

void SceneControl::showPicture(std::string_view name) {
    if (const auto view = outlets.BG_image.lock()) view->showPicture(std::string(name));
}

void SceneControl::showScene(const Scene& scene) {
    showPicture(scene.picture);
    if (!scene.dimmed) {
        theList = scene.levels;
    } else {
        // The slider is read once per channel: a value that moves during the loop shows up in
        // the later channels, as it always has.
        for (size_t k = 0; k < channelCount; ++k) {
            const float v = outlets.fader ? outlets.fader->value() : 0.0f;
            theList[k] = scaledLevel(scene.levels[k], v);
        }
    }
    sceneShown = true;
    sendMyMessage();
}

void SceneControl::setControlsEnabled(bool enabled) {
    for (const auto control : lockOrder)
        if (const auto locked = (outlets.*control).lock()) locked->setEnabled(enabled);
    if (outlets.fader) outlets.fader->setEnabled(enabled);
}

bool SceneControl::switchIsOn() const {
    return outlets.button && outlets.button->isOn();
}

void SceneControl::sendSwitchState() {
    const auto message = OSCMessage::createWithAddress("/switch");
    if (!message) return;
    message->addInt(switchIsOn() ? 1 : 0);
    if (outPort) outPort->sendThisMessage(message);
}

void SceneControl::sendLevels(const char* address, size_t first) {
    const auto message = OSCMessage::createWithAddress(address);
    if (!message) return;
    for (size_t k = first; k < first + channelCount / 2; ++k) message->addInt(theList[k]);
    if (outPort) outPort->sendThisMessage(message);
}

}  // namespace vitrine

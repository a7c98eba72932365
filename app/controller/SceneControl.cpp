#include "app/controller/SceneControl.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "osc/OSCMessage.h"
#include "osc/OSCOutPort.h"

namespace vitrine {

namespace {

using Levels = SceneControl::Levels;

// Scene tables, channels 1 to 24. Lit channels stand at 255, the others at the dim level 26.
// The 25 in channel 1 of the bottle is the installation's value, not a slip.
constexpr Levels mortierLevels{255, 26, 26, 26, 26, 26, 26, 26, 26, 26, 26, 26,
                               26,  26, 26, 26, 26, 26, 26, 26, 26, 26, 26, 26};
constexpr Levels medaillonLevels{26, 255, 26, 26, 26, 26, 26, 26, 26, 26, 26, 26,
                                 26, 26,  26, 26, 26, 26, 26, 26, 26, 26, 26, 26};
constexpr Levels bouteilleLevels{25, 26, 255, 26, 26, 26, 26, 26, 26, 26, 26, 26,
                                 26, 26, 26,  26, 26, 26, 26, 26, 26, 26, 26, 26};
constexpr Levels chevretteLevels{26, 26, 26, 255, 26, 26, 26, 26, 26, 26, 26, 26,
                                 26, 26, 26, 26,  26, 26, 26, 26, 26, 26, 26, 26};
constexpr Levels onguentLevels{26, 26, 26, 26, 255, 26, 26, 26, 26, 26, 26, 26,
                               26, 26, 26, 26, 26,  26, 26, 26, 26, 26, 26, 26};
constexpr Levels theriaque1Levels{26,  26, 26, 26, 26, 255, 26, 26, 26, 26, 26, 255,
                                  255, 26, 26, 26, 26, 26,  26, 26, 26, 26, 26, 26};
constexpr Levels theriaque2Levels{26, 26, 26, 26, 26, 26, 255, 26, 26, 26, 26, 26,
                                  26, 26, 26, 26, 26, 26, 26,  26, 26, 26, 26, 26};
constexpr Levels potCanonLevels{26, 26, 26, 26, 26, 26, 26, 255, 26, 26, 26, 26,
                                26, 26, 26, 26, 26, 26, 26, 26,  26, 26, 26, 26};
constexpr Levels potCylindriqueLevels{26, 26, 26, 26, 26, 26,  26,  26, 255, 26,  26, 26,
                                      26, 26, 26, 26, 26, 255, 255, 26, 26,  255, 26, 26};
constexpr Levels vaseHautLevels{26, 26, 26, 26, 26, 26, 26, 26,  26,  255, 26, 26,
                                26, 26, 26, 26, 26, 26, 26, 255, 255, 26,  26, 26};
constexpr Levels raffraichissoireLevels{26, 26, 26, 26, 26, 26, 26, 26, 26, 26, 255, 26,
                                        26, 26, 26, 26, 26, 26, 26, 26, 26, 26, 26,  26};
constexpr Levels allOnLevels{255, 255, 255, 255, 255, 255, 255, 255, 255, 255, 255, 255,
                             255, 255, 255, 255, 255, 255, 255, 255, 255, 255, 255, 255};

constexpr std::string_view mortierPicture = "BGMortier.png";
constexpr std::string_view medaillonPicture = "Medaillon.png";
constexpr std::string_view bouteillePicture = "BGBouteille.png";
constexpr std::string_view chevrettePicture = "BGChevrette.png";
constexpr std::string_view onguentPicture = "BGOnguent.png";
constexpr std::string_view theriaque1Picture = "Theriaque 1.png";
constexpr std::string_view theriaque2Picture = "Theriaque 2.png";
constexpr std::string_view potCanonPicture = "BGCanon.png";
constexpr std::string_view potCylindriquePicture = "BGCylindrique.png";
constexpr std::string_view vaseHautPicture = "BGVasehaut.png";
constexpr std::string_view raffraichissoirePicture = "BGRafraichissoir.png";
constexpr std::string_view wholeRoomPicture = "BGVitrinerie.png";
constexpr std::string_view allOffPicture = "BGAllOff.png";

constexpr std::array<std::string_view, 13> allPictures{
    mortierPicture,        medaillonPicture,  bouteillePicture,        chevrettePicture,
    onguentPicture,        theriaque1Picture, theriaque2Picture,       potCanonPicture,
    potCylindriquePicture, vaseHautPicture,   raffraichissoirePicture, wholeRoomPicture,
    allOffPicture};

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

template <void (SceneControl::*action)(const std::shared_ptr<Widget>&)>
void performWithSender(SceneControl& scene, const std::shared_ptr<Widget>& sender) {
    (scene.*action)(sender);
}

template <void (SceneControl::*action)()>
void performWithoutSender(SceneControl& scene, const std::shared_ptr<Widget>&) {
    (scene.*action)();
}

constexpr std::array<SceneControl::SceneAction, 16> actions{{
    {"mortier", &performWithSender<&SceneControl::mortier>},
    {"medaillon", &performWithSender<&SceneControl::medaillon>},
    {"bouteille", &performWithSender<&SceneControl::bouteille>},
    {"chevrette", &performWithSender<&SceneControl::chevrette>},
    {"onguent", &performWithSender<&SceneControl::onguent>},
    {"theriaque1", &performWithSender<&SceneControl::theriaque1>},
    {"theriaque2", &performWithSender<&SceneControl::theriaque2>},
    {"potCanon", &performWithSender<&SceneControl::potCanon>},
    {"raffraichissoire", &performWithSender<&SceneControl::raffraichissoire>},
    {"potCylindrique", &performWithSender<&SceneControl::potCylindrique>},
    {"vaseHaut", &performWithSender<&SceneControl::vaseHaut>},
    {"vitrinerie", &performWithSender<&SceneControl::vitrinerie>},
    {"fader", &performWithSender<&SceneControl::fader>},
    {"switchVideo", &performWithSender<&SceneControl::switchVideo>},
    {"vi", &performWithoutSender<&SceneControl::vi>},
    {"sendMyMessage", &performWithoutSender<&SceneControl::sendMyMessage>},
}};

}  // namespace

void SceneControl::mortier(const std::shared_ptr<Widget>&) {
    showFixedScene(mortierPicture, mortierLevels);
}
void SceneControl::medaillon(const std::shared_ptr<Widget>&) {
    showFixedScene(medaillonPicture, medaillonLevels);
}
void SceneControl::bouteille(const std::shared_ptr<Widget>&) {
    showFixedScene(bouteillePicture, bouteilleLevels);
}
void SceneControl::chevrette(const std::shared_ptr<Widget>&) {
    showFixedScene(chevrettePicture, chevretteLevels);
}
void SceneControl::onguent(const std::shared_ptr<Widget>&) {
    showFixedScene(onguentPicture, onguentLevels);
}
void SceneControl::theriaque1(const std::shared_ptr<Widget>&) {
    showFixedScene(theriaque1Picture, theriaque1Levels);
}
void SceneControl::theriaque2(const std::shared_ptr<Widget>&) {
    showFixedScene(theriaque2Picture, theriaque2Levels);
}
void SceneControl::potCanon(const std::shared_ptr<Widget>&) {
    showFixedScene(potCanonPicture, potCanonLevels);
}
void SceneControl::raffraichissoire(const std::shared_ptr<Widget>&) {
    showFixedScene(raffraichissoirePicture, raffraichissoireLevels);
}
void SceneControl::potCylindrique(const std::shared_ptr<Widget>&) {
    showFixedScene(potCylindriquePicture, potCylindriqueLevels);
}
void SceneControl::vaseHaut(const std::shared_ptr<Widget>&) {
    showFixedScene(vaseHautPicture, vaseHautLevels);
}
void SceneControl::vitrinerie(const std::shared_ptr<Widget>&) {
    showWholeRoom();
}
void SceneControl::fader(const std::shared_ptr<Widget>&) {
    showWholeRoom();
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

std::span<const SceneControl::SceneAction> SceneControl::actionTable() {
    return actions;
}

const SceneControl::SceneAction* SceneControl::actionNamed(std::string_view name) {
    const auto found =
        std::find_if(actions.begin(), actions.end(),
                     [name](const SceneAction& action) { return action.name == name; });
    return found == actions.end() ? nullptr : &*found;
}

bool SceneControl::performAction(std::string_view name, const std::shared_ptr<Widget>& sender) {
    const SceneAction* action = actionNamed(name);
    if (!action) return false;
    action->perform(*this, sender);
    return true;
}

std::span<const std::string_view> SceneControl::pictureNames() {
    return allPictures;
}

void SceneControl::showPicture(std::string_view name) {
    if (const auto view = outlets.BG_image.lock()) view->showPicture(std::string(name));
}

void SceneControl::showFixedScene(std::string_view picture, const Levels& levels) {
    showPicture(picture);
    theList = levels;
    sceneShown = true;
    sendMyMessage();
}

void SceneControl::showWholeRoom() {
    showPicture(wholeRoomPicture);
    // The slider is read once per channel: a value that moves during the loop shows up in the
    // later channels, as it always has.
    for (size_t k = 0; k < channelCount; ++k) {
        const float v = outlets.fader ? outlets.fader->value() : 0.0f;
        theList[k] = scaledLevel(allOnLevels[k], v);
    }
    sceneShown = true;
    sendMyMessage();
}

void SceneControl::setControlsEnabled(bool enabled) {
    for (const std::weak_ptr<Control>* control :
         {&outlets.apo, &outlets.med, &outlets.mor, &outlets.bout, &outlets.t1, &outlets.t2,
          &outlets.pot, &outlets.chev, &outlets.potC, &outlets.potCan, &outlets.vase,
          &outlets.raf}) {
        if (const auto locked = control->lock()) locked->setEnabled(enabled);
    }
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

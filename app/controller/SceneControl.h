#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>

#include "app/toolkit/BarItem.h"
#include "app/toolkit/Control.h"
#include "app/toolkit/LayoutOwner.h"
#include "app/toolkit/PictureView.h"
#include "app/toolkit/Slider.h"
#include "app/toolkit/Switch.h"
#include "app/toolkit/Widget.h"

namespace vitrine {

class OSCOutPort;
struct Scene;

// The scene logic of the control screen, written once for both hosts. ViewController and MyView
// derive from it, so its fields and actions are the hosts' own; what differs between the hosts is
// their set-up, which they add themselves. The scenes themselves, with their buttons, pictures
// and levels, are the scene table (app/controller/Scene.h).
//
// Widgets are reached through `outlets`, filled by whoever builds the screen. They live in a
// struct of their own because C++ cannot have a data member and a member function both named
// `fader` in one class: the slider is `outlets.fader`, its action is `fader(sender)`. The
// controller owns the master switch and the slider (shared_ptr); the picture view and the scene
// buttons belong to the screen and are held weakly, so a screen torn down before its controller
// leaves empty references, never dangling ones. An empty or expired reference makes the widget
// operation do nothing; reading it gives false (switch) or 0.0 (slider), as reading a missing
// widget does on the original platform.
//
// Thread safety: every operation runs on the user-interface thread; none may run concurrently
// with another on the same object. Sending goes through `outPort`, which may be shared with
// other threads.
class SceneControl : public LayoutOwner {
public:
    static constexpr size_t channelCount = 24;
    using Levels = std::array<int32_t, channelCount>;

    struct Outlets {
        std::shared_ptr<Switch> button;  // the master switch
        std::shared_ptr<Slider> fader;   // dims the whole-room scene
        std::weak_ptr<PictureView> BG_image;
        std::weak_ptr<Control> apo, med, mor, bout, t1, t2, pot, chev, potC, potCan, vase, raf;
        // The connection indicator; only the set-up's monitor writes to it.
        std::weak_ptr<BarItem> connexion;
    };

    virtual ~SceneControl() = default;
    SceneControl(const SceneControl&) = delete;
    SceneControl& operator=(const SceneControl&) = delete;

    // Channel levels: theList[k - 1] is showcase channel k.
    Levels theList{};
    // Where the scenes are sent; nothing is sent while it is empty.
    std::shared_ptr<OSCOutPort> outPort;
    Outlets outlets;

    // Fixed scenes: show the scene's picture, load its table, send it.
    void mortier(const std::shared_ptr<Widget>& sender);
    void medaillon(const std::shared_ptr<Widget>& sender);
    void bouteille(const std::shared_ptr<Widget>& sender);
    void chevrette(const std::shared_ptr<Widget>& sender);
    void onguent(const std::shared_ptr<Widget>& sender);
    void theriaque1(const std::shared_ptr<Widget>& sender);
    void theriaque2(const std::shared_ptr<Widget>& sender);
    void potCanon(const std::shared_ptr<Widget>& sender);
    void raffraichissoire(const std::shared_ptr<Widget>& sender);
    void potCylindrique(const std::shared_ptr<Widget>& sender);
    void vaseHaut(const std::shared_ptr<Widget>& sender);
    // The whole room, every channel at 255 scaled by the slider.
    void vitrinerie(const std::shared_ptr<Widget>& sender);
    void fader(const std::shared_ptr<Widget>& sender);
    // The master switch changed: unlock or lock the scene controls, blacking the room out when
    // it goes off, and tell the showcase "/switch" with the new state.
    void switchVideo(const std::shared_ptr<Widget>& sender);
    // Turns the switch on and sends "/switch" without unlocking the controls or sending a scene.
    void vi();
    // Sends theList as "/list" (channels 1-12) then "/list2" (channels 13-24).
    void sendMyMessage();
    // Tells the showcase what the screen holds, for a showcase that may have restarted and lost
    // it: "/switch" with the switch's state, then, while a scene is shown, theList as
    // sendMyMessage does.
    void sendHeldState();

    // Runs the action of that exact name ("mortier", "fader", "switchVideo", "vi", ...); false,
    // with nothing done, when no action has that name.
    bool performAction(std::string_view name,
                       const std::shared_ptr<Widget>& sender = nullptr) override;

    // The picture resources the scenes show, for front ends that bundle or serve them.
    static std::span<const std::string_view> pictureNames();

protected:
    SceneControl() = default;

private:
    void showPicture(std::string_view name);
    // Shows the scene's picture, loads its table (scaled by the slider for the whole room) and
    // sends it.
    void showScene(const Scene& scene);
    void setControlsEnabled(bool enabled);
    bool switchIsOn() const;
    void sendSwitchState();
    void sendLevels(const char* address, size_t first);

    // A scene has been sent since set-up or the last switch-off.
    bool sceneShown = false;
};

}  // namespace vitrine

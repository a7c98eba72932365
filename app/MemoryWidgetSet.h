#pragma once

#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "app/Control.h"
#include "app/PictureView.h"
#include "app/SceneControl.h"
#include "app/Slider.h"
#include "app/Switch.h"

namespace vitrine {

// A control screen without a screen: every widget a SceneControl needs, keeping its state in
// memory so that tests and command-line tools can drive scenes and read back what the operator
// would see. The set owns its widgets; attach it to a controller for as long as it lives (the
// controller holds the picture and buttons weakly, and shares the switch and slider).
// Thread safety: none; use it on one thread.
class MemoryWidgetSet {
public:
    class Picture : public PictureView {
    public:
        // The resources this view can find; by default every scene picture.
        std::set<std::string> knownPictures;
        void showPicture(const std::string& name) override;
        // The picture on show, or nothing when the view is empty.
        const std::optional<std::string>& picture() const { return current; }

    private:
        std::optional<std::string> current;
    };

    class Button : public Control {
    public:
        void setEnabled(bool enabled) override { isOnScreenEnabled = enabled; }
        bool isEnabled() const override { return isOnScreenEnabled; }

    private:
        bool isOnScreenEnabled = true;
    };

    class Fader : public Slider {
    public:
        void setEnabled(bool enabled) override { isOnScreenEnabled = enabled; }
        bool isEnabled() const override { return isOnScreenEnabled; }
        float value() const override { return current; }
        void setValue(float value) { current = value; }

    private:
        bool isOnScreenEnabled = true;
        float current = 1.0f;
    };

    class MasterSwitch : public Switch {
    public:
        bool isOn() const override { return on; }
        void setOn(bool newState) override { on = newState; }

    private:
        bool on = false;
    };

    MemoryWidgetSet();

    // Points every outlet of the controller at this set's widgets.
    void attachTo(SceneControl& scene) const;
    // The thirteen controls the master switch locks, in the order it locks them.
    std::vector<std::shared_ptr<Control>> lockableControls() const;

    std::shared_ptr<MasterSwitch> button;
    std::shared_ptr<Fader> fader;
    std::shared_ptr<Picture> BG_image;
    std::shared_ptr<Button> apo, med, mor, bout, t1, t2, pot, chev, potC, potCan, vase, raf;
};

}  // namespace vitrine

#pragma once

#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "app/toolkit/BarItem.h"
#include "app/toolkit/Control.h"
#include "app/toolkit/PictureView.h"
#include "app/controller/SceneControl.h"
#include "app/toolkit/Slider.h"
#include "app/toolkit/Switch.h"
#include "app/toolkit/View.h"
#include "app/toolkit/ViewGeometry.h"
#include "app/toolkit/WidgetFactory.h"

namespace vitrine {

// A control screen without a screen: every widget a SceneControl needs, keeping its state in
// memory so that tests and command-line tools can drive scenes and read back what the operator
// would see. The set owns its widgets; attach it to a controller for as long as it lives (the
// controller holds the picture and buttons weakly, and shares the switch and slider), either with
// attachTo or by loading a layout with the set as front end, which binds the set's own widgets
// and gives them the layout's initial state.
// Thread safety: none; use it on one thread.
class MemoryWidgetSet : public WidgetFactory {
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

    class Indicator : public BarItem {
    public:
        const std::string& title() const override { return text; }
        void setTitle(const std::string& title) override;
        const OSCColor& tintColor() const override { return tint; }
        void setTintColor(const OSCColor& colour) override;
        // Every title and tint set, in order, as "title:..." and "tint:r,g,b,a".
        std::vector<std::string> changes;

    private:
        std::string text;
        OSCColor tint{0.0, 0.0, 0.0, 0.0};
    };

    class RootView : public View {
    public:
        Rect frame() const override { return rect; }
        void setFrame(const Rect& frame) override { rect = frame; }

    private:
        Rect rect;
    };

    class MasterSwitch : public Switch {
    public:
        bool isOn() const override { return on; }
        void setOn(bool newState) override { on = newState; }

    private:
        bool on = false;
    };

    MemoryWidgetSet();

    // The set's widget for the entry's outlet, set to the entry's initial state; empty for an
    // outlet the set does not have. Actions are not routed: callers run them on the controller.
    std::shared_ptr<Widget> makeWidget(const LayoutWidget& layoutEntry,
                                       const std::weak_ptr<SceneControl>& owner) override;

    // Points every outlet of the controller at this set's widgets.
    void attachTo(SceneControl& scene) const;
    // The thirteen controls the master switch locks, in the order it locks them.
    std::vector<std::shared_ptr<Control>> lockableControls() const;

    std::shared_ptr<MasterSwitch> button;
    std::shared_ptr<Fader> fader;
    std::shared_ptr<Picture> BG_image;
    std::shared_ptr<Button> apo, med, mor, bout, t1, t2, pot, chev, potC, potCan, vase, raf;
    std::shared_ptr<Indicator> connexion;
    std::shared_ptr<RootView> theView;
};

}  // namespace vitrine

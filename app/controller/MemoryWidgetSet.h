#pragma once

#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "app/controller/SceneControl.h"
#include "app/toolkit/BarItem.h"
#include "app/toolkit/Control.h"
#include "app/toolkit/PictureView.h"
#include "app/toolkit/Slider.h"
#include "app/toolkit/Switch.h"
#include "app/toolkit/View.h"
#include "app/toolkit/WidgetFactory.h"

namespace vitrine {

// A control screen without a screen: the toolkit's widgets for everything a SceneControl needs,
// one scene button per row of the scene table, so that tests and command-line tools can drive
// scenes and read back what the operator would see. The set owns its widgets; attach it to a
// controller for as long as it lives (the controller holds the picture and buttons weakly, and
// shares the switch and slider), either with attachTo or by loading a layout with the set as
// front end, which binds the set's own widgets and gives them the layout's initial state.
// Thread safety: none; use it on one thread.
class MemoryWidgetSet : public WidgetFactory {
public:
    // The connection indicator, remembering what it was told.
    class Indicator : public BarItem {
    public:
        void setTitle(const std::string& title) override;
        void setTintColor(const OSCColor& colour) override;
        // Every title and tint set, in order, as "title:..." and "tint:r,g,b,a", repeated
        // settings included.
        std::vector<std::string> changes;
    };

    MemoryWidgetSet();

    // The set's widget for the entry's outlet, set to the entry's initial state; empty for an
    // outlet the set does not have. Actions are not routed: callers run them on the controller.
    std::shared_ptr<Widget> makeWidget(const LayoutWidget& layoutEntry,
                                       const std::weak_ptr<LayoutOwner>& owner) override;

    // Points every outlet of the controller at this set's widgets.
    void attachTo(SceneControl& scene) const;
    // The thirteen controls the master switch locks: the scene buttons and the slider.
    std::vector<std::shared_ptr<Control>> lockableControls() const;
    // The scene button of that outlet ("mor", "apo", ...), or empty.
    std::shared_ptr<Control> sceneButton(std::string_view outlet) const;

    // Off, the slider at 1 and every control enabled, the picture empty but able to show every
    // scene picture.
    std::shared_ptr<Switch> button;
    std::shared_ptr<Slider> fader;
    std::shared_ptr<PictureView> BG_image;
    std::shared_ptr<Indicator> connexion;
    std::shared_ptr<View> theView;
    // In the order of the scene table.
    std::vector<std::shared_ptr<Control>> sceneButtons;
};

}  // namespace vitrine

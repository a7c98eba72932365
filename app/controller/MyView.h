#pragma once

#include <memory>
#include <string_view>
#include <vector>

#include "app/controller/ControlScreen.h"
#include "app/toolkit/View.h"
#include "app/toolkit/ViewGeometry.h"
#include "app/toolkit/WidgetFactory.h"

namespace vitrine {

// A self-contained control screen: a view that loads the layout "myViewXib" into itself, with
// the layout's root view as its only subview, and sets itself up as soon as it is made.
// Thread safety: as ControlScreen; make it on the main thread.
class MyView : public ControlScreen {
public:
    static constexpr std::string_view layoutName = "myViewXib";

    // A set-up view filling `frame`, with widgets made by `frontEnd`; the front end must outlive
    // the view's use of its widgets.
    static std::shared_ptr<MyView> createWithFrame(const Rect& frame, WidgetFactory& frontEnd,
                                                   ShowcaseEndpoints showcase = {});

    explicit MyView(const Rect& frame = {}) : geometry(frame) {}

    // The layout's root, owned by this view.
    std::shared_ptr<View> theView;
    // The layout's master switch under its second name.
    std::weak_ptr<Switch> theButton;

    Rect frame() const { return geometry.frame(); }
    Rect bounds() const { return {0.0, 0.0, frame().width, frame().height}; }
    void addSubview(const std::shared_ptr<View>& view);
    const std::vector<std::shared_ptr<View>>& subviews() const { return children; }

    // The set-up, run once by createWithFrame.
    void customInit(WidgetFactory& frontEnd);

    bool bindOutlet(std::string_view name, const std::shared_ptr<Widget>& widget) override;

private:
    ViewGeometry geometry;
    std::vector<std::shared_ptr<View>> children;
};

}  // namespace vitrine

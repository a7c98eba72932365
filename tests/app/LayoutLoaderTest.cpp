#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "app/LayoutLoader.h"
#include "app/MemoryWidgetSet.h"
#include "app/MyView.h"
#include "app/ViewController.h"
#include "basics/Log.h"

using namespace vitrine;

namespace {

TEST(LayoutLoader, MainBindsEveryOutletOfTheControlScreen) {
    MemoryWidgetSet widgets;
    widgets.button->setOn(false);
    widgets.fader->setValue(0.25f);
    auto screen = std::make_shared<ViewController>();
    LogCapture log;
    ASSERT_TRUE(LayoutLoader::loadNibNamed("Main", *screen, widgets));
    EXPECT_TRUE(log.lines().empty());
    const auto& outlets = screen->outlets;
    EXPECT_EQ(outlets.button, widgets.button);
    EXPECT_EQ(outlets.fader, widgets.fader);
    EXPECT_EQ(outlets.BG_image.lock(), widgets.BG_image);
    EXPECT_EQ(outlets.connexion.lock(), widgets.connexion);
    const std::pair<const std::weak_ptr<Control>*, std::shared_ptr<Control>> buttons[] = {
        {&outlets.apo, widgets.apo},   {&outlets.med, widgets.med},
        {&outlets.mor, widgets.mor},   {&outlets.bout, widgets.bout},
        {&outlets.t1, widgets.t1},     {&outlets.t2, widgets.t2},
        {&outlets.pot, widgets.pot},   {&outlets.chev, widgets.chev},
        {&outlets.potC, widgets.potC}, {&outlets.potCan, widgets.potCan},
        {&outlets.vase, widgets.vase}, {&outlets.raf, widgets.raf}};
    for (const auto& [outlet, widget] : buttons) EXPECT_EQ(outlet->lock(), widget);
    // The layout's initial state: switch on, dimmer full, no picture, empty title.
    EXPECT_TRUE(widgets.button->isOn());
    EXPECT_EQ(widgets.fader->value(), 1.0f);
    EXPECT_FALSE(widgets.BG_image->picture());
    EXPECT_EQ(widgets.connexion->title(), "");
}

TEST(LayoutLoader, MyViewXibAddsTheRootViewAndTheSwitchsSecondOutlet) {
    MemoryWidgetSet widgets;
    auto view = std::make_shared<MyView>();
    ASSERT_TRUE(LayoutLoader::loadNibNamed("myViewXib", *view, widgets));
    EXPECT_EQ(view->theView, widgets.theView);
    EXPECT_EQ(view->theButton.lock(), widgets.button);
    EXPECT_EQ(view->outlets.button, widgets.button);
}

TEST(LayoutLoader, AHostWithoutAnOutletReportsItAndBindsTheRest) {
    MemoryWidgetSet widgets;
    auto screen = std::make_shared<ViewController>();
    LogCapture log;
    EXPECT_FALSE(LayoutLoader::loadNibNamed("myViewXib", *screen, widgets));
    EXPECT_TRUE(log.contains("\t\terr: layout myViewXib: outlet theView cannot take its widget"));
    EXPECT_TRUE(log.contains("\t\terr: layout myViewXib: outlet theButton cannot take its widget"));
    EXPECT_EQ(screen->outlets.button, widgets.button);
}

TEST(LayoutLoader, UnknownLayoutIsReported) {
    MemoryWidgetSet widgets;
    auto screen = std::make_shared<ViewController>();
    LogCapture log;
    EXPECT_FALSE(LayoutLoader::loadNibNamed("Other", *screen, widgets));
    EXPECT_EQ(log.lines(), std::vector<std::string>{"\t\terr: layout Other not found"});
    EXPECT_FALSE(screen->outlets.button);
}

TEST(LayoutLoader, MalformedLayoutsAreRefusedWithTheirFault) {
    const struct {
        const char* text;
        const char* fault;
    } cases[] = {
        {"", "not a JSON object"},
        {"[1]", "not a JSON object"},
        {R"({"format": "vitrine-layout/2", "name": "x", "widgets": []})",
         "not a vitrine-layout/1 file"},
        {R"({"format": "vitrine-layout/1", "widgets": []})", "no name or no widget list"},
        {R"({"format": "vitrine-layout/1", "name": "x", "widgets": {}})",
         "no name or no widget list"},
        {R"({"format": "vitrine-layout/1", "name": "x", "widgets": [3]})",
         "a widget is not an object"},
        {R"({"format": "vitrine-layout/1", "name": "x", "widgets": [{"kind": "knob", "outlet": "k"}]})",
         "widget k is of an unknown kind"},
        {R"({"format": "vitrine-layout/1", "name": "x", "widgets": [{"kind": "button"}]})",
         "a widget has no kind or outlet"},
        {R"({"format": "vitrine-layout/1", "name": "x", "widgets": [{"kind": "button", "outlet": "mor", "enabled": "yes"}]})",
         "widget mor has a member of the wrong type"},
        {R"({"format": "vitrine-layout/1", "name": "x", "widgets": [{"kind": "switch", "outlet": "b", "aliases": "c"}]})",
         "widget b has aliases that are not a list"},
        {R"({"format": "vitrine-layout/1", "name": "x", "root": {"kind": "button", "outlet": "r"}, "widgets": []})",
         "its root is not a view"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        LogCapture log;
        EXPECT_FALSE(LayoutLoader::parse(c.text));
        EXPECT_EQ(log.lines(),
                  std::vector<std::string>{std::string("\t\terr: layout refused: ") + c.fault});
    }
}

TEST(LayoutLoader, ParsesEveryFieldOfAWidget) {
    const auto layout =
        LayoutLoader::parse(R"({"format": "vitrine-layout/1", "name": "n", "host": "h",
        "widgets": [{"kind": "slider", "outlet": "fader", "action": "fader", "min": 0, "max": 2,
                     "value": 0.5, "enabled": false, "aliases": ["a", "b"]},
                    {"kind": "pictureView", "outlet": "BG_image", "picture": "BGMortier.png"}]})");
    ASSERT_TRUE(layout);
    EXPECT_EQ(layout->name, "n");
    EXPECT_EQ(layout->host, "h");
    ASSERT_EQ(layout->widgets.size(), 2u);
    const auto& slider = layout->widgets[0];
    EXPECT_EQ(slider.kind, LayoutWidget::Kind::slider);
    EXPECT_EQ(slider.action, "fader");
    EXPECT_EQ(slider.maximum, 2.0);
    EXPECT_EQ(slider.value, 0.5);
    EXPECT_FALSE(slider.enabled);
    EXPECT_EQ(slider.aliases, (std::vector<std::string>{"a", "b"}));
    EXPECT_EQ(layout->widgets[1].picture, "BGMortier.png");
    EXPECT_FALSE(layout->widgets[1].action);
}

}  // namespace

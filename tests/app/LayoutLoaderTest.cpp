#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "app/toolkit/LayoutLoader.h"
#include "app/controller/MemoryWidgetSet.h"
#include "app/controller/MyView.h"
#include "app/controller/ViewController.h"
#include "basics/Log.h"

using namespace vitrine;

namespace {

// Loading sets the initial state whatever the widgets showed before. (That every outlet is bound
// is seen through the browser test, whose page draws and drives each of Main's widgets.)
TEST(LayoutLoader, MainSetsTheInitialStateAndBindsOnlyWidgetsOfTheRightKind) {
    MemoryWidgetSet widgets;
    widgets.button->setOn(false);
    widgets.fader->setValue(0.25f);
    widgets.sceneButton("mor")->setEnabled(false);
    auto screen = std::make_shared<ViewController>();
    LogCapture log;
    ASSERT_TRUE(LayoutLoader::loadNibNamed("Main", *screen, widgets));
    EXPECT_TRUE(log.lines().empty());
    EXPECT_TRUE(widgets.button->isOn());
    EXPECT_EQ(widgets.fader->value(), 1.0f);
    EXPECT_TRUE(widgets.sceneButton("mor")->isEnabled());
    EXPECT_FALSE(widgets.BG_image->picture());
    EXPECT_FALSE(screen->bindOutlet("connexion", widgets.sceneButton("mor")));
    EXPECT_FALSE(screen->bindOutlet("fader", widgets.button));
}

// MyView's layout adds the root view and a second outlet on the switch; a host without those
// outlets is told so and gets the rest.
TEST(LayoutLoader, MyViewXibBindsItsExtraOutletsOnlyOnAMyView) {
    MemoryWidgetSet widgets;
    auto view = std::make_shared<MyView>();
    ASSERT_TRUE(LayoutLoader::loadNibNamed("myViewXib", *view, widgets));
    EXPECT_EQ(view->theView, widgets.theView);
    EXPECT_EQ(view->theButton.lock(), widgets.button);

    auto screen = std::make_shared<ViewController>();
    LogCapture log;
    EXPECT_FALSE(LayoutLoader::loadNibNamed("myViewXib", *screen, widgets));
    EXPECT_EQ(log.lines(),
              (std::vector<std::string>{
                  "\t\terr: layout myViewXib: outlet theView cannot take its widget",
                  "\t\terr: layout myViewXib: outlet theButton cannot take its widget"}));
    EXPECT_EQ(screen->outlets.button, widgets.button);
}

TEST(LayoutLoader, UnknownOrMalformedLayoutsAreRefusedWithTheirFault) {
    MemoryWidgetSet widgets;
    auto screen = std::make_shared<ViewController>();
    {
        LogCapture log;
        EXPECT_FALSE(LayoutLoader::loadNibNamed("Other", *screen, widgets));
        EXPECT_EQ(log.lines(), std::vector<std::string>{"\t\terr: layout Other not found"});
    }
    const std::string head = R"({"format": "vitrine-layout/1", "name": "x", )";
    const std::pair<std::string, const char*> cases[] = {
        {"", "not a JSON object"},
        {R"({"format": "vitrine-layout/2", "name": "x", "widgets": []})",
         "not a vitrine-layout/1 file"},
        {head + R"("widgets": {}})", "no name or no widget list"},
        {head + R"("widgets": [3]})", "a widget is not an object"},
        {head + R"("widgets": [{"kind": "knob", "outlet": "k"}]})",
         "widget k is of an unknown kind"},
        {head + R"("widgets": [{"kind": "button", "outlet": "mor", "enabled": "yes"}]})",
         "widget mor has a member of the wrong type"},
        {head + R"("widgets": [{"kind": "switch", "outlet": "b", "aliases": "c"}]})",
         "widget b has aliases that are not a list"},
        {head + R"("root": {"kind": "button", "outlet": "r"}, "widgets": []})",
         "its root is not a view"},
    };
    for (const auto& [text, fault] : cases) {
        LogCapture log;
        EXPECT_FALSE(LayoutLoader::parse(text)) << text;
        EXPECT_EQ(log.lines(),
                  std::vector<std::string>{"\t\terr: layout refused: " + std::string(fault)});
    }
}

}  // namespace

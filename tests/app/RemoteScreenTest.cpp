// The page protocol's input side: every refused input answers its sender alone and leaves the
// state, the widgets and the wire untouched; accepted input runs the action as a touch would.

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include <memory>
#include <string>

#include "app/LayoutLoader.h"
#include "app/RemoteScreen.h"
#include "app/SceneControl.h"
#include "app/ViewController.h"
#include "osc/OSCOutPort.h"
#include "support/UdpListener.h"

using namespace vitrine;
using nlohmann::json;

namespace {

std::set<std::string> allPictures() {
    std::set<std::string> names;
    for (const auto name : SceneControl::pictureNames()) names.emplace(name);
    return names;
}

class RemoteScreenTest : public ::testing::Test {
protected:
    RemoteScreenTest() : screen(allPictures()), controller(std::make_shared<ViewController>()) {
        EXPECT_TRUE(LayoutLoader::loadNibNamed("Main", *controller, screen));
        controller->outPort = OSCOutPort::createWithAddress("127.0.0.1", listener.port());
        screen.setChangeHandler([this] { ++changes; });
    }

    json state() const { return json::parse(screen.stateMessage()); }

    // Sends text as a page would and checks that it was refused with `error` and changed nothing.
    void expectRefused(const std::string& text, const std::string& error) {
        SCOPED_TRACE(text.substr(0, 80));
        const std::string before = screen.stateMessage();
        const int changesBefore = changes;
        const auto reply = screen.handleClientText(text);
        EXPECT_EQ(reply.error, error);
        EXPECT_FALSE(reply.resendState);
        EXPECT_EQ(screen.stateMessage(), before);
        EXPECT_EQ(changes, changesBefore);
        EXPECT_TRUE(listener.drain(std::chrono::milliseconds(50)).empty());
    }

    test::UdpListener listener;
    RemoteScreen screen;
    std::shared_ptr<ViewController> controller;
    int changes = 0;
};

TEST_F(RemoteScreenTest, InitialStateFollowsTheLayout) {
    const json expected = json::parse(R"({"type": "state", "picture": null, "switchOn": true,
        "controls": {"mor": {"enabled": true}, "med": {"enabled": true}, "bout": {"enabled": true},
                     "chev": {"enabled": true}, "pot": {"enabled": true}, "t1": {"enabled": true},
                     "t2": {"enabled": true}, "potCan": {"enabled": true}, "potC": {"enabled": true},
                     "vase": {"enabled": true}, "raf": {"enabled": true}, "apo": {"enabled": true},
                     "fader": {"enabled": true, "value": 1.0}},
        "connexion": {"title": "", "tint": [0.0, 0.0, 0.0, 0.0]}})");
    EXPECT_EQ(state(), expected);
}

TEST_F(RemoteScreenTest, SceneRunsItsActionAndChangesTheState) {
    EXPECT_EQ(screen.handleClientText(R"({"action": "mortier", "extra": [1, 2]})").error,
              std::nullopt);
    EXPECT_EQ(state()["picture"], "BGMortier.png");
    EXPECT_EQ(listener.drain().size(), 2u);
    EXPECT_EQ(changes, 1);
}

TEST_F(RemoteScreenTest, FaderSetsTheValueThenDimsTheRoom) {
    EXPECT_EQ(screen.handleClientText(R"({"action": "fader", "value": 0.5})").error, std::nullopt);
    EXPECT_EQ(state()["controls"]["fader"]["value"], 0.5);
    EXPECT_EQ(state()["picture"], "BGVitrinerie.png");
    EXPECT_EQ(controller->theList[23], 127);
    EXPECT_EQ(screen.handleClientText(R"({"action": "fader", "value": 0})").error, std::nullopt);
    EXPECT_EQ(controller->theList[0], 0);
}

TEST_F(RemoteScreenTest, SwitchActsOnlyOnAChange) {
    const auto same = screen.handleClientText(R"({"action": "switchVideo", "on": true})");
    EXPECT_EQ(same.error, std::nullopt);
    EXPECT_TRUE(same.resendState);
    EXPECT_TRUE(listener.drain(std::chrono::milliseconds(50)).empty());
    EXPECT_EQ(changes, 0);

    EXPECT_FALSE(screen.handleClientText(R"({"action": "switchVideo", "on": false})").resendState);
    const json off = state();
    EXPECT_FALSE(off["switchOn"]);
    EXPECT_EQ(off["picture"], "BGAllOff.png");
    for (const auto& [outlet, control] : off["controls"].items())
        EXPECT_FALSE(control["enabled"]) << outlet;
    EXPECT_EQ(listener.drain().size(), 3u);  // "/list", "/list2", "/switch"
}

TEST_F(RemoteScreenTest, MalformedOversizedAndUnknownInputIsRefused) {
    expectRefused("{not json", "Message illisible.");
    expectRefused("", "Message illisible.");
    expectRefused("[\"mortier\"]", "Message illisible.");
    expectRefused("\"mortier\"", "Message illisible.");
    expectRefused("{}", "Message sans action.");
    expectRefused(R"({"action": 3})", "Message sans action.");
    expectRefused(R"({"action": "explode"})", "Action inconnue : \"explode\"");
    // Actions the screen has but no widget offers stay out of the pages' reach.
    expectRefused(R"({"action": "vi"})", "Action inconnue : \"vi\"");
    expectRefused(R"({"action": "sendMyMessage"})", "Action inconnue : \"sendMyMessage\"");
    // An unknown name is quoted back shortened and as valid UTF-8.
    expectRefused("{\"action\": \"" + std::string(100, 'x') + "\"}",
                  "Action inconnue : \"" + std::string(40, 'x') + "\"");
    const auto cut =
        screen.handleClientText("{\"action\": \"" + std::string(39, 'x') + "\xc3\xa9\"}");
    ASSERT_TRUE(cut.error);
    EXPECT_TRUE(json::accept(RemoteScreen::errorMessage(*cut.error)));

    // Well-formed, but longer than any page sends.
    std::string padded = R"({"action": "mortier", "pad": ")";
    padded += std::string(RemoteScreen::maxMessageSize, ' ') + "\"}";
    expectRefused(padded, "Message trop long.");
}

TEST_F(RemoteScreenTest, FaderValuesOutsideTheRangeOrNotNumbersAreRefused) {
    controller->fader(nullptr);
    listener.drain();
    changes = 0;
    for (const char* text :
         {R"({"action": "fader"})", R"({"action": "fader", "value": "0.5"})",
          R"({"action": "fader", "value": null})", R"({"action": "fader", "value": true})",
          R"({"action": "fader", "value": 1.0001})", R"({"action": "fader", "value": -0.01})",
          R"({"action": "fader", "value": 1e308})", R"({"action": "fader", "value": [0.5]})"})
        expectRefused(text, "Valeur d'intensit\u00e9 invalide.");
    for (const char* text :
         {R"({"action": "switchVideo"})", R"({"action": "switchVideo", "on": 1})",
          R"({"action": "switchVideo", "on": "false"})"})
        expectRefused(text, "\u00c9tat d'interrupteur invalide.");
}

TEST_F(RemoteScreenTest, ActionsOnDisabledControlsAreRefused) {
    ASSERT_FALSE(screen.handleClientText(R"({"action": "switchVideo", "on": false})").error);
    listener.drain();
    for (const char* action :
         {"mortier", "medaillon", "bouteille", "chevrette", "onguent", "theriaque1", "theriaque2",
          "potCanon", "potCylindrique", "vaseHaut", "raffraichissoire", "vitrinerie"})
        expectRefused(std::string(R"({"action": ")") + action + "\"}",
                      "Sc\u00e8ne indisponible : la vitrine est \u00e9teinte.");
    expectRefused(R"({"action": "fader", "value": 0.5})",
                  "Intensit\u00e9 indisponible : la vitrine est \u00e9teinte.");
    EXPECT_EQ(controller->theList, SceneControl::Levels{});
}

TEST_F(RemoteScreenTest, IndicatorChangesReachThePagesOnlyWhenTheyChangeSomething) {
    controller->connectedColor = ControlScreen::connectedComponents;
    controller->unconnectedColor = ControlScreen::unconnectedComponents;
    controller->targetMethod(nullptr);
    const int afterFirst = changes;
    EXPECT_EQ(state()["connexion"],
              json::parse("{\"title\": \"D\u00e9connect\u00e9\", \"tint\": [1.0, 0.0, 0.0, 0.5]}"));
    controller->targetMethod(nullptr);
    EXPECT_EQ(changes, afterFirst);
}

TEST_F(RemoteScreenTest, AnUnknownPictureClearsThePicture) {
    controller->mortier(nullptr);
    controller->outlets.BG_image.lock()->showPicture("Missing.png");
    EXPECT_TRUE(state()["picture"].is_null());
}

}  // namespace

// The page protocol's input side: every refused input answers its sender alone and leaves the
// state, the widgets and the wire untouched; accepted input runs the action as a touch would.

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include <memory>
#include <string>

#include "app/toolkit/LayoutLoader.h"
#include "app/web/RemoteScreen.h"
#include "app/controller/SceneControl.h"
#include "app/controller/ViewController.h"
#include "osc/OSCOutPort.h"
#include "support/ScenePictures.h"
#include "support/UdpListener.h"

using namespace vitrine;
using nlohmann::json;

namespace {

class RemoteScreenTest : public ::testing::Test {
protected:
    RemoteScreenTest()
        : screen(test::allPictures()), controller(std::make_shared<ViewController>()) {
        EXPECT_TRUE(LayoutLoader::loadNibNamed("Main", *controller, screen));
        controller->outPort = OSCOutPort::createWithAddress("127.0.0.1", listener.port());
        screen.setChangeHandler([this] { ++changes; });
    }

    json state() const { return json::parse(screen.stateMessage()); }

    // Sends text as a page would and expects success, returning the datagrams it caused.
    size_t accept(const std::string& text) {
        EXPECT_EQ(screen.handleClientText(text).error, std::nullopt) << text;
        return listener.drain().size();
    }

    test::UdpListener listener;
    RemoteScreen screen;
    std::shared_ptr<ViewController> controller;
    int changes = 0;
};

TEST_F(RemoteScreenTest, AcceptedInputRunsTheActionAndChangesTheState) {
    EXPECT_EQ(state(), json::parse(R"({"type": "state", "picture": null, "switchOn": true,
        "controls": {"mor": {"enabled": true}, "med": {"enabled": true}, "bout": {"enabled": true},
                     "chev": {"enabled": true}, "pot": {"enabled": true}, "t1": {"enabled": true},
                     "t2": {"enabled": true}, "potCan": {"enabled": true}, "potC": {"enabled": true},
                     "vase": {"enabled": true}, "raf": {"enabled": true}, "apo": {"enabled": true},
                     "fader": {"enabled": true, "value": 1.0}},
        "connexion": {"title": "", "tint": [0.0, 0.0, 0.0, 0.0]}})"));

    EXPECT_EQ(accept(R"({"action": "fader", "value": 0})"), 2u);
    EXPECT_EQ(accept(R"({"action": "fader", "value": 0.5, "extra": [1, 2]})"), 2u);
    EXPECT_EQ(state()["controls"]["fader"]["value"], 0.5);
    EXPECT_EQ(state()["picture"], "BGVitrinerie.png");
    EXPECT_EQ(controller->theList[23], 127);

    // The switch acts only on a change; a page asking for what already is gets the state again.
    const int changesBefore = changes;
    EXPECT_TRUE(screen.handleClientText(R"({"action": "switchVideo", "on": true})").resendState);
    EXPECT_TRUE(listener.drain(std::chrono::milliseconds(50)).empty());
    EXPECT_EQ(changes, changesBefore);

    // The indicator reaches the pages only when a tick changes it; an unknown picture is none.
    controller->connectedColor = ControlScreen::connectedComponents;
    controller->unconnectedColor = ControlScreen::unconnectedComponents;
    controller->targetMethod(nullptr);
    const int afterFirst = changes;
    EXPECT_EQ(state()["connexion"],
              json::parse("{\"title\": \"D\u00e9connect\u00e9\", \"tint\": [1.0, 0.0, 0.0, 0.5]}"));
    controller->targetMethod(nullptr);
    EXPECT_EQ(changes, afterFirst);
    controller->outlets.BG_image.lock()->showPicture("Missing.png");
    EXPECT_TRUE(state()["picture"].is_null());
}

TEST_F(RemoteScreenTest, RefusedInputChangesNothingAndGetsItsError) {
    const std::string unreadable = "Message illisible.", unknown = "Action inconnue : ";
    const std::string badValue = "Valeur d'intensit\u00e9 invalide.";
    const std::string badSwitch = "\u00c9tat d'interrupteur invalide.";
    const auto action = [](const std::string& name, const std::string& rest = "") {
        return "{\"action\": \"" + name + "\"" + rest + "}";
    };
    std::vector<std::pair<std::string, std::string>> cases = {
        {"{not json", unreadable},
        {"", unreadable},
        {"[\"mortier\"]", unreadable},
        {"\"mortier\"", unreadable},
        {"{}", "Message sans action."},
        {R"({"action": 3})", "Message sans action."},
        {action("explode"), unknown + "\"explode\""},
        // Actions the screen has but no widget offers stay out of the pages' reach.
        {action("vi"), unknown + "\"vi\""},
        {action("sendMyMessage"), unknown + "\"sendMyMessage\""},
        // An unknown name is quoted back shortened.
        {action(std::string(100, 'x')), unknown + "\"" + std::string(40, 'x') + "\""},
        {action("mortier", ", \"pad\": \"" + std::string(RemoteScreen::maxMessageSize, ' ') + "\""),
         "Message trop long."},
        {action("switchVideo"), badSwitch},
    };
    for (const char* value : {"\"0.5\"", "null", "true", "1.0001", "-0.01", "1e308", "[0.5]"})
        cases.emplace_back(action("fader", std::string(", \"value\": ") + value), badValue);
    cases.emplace_back(action("fader"), badValue);
    for (const char* on : {"1", "\"false\""})
        cases.emplace_back(action("switchVideo", std::string(", \"on\": ") + on), badSwitch);
    const size_t whileOn = cases.size();
    // Once the showcase is off, its scenes and the dimmer are not available.
    for (const char* scene :
         {"mortier", "medaillon", "bouteille", "chevrette", "onguent", "theriaque1", "theriaque2",
          "potCanon", "potCylindrique", "vaseHaut", "raffraichissoire", "vitrinerie"})
        cases.emplace_back(action(scene), "Sc\u00e8ne indisponible : la vitrine est \u00e9teinte.");
    cases.emplace_back(action("fader", ", \"value\": 0.5"),
                       "Intensit\u00e9 indisponible : la vitrine est \u00e9teinte.");

    controller->fader(nullptr);
    listener.drain();
    for (size_t n = 0; n < cases.size(); ++n) {
        const auto& [text, error] = cases[n];
        SCOPED_TRACE(text.substr(0, 80));
        if (n == whileOn) accept(action("switchVideo", ", \"on\": false"));
        const std::string before = screen.stateMessage();
        const int changesBefore = changes;
        const auto reply = screen.handleClientText(text);
        EXPECT_EQ(reply.error, error);
        EXPECT_FALSE(reply.resendState);
        EXPECT_EQ(screen.stateMessage(), before);
        EXPECT_EQ(changes, changesBefore);
        EXPECT_TRUE(listener.drain(std::chrono::milliseconds(50)).empty());
    }
    EXPECT_EQ(controller->theList, SceneControl::Levels{});

    // A name cut inside a multi-byte character still quotes back as valid UTF-8.
    const auto cut = screen.handleClientText(action(std::string(39, 'x') + "\xc3\xa9"));
    ASSERT_TRUE(cut.error);
    EXPECT_TRUE(json::accept(RemoteScreen::errorMessage(*cut.error)));
}

}  // namespace

// A page learns the scene buttons from the first state it gets, in screen order; the later
// states leave them out. A screen whose layout lacks a button does not offer its scene.
TEST_F(RemoteScreenTest, FirstStateNamesTheSceneButtonsInScreenOrder) {
    json first = json::parse(screen.firstStateMessage());
    ASSERT_EQ(first["scenes"].size(), 12u);
    EXPECT_EQ(first["scenes"][4], json::parse(R"({"action": "onguent", "outlet": "pot",
        "label": "Pot \u00e0 onguent", "picture": "BGOnguent.png"})"));
    std::string order;
    for (const auto& scene : first["scenes"]) order += scene["outlet"].get<std::string>() + " ";
    EXPECT_EQ(order, "mor med bout chev pot t1 t2 potCan potC vase raf apo ");
    first.erase("scenes");
    EXPECT_EQ(first, state());
    EXPECT_FALSE(state().contains("scenes"));

    RemoteScreen bare{test::allPictures()};
    EXPECT_EQ(json::parse(bare.firstStateMessage())["scenes"], json::array());
}

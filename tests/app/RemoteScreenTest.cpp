// The page protocol's input side: every refused input answers its sender alone and leaves the
// state, the widgets and the wire untouched; accepted input runs the action as a touch would.

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include <memory>
#include <string>
#include <tuple>
#include <vector>

#include "app/toolkit/LayoutLoader.h"
#include "app/web/RemoteScreen.h"
#include "app/controller/SceneControl.h"
#include "app/controller/ViewController.h"
#include "basics/RunLoop.h"
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

    // A page's object text with the heartbeat just issued echoed in it, as pages send actions.
    std::string dated(const std::string& text) {
        const auto beat = json::parse(screen.nextHeartbeat())["id"].get<uint64_t>();
        return "{\"heartbeat\": " + std::to_string(beat) + ", " + text.substr(1);
    }
    RemoteScreen::Reply send(const std::string& text) {
        return screen.handleClientText(dated(text));
    }

    // Sends text as a page would and expects success, returning the datagrams it caused.
    size_t accept(const std::string& text) {
        EXPECT_EQ(send(text).error, std::nullopt) << text;
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
    EXPECT_TRUE(send(R"({"action": "switchVideo", "on": true})").resendState);
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

// A burst of dimmer values puts two whole-room scenes on the wire: the first value at once, the
// last one when the main loop's timer ends the interval. A value equal to the slider's sends
// nothing; a scene chosen while a value is held replaces it for good.
TEST_F(RemoteScreenTest, DimmerBurstSendsTheFirstAndTheLastValueOnly) {
    const auto loop = RunLoop::create();
    const auto previous = MainLoop::setCurrent(loop);
    const auto levels = [](int32_t level) {
        SceneControl::Levels all;
        all.fill(level);
        return all;
    };
    for (int n = 0; n < 1000; ++n) {
        EXPECT_EQ(send(R"({"action": "fader", "value": )" +
                       std::to_string((200 + n * 600 / 999) / 1000.0) + "}")
                      .error,
                  std::nullopt);
        // 255 * 0.2 truncated: the first value went out at once.
        if (n == 0) {
            EXPECT_EQ(controller->theList, levels(51));
        }
    }
    EXPECT_EQ(state()["controls"]["fader"]["value"], 0.8);
    EXPECT_TRUE(loop->runUntil([&] { return controller->theList == levels(204); },
                               std::chrono::seconds(5)));
    EXPECT_EQ(listener.drain().size(), 4u);

    // Equal to the slider: nothing on the wire, no change; only its sender gets the state.
    const int changesBefore = changes;
    EXPECT_TRUE(send(R"({"action": "fader", "value": 0.8})").resendState);
    EXPECT_TRUE(listener.drain(std::chrono::milliseconds(50)).empty());
    EXPECT_EQ(changes, changesBefore);

    // Held, then replaced by a scene: the timer's end of interval sends nothing more. No drain
    // between the two values: its quiet wait outlasts the interval, and 0.4 would go out at once.
    EXPECT_EQ(send(R"({"action": "fader", "value": 0.5})").error, std::nullopt);
    EXPECT_EQ(send(R"({"action": "fader", "value": 0.4})").error, std::nullopt);
    EXPECT_EQ(accept(R"({"action": "mortier"})"), 4u);
    loop->runFor(3 * std::chrono::duration_cast<RunLoop::Duration>(RemoteScreen::faderInterval));
    EXPECT_TRUE(listener.drain(std::chrono::milliseconds(50)).empty());
    EXPECT_EQ(controller->theList[0], 255);
    MainLoop::setCurrent(previous);
}

// An action counts only while the heartbeat it echoes is at most two seconds old by the
// screen's own clock; a page that just connected is given the latest beat still that young.
TEST_F(RemoteScreenTest, AnActionEchoingAnOldHeartbeatIsRefusedAsLate) {
    using namespace std::chrono_literals;
    const auto t0 = RemoteScreen::Clock::now();
    const auto idOf = [](const std::string& message) {
        const json beat = json::parse(message);
        EXPECT_EQ(beat.size(), 2u);
        EXPECT_EQ(beat["type"], "heartbeat");
        return beat["id"].get<uint64_t>();
    };
    const uint64_t first = idOf(screen.nextHeartbeat(t0));
    const uint64_t second = idOf(screen.nextHeartbeat(t0 + 1s));
    EXPECT_EQ(second, first + 1);
    const auto at = [&](uint64_t beat, RemoteScreen::Clock::duration after) {
        return screen.handleClientText(
            R"({"action": "mortier", "heartbeat": )" + std::to_string(beat) + "}", t0 + after);
    };
    // {heartbeat echoed, arrival after t0, refused as late}
    const std::tuple<uint64_t, RemoteScreen::Clock::duration, bool> cases[] = {
        {first, 1900ms, false}, {first, 2100ms, true},  {second, 2100ms, false},
        {second, 2900ms, false}, {second + 1, 2900ms, true},
    };
    for (const auto& [beat, after, refused] : cases) {
        SCOPED_TRACE(std::to_string(beat - first) + " at " + std::to_string(after.count()));
        const auto reply = at(beat, after);
        EXPECT_EQ(reply.error, refused ? std::optional<std::string>(RemoteScreen::lateAction)
                                       : std::nullopt);
        EXPECT_EQ(listener.drain().size(), refused ? 0u : 2u);
    }
    // Mortier again changed nothing the pages show: its sender alone gets the state back.
    EXPECT_TRUE(at(second, 2900ms).resendState);
    listener.drain();
    EXPECT_EQ(idOf(screen.latestHeartbeat(t0 + 2900ms)), second);
    EXPECT_EQ(at(second, 3100ms).error, RemoteScreen::lateAction);
    EXPECT_EQ(idOf(screen.latestHeartbeat(t0 + 3100ms)), second + 1);
    EXPECT_TRUE(listener.drain(std::chrono::milliseconds(50)).empty());
}

TEST_F(RemoteScreenTest, RefusedInputChangesNothingAndGetsItsError) {
    const std::string unreadable = "Message illisible.", unknown = "Action inconnue\u00a0: ";
    const std::string badValue = "Valeur d'intensit\u00e9 invalide.";
    const std::string badSwitch = "\u00c9tat d'interrupteur invalide.";
    const std::string undated =
        "Commande sans battement du contr\u00f4leur, ignor\u00e9e\u00a0: rechargez la page.";
    const std::string late =
        "Commande arriv\u00e9e trop tard, ignor\u00e9e\u00a0: le contr\u00f4leur ne r\u00e9pondait "
        "plus. Recommencez si besoin.";
    // Actions are dated when they are sent (below), as pages do, unless they name a heartbeat.
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
    // Undated, or dated by a heartbeat this screen never issued.
    for (const char* beat : {"null", "-1", "1.5", "\"1\""})
        cases.emplace_back(std::string(R"({"action": "mortier", "heartbeat": )") + beat + "}",
                           undated);
    cases.emplace_back(R"({"action": "fader", "value": 0.5, "heartbeat": 99999})", late);
    const size_t whileOn = cases.size();
    // Once the showcase is off, its scenes and the dimmer are not available.
    for (const char* scene :
         {"mortier", "medaillon", "bouteille", "chevrette", "onguent", "theriaque1", "theriaque2",
          "potCanon", "potCylindrique", "vaseHaut", "raffraichissoire", "vitrinerie"})
        cases.emplace_back(action(scene), "Sc\u00e8ne indisponible\u00a0: la vitrine est \u00e9teinte.");
    cases.emplace_back(action("fader", ", \"value\": 0.5"),
                       "Intensit\u00e9 indisponible\u00a0: la vitrine est \u00e9teinte.");

    controller->fader(nullptr);
    listener.drain();
    for (size_t n = 0; n < cases.size(); ++n) {
        const auto& [text, error] = cases[n];
        SCOPED_TRACE(text.substr(0, 80));
        if (n == whileOn) accept(R"({"action": "switchVideo", "on": false})");
        const std::string before = screen.stateMessage();
        const int changesBefore = changes;
        const bool undated = text.find("heartbeat") == std::string::npos &&
                             text.starts_with("{\"action\"");
        const auto reply = screen.handleClientText(undated ? dated(text) : text);
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
        "label": "Pot \u00e0 onguent", "picture": "BGOnguent.png", "dimmed": false})"));
    std::string order;
    for (const auto& scene : first["scenes"]) order += scene["outlet"].get<std::string>() + " ";
    EXPECT_EQ(order, "mor med bout chev pot t1 t2 potCan potC vase raf apo ");
    first.erase("scenes");
    EXPECT_EQ(first, state());
    EXPECT_FALSE(state().contains("scenes"));

    RemoteScreen bare{test::allPictures()};
    EXPECT_EQ(json::parse(bare.firstStateMessage())["scenes"], json::array());
}

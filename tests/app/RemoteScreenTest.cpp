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
#include "app/controller/Scene.h"
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

    // Expects `text` accepted; the datagrams it caused.
    size_t accept(const std::string& text) {
        EXPECT_EQ(send(text).error, std::nullopt) << text;
        return listener.takeArrived().size();
    }
    // Asking for what already is: only its sender gets the state again, nothing goes out.
    void expectResentOnly(const std::string& text) {
        const int before = changes;
        EXPECT_TRUE(send(text).resendState) << text;
        EXPECT_TRUE(listener.takeArrived().empty()) << text;
        EXPECT_EQ(changes, before) << text;
    }

    test::UdpListener listener;
    RemoteScreen screen;
    std::shared_ptr<ViewController> controller;
    int changes = 0;
};

// A page learns the scene buttons from the first state it gets, in screen order; the later
// states leave them out. A screen whose layout lacks a button does not offer its scene. (What
// each member of the state and of a scene does is seen through the browser test's page.)
TEST_F(RemoteScreenTest, OnlyTheFirstStateNamesTheSceneButtonsInScreenOrder) {
    json first = json::parse(screen.firstStateMessage());
    std::string order;
    for (const auto& scene : first["scenes"]) order += scene["outlet"].get<std::string>() + " ";
    EXPECT_EQ(order, "mor med bout chev pot t1 t2 potCan potC vase raf apo ");
    first.erase("scenes");
    EXPECT_EQ(state(), first);
    RemoteScreen bare{test::allPictures()};
    EXPECT_EQ(json::parse(bare.firstStateMessage())["scenes"], json::array());

    // Members beside the action's own are ignored; an unknown picture shows as none.
    EXPECT_EQ(accept(R"({"action": "fader", "value": 0.5, "extra": [1, 2]})"), 2u);
    EXPECT_EQ(state()["controls"]["fader"]["value"], 0.5);
    expectResentOnly(R"({"action": "switchVideo", "on": true})");
    controller->outlets.BG_image.lock()->showPicture("Missing.png");
    EXPECT_TRUE(state()["picture"].is_null());
}

// A burst of dimmer values puts two whole-room scenes on the wire: the first value at once, the
// last one when the main loop's timer ends the interval. A value equal to the slider's sends
// nothing; a scene chosen while a value is held replaces it for good.
TEST_F(RemoteScreenTest, DimmerBurstSendsTheFirstAndTheLastValueOnly) {
    const auto loop = RunLoop::create();
    const auto previous = MainLoop::setCurrent(loop);
    for (int n = 0; n < 1000; ++n) {
        EXPECT_EQ(send(R"({"action": "fader", "value": )" +
                       std::to_string((200 + n * 600 / 999) / 1000.0) + "}")
                      .error,
                  std::nullopt);
        // 255 * 0.2 truncated: the first value went out at once.
        if (n == 0) {
            EXPECT_EQ(controller->theList[23], 51);
        }
    }
    EXPECT_EQ(state()["controls"]["fader"]["value"], 0.8);
    EXPECT_TRUE(loop->runUntil([&] { return controller->theList[23] == 204; },
                               std::chrono::seconds(5)));
    EXPECT_EQ(listener.takeArrived().size(), 4u);
    expectResentOnly(R"({"action": "fader", "value": 0.8})");

    // Whether 0.5 goes out at once depends on how long ago 0.8 did; 0.4 is held either way, and
    // the scene drops it. A timer of a whole interval, scheduled after it, fires after the held
    // value's would have: by then nothing may have followed the scene.
    EXPECT_EQ(send(R"({"action": "fader", "value": 0.5})").error, std::nullopt);
    EXPECT_EQ(send(R"({"action": "fader", "value": 0.4})").error, std::nullopt);
    EXPECT_GE(accept(R"({"action": "mortier"})"), 2u);
    bool markerFired = false;
    const auto marker = loop->scheduleRepeatingTimer(RemoteScreen::faderInterval,
                                                     [&] { markerFired = true; });
    EXPECT_TRUE(loop->runUntil([&] { return markerFired; }, std::chrono::seconds(5)));
    marker->invalidate();
    EXPECT_TRUE(listener.takeArrived().empty());
    EXPECT_EQ(controller->theList[0], 255);
    MainLoop::setCurrent(previous);
}

// An action counts only while the heartbeat it echoes is at most two seconds old by the
// screen's own clock; a page that just connected is given the latest beat still that young.
TEST_F(RemoteScreenTest, AnActionEchoingAnOldHeartbeatIsRefusedAsLate) {
    using namespace std::chrono_literals;
    const auto t0 = RemoteScreen::Clock::now();
    const auto idOf = [](const std::string& beat) { return json::parse(beat)["id"].get<uint64_t>(); };
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
        EXPECT_EQ(at(beat, after).error,
                  refused ? std::optional<std::string>(RemoteScreen::lateAction) : std::nullopt);
        EXPECT_EQ(listener.takeArrived().size(), refused ? 0u : 2u);
    }
    EXPECT_EQ(idOf(screen.latestHeartbeat(t0 + 2900ms)), second);
    EXPECT_EQ(at(second, 3100ms).error, RemoteScreen::lateAction);
    EXPECT_EQ(idOf(screen.latestHeartbeat(t0 + 3100ms)), second + 1);
    EXPECT_TRUE(listener.takeArrived().empty());
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
    for (const Scene& scene : sceneTable)
        cases.emplace_back(action(std::string(scene.action)),
                           "Sc\u00e8ne indisponible\u00a0: la vitrine est \u00e9teinte.");
    cases.emplace_back(action("fader", ", \"value\": 0.5"),
                       "Intensit\u00e9 indisponible\u00a0: la vitrine est \u00e9teinte.");

    controller->fader(nullptr);
    listener.takeArrived();
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
        EXPECT_TRUE(listener.takeArrived().empty());
    }
    EXPECT_EQ(controller->theList, SceneControl::Levels{});

    // A name cut inside a multi-byte character still quotes back as valid UTF-8.
    const auto cut = screen.handleClientText(action(std::string(39, 'x') + "\xc3\xa9"));
    ASSERT_TRUE(cut.error);
    EXPECT_TRUE(json::accept(RemoteScreen::errorMessage(*cut.error)));
}

}  // namespace

// Both hosts' set-up with the real manager and its receiving thread, and the monitor running on
// a main loop: ports, timer, the first ticks, answers arriving over UDP, a receive port taken.

#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include "app/toolkit/LayoutLoader.h"
#include "app/controller/MemoryWidgetSet.h"
#include "app/controller/MyView.h"
#include "app/controller/ViewController.h"
#include "basics/Log.h"
#include "basics/MainLoop.h"
#include "basics/RunLoop.h"
#include "osc/OSCOutPort.h"
#include "support/UdpListener.h"
#include "support/Waiting.h"

using namespace vitrine;
using namespace std::chrono_literals;
using test::bytesFromHex;

namespace {

// The first manager of a process says once whether the mDNS daemon can be reached; that line
// depends on the machine, not on the set-up.
std::vector<std::string> linesBesideZeroConf(const LogCapture& log) {
    std::vector<std::string> kept;
    for (const auto& line : log.lines()) {
        if (line.rfind("zero-conf: ", 0) != 0) kept.push_back(line);
    }
    return kept;
}

const std::string isHex = "2F 69 73 00 2C 00 00 00";
// "/connected" padded to 12 bytes, then the type tags and values.
const std::string connectedAddressHex = "2F 63 6F 6E 6E 65 63 74 65 64 00 00";
const std::vector<std::string> disconnected{"title:D\u00e9connect\u00e9", "tint:1,0,0,0.5"};

template <typename Host>
class ControlScreenSetUpTest : public ::testing::Test {
protected:
    ControlScreenSetUpTest() : previousLoop(MainLoop::setCurrent(loop)) {
        endpoints.address = "127.0.0.1";
        endpoints.port = showcase.port();
        endpoints.receivePort = 0;  // the system picks; receivePort() reads it back
    }

    ~ControlScreenSetUpTest() override {
        if (host) host->tearDown();
        MainLoop::setCurrent(previousLoop);
    }

    void setUpHost() {
        widgets.fader->setFrame(Rect{20, 400, 280, 30});
        if constexpr (std::is_same_v<Host, MyView>) {
            host = MyView::createWithFrame(Rect{0, 0, 1024, 768}, widgets, endpoints);
        } else {
            host = std::make_shared<ViewController>(endpoints);
            LayoutLoader::loadNibNamed("Main", *host, widgets);
            host->viewDidLoad();
        }
    }

    // Runs the main loop until the next tick has drawn the indicator; what it drew.
    std::vector<std::string> nextTick() {
        widgets.connexion->changes.clear();
        loop->runUntil([this] { return widgets.connexion->changes.size() >= 2; }, 3s);
        return widgets.connexion->changes;
    }

    uint16_t receivePort() const {
        return host->manager->inPortArray()->lockObjectAtIndex(0)->port();
    }

    test::UdpListener showcase;
    ShowcaseEndpoints endpoints;
    MemoryWidgetSet widgets;
    std::shared_ptr<RunLoop> loop = RunLoop::create();
    std::shared_ptr<MainLoop> previousLoop;
    std::shared_ptr<Host> host;
};

using Hosts = ::testing::Types<ViewController, MyView>;
TYPED_TEST_SUITE(ControlScreenSetUpTest, Hosts);

// Both ports come from the screen's manager (that they reach the showcase, and that nothing goes
// out before the first tick, is the ticks' test); the timer keeps the screen alive until torn down. ViewController lets the dimmer's
// frame follow the quarter turn; MyView keeps the laid-out box, turns the switch on and ends by
// saying so.
TYPED_TEST(ControlScreenSetUpTest, SetUpOpensBothPortsAndTheTimerKeepsTheScreenAlive) {
    LogCapture log;
    this->setUpHost();
    auto& host = *this->host;
    ASSERT_TRUE(host.manager && host.outPort);
    ASSERT_EQ(host.manager->inPortArray()->lockCount(), 1u);
    EXPECT_DOUBLE_EQ(this->widgets.fader->transform(), -1.5707963267948966);

    const Rect frame = this->widgets.fader->frame();
    const Rect expected = std::is_same_v<TypeParam, MyView> ? Rect{20, 400, 280, 30}
                                                            : Rect{145, 275, 30, 280};
    for (const auto& [got, want] : {std::pair{frame.x, expected.x}, {frame.y, expected.y},
                                    {frame.width, expected.width}, {frame.height, expected.height}})
        EXPECT_NEAR(got, want, 1e-9);
    if constexpr (std::is_same_v<TypeParam, MyView>) {
        EXPECT_TRUE(this->widgets.button->isOn());
        EXPECT_EQ(host.subviews(), (std::vector<std::shared_ptr<View>>{this->widgets.theView}));
        EXPECT_EQ(this->widgets.theView->frame(), (Rect{0, 0, 1024, 768}));
        EXPECT_EQ(linesBesideZeroConf(log), std::vector<std::string>{"ok"});
    } else {
        EXPECT_TRUE(linesBesideZeroConf(log).empty());
    }

    std::weak_ptr<TypeParam> weak = this->host;
    const auto timer = host.repeatingTimer.lock();
    ASSERT_TRUE(timer && timer->isValid());
    this->host.reset();
    ASSERT_FALSE(weak.expired());
    weak.lock()->tearDown();
    EXPECT_FALSE(timer->isValid());
    EXPECT_TRUE(this->loop->runUntil([&] { return weak.expired(); }, 3s));
}

// The answers arrive over UDP on the receiving thread: "/connected" 1 then 5, twice within the
// second, gives one connected tick in the set-up's colours (which values count is the screen
// test's table). One "/is" per tick.
TYPED_TEST(ControlScreenSetUpTest, TicksAskAndFollowTheAnswers) {
    this->setUpHost();
    EXPECT_EQ(this->nextTick(), disconnected);
    const auto answer = bytesFromHex(connectedAddressHex + " 2C 69 69 00 00 00 00 01 00 00 00 05");
    this->showcase.sendTo(this->receivePort(), answer);
    this->showcase.sendTo(this->receivePort(), answer);
    // Waited for without running the main loop, so that no tick takes the flag meanwhile.
    ASSERT_TRUE(test::waitUntil([this] { return this->host->flag.load() == 1; }));
    EXPECT_EQ(this->nextTick(),
              (std::vector<std::string>{disconnected[0], disconnected[1], "tint:0,0.8,0,0.5",
                                        "title:Connect\u00e9"}));
    EXPECT_EQ(this->nextTick(), disconnected);
    // The answering tick first brings the showcase back in step: the switch, on, and no scene.
    const auto is = bytesFromHex(isHex);
    EXPECT_EQ(this->showcase.takeArrived(),
              (std::vector<test::Bytes>{
                  is, bytesFromHex("2F 73 77 69 74 63 68 00 2C 69 00 00 00 00 00 01"), is, is}));
}

// An answer sent to the taken port reaches the squatter, never the screen.
TYPED_TEST(ControlScreenSetUpTest, ATakenReceivePortLeavesTheScreenRunningDisconnected) {
    test::UdpListener squatter;
    this->endpoints.receivePort = squatter.port();
    LogCapture log;
    this->setUpHost();
    EXPECT_TRUE(log.contains("\tcannot receive on UDP port " + std::to_string(squatter.port()) +
                             " (in use?): the indicator will stay \"D\u00e9connect\u00e9\""));
    EXPECT_EQ(this->host->manager->inPortArray()->lockCount(), 0u);
    this->showcase.sendTo(squatter.port(),
                          bytesFromHex(connectedAddressHex + " 2C 69 00 00 00 00 00 01"));
    EXPECT_EQ(this->nextTick(), disconnected);
    EXPECT_EQ(this->showcase.takeArrived(), std::vector<test::Bytes>{bytesFromHex(isHex)});
}

}  // namespace

// The connection monitor of both hosts, driven directly on the test's thread: ticks, the
// "/connected" filter, and what the indicator and the wire see. The set-up with its receiving
// thread is exercised in threads/.

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "app/MemoryWidgetSet.h"
#include "app/MyView.h"
#include "app/ViewController.h"
#include "basics/Date.h"
#include "osc/OSCMessage.h"
#include "osc/OSCOutPort.h"
#include "osc/OSCValue.h"
#include "support/UdpListener.h"

using namespace vitrine;
using test::hex;

namespace {

// "/is" padded to 4 bytes, then "," padded to 4: no arguments.
const std::string isHex = "2F 69 73 00 2C 00 00 00";
const std::vector<std::string> disconnectedChanges{"title:D\u00e9connect\u00e9", "tint:1,0,0,0.5"};
const std::vector<std::string> connectedChanges{"title:D\u00e9connect\u00e9", "tint:1,0,0,0.5",
                                                "tint:0,0.8,0,0.5", "title:Connect\u00e9"};

std::shared_ptr<OSCMessage> message(const std::string& address,
                                    std::vector<std::shared_ptr<OSCValue>> values = {}) {
    auto built = OSCMessage::createWithAddress(address);
    for (auto& value : values) built->addValue(value);
    return built;
}

template <typename Host>
class ControlScreenTest : public ::testing::Test {
protected:
    ControlScreenTest() : host(std::make_shared<Host>()) {
        widgets.attachTo(*host);
        host->connectedColor = ControlScreen::connectedComponents;
        host->unconnectedColor = ControlScreen::unconnectedComponents;
        host->outPort = OSCOutPort::createWithAddress("127.0.0.1", listener.port());
    }

    // One tick; the indicator changes it made and the datagrams it sent.
    std::vector<std::string> tick() {
        widgets.connexion->changes.clear();
        host->targetMethod(nullptr);
        return widgets.connexion->changes;
    }

    test::UdpListener listener;
    std::shared_ptr<Host> host;
    MemoryWidgetSet widgets;
};

using Hosts = ::testing::Types<ViewController, MyView>;
TYPED_TEST_SUITE(ControlScreenTest, Hosts);

TYPED_TEST(ControlScreenTest, TickWithoutAnswerShowsDisconnectedAndAsksAgain) {
    EXPECT_EQ(this->tick(), disconnectedChanges);
    EXPECT_EQ(this->widgets.connexion->title(), "D\u00e9connect\u00e9");
    EXPECT_EQ(this->widgets.connexion->tintColor(), (OSCColor{1.0, 0.0, 0.0, 0.5}));
    const auto datagram = this->listener.receive();
    ASSERT_TRUE(datagram);
    EXPECT_EQ(hex(*datagram), isHex);
    EXPECT_EQ(this->host->flag.load(), 0);
}

// The disconnected state is drawn first within the tick, then replaced; the flag is consumed.
TYPED_TEST(ControlScreenTest, TickAfterAnAnswerShowsConnectedOnceAndClearsTheFlag) {
    this->host->receivedOSCMessage(message("/connected", {OSCValue::createWithInt(1)}));
    EXPECT_EQ(this->host->flag.load(), 1);
    EXPECT_EQ(this->tick(), connectedChanges);
    EXPECT_EQ(this->widgets.connexion->title(), "Connect\u00e9");
    EXPECT_EQ(this->widgets.connexion->tintColor(), (OSCColor{0.0, 0.8, 0.0, 0.5}));
    EXPECT_EQ(this->host->flag.load(), 0);
    EXPECT_EQ(this->tick(), disconnectedChanges);
    EXPECT_EQ(this->widgets.connexion->title(), "D\u00e9connect\u00e9");
}

TYPED_TEST(ControlScreenTest, OnlyAConnectedWithTheInteger1FirstCounts) {
    const struct {
        const char* what;
        std::shared_ptr<OSCMessage> message;
        int32_t flag;
    } cases[] = {
        {"integer 1", message("/connected", {OSCValue::createWithInt(1)}), 1},
        {"1 then 5",
         message("/connected", {OSCValue::createWithInt(1), OSCValue::createWithInt(5)}), 1},
        {"integer 0", message("/connected", {OSCValue::createWithInt(0)}), 0},
        {"integer 2", message("/connected", {OSCValue::createWithInt(2)}), 0},
        {"no value", message("/connected"), 0},
        {"float 1.0", message("/connected", {OSCValue::createWithFloat(1.0f)}), 0},
        {"true", message("/connected", {OSCValue::createWithBool(true)}), 0},
        {"64-bit 1", message("/connected", {OSCValue::createWithLongLong(1)}), 0},
        {"string 1", message("/connected", {OSCValue::createWithString("1")}), 0},
        {"5 then 1",
         message("/connected", {OSCValue::createWithInt(5), OSCValue::createWithInt(1)}), 0},
        {"capital C", message("/Connected", {OSCValue::createWithInt(1)}), 0},
        {"longer address", message("/connected/x", {OSCValue::createWithInt(1)}), 0},
        {"pattern", message("/connect*", {OSCValue::createWithInt(1)}), 0},
        {"null message", nullptr, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        this->host->flag.store(0);
        this->host->receivedOSCMessage(c.message);
        EXPECT_EQ(this->host->flag.load(), c.flag);
        EXPECT_EQ(this->tick(), c.flag ? connectedChanges : disconnectedChanges);
    }
}

TYPED_TEST(ControlScreenTest, SeveralAnswersInOneSecondCountOnce) {
    for (int i = 0; i < 3; ++i)
        this->host->receivedOSCMessage(message("/connected", {OSCValue::createWithInt(1)}));
    EXPECT_EQ(this->tick(), connectedChanges);
    EXPECT_EQ(this->tick(), disconnectedChanges);
}

TYPED_TEST(ControlScreenTest, EachTickSendsExactlyOneIs) {
    for (int i = 0; i < 3; ++i) this->tick();
    std::vector<std::string> sent;
    while (auto datagram = this->listener.receive(std::chrono::milliseconds(500)))
        sent.push_back(hex(*datagram));
    EXPECT_EQ(sent, std::vector<std::string>(3, isHex));
}

// Without a sending port the indicator still follows the answers; nothing is sent or thrown.
TYPED_TEST(ControlScreenTest, TickWithoutPortOrIndicatorStillRuns) {
    this->host->outPort.reset();
    this->host->receivedOSCMessage(message("/connected", {OSCValue::createWithInt(1)}));
    EXPECT_EQ(this->tick(), connectedChanges);
    EXPECT_FALSE(this->listener.receive(std::chrono::milliseconds(200)));
    this->host->outlets.connexion.reset();
    this->host->targetMethod(nullptr);
    EXPECT_EQ(this->host->flag.load(), 0);
}

TYPED_TEST(ControlScreenTest, UserInfoHoldsOnlyTheStartDate) {
    const Date before = dateNow();
    const auto info = this->host->userInfo();
    ASSERT_EQ(info.size(), 1u);
    ASSERT_TRUE(info.contains("StartDate"));
    EXPECT_GE(info.at("StartDate"), before);
    EXPECT_LE(info.at("StartDate"), dateNow());
}

TYPED_TEST(ControlScreenTest, OutletsBindByNameAndKind) {
    auto host = std::make_shared<TypeParam>();
    EXPECT_TRUE(host->bindOutlet("connexion", this->widgets.connexion));
    EXPECT_TRUE(host->bindOutlet("mor", this->widgets.mor));
    EXPECT_TRUE(host->bindOutlet("fader", this->widgets.fader));
    EXPECT_EQ(host->outlets.fader, this->widgets.fader);
    EXPECT_EQ(host->outlets.mor.lock(), this->widgets.mor);
    // A button is no indicator, a switch no slider; unknown names bind nothing.
    EXPECT_FALSE(host->bindOutlet("connexion", this->widgets.mor));
    EXPECT_FALSE(host->bindOutlet("fader", this->widgets.button));
    EXPECT_FALSE(host->bindOutlet("nothing", this->widgets.mor));
    EXPECT_FALSE(host->bindOutlet("mor", nullptr));
    EXPECT_EQ(host->outlets.connexion.lock(), this->widgets.connexion);
}

TEST(ViewGeometry, QuarterTurnSwapsTheFrameAndSetFrameRefitsIt) {
    ViewGeometry slider(Rect{20, 400, 280, 30});
    slider.setRotation(-1.5707963267948966);
    const Rect turned = slider.frame();
    EXPECT_NEAR(turned.x, 145, 1e-9);
    EXPECT_NEAR(turned.y, 275, 1e-9);
    EXPECT_NEAR(turned.width, 30, 1e-9);
    EXPECT_NEAR(turned.height, 280, 1e-9);
    slider.setFrame(Rect{20, 400, 280, 30});
    const Rect refitted = slider.frame();
    EXPECT_NEAR(refitted.x, 20, 1e-9);
    EXPECT_NEAR(refitted.y, 400, 1e-9);
    EXPECT_NEAR(refitted.width, 280, 1e-9);
    EXPECT_NEAR(refitted.height, 30, 1e-9);
}

}  // namespace

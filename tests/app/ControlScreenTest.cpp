// Both hosts driven directly on the test's thread: the scenes and the switch, the connection
// monitor's ticks and its "/connected" filter, as the widgets and a loopback listener see them.
// The set-up with its receiving thread is exercised in threads/.

#include <gtest/gtest.h>

#include <limits>
#include <memory>
#include <string>
#include <tuple>
#include <vector>

#include "app/controller/MemoryWidgetSet.h"
#include "app/controller/MyView.h"
#include "app/controller/ViewController.h"
#include "osc/OSCMessage.h"
#include "osc/OSCOutPort.h"
#include "osc/OSCValue.h"
#include "support/OscWire.h"

using namespace vitrine;
using test::Bytes;
using test::hex;
using Levels = SceneControl::Levels;

namespace {

// Reference encoding of a message with int32 arguments: address and type tags NUL-terminated and
// padded to 4 bytes, then each integer big-endian.
Bytes intMessage(const std::string& address, const std::vector<int32_t>& values) {
    Bytes out = test::join({test::field(address), test::field("," + std::string(values.size(), 'i'))});
    for (const int32_t value : values) out = test::join({out, test::word(value)});
    return out;
}

// The given channels (numbered from 1) at 255, the others at `rest`.
Levels scene(std::initializer_list<int> lit, int32_t rest = 26) {
    Levels levels;
    levels.fill(rest);
    for (const int channel : lit) levels[channel - 1] = 255;
    return levels;
}

// Each scene as "/list" then "/list2", then `switches` times "/switch" with `switchState`.
std::vector<Bytes> datagrams(std::initializer_list<Levels> scenes, int switches = 0,
                             int32_t switchState = 0) {
    std::vector<Bytes> all;
    for (const Levels& levels : scenes) {
        all.push_back(intMessage("/list", {levels.begin(), levels.begin() + 12}));
        all.push_back(intMessage("/list2", {levels.begin() + 12, levels.end()}));
    }
    all.insert(all.end(), switches, intMessage("/switch", {switchState}));
    return all;
}

std::shared_ptr<OSCMessage> message(const std::string& address,
                                    std::vector<std::shared_ptr<OSCValue>> values = {}) {
    auto built = OSCMessage::createWithAddress(address);
    for (auto& value : values) built->addValue(value);
    return built;
}

template <typename Host>
class ControlScreenTest : public ::testing::Test {
protected:
    ControlScreenTest() {
        widgets.attachTo(*host);
        widgets.button->setOn(true);
        host->connectedColor = ControlScreen::connectedComponents;
        host->unconnectedColor = ControlScreen::unconnectedComponents;
        host->outPort = OSCOutPort::createWithAddress("127.0.0.1", listener.port());
    }

    // Everything sent so far: the hosts send on this thread, and the loopback has queued each
    // datagram before its send returned.
    std::vector<Bytes> sent() { return listener.takeArrived(); }

    void toggleSwitch(bool on) {
        widgets.button->setOn(on);
        host->switchVideo(widgets.button);
    }

    // One tick of the monitor; the indicator changes it made.
    std::vector<std::string> tick() {
        widgets.connexion->changes.clear();
        host->targetMethod(nullptr);
        return widgets.connexion->changes;
    }

    test::UdpListener listener;
    std::shared_ptr<Host> host = std::make_shared<Host>();
    MemoryWidgetSet widgets;
};

using Hosts = ::testing::Types<ViewController, MyView>;
TYPED_TEST_SUITE(ControlScreenTest, Hosts);

// Every fixed scene, reached by name as a front end reaches it, twice over: a repeated scene is
// sent again in full. Names are matched exactly.
TYPED_TEST(ControlScreenTest, EachFixedSceneSendsItsTableAndShowsItsPicture) {
    Levels bouteille = scene({3});
    bouteille[0] = 25;
    const std::tuple<const char*, const char*, Levels> scenes[] = {
        {"mortier", "BGMortier.png", scene({1})},
        {"medaillon", "Medaillon.png", scene({2})},
        {"bouteille", "BGBouteille.png", bouteille},
        {"chevrette", "BGChevrette.png", scene({4})},
        {"onguent", "BGOnguent.png", scene({5})},
        {"theriaque1", "Theriaque 1.png", scene({6, 12, 13})},
        {"theriaque2", "Theriaque 2.png", scene({7})},
        {"potCanon", "BGCanon.png", scene({8})},
        {"potCylindrique", "BGCylindrique.png", scene({9, 18, 19, 22})},
        {"vaseHaut", "BGVasehaut.png", scene({10, 20, 21})},
        {"raffraichissoire", "BGRafraichissoir.png", scene({11})},
    };
    for (int pass = 0; pass < 2; ++pass) {
        for (const auto& [action, picture, levels] : scenes) {
            SCOPED_TRACE(action);
            EXPECT_TRUE(this->host->performAction(action, this->widgets.sceneButton("apo")));
            EXPECT_EQ(this->sent(), datagrams({levels}));
            EXPECT_EQ(this->host->theList, levels);
            EXPECT_EQ(this->widgets.BG_image->picture(), picture);
        }
    }
    for (const char* name : {"Mortier", "mortier:", "", "mortier ", "theriaque3", "outPort"})
        EXPECT_FALSE(this->host->performAction(name)) << name;
    EXPECT_TRUE(this->sent().empty());

    // The reference encoding, pinned: mortier's "/list" is the padded address, "," and twelve "i"
    // padded to 16, then channel 1 at 255 and eleven 26s.
    std::string mortier = "2F 6C 69 73 74 00 00 00 2C";
    for (int n = 0; n < 12; ++n) mortier += " 69";
    mortier += " 00 00 00 00 00 00 FF";
    for (int n = 0; n < 11; ++n) mortier += " 00 00 00 1A";
    EXPECT_EQ(hex(datagrams({scene({1})})[0]), mortier);
}

// 255 scaled by the slider and truncated. The value comes from the front end: one no real slider
// gives must still produce defined levels.
TYPED_TEST(ControlScreenTest, WholeRoomIsScaledBySliderWithTruncation) {
    using Float = std::numeric_limits<float>;
    using Int = std::numeric_limits<int32_t>;
    const float values[] = {1.0f,  0.5f,  0.1f,   0.999f,           0.0f, Float::quiet_NaN(),
                            -0.5f, 1e30f, -1e30f, Float::infinity()};
    const int32_t levels[] = {255, 127, 25, 254, 0, 0, -127, Int::max(), Int::min(), Int::max()};
    for (const char* action : {"vitrinerie", "fader"}) {
        for (size_t i = 0; i < std::size(values); ++i) {
            SCOPED_TRACE(std::string(action) + " at " + std::to_string(values[i]));
            this->widgets.BG_image->showPicture("BGMortier.png");
            this->widgets.fader->setValue(values[i]);
            this->host->performAction(action, this->widgets.fader);
            EXPECT_EQ(this->sent(), datagrams({scene({}, levels[i])}));
            EXPECT_EQ(this->host->theList, scene({}, levels[i]));
            EXPECT_EQ(this->widgets.BG_image->picture(), "BGVitrinerie.png");
        }
    }
}

// vi turns the switch on and says "/switch" 1 but leaves the controls locked; only the switch
// itself unlocks them. (Switching off and on through the page, on the wire, is the browser
// test's.)
TYPED_TEST(ControlScreenTest, ViSaysTheSwitchIsOnButLeavesTheControlsLocked) {
    this->toggleSwitch(false);
    EXPECT_EQ(this->sent(), datagrams({scene({}, 0)}, 1, 0));
    this->host->vi();
    EXPECT_EQ(this->sent(), datagrams({}, 1, 1));
    EXPECT_TRUE(this->widgets.button->isOn());
    for (const auto& control : this->widgets.lockableControls()) EXPECT_FALSE(control->isEnabled());
}

// A missing picture clears the view, a missing port sends nothing; the rest still follows.
// Missing widgets read as switch off and slider 0; a screen torn down before its controller
// leaves expired references, while the shared switch and slider stay usable.
TYPED_TEST(ControlScreenTest, MissingPortPictureOrWidgetsAreHarmless) {
    this->widgets.BG_image->knownPictures.erase("Theriaque 2.png");
    this->widgets.BG_image->showPicture("BGChevrette.png");
    this->host->theriaque2(this->widgets.sceneButton("t2"));
    EXPECT_EQ(this->widgets.BG_image->picture(), std::nullopt);
    EXPECT_EQ(this->sent(), datagrams({scene({7})}));

    TypeParam bare, orphan;
    {
        MemoryWidgetSet screen;
        screen.attachTo(orphan);
        screen.fader->setValue(0.5f);
    }
    for (TypeParam* host : {&bare, &orphan}) {
        host->outPort = this->host->outPort;
        host->medaillon(nullptr);
        host->fader(nullptr);
        host->switchVideo(nullptr);
        const int32_t dimmed = host == &bare ? 0 : 127;
        EXPECT_EQ(this->sent(), datagrams({scene({2}), scene({}, dimmed), scene({}, 0)}, 1, 0));
    }
    bare.vi();
    EXPECT_EQ(this->sent(), datagrams({}, 1, 0));
    EXPECT_FALSE(orphan.outlets.fader->isEnabled());

    this->host->outPort.reset();
    this->host->vaseHaut(this->widgets.sceneButton("vase"));
    EXPECT_EQ(this->host->theList, scene({10, 20, 21}));
    EXPECT_EQ(this->widgets.BG_image->picture(), "BGVasehaut.png");
    this->toggleSwitch(false);
    this->host->vi();
    this->host->receivedOSCMessage(message("/connected", {OSCValue::createWithInt(1)}));
    EXPECT_EQ(this->tick().back(), "title:Connect\u00e9");
    this->host->outlets.connexion.reset();
    this->host->targetMethod(nullptr);
    EXPECT_TRUE(this->sent().empty());
}

// Within a tick the disconnected state is always drawn first, then replaced when answered. Only
// a "/connected" whose first value is the integer 1 counts, however often it arrives within the
// second; each tick consumes it and asks again with exactly one "/is".
TYPED_TEST(ControlScreenTest, TicksShowOnlyAConnectedWithTheInteger1First) {
    const std::vector<std::string> off{"title:D\u00e9connect\u00e9", "tint:1,0,0,0.5"};
    const std::vector<std::string> on{"title:D\u00e9connect\u00e9", "tint:1,0,0,0.5",
                                      "tint:0,0.8,0,0.5", "title:Connect\u00e9"};
    const auto i = [](int32_t v) { return OSCValue::createWithInt(v); };
    // {what, message, how many times within the second, whether it counts}
    const std::tuple<const char*, std::shared_ptr<OSCMessage>, int, bool> cases[] = {
        {"integer 1", message("/connected", {i(1)}), 1, true},
        {"1 then 5", message("/connected", {i(1), i(5)}), 1, true},
        {"three in a second", message("/connected", {i(1)}), 3, true},
        {"integer 0", message("/connected", {i(0)}), 1, false},
        {"no value", message("/connected"), 1, false},
        {"float 1.0", message("/connected", {OSCValue::createWithFloat(1.0f)}), 1, false},
        {"true", message("/connected", {OSCValue::createWithBool(true)}), 1, false},
        {"64-bit 1", message("/connected", {OSCValue::createWithLongLong(1)}), 1, false},
        {"5 then 1", message("/connected", {i(5), i(1)}), 1, false},
        {"capital C", message("/Connected", {i(1)}), 1, false},
        {"pattern", message("/connect*", {i(1)}), 1, false},
        {"null message", nullptr, 1, false},
    };
    const Bytes is = test::bytesFromHex("2F 69 73 00 2C 00 00 00");
    std::vector<Bytes> expected;
    for (const auto& [what, answer, times, counts] : cases) {
        SCOPED_TRACE(what);
        for (int n = 0; n < times; ++n) this->host->receivedOSCMessage(answer);
        EXPECT_EQ(this->host->flag.load(), counts ? 1 : 0);
        EXPECT_EQ(this->tick(), counts ? on : off);
        EXPECT_EQ(this->tick(), off);
        // Each answer after a silence brings the showcase back in step (no scene shown yet).
        if (counts) expected.push_back(intMessage("/switch", {1}));
        expected.insert(expected.end(), {is, is});
    }
    EXPECT_EQ(this->sent(), expected);
}

// Only the tick that turns the indicator from disconnected to connected sends the held state;
// ticks that stay connected send only "/is". Switched off after a scene, or on again with no
// scene chosen since, that state is the switch alone. (A scene held while the showcase was
// silent is the browser test's.)
TYPED_TEST(ControlScreenTest, ShowcaseAnsweringAgainWithNoSceneShownGetsTheSwitchAlone) {
    const Bytes is = test::bytesFromHex("2F 69 73 00 2C 00 00 00");
    for (const bool on : {false, true}) {
        SCOPED_TRACE(on ? "on again" : "off after a scene");
        this->tick();
        if (!on) this->host->mortier(nullptr);
        this->toggleSwitch(on);
        this->sent();
        for (int n = 0; n < 2; ++n) {
            this->host->receivedOSCMessage(message("/connected", {OSCValue::createWithInt(1)}));
            this->tick();
        }
        EXPECT_EQ(this->sent(), (std::vector<Bytes>{intMessage("/switch", {on}), is, is}));
    }
}

}  // namespace

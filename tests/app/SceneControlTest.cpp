#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>
#include <vector>

#include "app/MemoryWidgetSet.h"
#include "app/MyView.h"
#include "app/ViewController.h"
#include "osc/OSCOutPort.h"
#include "support/UdpListener.h"

using namespace vitrine;
using test::Bytes;
using test::hex;
using Levels = SceneControl::Levels;

namespace {

// Reference encoding of a message with int32 arguments: address and type tags NUL-terminated and
// padded to 4 bytes, then each integer big-endian.
Bytes intMessage(const std::string& address, const std::vector<int32_t>& values) {
    Bytes out(address.begin(), address.end());
    out.resize((out.size() / 4 + 1) * 4, 0);
    Bytes tags{','};
    tags.insert(tags.end(), values.size(), 'i');
    tags.resize((tags.size() / 4 + 1) * 4, 0);
    out.insert(out.end(), tags.begin(), tags.end());
    for (const int32_t value : values) {
        const auto word = static_cast<uint32_t>(value);
        for (int shift = 24; shift >= 0; shift -= 8)
            out.push_back(static_cast<uint8_t>(word >> shift));
    }
    return out;
}

std::vector<Bytes> sceneDatagrams(const Levels& levels) {
    return {intMessage("/list", {levels.begin(), levels.begin() + 12}),
            intMessage("/list2", {levels.begin() + 12, levels.end()})};
}

Levels uniform(int32_t level) {
    Levels levels;
    levels.fill(level);
    return levels;
}

// A scene with 26 everywhere but the given channels (numbered from 1) at 255.
Levels litAt(std::initializer_list<int> channels) {
    Levels levels = uniform(26);
    for (const int channel : channels) levels[channel - 1] = 255;
    return levels;
}

const std::string switchOnHex = "2F 73 77 69 74 63 68 00 2C 69 00 00 00 00 00 01";
const std::string switchOffHex = "2F 73 77 69 74 63 68 00 2C 69 00 00 00 00 00 00";

template <typename Host>
class SceneControlTest : public ::testing::Test {
protected:
    SceneControlTest() {
        widgets.attachTo(host);
        widgets.button->setOn(true);
        host.outPort = OSCOutPort::createWithAddress("127.0.0.1", listener.port());
    }

    // The datagrams the actions so far have put on the wire: waits for `expected` of them, then
    // collects any surplus so that tests also see what should not have been sent.
    std::vector<Bytes> sent(size_t expected) {
        std::vector<Bytes> all;
        while (all.size() < expected) {
            auto datagram = listener.receive();
            if (!datagram) break;
            all.push_back(std::move(*datagram));
        }
        for (auto& extra : listener.drain()) all.push_back(std::move(extra));
        return all;
    }

    void toggleSwitch(bool on) {
        widgets.button->setOn(on);
        host.switchVideo(widgets.button);
    }

    void expectControlsEnabled(bool enabled) {
        const auto controls = widgets.lockableControls();
        for (size_t i = 0; i < controls.size(); ++i)
            EXPECT_EQ(controls[i]->isEnabled(), enabled) << "control " << i;
    }

    test::UdpListener listener;
    Host host;
    MemoryWidgetSet widgets;
};

using Hosts = ::testing::Types<ViewController, MyView>;
TYPED_TEST_SUITE(SceneControlTest, Hosts);

TYPED_TEST(SceneControlTest, MortierSendsItsTableAsTwoExactDatagrams) {
    ASSERT_TRUE(this->host.outPort);
    this->host.mortier(this->widgets.mor);
    const auto datagrams = this->sent(2);
    ASSERT_EQ(datagrams.size(), 2u);
    // "/list" padded to 8 bytes, "," and twelve "i" padded to 16 (three NULs), then channel 1 at
    // 255 and eleven 26s.
    std::string expected = "2F 6C 69 73 74 00 00 00 2C";
    for (int i = 0; i < 12; ++i) expected += " 69";
    expected += " 00 00 00 00 00 00 FF";
    for (int i = 0; i < 11; ++i) expected += " 00 00 00 1A";
    EXPECT_EQ(hex(datagrams[0]), expected);
    EXPECT_EQ(datagrams[0].size(), 72u);
    EXPECT_EQ(datagrams[1], intMessage("/list2", std::vector<int32_t>(12, 26)));
    EXPECT_EQ(this->widgets.BG_image->picture(), "BGMortier.png");
    EXPECT_EQ(this->host.theList, litAt({1}));
}

TYPED_TEST(SceneControlTest, BouteilleKeepsChannelOneAt25) {
    this->host.bouteille(this->widgets.bout);
    const Levels expected{25, 26, 255, 26, 26, 26, 26, 26, 26, 26, 26, 26,
                          26, 26, 26,  26, 26, 26, 26, 26, 26, 26, 26, 26};
    EXPECT_EQ(this->sent(2), sceneDatagrams(expected));
    EXPECT_EQ(this->host.theList, expected);
    EXPECT_EQ(this->widgets.BG_image->picture(), "BGBouteille.png");
}

TYPED_TEST(SceneControlTest, RaffraichissoireLightsChannel11AndShowsItsPicture) {
    this->host.raffraichissoire(this->widgets.raf);
    const Levels expected{26, 26, 26, 26, 26, 26, 26, 26, 26, 26, 255, 26,
                          26, 26, 26, 26, 26, 26, 26, 26, 26, 26, 26,  26};
    EXPECT_EQ(this->sent(2), sceneDatagrams(expected));
    EXPECT_EQ(this->widgets.BG_image->picture(), "BGRafraichissoir.png");
}

// Every fixed scene, reached by name as a front end reaches it.
TYPED_TEST(SceneControlTest, EachNamedSceneSendsItsTableAndPicture) {
    Levels bouteille = litAt({3});
    bouteille[0] = 25;
    const struct {
        const char* action;
        const char* picture;
        Levels levels;
    } scenes[] = {
        {"mortier", "BGMortier.png", litAt({1})},
        {"medaillon", "Medaillon.png", litAt({2})},
        {"bouteille", "BGBouteille.png", bouteille},
        {"chevrette", "BGChevrette.png", litAt({4})},
        {"onguent", "BGOnguent.png", litAt({5})},
        {"theriaque1", "Theriaque 1.png", litAt({6, 12, 13})},
        {"theriaque2", "Theriaque 2.png", litAt({7})},
        {"potCanon", "BGCanon.png", litAt({8})},
        {"potCylindrique", "BGCylindrique.png", litAt({9, 18, 19, 22})},
        {"vaseHaut", "BGVasehaut.png", litAt({10, 20, 21})},
        {"raffraichissoire", "BGRafraichissoir.png", litAt({11})},
    };
    for (const auto& scene : scenes) {
        SCOPED_TRACE(scene.action);
        EXPECT_TRUE(this->host.performAction(scene.action, this->widgets.apo));
        EXPECT_EQ(this->sent(2), sceneDatagrams(scene.levels));
        EXPECT_EQ(this->host.theList, scene.levels);
        EXPECT_EQ(this->widgets.BG_image->picture(), scene.picture);
    }
}

TYPED_TEST(SceneControlTest, WholeRoomIsScaledBySliderWithTruncation) {
    const struct {
        float value;
        int32_t level;
    } cases[] = {{1.0f, 255}, {0.5f, 127}, {0.1f, 25}, {0.999f, 254}, {0.0f, 0}};
    for (const char* action : {"vitrinerie", "fader"}) {
        for (const auto& c : cases) {
            SCOPED_TRACE(std::string(action) + " at " + std::to_string(c.value));
            this->host.outlets.BG_image.lock()->showPicture("BGMortier.png");
            this->widgets.fader->setValue(c.value);
            this->host.performAction(action, this->widgets.fader);
            EXPECT_EQ(this->sent(2), sceneDatagrams(uniform(c.level)));
            EXPECT_EQ(this->host.theList, uniform(c.level));
            EXPECT_EQ(this->widgets.BG_image->picture(), "BGVitrinerie.png");
        }
    }
}

// A slider that moves while the scene is being computed: full for the first twelve reads, half
// afterwards.
class MovingSlider : public Slider {
public:
    void setEnabled(bool) override {}
    bool isEnabled() const override { return true; }
    float value() const override { return ++reads <= 12 ? 1.0f : 0.5f; }
    mutable int reads = 0;
};

TYPED_TEST(SceneControlTest, WholeRoomReadsSliderOncePerChannel) {
    const auto slider = std::make_shared<MovingSlider>();
    this->host.outlets.fader = slider;
    this->host.fader(slider);
    const auto datagrams = this->sent(2);
    EXPECT_EQ(slider->reads, 24);
    ASSERT_EQ(datagrams.size(), 2u);
    EXPECT_EQ(datagrams[0], intMessage("/list", std::vector<int32_t>(12, 255)));
    EXPECT_EQ(datagrams[1], intMessage("/list2", std::vector<int32_t>(12, 127)));
}

// The slider's value comes from the front end; a value no real slider gives must still produce
// defined levels rather than an undefined float-to-int conversion.
TYPED_TEST(SceneControlTest, OutlandishSliderValuesSaturate) {
    const struct {
        float value;
        int32_t level;
    } cases[] = {{std::numeric_limits<float>::quiet_NaN(), 0},
                 {1e30f, std::numeric_limits<int32_t>::max()},
                 {-1e30f, std::numeric_limits<int32_t>::min()},
                 {std::numeric_limits<float>::infinity(), std::numeric_limits<int32_t>::max()},
                 {-0.5f, -127}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.value);
        this->widgets.fader->setValue(c.value);
        this->host.vitrinerie(this->widgets.apo);
        EXPECT_EQ(this->sent(2), sceneDatagrams(uniform(c.level)));
    }
}

TYPED_TEST(SceneControlTest, SwitchingOffBlacksOutLocksControlsThenSendsSwitchZero) {
    this->host.potCylindrique(this->widgets.potC);
    this->sent(2);
    this->toggleSwitch(false);
    const auto datagrams = this->sent(3);
    ASSERT_EQ(datagrams.size(), 3u);
    EXPECT_EQ(datagrams[0], intMessage("/list", std::vector<int32_t>(12, 0)));
    EXPECT_EQ(datagrams[1], intMessage("/list2", std::vector<int32_t>(12, 0)));
    EXPECT_EQ(hex(datagrams[2]), switchOffHex);
    EXPECT_EQ(this->host.theList, uniform(0));
    EXPECT_EQ(this->widgets.BG_image->picture(), "BGAllOff.png");
    this->expectControlsEnabled(false);
}

TYPED_TEST(SceneControlTest, SwitchingOnOnlySendsSwitchOneAndUnlocksControls) {
    this->toggleSwitch(false);
    this->sent(3);
    this->toggleSwitch(true);
    const auto datagrams = this->sent(1);
    ASSERT_EQ(datagrams.size(), 1u);
    EXPECT_EQ(hex(datagrams[0]), switchOnHex);
    // The previous scene is not restored.
    EXPECT_EQ(this->host.theList, uniform(0));
    EXPECT_EQ(this->widgets.BG_image->picture(), "BGAllOff.png");
    this->expectControlsEnabled(true);
}

TYPED_TEST(SceneControlTest, ViTurnsSwitchOnButLeavesControlsLocked) {
    this->toggleSwitch(false);
    this->sent(3);
    this->host.vi();
    const auto datagrams = this->sent(1);
    ASSERT_EQ(datagrams.size(), 1u);
    EXPECT_EQ(hex(datagrams[0]), switchOnHex);
    EXPECT_TRUE(this->widgets.button->isOn());
    this->expectControlsEnabled(false);
    EXPECT_EQ(this->host.theList, uniform(0));
}

TYPED_TEST(SceneControlTest, RepeatedSceneIsSentAgainInFull) {
    this->host.onguent(this->widgets.pot);
    this->host.onguent(this->widgets.pot);
    const auto datagrams = this->sent(4);
    ASSERT_EQ(datagrams.size(), 4u);
    const auto once = sceneDatagrams(litAt({5}));
    EXPECT_EQ(datagrams, (std::vector<Bytes>{once[0], once[1], once[0], once[1]}));
}

TYPED_TEST(SceneControlTest, WithoutPortNothingIsSentButScreenAndLevelsFollow) {
    this->host.outPort.reset();
    this->host.vaseHaut(this->widgets.vase);
    EXPECT_EQ(this->host.theList, litAt({10, 20, 21}));
    EXPECT_EQ(this->widgets.BG_image->picture(), "BGVasehaut.png");
    this->toggleSwitch(false);
    EXPECT_EQ(this->host.theList, uniform(0));
    EXPECT_EQ(this->widgets.BG_image->picture(), "BGAllOff.png");
    this->host.vi();
    EXPECT_TRUE(this->sent(0).empty());
}

TYPED_TEST(SceneControlTest, MissingPictureClearsBackgroundAndSceneStillGoesOut) {
    this->widgets.BG_image->knownPictures.erase("Theriaque 2.png");
    this->host.chevrette(this->widgets.chev);
    this->host.theriaque2(this->widgets.t2);
    EXPECT_EQ(this->widgets.BG_image->picture(), std::nullopt);
    const auto datagrams = this->sent(4);
    ASSERT_EQ(datagrams.size(), 4u);
    EXPECT_EQ(datagrams[2], sceneDatagrams(litAt({7}))[0]);
}

// A screen torn down before its controller leaves the controller with expired references; the
// shared switch and slider stay usable.
TYPED_TEST(SceneControlTest, ScreenGoneBeforeControllerIsHarmless) {
    TypeParam host;
    host.outPort = this->host.outPort;
    {
        MemoryWidgetSet screen;
        screen.attachTo(host);
        screen.fader->setValue(0.5f);
    }
    host.medaillon(nullptr);
    host.fader(nullptr);
    host.switchVideo(nullptr);  // the switch it still shares reads off
    const auto datagrams = this->sent(7);
    ASSERT_EQ(datagrams.size(), 7u);
    EXPECT_EQ(datagrams[3], intMessage("/list2", std::vector<int32_t>(12, 127)));
    EXPECT_EQ(hex(datagrams[6]), switchOffHex);
    EXPECT_FALSE(host.outlets.fader->isEnabled());
}

// No widgets at all: reading the switch gives off and the slider 0.
TYPED_TEST(SceneControlTest, UnsetOutletsReadAsOffAndZero) {
    TypeParam host;
    host.outPort = this->host.outPort;
    host.theriaque1(nullptr);
    host.vitrinerie(nullptr);
    host.vi();
    const auto datagrams = this->sent(5);
    ASSERT_EQ(datagrams.size(), 5u);
    EXPECT_EQ(datagrams[0], sceneDatagrams(litAt({6, 12, 13}))[0]);
    EXPECT_EQ(datagrams[3], intMessage("/list2", std::vector<int32_t>(12, 0)));
    EXPECT_EQ(hex(datagrams[4]), switchOffHex);
}

TYPED_TEST(SceneControlTest, UnknownActionNamesDoNothing) {
    for (const char* name : {"Mortier", "mortier:", "", "mortier ", "theriaque3", "outPort"})
        EXPECT_FALSE(this->host.performAction(name)) << name;
    EXPECT_TRUE(this->sent(0).empty());
    EXPECT_EQ(this->host.theList, uniform(0));
}

TEST(SceneActionTable, NamesEveryActionOnce) {
    std::vector<std::string> names;
    for (const auto& action : SceneControl::actionTable()) names.emplace_back(action.name);
    EXPECT_EQ(names, (std::vector<std::string>{
                         "mortier", "medaillon", "bouteille", "chevrette", "onguent", "theriaque1",
                         "theriaque2", "potCanon", "raffraichissoire", "potCylindrique", "vaseHaut",
                         "vitrinerie", "fader", "switchVideo", "vi", "sendMyMessage"}));
    for (const auto& name : names) EXPECT_EQ(SceneControl::actionNamed(name)->name, name);
}

}  // namespace

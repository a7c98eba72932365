// The showcase simulator that the demo and the browser test answer with: the lines it prints and
// the answers it sends.

#include <gtest/gtest.h>

#include <mutex>
#include <string>
#include <vector>

#include "osc/OSCMessage.h"
#include "osc/OSCOutPort.h"
#include "support/UdpListener.h"
#include "support/Waiting.h"
#include "simulator/ShowcaseSimulator.h"

using namespace vitrine;
using test::hex;

namespace {

class ShowcaseSimulatorTest : public ::testing::Test {
protected:
    void start(bool silent) {
        simulator = ShowcaseSimulator::create({0, controller.port(), silent},
                                              [this](const std::string& line) {
                                                  std::lock_guard guard(lock);
                                                  lines.push_back(line);
                                              });
        ASSERT_TRUE(simulator && simulator->port() != 0);
        // The controller's side: it sends from its own port and listens on `controller`.
        toSimulator = OSCOutPort::createWithAddress("127.0.0.1", simulator->port());
    }

    void send(const std::string& address, const std::vector<int32_t>& values = {}) {
        const auto message = OSCMessage::createWithAddress(address);
        for (const int32_t value : values) message->addInt(value);
        toSimulator->sendThisMessage(message);
    }

    std::vector<std::string> waitForLines(size_t count) {
        test::waitUntil([&] {
            std::lock_guard guard(lock);
            return lines.size() >= count;
        });
        std::lock_guard guard(lock);
        return lines;
    }

    test::UdpListener controller;
    std::shared_ptr<ShowcaseSimulator> simulator;
    std::shared_ptr<OSCOutPort> toSimulator;
    std::mutex lock;
    std::vector<std::string> lines;
};

// A scene is printed once both halves have arrived; "/is" is answered on the answer port. (That
// a stopped simulator answers no more is the browser test's indicator path.)
TEST_F(ShowcaseSimulatorTest, PrintsWholeScenesAndAnswersIs) {
    start(false);
    send("/list2", std::vector<int32_t>(12, 7));  // half a scene: not printed
    std::vector<int32_t> first(12, 26);
    first[0] = 255;
    send("/list", first);
    send("/list2", std::vector<int32_t>(12, 26));
    send("/switch", {0});
    send("/switch", {1});
    send("/list", {1, 2});
    EXPECT_EQ(waitForLines(4),
              (std::vector<std::string>{
                  "scene: 255 26 26 26 26 26 26 26 26 26 26 26 26 26 26 26 26 26 26 26 26 26 26 26",
                  "switch: off", "switch: on",
                  "ignored: <OSCMessage '/list'-'(<OSCVal i 1>, <OSCVal i 2>)'>"}));
    send("/is");
    // "/connected" padded to 12 bytes, ",i" padded to 4, then 1.
    EXPECT_EQ(hex(controller.receive().value_or(test::Bytes{})),
              "2F 63 6F 6E 6E 65 63 74 65 64 00 00 2C 69 00 00 00 00 00 01");
}

TEST_F(ShowcaseSimulatorTest, SilentSimulatorNeverAnswers) {
    start(true);
    send("/is");
    send("/switch", {1});
    // The switch was handled after the question: an answer would have been sent by now.
    EXPECT_EQ(waitForLines(1), std::vector<std::string>{"switch: on"});
    EXPECT_TRUE(controller.takeArrived().empty());
}

}  // namespace

// A receiving port under traffic meant to hurt it: datagrams that parse into far more than they
// weigh, and streams of bad datagrams that each want a log line.
#include <gtest/gtest.h>
#include <malloc.h>

#include <algorithm>
#include <atomic>
#include <regex>

#include "basics/Log.h"
#include "osc/OSCInPort.h"
#include "support/MessageRecorder.h"
#include "support/OscWire.h"

using namespace vitrine;
using namespace std::chrono_literals;

namespace {

std::shared_ptr<OSCInPort> listeningPort(const std::shared_ptr<test::MessageRecorder>& recorder) {
    auto port = OSCInPort::createWithPort(0);
    port->setDelegate(recorder);
    port->setInterval(0);
    port->start();
    return port;
}

bool delivered(const test::MessageRecorder& recorder, const std::string& address) {
    const auto all = recorder.all();
    return std::any_of(all.begin(), all.end(),
                       [&](const auto& arrival) { return arrival.message->address() == address; });
}

// Keeps only the addresses, so that what it holds does not count against the port.
struct AddressRecorder : OSCInPortDelegate {
    void receivedOSCMessage(const std::shared_ptr<OSCMessage>& message) override {
        const size_t now = mallinfo2().uordblks;
        size_t seen = peak.load();
        while (now > seen && !peak.compare_exchange_weak(seen, now)) {
        }
        if (message->address() == "/genuine") genuine = true;
    }
    std::atomic<size_t> peak{0};
    std::atomic<bool> genuine{false};
};

}  // namespace

TEST(OSCInPortHostile, HoldsLittleWhileDatagramsOfEmptyArraysPourIn) {
    // "/a" with ",[][][]…": every byte pair becomes an array value, some 64 bytes of memory per
    // byte received. A pass that held every such datagram until the socket ran dry held
    // gigabytes; a bounded pass delivers after a few.
    std::string tags = ",";
    while (tags.size() + 8 < 65000) tags += "[]";
    const test::Bytes heavy = test::join({test::field("/a"), test::field(tags)});
    const auto recorder = std::make_shared<AddressRecorder>();
    const size_t baseline = mallinfo2().uordblks;
    auto port = OSCInPort::createWithPort(0);
    port->setDelegate(recorder);
    port->setInterval(0);
    port->start();
    test::UdpListener sender;
    // Paced so that the port always finds another one waiting when it has parsed the last.
    for (int i = 0; i < 150; ++i) {
        sender.sendTo(port->port(), heavy);
        std::this_thread::sleep_for(1ms);
    }
    // The socket's buffer may have been full: asked again until it gets through.
    ASSERT_TRUE(test::waitUntil(
        [&] {
            sender.sendTo(port->port(), test::encoded(test::numbered("/genuine", 1)));
            return recorder->genuine.load();
        },
        30s));
    port->prepareToBeDeleted();
    const size_t peak = recorder->peak.load();
    // Under AddressSanitizer mallinfo2 sees nothing, and this bound holds trivially.
    EXPECT_LT(peak > baseline ? peak - baseline : 0, size_t{64} << 20);
}

TEST(OSCInPortHostile, WritesAFewLinesOfEachKindAndThenCountsTheRest) {
    LogCapture capture;
    const auto recorder = std::make_shared<test::MessageRecorder>();
    const auto port = listeningPort(recorder);
    test::UdpListener sender;
    // "#" and then bytes that are no text: shown as a short, marked prefix.
    test::Bytes hashed{'#'};
    hashed.resize(4000, 0xFF);
    hashed.resize(4004, 0);
    sender.sendTo(port->port(), test::join({hashed, test::field(",")}));
    for (int i = 0; i < 200; ++i) sender.sendTo(port->port(), test::Bytes{'/', 'a', 0, 0, ','});
    ASSERT_TRUE(test::waitUntil(
        [&] {
            sender.sendTo(port->port(), test::encoded(test::numbered("/genuine", 1)));
            return delivered(*recorder, "/genuine");
        },
        10s));
    const std::string oddLength =
        "\t\terr: bytes isn't multiple of 4 in -[OSCInPort OSCThreadProc]";
    EXPECT_GE(capture.count(oddLength), 1u);
    EXPECT_LE(capture.count(oddLength), 10u);  // five a second, and the test may span two
    std::string escaped;
    for (int i = 0; i < 47; ++i) escaped += "\\xFF";
    EXPECT_TRUE(capture.contains(
        "\t\tfinished parsing malformed query #" + escaped +
        "... (4000 bytes) in +[OSCMessage parseRawBuffer:ofMaxLength:fromAddr:port:]"))
        << ::testing::PrintToString(capture.lines());

    const std::regex summary(
        "\t\tlog: [0-9]+ more lines like \"err: bytes isn't multiple of 4 in %s\" from "
        "<OSCInPort: [0-9]+> in the last 1 s");
    EXPECT_TRUE(test::waitUntil(
        [&] {
            const auto lines = capture.lines();
            return std::any_of(lines.begin(), lines.end(),
                               [&](const auto& line) { return std::regex_match(line, summary); });
        },
        10s));
    port->prepareToBeDeleted();
}

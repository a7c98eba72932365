// A receiving port under streams of bad datagrams that each want a log line. (Floods that parse
// into far more than they weigh are the hostile-traffic stage's, against the whole controller.)
#include <gtest/gtest.h>

#include <regex>

#include "basics/Log.h"
#include "osc/OSCInPort.h"
#include "support/MessageRecorder.h"
#include "support/OscWire.h"

using namespace vitrine;
using namespace std::chrono_literals;

TEST(OSCInPortHostile, WritesAFewLinesOfEachKindAndThenCountsTheRest) {
    LogCapture capture;
    const auto recorder = std::make_shared<test::MessageRecorder>();
    const auto port = OSCInPort::createWithPort(0);
    port->setDelegate(recorder);
    port->setInterval(0);
    port->start();
    test::UdpListener sender;
    // "#" and then bytes that are no text: shown as a short, marked prefix.
    test::Bytes hashed{'#'};
    hashed.resize(4000, 0xFF);
    hashed.resize(4004, 0);
    sender.sendTo(port->port(), test::join({hashed, test::field(",")}));
    for (int i = 0; i < 200; ++i) sender.sendTo(port->port(), test::Bytes{'/', 'a', 0, 0, ','});
    // The socket's buffer may have been full: asked again until it gets through.
    ASSERT_TRUE(test::waitUntil(
        [&] {
            sender.sendTo(port->port(), test::encoded(test::numbered("/genuine", 1)));
            const auto all = recorder->all();
            return !all.empty() && all.back().message->address() == "/genuine";
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

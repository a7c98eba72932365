#include <arpa/inet.h>
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "support/OscWire.h"
#include "tools/DumpCommand.h"

using namespace vitrine;
using namespace vitrine::test;
using vitrine::tools::DumpCommand;

namespace {

const sockaddr_in kSender{AF_INET, htons(50123), {htonl(INADDR_LOOPBACK)}, {}};

TEST(OscDump, PrintsOneLinePerMessageWithSenderAndTimeTag) {
    const Bytes list = join({field("/list"), field(",iii"), word(1), word(2), word(3)});
    const Bytes is = join({field("/is"), field(",")});
    // An immediate bundle around one with 10.25 s after 2001: the inner time tag is printed.
    const Bytes inner = join({field("#bundle"), word(10), word(250000), word(8), is});
    const Bytes outer = join({field("#bundle"), word(0), word(1), word(28), list,
                              word(static_cast<uint32_t>(inner.size())), inner});
    const Bytes broken =
        join({field("#bundle"), word(0), word(1), word(8), is, word(4), field("/x"), word(8), is});
    // {datagram, hex, lines}
    const std::vector<std::tuple<Bytes, bool, std::vector<std::string>>> cases = {
        {list,
         false,
         {"<OSCMessage '/list'-'(<OSCVal i 1>, <OSCVal i 2>, <OSCVal i 3>)'> from "
          "127.0.0.1:50123"}},
        {outer,
         false,
         {"<OSCMessage '/list'-'(<OSCVal i 1>, <OSCVal i 2>, <OSCVal i 3>)'> from "
          "127.0.0.1:50123",
          "<OSCMessage '/is'> from 127.0.0.1:50123 at 2001-01-01T00:00:10.250000Z"}},
        {is,
         true,
         {"127.0.0.1:50123 sent 8 bytes: 2F 69 73 00 2C 00 00 00",
          "<OSCMessage '/is'> from 127.0.0.1:50123"}},
        // The decoder's lines stand where they were written, and the dump goes on.
        {broken,
         false,
         {"<OSCMessage '/is'> from 127.0.0.1:50123", "\t\terr: msg type tag string not present",
          "\t\terr: breaking, message couldn't be parsed. +[OSCBundle "
          "parseRawBuffer:ofMaxLength:toInPort:inheritedTimeTag:fromAddr:port:]"}},
        {{'/', 'a', 0, 0, ','},
         true,
         {"127.0.0.1:50123 sent 5 bytes: 2F 61 00 00 2C",
          "\t\terr: bytes isn't multiple of 4 in osc-dump"}},
    };
    for (const auto& [datagram, hex, lines] : cases) {
        SCOPED_TRACE(vitrine::test::hex(datagram));
        EXPECT_EQ(tools::describeDatagram(datagram.data(), static_cast<int32_t>(datagram.size()),
                                          kSender, hex),
                  lines);
    }
}

TEST(OscDump, BadCommandLinesExitWith2) {
    // {words, error}
    const std::vector<std::pair<std::vector<std::string_view>, std::string>> cases = {
        {{}, "PORT is needed"},
        {{"65536"}, "bad port '65536': give a number from 0 to 65535"},
        {{"-1"}, "bad port '-1': give a number from 0 to 65535"},
        {{"9000", "9001"}, "unexpected argument '9001'"},
        {{"--raw", "9000"}, "unknown option '--raw'"},
    };
    for (const auto& [words, error] : cases) {
        SCOPED_TRACE(error);
        testing::internal::CaptureStderr();
        EXPECT_EQ(tools::runOscDump(words, stdout, stderr), 2);
        EXPECT_EQ(testing::internal::GetCapturedStderr(),
                  "osc-dump: " + error +
                      "\nUsage: osc-dump [--hex] PORT\nosc-dump --help explains what it prints.\n");
    }
    testing::internal::CaptureStdout();
    EXPECT_EQ(tools::runOscDump({"9000", "--help"}, stdout, stderr), 0);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), DumpCommand::usage());
}

}  // namespace

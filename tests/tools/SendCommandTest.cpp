#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <sstream>
#include <string>
#include <tuple>
#include <vector>

#include "support/OscWire.h"
#include "support/UdpListener.h"
#include "tools/SendCommand.h"

using namespace vitrine;
using namespace vitrine::test;
using vitrine::tools::SendCommand;

namespace {

std::vector<std::string> wordsOf(const std::string& line) {
    std::vector<std::string> words;
    std::istringstream in(line);
    for (std::string word; in >> word;) words.push_back(word == "''" ? "" : word);
    return words;
}

std::vector<std::string_view> views(const std::vector<std::string>& words) {
    return {words.begin(), words.end()};
}

// osc-send's status and what it wrote to standard output and standard error.
std::tuple<int, std::string, std::string> runTool(const std::vector<std::string>& words) {
    testing::internal::CaptureStdout();
    testing::internal::CaptureStderr();
    const int status = tools::runOscSend(views(words), stdout, stderr);
    std::string out = testing::internal::GetCapturedStdout();
    return {status, out, testing::internal::GetCapturedStderr()};
}

TEST(OscSend, CommandsEncodeToTheExactDatagram) {
    const Date now = 10.0;
    // {command, after "127.0.0.1 9000" unless it begins with options; datagram}
    const std::vector<std::pair<std::string, Bytes>> cases = {
        {"/list iii 1 2 3", join({field("/list"), field(",iii"), word(1), word(2), word(3)})},
        {"/n", join({field("/n"), field(",")})},
        {"/n ''", join({field("/n"), field(",")})},
        // The address goes out as typed, trailing slash and all.
        {"/a/ i -1", join({field("/a/"), field(",i"), word(0xFFFFFFFF)})},
        {"/v hdc 9000000000 0.5 A", join({field("/v"), field(",hdc"), word(2), word(0x18711A00),
                                          word(0x3FE00000), word(0), word('A')})},
        // MIDI and colour bytes go out as typed; four numbers are the same colour.
        {"/m mrr 00903C7F FF7F00FF 1,0.5,0,1",
         join({field("/m"), field(",mrr"), word(0x00903C7F), word(0xFF7F00FF), word(0xFF7F00FF)})},
        {"/b bb 0102030405 ''",
         join({field("/b"), field(",bb"), word(5), word(0x01020304), word(0x05000000), word(0)})},
        // +0.5 from a "now" of 10 s after 2001: seconds 10, 500000 microseconds.
        {"/t tt +0.5 2001-01-01T00:00:03.25Z",
         join({field("/t"), field(",tt"), word(10), word(500000), word(3), word(250000)})},
        {"/s sTFNI héllo", join({field("/s"), field(",sTFNI"), field("héllo")})},
        {"/arr [i[f]]s 1 0.5 x",
         join({field("/arr"), field(",[i[f]]s"), word(1), word(0x3F000000), field("x")})},
        {"--bundle 127.0.0.1 9000 /a i 7 /b",
         join({field("#bundle"), word(0), word(1), word(12), field("/a"), field(",i"), word(7),
               word(8), field("/b"), field(",")})},
        {"--time +0.25 127.0.0.1 9000 /is",
         join({field("#bundle"), word(10), word(250000), word(8), field("/is"), field(",")})},
    };
    for (const auto& [line, datagram] : cases) {
        SCOPED_TRACE(line);
        const auto words = wordsOf(line.starts_with("--") ? line : "127.0.0.1 9000 " + line);
        const auto command = SendCommand::parse(views(words), now);
        ASSERT_EQ(command.outcome, SendCommand::Outcome::send) << command.error;
        EXPECT_EQ(hex(encoded(command.content)), hex(datagram));
    }
}

TEST(OscSend, BadCommandsExitWith2AndSendNothingHelpGoesToStandardOutput) {
    UdpListener listener;
    const std::string port = std::to_string(listener.port());
    // {command, the error line}; PORT stands for the listener's port.
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"127.0.0.1 PORT", "HOST, PORT and ADDRESS are needed"},
        {"--verbose 127.0.0.1 PORT /a", "unknown option '--verbose'"},
        {"--time", "--time needs a WHEN"},
        {"--time soon 127.0.0.1 PORT /a",
         "bad time 'soon': give now, +SECONDS, a UTC date YYYY-MM-DDTHH:MM:SS[.frac]Z or SECONDS"},
        {"showcase.local PORT /a",
         "bad host 'showcase.local': give an IPv4 address such as 127.0.0.1, or localhost"},
        {"127.0.0.1 80 /a", "bad port '80': give a number from 1024 to 65535"},
        {"127.0.0.1 9x /a", "bad port '9x': give a number from 1024 to 65535"},
        {"127.0.0.1 PORT list", "bad address 'list': an OSC address begins with /"},
        {"127.0.0.1 PORT /a iq 1 2", "bad type string 'iq': unknown type 'q'"},
        {"127.0.0.1 PORT /a [i 1", "bad type string '[i': '[' without ']'"},
        {"127.0.0.1 PORT /a i] 1", "bad type string 'i]': ']' without '['"},
        {"127.0.0.1 PORT /a iii 1 2", "type string 'iii' needs 3 arguments, 2 given"},
        {"127.0.0.1 PORT /a i 1 2", "unexpected argument '2' after the type string's arguments"},
        {"--bundle 127.0.0.1 PORT /a i 1 2",
         "unexpected argument '2': the next message's address begins with /"},
        {"127.0.0.1 PORT /a i 2147483648",
         "bad argument '2147483648' for type 'i': give a 32-bit integer"},
        {"127.0.0.1 PORT /a f x", "bad argument 'x' for type 'f': give a 32-bit float"},
        {"127.0.0.1 PORT /a c AB", "bad argument 'AB' for type 'c': give one character"},
        {"127.0.0.1 PORT /a m 903C7F", "bad argument '903C7F' for type 'm': give 8 hex digits"},
        {"127.0.0.1 PORT /a r 1,2,0,1",
         "bad argument '1,2,0,1' for type 'r': give 8 hex digits or four numbers 0 to 1 such as "
         "1,0.5,0,1"},
        {"127.0.0.1 PORT /a b ABC", "bad argument 'ABC' for type 'b': give hex digits in pairs"},
        {"127.0.0.1 PORT /a s \xC3", "bad argument '\xC3' for type 's': give UTF-8 text"},
        {"127.0.0.1 PORT /a " + std::string(33, '[') + std::string(33, ']'),
         "bad type string '" + std::string(33, '[') + std::string(33, ']') +
             "': arrays nested more than 32 deep"},
        {"127.0.0.1 PORT /a b " + std::string(2 * 65500, 'A'),
         "the datagram would be 65512 bytes, more than the 65506 a receiving port takes"},
    };
    const std::string usage =
        "Usage: osc-send [--bundle] [--time WHEN] HOST PORT ADDRESS [TYPES [ARGS...]]...\n"
        "osc-send --help explains the types and their arguments.\n";
    for (const auto& [line, error] : cases) {
        SCOPED_TRACE(line.substr(0, 80));
        auto words = wordsOf(line);
        std::replace(words.begin(), words.end(), std::string("PORT"), port);
        EXPECT_EQ(runTool(words), std::make_tuple(2, "", "osc-send: " + error + "\n" + usage));
    }
    EXPECT_EQ(runTool({"--help", "127.0.0.1"}), std::make_tuple(0, SendCommand::usage(), ""));
    // Datagrams on loopback arrive in order: if any refused command had sent something, it would
    // come before this one.
    EXPECT_EQ(std::get<0>(runTool({"127.0.0.1", port, "/sentinel"})), 0);
    const auto first = listener.receive();
    ASSERT_TRUE(first);
    EXPECT_EQ(hex(*first), hex(join({field("/sentinel"), field(",")})));
}

}  // namespace

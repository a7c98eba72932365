#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <string_view>
#include <tuple>
#include <vector>

#include "app/program/ApplicationMain.h"
#include "app/program/CommandLine.h"

using namespace vitrine;
using Outcome = CommandLine::Outcome;

namespace {

// The words of a command line written with spaces between them.
CommandLine parse(const std::string& line) {
    std::vector<std::string> words;
    std::istringstream in(line);
    for (std::string word; in >> word;) words.push_back(word);
    return CommandLine::parse(std::vector<std::string_view>(words.begin(), words.end()));
}

TEST(CommandLine, OptionsMoveThePageTheShowcaseAndTheReceivingPort) {
    // {command line, page address, showcase address, receiving port, demo}
    const std::tuple<const char*, const char*, const char*, uint16_t, bool> cases[] = {
        {"", "0.0.0.0:8080", "192.168.1.255:10000", 12000, false},
        {"--http 127.0.0.1:9000 --showcase 127.0.0.1:4000 --listen 4001", "127.0.0.1:9000",
         "127.0.0.1:4000", 4001, false},
        {"--showcase 10.0.0.2", "0.0.0.0:8080", "10.0.0.2:10000", 12000, false},
        // The demo serves on loopback unless told otherwise.
        {"--demo", "127.0.0.1:8080", "192.168.1.255:10000", 12000, true},
        {"--demo --http 0.0.0.0:8081", "0.0.0.0:8081", "192.168.1.255:10000", 12000, true},
    };
    for (const auto& [text, http, showcase, receivePort, demo] : cases) {
        SCOPED_TRACE(text);
        const auto line = parse(text);
        ASSERT_EQ(line.outcome, Outcome::run) << line.error;
        EXPECT_EQ(line.httpAddress + ":" + std::to_string(line.httpPort), http);
        EXPECT_EQ(line.showcase.address + ":" + std::to_string(line.showcase.port), showcase);
        EXPECT_EQ(line.showcase.receivePort, receivePort);
        EXPECT_EQ(line.demo, demo);
    }
    EXPECT_EQ(parse("--allow-host Vitrine.LAN --allow-host 10.0.0.7").allowedHosts,
              (std::vector<std::string>{"vitrine.lan", "10.0.0.7"}));
}

TEST(CommandLine, HelpWinsAndBadOptionsAreUsageErrorsEndingWithStatus2) {
    EXPECT_EQ(parse("--listen 5 --help").outcome, Outcome::help);
    EXPECT_EQ(CommandLine::parse({"--listen", ""}).outcome, Outcome::usageError);
    for (const char* line :
         {"--verbose", "--http", "--http 8080", "--http localhost:8080", "--http 127.0.0.1:0",
          "--http 127.0.0.1:65536", "--http 127.0.0.1:80x", "--showcase showcase.local",
          "--showcase 127.0.0.1:80", "--showcase 127.0.0.1:", "--listen -1",
          "--demo --showcase 127.0.0.1", "127.0.0.1", "--allow-host", "--allow-host a.lan:80",
          "--allow-host http://a.lan", "--allow-host a/b"}) {
        const auto parsed = parse(line);
        EXPECT_EQ(parsed.outcome, Outcome::usageError) << line;
        EXPECT_FALSE(parsed.error.empty());
    }

    const auto run = [](std::vector<std::string> arguments) {
        std::vector<char*> argv;
        for (auto& argument : arguments) argv.push_back(argument.data());
        return ApplicationMain(static_cast<int>(argv.size()), argv.data(), std::nullopt,
                               "AppDelegate");
    };
    const std::string usage = CommandLine::usage();
    testing::internal::CaptureStderr();
    EXPECT_EQ(run({"showcase-controller", "--verbose"}), 2);
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "showcase-controller: " + parse("--verbose").error + "\n" + usage);
    testing::internal::CaptureStdout();
    EXPECT_EQ(run({"showcase-controller", "--help"}), 0);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), usage);
}

}  // namespace

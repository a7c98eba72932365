#include <gtest/gtest.h>

#include <string_view>
#include <vector>

#include "app/server/CommandLine.h"

using namespace vitrine;
using Outcome = CommandLine::Outcome;

namespace {

CommandLine parse(std::vector<std::string_view> arguments) {
    return CommandLine::parse(arguments);
}

TEST(CommandLine, WithoutOptionsRunsTheInstallation) {
    const auto line = parse({});
    EXPECT_EQ(line.outcome, Outcome::run);
    EXPECT_EQ(line.httpAddress, "0.0.0.0");
    EXPECT_EQ(line.httpPort, 8080);
    EXPECT_EQ(line.showcase.address, "192.168.1.255");
    EXPECT_EQ(line.showcase.port, 10000);
    EXPECT_EQ(line.showcase.receivePort, 12000);
    EXPECT_FALSE(line.demo);
}

TEST(CommandLine, OptionsMoveThePageTheShowcaseAndTheReceivingPort) {
    const auto line =
        parse({"--http", "127.0.0.1:9000", "--showcase", "127.0.0.1:4000", "--listen", "4001"});
    ASSERT_EQ(line.outcome, Outcome::run) << line.error;
    EXPECT_EQ(line.httpAddress, "127.0.0.1");
    EXPECT_EQ(line.httpPort, 9000);
    EXPECT_EQ(line.showcase.address, "127.0.0.1");
    EXPECT_EQ(line.showcase.port, 4000);
    EXPECT_EQ(line.showcase.receivePort, 4001);
    EXPECT_EQ(parse({"--showcase", "10.0.0.2"}).showcase.port, 10000);
}

TEST(CommandLine, DemoServesOnLoopbackUnlessToldOtherwise) {
    EXPECT_TRUE(parse({"--demo"}).demo);
    EXPECT_EQ(parse({"--demo"}).httpAddress, "127.0.0.1");
    EXPECT_EQ(parse({"--demo", "--http", "0.0.0.0:8081"}).httpAddress, "0.0.0.0");
}

TEST(CommandLine, HelpWinsAndBadOptionsAreUsageErrors) {
    EXPECT_EQ(parse({"--listen", "5", "--help"}).outcome, Outcome::help);
    for (const auto& arguments :
         std::vector<std::vector<std::string_view>>{{"--verbose"},
                                                    {"--http"},
                                                    {"--http", "8080"},
                                                    {"--http", "localhost:8080"},
                                                    {"--http", "127.0.0.1:0"},
                                                    {"--http", "127.0.0.1:65536"},
                                                    {"--http", "127.0.0.1:80x"},
                                                    {"--showcase", "showcase.local"},
                                                    {"--showcase", "127.0.0.1:80"},
                                                    {"--showcase", "127.0.0.1:"},
                                                    {"--listen", "-1"},
                                                    {"--listen", ""},
                                                    {"--demo", "--showcase", "127.0.0.1"},
                                                    {"127.0.0.1"}}) {
        const auto line = parse(arguments);
        EXPECT_EQ(line.outcome, Outcome::usageError) << arguments[0];
        EXPECT_FALSE(line.error.empty());
    }
}

}  // namespace

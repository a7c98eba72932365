// Stands in for the showcase on this machine: prints the scenes and the switch state the
// controller sends, and answers its "/is" like the showcase would (see ShowcaseSimulator).
//
//   showcase-sim [--port 10000] [--answer-port 12000] [--silent]

#include <signal.h>

#include <charconv>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <string>
#include <string_view>

#include "simulator/ShowcaseSimulator.h"
#include "tools/ToolSupport.h"

using namespace vitrine;

namespace {

constexpr const char* usage =
    "Usage: showcase-sim [--port PORT] [--answer-port PORT] [--silent]\n"
    "Stands in for the showcase: listens for the controller's OSC messages on UDP PORT\n"
    "(10000), prints each scene as a line of 24 levels and each switch change, and answers\n"
    "every \"/is\" with \"/connected\" 1 sent to the asking host's UDP port given by\n"
    "--answer-port (12000). --silent never answers, like a showcase that is off.\n"
    "Stops on Ctrl-C (SIGINT) or SIGTERM.\n";

bool parsePort(std::string_view text, uint16_t& port, bool allowZero) {
    unsigned value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc{} || end != text.data() + text.size() || value > 65535) return false;
    if (value == 0 && !allowZero) return false;
    port = static_cast<uint16_t>(value);
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    ShowcaseSimulator::Options options;
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
        const bool hasValue = i + 1 < argc;
        if (arg == "--help" || arg == "-h") {
            std::fputs(usage, stdout);
            return 0;
        }
        if (arg == "--silent") {
            options.silent = true;
        } else if (arg == "--port" && hasValue && parsePort(argv[i + 1], options.port, true)) {
            ++i;
        } else if (arg == "--answer-port" && hasValue &&
                   parsePort(argv[i + 1], options.answerPort, false)) {
            ++i;
        } else {
            std::fprintf(stderr, "showcase-sim: unexpected argument '%s'\n%s", argv[i], usage);
            return 2;
        }
    }

    const sigset_t stopSignals = tools::blockStopSignals();

    std::mutex printing;
    const auto print = [&printing](const std::string& line) {
        std::lock_guard guard(printing);
        std::fprintf(stdout, "%s\n", line.c_str());
        std::fflush(stdout);
    };
    const auto simulator = ShowcaseSimulator::create(options, print);
    if (!simulator) {
        std::fprintf(stderr, "showcase-sim: cannot listen on UDP port %u\n",
                     static_cast<unsigned>(options.port));
        return 1;
    }
    print("showcase-sim: listening on UDP port " + std::to_string(simulator->port()) +
          (options.silent ? ", silent"
                          : ", answering on port " + std::to_string(options.answerPort)));

    tools::waitForStopSignal(stopSignals);
    simulator->stop();
    return 0;
}

// Asks an OSC peer a question about one of its addresses and prints the answer.
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <string>
#include <string_view>

#include "osc/OSCManager.h"
#include "tools/ToolArguments.h"

using namespace vitrine;

namespace {

constexpr const char* usage =
    "Usage: osc-query [--timeout SECONDS] HOST PORT ADDRESS [KIND]\n"
    "Asks the OSC peer at HOST (an IPv4 address or localhost) and UDP PORT about ADDRESS and "
    "prints\n"
    "the answer's values, one per line. KIND is one of\n"
    "  namespace           the names below ADDRESS (the default)\n"
    "  documentation       what the node is\n"
    "  type-signature      the type tags it takes\n"
    "  current-value       its value now\n"
    "  return-type-string  the type tags it answers with\n"
    "The question leaves from a UDP port chosen by the system, where the answer comes back.\n"
    "  --timeout SECONDS   how long to wait for the answer (2)\n"
    "Exit status: 0 answered, 1 no answer in time or an error answer, 2 bad arguments.\n"
    "Example: osc-query 127.0.0.1 9001 /a\n";

struct Kind {
    std::string_view name;
    OSCQueryType type;
};
constexpr Kind kKinds[] = {
    {"namespace", OSCQueryTypeNamespaceExploration},
    {"documentation", OSCQueryTypeDocumentation},
    {"type-signature", OSCQueryTypeTypeSignature},
    {"current-value", OSCQueryTypeCurrentValue},
    {"return-type-string", OSCQueryTypeReturnTypeString},
};

int refuse(const std::string& why) {
    std::fprintf(stderr, "osc-query: %s\n%s", why.c_str(), usage);
    return 2;
}

std::string textOf(const OSCValue& value) {
    switch (value.type()) {
        case OSCValString:
            return value.stringValue();
        case OSCValInt:
        case OSCValFloat:
        case OSCValDouble:
        case OSCValInt64: {
            char text[64];
            std::snprintf(text, sizeof text, "%.9g", value.calculateDoubleValue());
            return text;
        }
        default:
            return value.description();
    }
}

}  // namespace

int main(int argc, char** argv) {
    double timeout = 2.0;
    std::vector<std::string> positional;
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
        if (arg == "--help" || arg == "-h") {
            std::fputs(usage, stdout);
            return 0;
        }
        if (arg == "--timeout") {
            char* end = nullptr;
            if (i + 1 < argc) timeout = std::strtod(argv[i + 1], &end);
            if (i + 1 >= argc || end == argv[i + 1] || *end || !(timeout > 0) || timeout > 3600)
                return refuse("--timeout needs a number of seconds above 0 (at most 3600)");
            ++i;
        } else if (arg.size() > 1 && arg[0] == '-' && positional.size() < 2) {
            return refuse("unknown option '" + std::string(arg) + "'");
        } else {
            positional.emplace_back(arg);
        }
    }
    if (positional.size() < 3 || positional.size() > 4)
        return refuse("expected HOST PORT ADDRESS [KIND]");
    const auto host = tools::parseHost(positional[0]);
    if (!host) return refuse("bad host '" + positional[0] + "' (an IPv4 address or localhost)");
    const auto port = tools::parsePort(positional[1]);
    if (!port) return refuse("bad port '" + positional[1] + "' (1 to 65535)");
    const std::string& address = positional[2];
    if (address.empty() || address[0] != '/')
        return refuse("the address must begin with '/': '" + address + "'");
    OSCQueryType type = OSCQueryTypeNamespaceExploration;
    if (positional.size() == 4) {
        const auto kind = std::find_if(std::begin(kKinds), std::end(kKinds),
                                       [&](const Kind& k) { return k.name == positional[3]; });
        if (kind == std::end(kKinds)) return refuse("unknown kind '" + positional[3] + "'");
        type = kind->type;
    }

    const auto manager = OSCManager::createWithZeroConfService(OSCZeroConfService::createSilent());
    if (!manager->createNewInputForPort(0, std::string("osc-query"))) {
        std::fprintf(stderr, "osc-query: cannot open a UDP port for the answer\n");
        return 1;
    }
    const auto peer = OSCOutPort::createWithAddress(*host, *port);
    const auto query = OSCMessage::createQueryType(type, address);
    if (!peer || !query) return refuse("cannot ask that");

    std::mutex lock;
    std::condition_variable answered;
    std::shared_ptr<OSCMessage> answer;
    manager->dispatchQuery(query, peer, static_cast<float>(timeout),
                           [&](const std::shared_ptr<OSCMessage>& reply) {
                               std::lock_guard guard(lock);
                               answer = reply;
                               answered.notify_all();
                           });
    const auto asked = std::chrono::steady_clock::now();
    std::unique_lock guard(lock);
    // The port answers an expired question with an error; the margin covers its check period.
    answered.wait_for(guard, std::chrono::duration<double>(timeout + 2.0),
                      [&] { return !!answer; });
    if (!answer || answer->messageType() == OSCMessageTypeError) {
        const bool late =
            std::chrono::steady_clock::now() - asked >= std::chrono::duration<double>(timeout);
        std::fprintf(stderr,
                     late ? "osc-query: no answer from %s:%u within %g s\n"
                          : "osc-query: %s:%u answered with an error (after less than %g s)\n",
                     host->c_str(), static_cast<unsigned>(*port), timeout);
        guard.unlock();
        manager->deleteAllInputs();
        return 1;
    }
    // The first value says which question this answers; the rest is the answer.
    for (int32_t i = 1; i < answer->valueCount(); ++i) {
        if (const auto value = answer->valueAtIndex(i)) std::printf("%s\n", textOf(*value).c_str());
    }
    std::fflush(stdout);
    guard.unlock();
    manager->deleteAllInputs();
    return 0;
}

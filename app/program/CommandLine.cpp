#include "app/program/CommandLine.h"

#include <arpa/inet.h>

#include <charconv>

#include "app/web/AllowedHosts.h"

namespace vitrine {

namespace {

std::optional<uint16_t> portNumber(std::string_view text) {
    unsigned value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc{} || end != text.data() + text.size() || value == 0 || value > 65535)
        return std::nullopt;
    return static_cast<uint16_t>(value);
}

// Only dotted quads: a host name would need a resolver, and the installation has none.
bool isIPv4Address(std::string_view text) {
    const std::string copy(text);
    in_addr parsed{};
    return inet_pton(AF_INET, copy.c_str(), &parsed) == 1;
}

}  // namespace

const char* CommandLine::usage() {
    return "Usage: showcase-controller [--http ADDRESS:PORT] [--showcase ADDRESS[:PORT]]\n"
           "                           [--listen PORT] [--allow-host NAME]... [--demo] [--help]\n"
           "Remote control of the showcase. Serves the control page on http://ADDRESS:PORT/\n"
           "(every interface, port 8080, by default; 127.0.0.1:8080 with --demo), sends the\n"
           "scenes over OSC to the showcase (192.168.1.255 port 10000) and shows whether it\n"
           "answers on UDP port 12000.\n"
           "  --http ADDRESS:PORT        where the page is served\n"
           "  --showcase ADDRESS[:PORT]  where the scenes go (port 10000 if not given)\n"
           "  --listen PORT              the UDP port the showcase answers to (12000)\n"
           "  --allow-host NAME          serve requests for NAME too; the page answers only to\n"
           "                             the machine's addresses and host name (and localhost\n"
           "                             on loopback) otherwise; may be repeated\n"
           "  --demo                     run a showcase simulator on 127.0.0.1 and aim at it\n"
           "  --help                     this text\n"
           "Stops on Ctrl-C (SIGINT) or SIGTERM.\n";
}

CommandLine CommandLine::parse(const std::vector<std::string_view>& arguments) {
    CommandLine line;
    bool httpGiven = false;
    bool showcaseGiven = false;
    const auto fail = [&line](std::string message) {
        line.outcome = Outcome::usageError;
        line.error = std::move(message);
        return line;
    };
    for (size_t i = 0; i < arguments.size(); ++i) {
        const std::string_view option = arguments[i];
        if (option == "--help" || option == "-h") {
            line.outcome = Outcome::help;
            return line;
        }
        if (option == "--demo") {
            line.demo = true;
            continue;
        }
        if (option != "--http" && option != "--showcase" && option != "--listen" &&
            option != "--allow-host")
            return fail("unknown option '" + std::string(option) + "'");
        if (i + 1 >= arguments.size()) return fail(std::string(option) + " needs a value");
        const std::string_view value = arguments[++i];
        const auto colon = value.rfind(':');
        if (option == "--allow-host") {
            const auto name = AllowedHosts::parseAuthority(value);
            if (!name || name->port)
                return fail("--allow-host needs a host name or address, not '" +
                            std::string(value) + "'");
            line.allowedHosts.push_back(name->name);
        } else if (option == "--listen") {
            const auto port = portNumber(value);
            if (!port)
                return fail("--listen needs a port number, not '" + std::string(value) + "'");
            line.showcase.receivePort = *port;
        } else if (option == "--http") {
            const auto port = colon == std::string_view::npos ? std::nullopt
                                                              : portNumber(value.substr(colon + 1));
            if (!port || !isIPv4Address(value.substr(0, colon)))
                return fail("--http needs ADDRESS:PORT, not '" + std::string(value) + "'");
            line.httpAddress = std::string(value.substr(0, colon));
            line.httpPort = *port;
            httpGiven = true;
        } else {
            std::string_view address = value;
            if (colon != std::string_view::npos) {
                const auto port = portNumber(value.substr(colon + 1));
                // The showcase's port, like every sending port, is above the reserved range.
                if (!port || *port < 1024)
                    return fail("--showcase needs a port from 1024 to 65535 after ':'");
                line.showcase.port = *port;
                address = value.substr(0, colon);
            }
            if (!isIPv4Address(address))
                return fail("--showcase needs an IPv4 address, not '" + std::string(address) + "'");
            line.showcase.address = std::string(address);
            showcaseGiven = true;
        }
    }
    if (line.demo && showcaseGiven) return fail("--demo and --showcase exclude each other");
    if (line.demo && !httpGiven) line.httpAddress = "127.0.0.1";
    return line;
}

}  // namespace vitrine

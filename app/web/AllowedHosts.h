#pragma once

#include <boost/asio/ip/address.hpp>

#include <cstdint>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

namespace vitrine {

// The names under which this controller is reached. A request must name one of them in its Host,
// so that a web page served from a rebinding domain (one that resolves to the controller after
// the browser loaded it) cannot reach the showcase: its requests carry that domain as Host.
//
// Own names: the listening address, the machine's addresses and host name (also as
// "<name>.local"), the address a connection arrived on, "localhost" and the loopback address
// when the server can be reached on loopback, and the names given by the operator. Names compare
// without case and without a final dot.
// Thread safety: none; the web server's thread owns it.
class AllowedHosts {
public:
    // A Host header or an origin's host and port; `name` lower case, IPv6 addresses in brackets.
    struct Authority {
        std::string name;
        std::optional<uint16_t> port;
    };
    // "name", "name:port", "[v6]" or "[v6]:port"; nothing for anything else (user info, paths,
    // characters no host name has, a port out of range).
    static std::optional<Authority> parseAuthority(std::string_view text);

    struct Origin {
        bool secure = false;  // https
        Authority authority;
    };
    // "http://authority" or "https://authority" (an optional final '/'); nothing otherwise, "null"
    // included.
    static std::optional<Origin> parseOrigin(std::string_view text);

    AllowedHosts(const boost::asio::ip::address& listening, const std::vector<std::string>& extra);

    // Whether `name` (from parseAuthority) is one of the own names, `arrivedOn` being the
    // connection's local address. A name not known is looked up again among the machine's
    // names, which change when an address is leased after start.
    bool allows(const std::string& name, const boost::asio::ip::address& arrivedOn);

private:
    void readMachineNames();

    std::set<std::string> fixed;
    std::set<std::string> machine;
};

}  // namespace vitrine

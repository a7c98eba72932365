#include "app/web/AllowedHosts.h"

#include <ifaddrs.h>
#include <netinet/in.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <charconv>
#include <cstring>

namespace vitrine {

namespace asio = boost::asio;

namespace {

std::string lowered(std::string_view text) {
    std::string out(text);
    std::transform(out.begin(), out.end(), out.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return out;
}

bool isHostNameCharacter(char c) {
    return std::isalnum(static_cast<unsigned char>(c)) || c == '-' || c == '.' || c == '_';
}

// An address as a Host header names it; scope identifiers never appear there.
std::string nameOf(const asio::ip::address& address) {
    if (address.is_v4()) return address.to_v4().to_string();
    const auto v6 = address.to_v6();
    if (v6.is_v4_mapped()) return asio::ip::make_address_v4(asio::ip::v4_mapped, v6).to_string();
    return "[" + asio::ip::address_v6(v6.to_bytes()).to_string() + "]";
}

}  // namespace

std::optional<AllowedHosts::Authority> AllowedHosts::parseAuthority(std::string_view text) {
    Authority authority;
    std::string_view rest;
    if (!text.empty() && text.front() == '[') {
        const auto close = text.find(']');
        if (close == std::string_view::npos) return std::nullopt;
        boost::system::error_code bad;
        const auto address = asio::ip::make_address_v6(std::string(text.substr(1, close - 1)), bad);
        if (bad || address.scope_id() != 0) return std::nullopt;
        authority.name = nameOf(address);
        rest = text.substr(close + 1);
    } else {
        const auto colon = text.find(':');
        const auto name = text.substr(0, colon);
        if (name.empty() || !std::all_of(name.begin(), name.end(), isHostNameCharacter))
            return std::nullopt;
        authority.name = lowered(name);
        // "localhost." is "localhost".
        if (authority.name.back() == '.') authority.name.pop_back();
        if (authority.name.empty()) return std::nullopt;
        rest = colon == std::string_view::npos ? std::string_view() : text.substr(colon);
    }
    if (rest.empty()) return authority;
    if (rest.front() != ':' || rest.size() < 2 || rest.size() > 6) return std::nullopt;
    unsigned port = 0;
    const auto digits = rest.substr(1);
    const auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), port);
    if (error != std::errc{} || end != digits.data() + digits.size() || port > 65535)
        return std::nullopt;
    authority.port = static_cast<uint16_t>(port);
    return authority;
}

std::optional<AllowedHosts::Origin> AllowedHosts::parseOrigin(std::string_view text) {
    const auto separator = text.find("://");
    if (separator == std::string_view::npos) return std::nullopt;
    const std::string scheme = lowered(text.substr(0, separator));
    if (scheme != "http" && scheme != "https") return std::nullopt;
    auto rest = text.substr(separator + 3);
    if (!rest.empty() && rest.back() == '/') rest.remove_suffix(1);
    auto authority = parseAuthority(rest);
    if (!authority) return std::nullopt;
    return Origin{scheme == "https", std::move(*authority)};
}

AllowedHosts::AllowedHosts(const asio::ip::address& listening,
                           const std::vector<std::string>& extra) {
    if (!listening.is_unspecified()) fixed.insert(nameOf(listening));
    if (listening.is_loopback() || listening.is_unspecified())
        fixed.insert({"localhost", "127.0.0.1", "[::1]"});
    for (const std::string& name : extra)
        if (const auto authority = parseAuthority(name)) fixed.insert(authority->name);
    readMachineNames();
}

bool AllowedHosts::allows(const std::string& name, const asio::ip::address& arrivedOn) {
    if (fixed.contains(name) || machine.contains(name) || name == nameOf(arrivedOn)) return true;
    readMachineNames();
    return machine.contains(name);
}

void AllowedHosts::readMachineNames() {
    machine.clear();
    ifaddrs* interfaces = nullptr;
    if (getifaddrs(&interfaces) == 0) {
        for (const ifaddrs* entry = interfaces; entry; entry = entry->ifa_next) {
            if (!entry->ifa_addr) continue;
            if (entry->ifa_addr->sa_family == AF_INET) {
                in_addr raw{};
                std::memcpy(&raw, &reinterpret_cast<const sockaddr_in*>(entry->ifa_addr)->sin_addr,
                            sizeof raw);
                machine.insert(nameOf(asio::ip::address_v4(ntohl(raw.s_addr))));
            } else if (entry->ifa_addr->sa_family == AF_INET6) {
                asio::ip::address_v6::bytes_type bytes{};
                std::memcpy(bytes.data(),
                            &reinterpret_cast<const sockaddr_in6*>(entry->ifa_addr)->sin6_addr,
                            bytes.size());
                machine.insert(nameOf(asio::ip::address_v6(bytes)));
            }
        }
        freeifaddrs(interfaces);
    }
    std::array<char, 256> host{};
    if (gethostname(host.data(), host.size() - 1) != 0 || host[0] == '\0') return;
    std::string name = lowered(host.data());
    if (name.back() == '.') name.pop_back();
    if (name.empty()) return;
    machine.insert(name);
    // The name zero-conf announces on the local link.
    machine.insert(name.substr(0, name.find('.')) + ".local");
}

}  // namespace vitrine

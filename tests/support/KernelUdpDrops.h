#pragma once

#include <cstdint>
#include <cstdio>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>

namespace vitrine::test {

// How many datagrams the kernel has dropped for the IPv4 UDP socket bound to `port` because its
// receive buffer was full (the "drops" column of /proc/net/udp); nothing when it cannot be read.
inline std::optional<uint64_t> kernelUdpDrops(uint16_t port) {
    std::ifstream table("/proc/net/udp");
    if (!table) return std::nullopt;
    std::string line;
    std::getline(table, line);  // column titles
    char wanted[8];
    std::snprintf(wanted, sizeof wanted, ":%04X", static_cast<unsigned>(port));
    while (std::getline(table, line)) {
        std::istringstream fields(line);
        std::string slot, local;
        fields >> slot >> local;
        if (local.size() < 5 || local.compare(local.size() - 5, 5, wanted) != 0) continue;
        std::string field, last;
        while (fields >> field) last = field;
        try {
            return std::stoull(last);
        } catch (...) {
            return std::nullopt;
        }
    }
    return std::nullopt;
}

}  // namespace vitrine::test

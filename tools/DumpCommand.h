#pragma once

#include <netinet/in.h>

#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

namespace vitrine::tools {

// The command line of osc-dump.
struct DumpCommand {
    enum class Outcome { dump, help, usageError };

    Outcome outcome = Outcome::usageError;
    std::string error;
    // 0 lets the system choose; the chosen port is printed when listening starts.
    uint16_t port = 0;
    bool hex = false;

    static DumpCommand parse(const std::vector<std::string_view>& words);
    static const char* usage();
};

// The lines osc-dump prints for one received datagram: with `hex` first the datagram's bytes,
// then one line per message it holds (a bundle's in order, depth first) with its description,
// its sender and, when it came in a bundle with a time tag, that date. The log lines the decoder
// writes about a malformed datagram are among them, in order, and do not reach the log. Meant
// for one thread: the log's sink is borrowed while the datagram is decoded.
std::vector<std::string> describeDatagram(const uint8_t* bytes, int32_t length,
                                          const sockaddr_in& from, bool hex);

// The whole program: binds PORT on every IPv4 interface, says on `err` which port it listens on,
// and prints what arrives until SIGINT or SIGTERM comes, then returns 0. Log lines are printed
// to `out` among the messages. 2 for a bad command line, 1 when the port
// cannot be bound.
int runOscDump(const std::vector<std::string_view>& words, std::FILE* out, std::FILE* err);

}  // namespace vitrine::tools

#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "basics/Date.h"
#include "osc/OSCPacketContent.h"

namespace vitrine::tools {

// The command line of osc-send, read into what it sends: one message, or a bundle of messages
// with an optional time tag. Everything is checked before anything is sent, so a command with
// one bad word sends nothing at all.
struct SendCommand {
    enum class Outcome { send, help, usageError };

    Outcome outcome = Outcome::usageError;
    // Why the command was refused, in one line, for usageError.
    std::string error;
    std::string host;
    uint16_t port = 0;
    // An OSCMessage, or an OSCBundle when --bundle or --time was given.
    std::shared_ptr<OSCPacketContent> content;

    // The words after the program name. `now` stands for the current date in time arguments.
    static SendCommand parse(const std::vector<std::string_view>& words, Date now);
    static const char* usage();
};

// The whole program: reads the command, sends the datagram to HOST:PORT. Exit status 0 when
// sent, 2 for a command it refuses (the reason and a short usage go to `err`), 1 when the system
// refuses the socket.
int runOscSend(const std::vector<std::string_view>& words, std::FILE* out, std::FILE* err);

}  // namespace vitrine::tools

#include "tools/DumpCommand.h"

#include <arpa/inet.h>
#include <errno.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>

#include <cstring>
#include <memory>

#include "basics/Log.h"
#include "osc/OSCInPort.h"
#include "osc/OSCMessageReceiver.h"
#include "osc/OSCPacket.h"
#include "osc/OSCStringAdditions.h"
#include "osc/UdpSocket.h"
#include "tools/ToolArguments.h"

namespace vitrine::tools {

namespace {

constexpr const char* shortUsage =
    "Usage: osc-dump [--hex] PORT\n"
    "osc-dump --help explains what it prints.\n";

constexpr const char* longUsage =
    "Usage: osc-dump [--hex] PORT\n"
    "Receives OSC on UDP PORT (0 to 65535, on every IPv4 interface; 0 lets the system choose)\n"
    "and prints one line per message: its description, the sender, and, when it came in a\n"
    "bundle with a time tag, that date in UTC:\n"
    "  <OSCMessage '/list'-'(<OSCVal i 1>, <OSCVal i 2>)'> from 127.0.0.1:50123\n"
    "  <OSCMessage '/a', '<OSCVal f 0.500000>'> from 127.0.0.1:50123 at "
    "2026-12-07T06:00:00.250000Z\n"
    "--hex first prints each datagram's bytes:\n"
    "  127.0.0.1:50123 sent 12 bytes: 2F 69 73 00 2C 00 00 00\n"
    "Replies, errors and queries are printed like any other message. A malformed datagram\n"
    "prints the decoder's log line and the dump goes on.\n"
    "Time tags count seconds from 2001-01-01 UTC and whole microseconds, not NTP's 1900 and\n"
    "1/2^32 units; a peer on NTP time shows dates far in the future.\n"
    "Ctrl-C (SIGINT) or SIGTERM ends it with status 0. Exit status 2 for a bad command line,\n"
    "1 when the port cannot be bound.\n";

std::string senderOf(const sockaddr_in& from) {
    return stringFromRawIPAddress(from.sin_addr.s_addr) + ":" +
           std::to_string(ntohs(from.sin_port));
}

class LineCollector : public OSCMessageReceiver {
public:
    LineCollector(std::vector<std::string>& lines, std::string sender)
        : lines(lines), sender(std::move(sender)) {}

    void _addMessage(const std::shared_ptr<OSCMessage>& message) override {
        std::string line = message->description() + " from " + sender;
        if (message->timeTag()) line += " at " + formatDate(*message->timeTag());
        lines.push_back(std::move(line));
    }

private:
    std::vector<std::string>& lines;
    const std::string sender;
};

volatile sig_atomic_t stopRequested = 0;

void requestStop(int) {
    stopRequested = 1;
}

}  // namespace

DumpCommand DumpCommand::parse(const std::vector<std::string_view>& words) {
    DumpCommand command;
    bool havePort = false;
    for (const std::string_view word : words) {
        if (word == "--help") {
            command.outcome = Outcome::help;
            return command;
        }
        if (word == "--hex") {
            command.hex = true;
        } else if (word.starts_with("--")) {
            command.error = "unknown option '" + std::string(word) + "'";
            return command;
        } else if (havePort) {
            command.error = "unexpected argument '" + std::string(word) + "'";
            return command;
        } else if (const auto port = parsePort(word, true)) {
            command.port = *port;
            havePort = true;
        } else {
            command.error = "bad port '" + std::string(word) + "': give a number from 0 to 65535";
            return command;
        }
    }
    if (!havePort) {
        command.error = "PORT is needed";
        return command;
    }
    command.outcome = Outcome::dump;
    return command;
}

const char* DumpCommand::usage() {
    return longUsage;
}

std::vector<std::string> describeDatagram(const uint8_t* bytes, int32_t length,
                                          const sockaddr_in& from, bool hex) {
    std::vector<std::string> lines;
    const std::string sender = senderOf(from);
    if (hex) {
        lines.push_back(sender + " sent " + std::to_string(length) +
                        " bytes: " + hexBytes(bytes, static_cast<size_t>(length)));
    }
    // The decoder's complaints stand among the lines they are about, in the order written.
    const auto previousSink =
        Log::setSink([&lines](const std::string& text) { lines.push_back(text); });
    if (length % 4 != 0) {
        // The receiving ports drop such datagrams with this line; the dump does the same.
        Log::write("\t\terr: bytes isn't multiple of 4 in %s", "osc-dump");
    } else {
        LineCollector collector(lines, sender);
        OSCPacket::parseRawBuffer(bytes, length, &collector, from.sin_addr.s_addr, from.sin_port);
    }
    Log::setSink(previousSink);
    return lines;
}

int runOscDump(const std::vector<std::string_view>& words, std::FILE* out, std::FILE* err) {
    const DumpCommand command = DumpCommand::parse(words);
    if (command.outcome == DumpCommand::Outcome::help) {
        std::fputs(DumpCommand::usage(), out);
        return 0;
    }
    if (command.outcome == DumpCommand::Outcome::usageError) {
        std::fprintf(err, "osc-dump: %s\n%s", command.error.c_str(), shortUsage);
        return 2;
    }

    // The datagrams are read here rather than through a receiving port: a port hands replies
    // and errors only to the questions it asked, and never shows the bytes themselves.
    UdpSocket sock = UdpSocket::open();
    sockaddr_in local{};
    local.sin_family = AF_INET;
    local.sin_port = htons(command.port);
    local.sin_addr.s_addr = htonl(INADDR_ANY);
    socklen_t localLength = sizeof local;
    if (!sock.valid() || bind(sock.fd(), reinterpret_cast<sockaddr*>(&local), sizeof local) != 0 ||
        getsockname(sock.fd(), reinterpret_cast<sockaddr*>(&local), &localLength) != 0) {
        std::fprintf(err, "osc-dump: cannot listen on UDP port %u: %s\n",
                     static_cast<unsigned>(command.port), std::strerror(errno));
        return 1;
    }
    const int bufferSize = OSCInPort::kBufferSize;
    setsockopt(sock.fd(), SOL_SOCKET, SO_RCVBUF, &bufferSize, sizeof bufferSize);
    std::fprintf(err, "osc-dump: listening on UDP port %u\n",
                 static_cast<unsigned>(ntohs(local.sin_port)));
    std::fflush(err);

    // The receive loop's own log lines go among the messages too.
    const auto previousSink =
        Log::setSink([out](const std::string& text) { std::fprintf(out, "%s\n", text.c_str()); });

    // The stop signals stay blocked except inside ppoll, so one cannot slip in between the check
    // of the flag and the wait.
    struct sigaction action {};
    action.sa_handler = requestStop;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
    sigset_t stopSignals, waitMask;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    sigprocmask(SIG_BLOCK, &stopSignals, &waitMask);
    sigdelset(&waitMask, SIGINT);
    sigdelset(&waitMask, SIGTERM);

    std::vector<uint8_t> buffer(OSCInPort::kBufferSize);
    pollfd watched{sock.fd(), POLLIN, 0};
    while (!stopRequested) {
        const int ready = ppoll(&watched, 1, nullptr, &waitMask);
        if (ready < 0) {
            if (errno == EINTR) continue;
            std::fprintf(err, "osc-dump: waiting on the socket failed: %s\n", std::strerror(errno));
            break;
        }
        sockaddr_in from{};
        socklen_t fromLength = sizeof from;
        const ssize_t length = recvfrom(sock.fd(), buffer.data(), buffer.size(), 0,
                                        reinterpret_cast<sockaddr*>(&from), &fromLength);
        if (length <= 0) {
            Log::write("\t\terr on recvfrom: %i", length < 0 ? errno : 0);
            continue;
        }
        for (const auto& line :
             describeDatagram(buffer.data(), static_cast<int32_t>(length), from, command.hex)) {
            std::fprintf(out, "%s\n", line.c_str());
        }
        std::fflush(out);
    }
    std::fflush(out);
    Log::setSink(previousSink);
    return 0;
}

}  // namespace vitrine::tools

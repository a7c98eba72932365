#pragma once

#include <netinet/in.h>

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace vitrine::test {

using Bytes = std::vector<uint8_t>;

// A UDP socket on 127.0.0.1 that captures the real datagrams a test makes the system send.
// Binds to a port the kernel picks, so parallel test processes never share one.
class UdpListener {
public:
    UdpListener();
    ~UdpListener();
    UdpListener(const UdpListener&) = delete;
    UdpListener& operator=(const UdpListener&) = delete;

    uint16_t port() const { return boundPort; }

    // The next datagram, or nothing when none arrives within the timeout.
    std::optional<Bytes> receive(
        std::chrono::milliseconds timeout = std::chrono::milliseconds(2000));
    // The next datagram with the sender's address, or nothing.
    std::optional<Bytes> receiveFrom(
        sockaddr_in& from, std::chrono::milliseconds timeout = std::chrono::milliseconds(2000));
    // Every datagram that reached the socket before this call, without waiting for quiet: the
    // listener sends itself a marker, and the loopback delivers a datagram before its sendto()
    // returns, so whatever was sent earlier is queued ahead of the marker.
    std::vector<Bytes> takeArrived();

    // Sends one datagram from this socket to 127.0.0.1:port.
    void sendTo(uint16_t port, const Bytes& bytes);

private:
    int sock = -1;
    uint16_t boundPort = 0;
};

// "2F 6C 69 73" for logs and failure messages.
std::string hex(const Bytes& bytes);
Bytes bytesFromHex(const std::string& hexText);

}  // namespace vitrine::test

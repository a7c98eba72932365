#include "support/UdpListener.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdio>
#include <stdexcept>

namespace vitrine::test {

namespace {

sockaddr_in loopback(uint16_t port) {
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(port);
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return addr;
}

}  // namespace

UdpListener::UdpListener() {
    sock = socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP);
    if (sock < 0) throw std::runtime_error("UdpListener: socket");
    int size = 1 << 20;
    setsockopt(sock, SOL_SOCKET, SO_RCVBUF, &size, sizeof size);
    sockaddr_in addr = loopback(0);
    if (bind(sock, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0)
        throw std::runtime_error("UdpListener: bind");
    socklen_t length = sizeof addr;
    getsockname(sock, reinterpret_cast<sockaddr*>(&addr), &length);
    boundPort = ntohs(addr.sin_port);
}

UdpListener::~UdpListener() {
    if (sock >= 0) close(sock);
}

std::optional<Bytes> UdpListener::receive(std::chrono::milliseconds timeout) {
    sockaddr_in from{};
    return receiveFrom(from, timeout);
}

std::optional<Bytes> UdpListener::receiveFrom(sockaddr_in& from,
                                              std::chrono::milliseconds timeout) {
    pollfd waiting{sock, POLLIN, 0};
    if (poll(&waiting, 1, static_cast<int>(timeout.count())) <= 0) return std::nullopt;
    Bytes buffer(65536);
    socklen_t length = sizeof from;
    const ssize_t received = recvfrom(sock, buffer.data(), buffer.size(), 0,
                                      reinterpret_cast<sockaddr*>(&from), &length);
    if (received < 0) return std::nullopt;
    buffer.resize(static_cast<size_t>(received));
    return buffer;
}

std::vector<Bytes> UdpListener::takeArrived() {
    static const Bytes marker{'\0', 'm', 'a', 'r', 'k', 'e', 'r', '\0'};
    sendTo(boundPort, marker);
    std::vector<Bytes> all;
    sockaddr_in from{};
    while (auto datagram = receiveFrom(from)) {
        if (*datagram == marker && ntohs(from.sin_port) == boundPort) return all;
        all.push_back(std::move(*datagram));
    }
    ADD_FAILURE() << "the listener's own marker did not come back";
    return all;
}

void UdpListener::sendTo(uint16_t port, const Bytes& bytes) {
    sockaddr_in to = loopback(port);
    sendto(sock, bytes.data(), bytes.size(), 0, reinterpret_cast<sockaddr*>(&to), sizeof to);
}

std::string hex(const Bytes& bytes) {
    std::string out;
    char digits[4];
    for (size_t i = 0; i < bytes.size(); ++i) {
        snprintf(digits, sizeof digits, i ? " %02X" : "%02X", bytes[i]);
        out += digits;
    }
    return out;
}

Bytes bytesFromHex(const std::string& hexText) {
    Bytes out;
    std::string digits;
    for (char c : hexText) {
        if (isxdigit(static_cast<unsigned char>(c))) digits += c;
        if (digits.size() == 2) {
            out.push_back(static_cast<uint8_t>(std::stoul(digits, nullptr, 16)));
            digits.clear();
        }
    }
    return out;
}

}  // namespace vitrine::test

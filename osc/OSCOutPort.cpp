#include "osc/OSCOutPort.h"

#include <arpa/inet.h>
#include <sys/socket.h>

#include <cerrno>
#include <mutex>

#include "basics/Log.h"

namespace vitrine {

namespace {

constexpr uint16_t kLowestPort = 1024;
// The largest datagram an IPv4 UDP socket can carry.
constexpr int kSendBufferSize = 65506;

// Host names are refused when only the address changes. Non-ASCII text can never be a dotted
// quad either, so it is refused with the letters rather than falling through to the all-ones
// broadcast address.
bool containsLetter(const std::string& text) {
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte >= 0x80 || (byte >= 'a' && byte <= 'z') || (byte >= 'A' && byte <= 'Z'))
            return true;
    }
    return false;
}

}  // namespace

OSCOutPort::OSCOutPort(Private, std::string address, uint16_t port,
                       std::optional<std::string> portLabel)
    : destinationPort(port), addressText(std::move(address)), label(std::move(portLabel)) {}

OSCOutPort::~OSCOutPort() {
    if (!deleted.load()) prepareToBeDeleted();
}

std::shared_ptr<OSCOutPort> OSCOutPort::createWithAddress(const std::optional<std::string>& address,
                                                          uint16_t port,
                                                          const std::optional<std::string>& label) {
    if (address && port >= kLowestPort) {
        auto outPort = std::make_shared<OSCOutPort>(Private{}, *address, port, label);
        bool created;
        {
            std::unique_lock lock(outPort->sockLock);
            created = outPort->createSocket();
        }
        if (created) return outPort;
    }
    Log::write("\t\terr: %s - BAIL", "-[OSCOutPort initWithAddress:andPort:labelled:]");
    return nullptr;
}

bool OSCOutPort::createSocket() {
    sock = UdpSocket::open();
    if (!sock.valid()) {
        Log::write("\t\terr: OSCOutPort couldn't create the socket");
        return false;
    }
    destination = sockaddr_in{};
    destination.sin_family = AF_INET;
    destination.sin_addr.s_addr = inet_addr(addressText.c_str());
    destination.sin_port = htons(destinationPort);

    const int bufferSize = kSendBufferSize;
    if (setsockopt(sock.fd(), SOL_SOCKET, SO_SNDBUF, &bufferSize, sizeof bufferSize) != 0)
        Log::write("\t\terr %d at setsockopt() in %s", errno, "-[OSCOutPort createSocket]");
    // A plain text test on purpose: subnet broadcast addresses end in 255, and a port aimed at one
    // must be allowed to broadcast.
    if (addressText.find("255") != std::string::npos) {
        const int enable = 1;
        setsockopt(sock.fd(), SOL_SOCKET, SO_BROADCAST, &enable, sizeof enable);
    }
    return true;
}

void OSCOutPort::sendThisMessage(const std::shared_ptr<OSCMessage>& message) {
    if (deleted.load() || !message) return;
    {
        std::shared_lock lock(sockLock);
        if (!sock.valid()) return;
    }
    const auto packet = OSCPacket::createWithContent(message);
    if (!packet) {
        Log::write("\t\terr: couldnt create packet at %s", "-[OSCOutPort sendThisMessage:]");
        return;
    }
    sendThisPacket(packet);
}

void OSCOutPort::sendThisBundle(const std::shared_ptr<OSCBundle>& bundle) {
    if (deleted.load() || !bundle) return;
    {
        std::shared_lock lock(sockLock);
        if (!sock.valid()) return;
    }
    if (const auto packet = OSCPacket::createWithContent(bundle)) sendThisPacket(packet);
}

void OSCOutPort::sendThisPacket(const std::shared_ptr<OSCPacket>& packet) {
    if (deleted.load() || !packet) return;
    std::shared_lock lock(sockLock);
    if (!sock.valid()) return;
    const uint8_t* const bytes = packet->payload();
    if (!bytes) {
        Log::write("\t\terr: packet's buffer was null");
        return;
    }
    // Failures are not reported: a datagram the system refuses is lost, as UDP allows.
    (void)sendto(sock.fd(), bytes, static_cast<size_t>(packet->bufferLength()), 0,
                 reinterpret_cast<const sockaddr*>(&destination), sizeof destination);
}

void OSCOutPort::setAddressString(const std::optional<std::string>& address) {
    if (!address || containsLetter(*address)) return;
    std::unique_lock lock(sockLock);
    // A deleted port stays without a socket for good.
    if (deleted.load() || *address == addressText) return;
    sock.close();
    addressText = *address;
    createSocket();
}

void OSCOutPort::setPort(uint16_t port) {
    if (port < kLowestPort) return;
    std::unique_lock lock(sockLock);
    if (deleted.load() || port == destinationPort) return;
    sock.close();
    destinationPort = port;
    createSocket();
}

void OSCOutPort::setAddressString(const std::optional<std::string>& address, uint16_t port) {
    if (!address || port < kLowestPort) return;
    std::unique_lock lock(sockLock);
    if (deleted.load() || (*address == addressText && port == destinationPort)) return;
    sock.close();
    addressText = *address;
    destinationPort = port;
    createSocket();
}

std::string OSCOutPort::addressString() const {
    std::shared_lock lock(sockLock);
    return addressText;
}

uint16_t OSCOutPort::port() const {
    std::shared_lock lock(sockLock);
    return destinationPort;
}

std::optional<std::string> OSCOutPort::portLabel() const {
    std::shared_lock lock(sockLock);
    return label;
}

void OSCOutPort::setPortLabel(const std::optional<std::string>& newLabel) {
    std::unique_lock lock(sockLock);
    label = newLabel;
}

sockaddr_in OSCOutPort::addr() const {
    std::shared_lock lock(sockLock);
    return destination;
}

bool OSCOutPort::_matchesRawAddress(uint32_t address, uint16_t port) const {
    std::shared_lock lock(sockLock);
    return destination.sin_addr.s_addr == address && destination.sin_port == port;
}

bool OSCOutPort::_matchesRawAddress(uint32_t address) const {
    std::shared_lock lock(sockLock);
    return destination.sin_addr.s_addr == address;
}

std::optional<int> OSCOutPort::_socketOption(int level, int optionName) const {
    std::shared_lock lock(sockLock);
    if (!sock.valid()) return std::nullopt;
    int option = 0;
    socklen_t length = sizeof option;
    if (getsockopt(sock.fd(), level, optionName, &option, &length) != 0) return std::nullopt;
    return option;
}

OSCPortSnapshot OSCOutPort::createSnapshot() const {
    std::shared_lock lock(sockLock);
    OSCPortSnapshot snapshot;
    snapshot.emplace("address", addressText);
    snapshot.emplace("port", int64_t{destinationPort});
    if (label) snapshot.emplace("portLabel", *label);
    return snapshot;
}

void OSCOutPort::prepareToBeDeleted() {
    deleted.store(true);
    std::unique_lock lock(sockLock);
    sock.close();
}

std::string OSCOutPort::description() const {
    std::shared_lock lock(sockLock);
    return stringWithFormat("<OSCOutPort %s:%u>", addressText.c_str(),
                            static_cast<unsigned>(destinationPort));
}

}  // namespace vitrine

#pragma once

#include <netinet/in.h>

#include <atomic>
#include <cstdint>
#include <memory>
#include <optional>
#include <shared_mutex>
#include <string>

#include "osc/OSCBundle.h"
#include "osc/OSCMessage.h"
#include "osc/OSCPacket.h"
#include "osc/OSCPortSnapshot.h"
#include "osc/UdpSocket.h"

namespace vitrine {

// One UDP destination (IPv4 address and port) with a socket of its own; every message or packet
// goes out as one datagram. Sends never report failure: a refused datagram is simply lost.
// Thread safety: distinct objects safe; shared objects safe. Sends from several threads run
// side by side; changing the destination waits for running sends and makes later ones use the
// new socket, so no send ever goes through a closed descriptor.
class OSCOutPort {
    struct Private {
        explicit Private() = default;
    };

public:
    // Nothing (and "-[OSCOutPort initWithAddress:andPort:labelled:] - BAIL" in the log) for an
    // absent address, a port below 1024 or a socket the system refuses. The address is not
    // checked: text that is not a dotted quad aims the port at 255.255.255.255.
    static std::shared_ptr<OSCOutPort> createWithAddress(
        const std::optional<std::string>& address, uint16_t port,
        const std::optional<std::string>& label = std::nullopt);

    OSCOutPort(Private, std::string address, uint16_t port, std::optional<std::string> label);
    ~OSCOutPort();
    OSCOutPort(const OSCOutPort&) = delete;
    OSCOutPort& operator=(const OSCOutPort&) = delete;

    void sendThisMessage(const std::shared_ptr<OSCMessage>& message);
    void sendThisPacket(const std::shared_ptr<OSCPacket>& packet);
    // Like sendThisMessage, but a bundle that cannot be encoded is dropped without a line of the
    // port's own.
    void sendThisBundle(const std::shared_ptr<OSCBundle>& bundle);

    // Re-aim the port: each replaces the socket unless the request is refused or changes nothing.
    // setAddressString(address) refuses anything with a letter in it (host names), the two-argument
    // form does not; ports below 1024 are refused.
    void setAddressString(const std::optional<std::string>& address);
    void setPort(uint16_t port);
    void setAddressString(const std::optional<std::string>& address, uint16_t port);

    std::string addressString() const;
    uint16_t port() const;
    std::optional<std::string> portLabel() const;
    void setPortLabel(const std::optional<std::string>& label);
    // The destination as the system takes it, for a receiving port that sends to it itself.
    sockaddr_in addr() const;

    // Both arguments in network byte order, as a received datagram's source carries them.
    bool _matchesRawAddress(uint32_t address, uint16_t port) const;
    bool _matchesRawAddress(uint32_t address) const;
    // Reads an integer socket option of the current socket; nothing without a socket.
    std::optional<int> _socketOption(int level, int optionName) const;

    OSCPortSnapshot createSnapshot() const;
    // Closes the socket for good; later sends return at once.
    void prepareToBeDeleted();
    // "<OSCOutPort 192.168.1.255:10000>"
    std::string description() const;

private:
    // Opens and configures a socket for the current address text and port. Called with the
    // exclusive lock held.
    bool createSocket();

    std::atomic<bool> deleted{false};
    // Guards every field below. Sends hold it shared from reading the socket to the end of
    // sendto; re-aiming holds it exclusively from closing the old socket to filling `destination`.
    mutable std::shared_mutex sockLock;
    UdpSocket sock;
    sockaddr_in destination{};
    uint16_t destinationPort;
    std::string addressText;
    std::optional<std::string> label;
};

}  // namespace vitrine

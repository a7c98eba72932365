#include "osc/UdpSocket.h"

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace vitrine {

UdpSocket& UdpSocket::operator=(UdpSocket&& other) noexcept {
    if (this != &other) {
        close();
        sock = other.release();
    }
    return *this;
}

UdpSocket UdpSocket::open() {
    return UdpSocket(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, IPPROTO_UDP));
}

void UdpSocket::close() {
    if (sock >= 0) ::close(sock);
    sock = -1;
}

}  // namespace vitrine

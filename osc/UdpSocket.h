#pragma once

namespace vitrine {

// Owns one IPv4 UDP socket descriptor and closes it exactly once. Move-only.
// Thread safety: distinct objects safe; shared objects unsafe (callers guard the object).
class UdpSocket {
public:
    UdpSocket() = default;
    explicit UdpSocket(int descriptor) : sock(descriptor) {}
    ~UdpSocket() { close(); }
    UdpSocket(UdpSocket&& other) noexcept : sock(other.release()) {}
    UdpSocket& operator=(UdpSocket&& other) noexcept;
    UdpSocket(const UdpSocket&) = delete;
    UdpSocket& operator=(const UdpSocket&) = delete;

    // A new AF_INET datagram socket (close-on-exec, so helper processes never inherit it); an
    // invalid object when the system refuses.
    static UdpSocket open();

    int fd() const { return sock; }
    bool valid() const { return sock >= 0; }
    void close();
    int release() {
        const int descriptor = sock;
        sock = -1;
        return descriptor;
    }

private:
    int sock = -1;
};

}  // namespace vitrine

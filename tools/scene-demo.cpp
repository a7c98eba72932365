// Runs every scene of the showcase controller against a listener on 127.0.0.1 and prints each
// datagram it sends, so the wire traffic can be checked without the showcase or its network.

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "app/controller/Scene.h"
#include "app/controller/ViewController.h"
#include "osc/OSCOutPort.h"
#include "app/controller/MemoryWidgetSet.h"

using namespace vitrine;

namespace {

class LoopbackListener {
public:
    LoopbackListener() {
        sock = socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP);
        if (sock < 0) return;
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof addr;
        if (bind(sock, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
            getsockname(sock, reinterpret_cast<sockaddr*>(&addr), &length) != 0) {
            close(sock);
            sock = -1;
            return;
        }
        boundPort = ntohs(addr.sin_port);
    }
    ~LoopbackListener() {
        if (sock >= 0) close(sock);
    }
    LoopbackListener(const LoopbackListener&) = delete;
    LoopbackListener& operator=(const LoopbackListener&) = delete;

    bool isOpen() const { return sock >= 0; }
    uint16_t port() const { return boundPort; }

    // Every datagram that has arrived, waiting until none has come for a moment.
    std::vector<std::vector<uint8_t>> collect() {
        std::vector<std::vector<uint8_t>> datagrams;
        std::vector<uint8_t> buffer(65536);
        pollfd waiting{sock, POLLIN, 0};
        while (poll(&waiting, 1, 100) > 0) {
            const ssize_t received = recv(sock, buffer.data(), buffer.size(), 0);
            if (received < 0) break;
            datagrams.emplace_back(buffer.begin(), buffer.begin() + received);
        }
        return datagrams;
    }

private:
    int sock = -1;
    uint16_t boundPort = 0;
};

// The OSC address at the start of a datagram, up to its terminating NUL.
std::string addressOf(const std::vector<uint8_t>& datagram) {
    std::string address;
    for (const uint8_t byte : datagram) {
        if (byte == 0) break;
        address += (byte >= 0x20 && byte < 0x7F) ? static_cast<char>(byte) : '?';
    }
    return address;
}

void printDatagrams(LoopbackListener& listener) {
    const auto datagrams = listener.collect();
    if (datagrams.empty()) std::printf("    (nothing sent)\n");
    for (const auto& datagram : datagrams) {
        std::printf("    %-8s %2zu bytes", addressOf(datagram).c_str(), datagram.size());
        for (size_t i = 0; i < datagram.size(); ++i)
            std::printf(i % 16 == 0 ? "\n        %02X" : " %02X", datagram[i]);
        std::printf("\n");
    }
}

}  // namespace

int main() {
    LoopbackListener listener;
    if (!listener.isOpen()) {
        std::fprintf(stderr, "scene-demo: cannot open a UDP socket on 127.0.0.1\n");
        return 1;
    }

    ViewController controller;
    MemoryWidgetSet screen;
    screen.attachTo(controller);
    screen.button->setOn(true);
    controller.outPort = OSCOutPort::createWithAddress("127.0.0.1", listener.port());
    if (!controller.outPort) {
        std::fprintf(stderr, "scene-demo: cannot open the sending port\n");
        return 1;
    }
    std::printf("Controller sending to 127.0.0.1:%u\n", static_cast<unsigned>(listener.port()));

    const auto step = [&](const std::string& title, const std::function<void()>& action) {
        action();
        const auto& picture = screen.BG_image->picture();
        std::printf("\n%s  [picture: %s, controls %s]\n", title.c_str(),
                    picture ? picture->c_str() : "(none)",
                    screen.sceneButtons.front()->isEnabled() ? "enabled" : "disabled");
        printDatagrams(listener);
    };

    for (const Scene& scene : sceneTable) {
        const std::string action(scene.action);
        step(action, [&] { controller.performAction(action, screen.sceneButton(scene.outlet)); });
    }
    for (const float value : {1.0f, 0.5f, 0.1f, 0.0f}) {
        char title[32];
        std::snprintf(title, sizeof title, "fader at %.2f", static_cast<double>(value));
        step(title, [&] {
            screen.fader->setValue(value);
            controller.fader(screen.fader);
        });
    }
    step("switchVideo (off)", [&] {
        screen.button->setOn(false);
        controller.switchVideo(screen.button);
    });
    step("switchVideo (on)", [&] {
        screen.button->setOn(true);
        controller.switchVideo(screen.button);
    });
    return 0;
}

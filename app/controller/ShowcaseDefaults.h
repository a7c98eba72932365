#pragma once

#include <cstdint>
#include <string>

namespace vitrine {

// Where the controller reaches the showcase: the broadcast address of the installation's subnet,
// the showcase's OSC port, and the port the showcase answers to. Only the application itself
// uses these; tests and tools aim their controllers at 127.0.0.1.
inline constexpr const char* showcaseAddress = "192.168.1.255";
inline constexpr uint16_t showcasePort = 10000;
inline constexpr uint16_t controllerReceivePort = 12000;

// The addresses one controller uses, the installation's by default. Tests, demos and the
// command line aim a controller elsewhere by changing them before its set-up runs.
struct ShowcaseEndpoints {
    std::string address = showcaseAddress;  // where scenes, "/switch" and "/is" go
    uint16_t port = showcasePort;
    uint16_t receivePort = controllerReceivePort;  // where "/connected" answers arrive
};

}  // namespace vitrine

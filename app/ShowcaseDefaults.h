#pragma once

#include <cstdint>

namespace vitrine {

// Where the controller reaches the showcase: the broadcast address of the installation's subnet,
// the showcase's OSC port, and the port the showcase answers to. Only the application itself
// uses these; tests and tools aim their controllers at 127.0.0.1.
inline constexpr const char* showcaseAddress = "192.168.1.255";
inline constexpr uint16_t showcasePort = 10000;
inline constexpr uint16_t controllerReceivePort = 12000;

}  // namespace vitrine

#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <variant>

namespace vitrine {

// The description of a port from which the manager can create an equal one. Keys: "address"
// (sending ports only, text), "port" (integer) and "portLabel" (text, only when labelled).
using OSCPortSnapshotValue = std::variant<std::string, int64_t>;
using OSCPortSnapshot = std::map<std::string, OSCPortSnapshotValue>;

}  // namespace vitrine

#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "app/controller/ShowcaseDefaults.h"

namespace vitrine {

// The controller's options. Without any, it runs as the installation needs: the page on port
// 8080 of every interface, scenes broadcast to the showcase's subnet.
struct CommandLine {
    enum class Outcome { run, help, usageError };

    Outcome outcome = Outcome::run;
    std::string error;  // for usageError

    std::string httpAddress = "0.0.0.0";
    uint16_t httpPort = 8080;
    ShowcaseEndpoints showcase;
    // Start a showcase simulator on loopback and aim the controller at it.
    bool demo = false;
    // Further names the page may be reached under (a DNS name given to the machine, say).
    std::vector<std::string> allowedHosts;

    static CommandLine parse(const std::vector<std::string_view>& arguments);
    static const char* usage();
};

}  // namespace vitrine

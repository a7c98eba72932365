#pragma once

#include <optional>
#include <string>

namespace vitrine {

// The application loop of the controller: reads the command line, makes the delegate of the
// named class and the window, loads the "Main" layout onto a ViewController bound to the web
// page's widgets, serves the page, and runs the main loop until SIGINT or SIGTERM. Returns the
// process's exit status: 0 after a signal or --help, 2 for a bad command line, 1 when the page
// cannot be served. A principal class other than the default is not supported (1).
int ApplicationMain(int argc, char** argv, const std::optional<std::string>& principalClassName,
                    const std::string& delegateClassName);

}  // namespace vitrine

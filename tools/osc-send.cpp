// Sends one OSC message, or a bundle of them, as one UDP datagram; see SendCommand and --help.
//
//   osc-send [--bundle] [--time WHEN] HOST PORT ADDRESS [TYPES [ARGS...]]...

#include <cstdio>
#include <string_view>
#include <vector>

#include "tools/SendCommand.h"

int main(int argc, char** argv) {
    const std::vector<std::string_view> words(argv + 1, argv + argc);
    return vitrine::tools::runOscSend(words, stdout, stderr);
}

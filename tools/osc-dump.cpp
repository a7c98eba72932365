// Prints every OSC message that arrives on a UDP port; see DumpCommand and --help.
//
//   osc-dump [--hex] PORT

#include <cstdio>
#include <string_view>
#include <vector>

#include "tools/DumpCommand.h"

int main(int argc, char** argv) {
    const std::vector<std::string_view> words(argv + 1, argv + argc);
    return vitrine::tools::runOscDump(words, stdout, stderr);
}

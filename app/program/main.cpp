// The showcase controller's entry point: the application loop with AppDelegate, which serves
// the control page and runs the control screen of the "Main" layout.

#include "app/program/ApplicationMain.h"

int main(int argc, char** argv) {
    return vitrine::ApplicationMain(argc, argv, std::nullopt, "AppDelegate");
}

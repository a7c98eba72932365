// Serves an OSC address space on a UDP port: every message received makes or reaches its node,
// and peers' queries about the tree are answered.
#include <cstdio>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>

#include "osc/OSCAddressSpace.h"
#include "osc/OSCManager.h"
#include "tools/ToolSupport.h"

using namespace vitrine;

namespace {

constexpr const char* usage =
    "Usage: osc-serve [--tree] [--quiet] PORT\n"
    "Serves an OSC address space on UDP PORT (every interface): each message received\n"
    "creates its node and the nodes above it, and becomes the node's current value; queries\n"
    "(namespace, documentation, type-signature, current-value, return-type-string) are\n"
    "answered from the tree, back to the port they came from. Each message received is\n"
    "printed unless --quiet.\n"
    "  --tree    print the address space when stopping\n"
    "Stops on Ctrl-C (SIGINT) or SIGTERM with status 0.\n"
    "Example: osc-serve 9001, then osc-send 127.0.0.1 9001 /a/b f 0.5 and\n"
    "osc-query 127.0.0.1 9001 /a (prints b).\n";

// A node that first receives a number, a colour or a text takes that type, so that peers can
// ask for its current value and type signature.
int32_t typeFor(const OSCMessage& message) {
    const auto first = message.value();
    if (!first) return OSCNodeTypeUnknown;
    switch (first->type()) {
        case OSCValInt:
        case OSCValFloat:
        case OSCValDouble:
        case OSCValInt64:
            return OSCNodeTypeNumber;
        case OSCValColor:
            return OSCNodeTypeColor;
        case OSCValString:
            return OSCNodeTypeString;
        default:
            return OSCNodeTypeUnknown;
    }
}

class Server : public OSCManagerDelegate, public OSCAddressSpaceDelegate {
public:
    Server(std::weak_ptr<OSCManager> manager, bool quiet)
        : manager(std::move(manager)), quiet(quiet) {}

    void receivedOSCMessage(const std::shared_ptr<OSCMessage>& message) override {
        const auto space = OSCAddressSpace::mainAddressSpace();
        if (!quiet) {
            std::lock_guard guard(printing);
            std::printf("%s\n", message->description().c_str());
            std::fflush(stdout);
        }
        space->dispatchMessage(message);
        if (message->messageType() != OSCMessageTypeControl) return;
        const auto node = space->findNodeForAddress(message->address());
        if (node && node != space && node->nodeType() == OSCNodeTypeUnknown)
            node->setNodeType(typeFor(*message));
    }
    // Every node placed in the tree answers queries by itself.
    void nodeRenamed(const std::shared_ptr<OSCNode>& node) override {
        node->setAutoQueryReply(true);
    }
    void queryResponseNeedsToBeSent(const std::shared_ptr<OSCMessage>& reply) override {
        if (const auto sender = manager.lock()) sender->transmitReplyOrError(reply);
    }

private:
    std::weak_ptr<OSCManager> manager;
    bool quiet;
    std::mutex printing;
};

int refuse(const std::string& why) {
    std::fprintf(stderr, "osc-serve: %s\n%s", why.c_str(), usage);
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    bool tree = false;
    bool quiet = false;
    std::optional<uint16_t> port;
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
        if (arg == "--help" || arg == "-h") {
            std::fputs(usage, stdout);
            return 0;
        }
        if (arg == "--tree") {
            tree = true;
        } else if (arg == "--quiet") {
            quiet = true;
        } else if (!port && !arg.starts_with("-")) {
            port = tools::parsePort(arg);
            if (!port) return refuse("bad port '" + std::string(arg) + "' (1 to 65535)");
        } else {
            return refuse("unexpected argument '" + std::string(arg) + "'");
        }
    }
    if (!port) return refuse("expected PORT");

    const sigset_t stopSignals = tools::blockStopSignals();
    const auto space = OSCAddressSpace::mainAddressSpace();
    const auto manager = OSCManager::createWithZeroConfService(OSCZeroConfService::createSilent());
    const auto server = std::make_shared<Server>(manager, quiet);
    manager->setDelegate(server);
    space->setDelegate(server);
    const auto in = manager->createNewInputForPort(*port, std::string("osc-serve"));
    if (!in) {
        std::fprintf(stderr, "osc-serve: cannot listen on UDP port %u\n",
                     static_cast<unsigned>(*port));
        return 1;
    }
    std::fprintf(stderr, "osc-serve: serving on UDP port %u\n", static_cast<unsigned>(in->port()));

    tools::waitForStopSignal(stopSignals);
    manager->deleteAllInputs();
    if (tree) std::printf("%s", space->description().c_str());
    return 0;
}

// An application serving its state through the address space, and a peer talking to it.
//
// The application hangs a handler on "/showcase/level", hands every message its receiving port
// hears to the address space, and sends back the answers the address space's nodes give to
// queries. The peer sets the level and then asks what "/showcase" holds. Everything stays on
// 127.0.0.1; the ports are chosen by the system. Exit status 0 when both answers came, 1 if not.

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <memory>
#include <mutex>

#include "osc/OSCAddressSpace.h"
#include "osc/OSCManager.h"

using namespace vitrine;

namespace {

// Waits, with a deadline, for something another thread reports.
class Signal {
public:
    void raise() {
        std::lock_guard guard(lock);
        raised = true;
        changed.notify_all();
    }
    bool wait() {
        std::unique_lock guard(lock);
        return changed.wait_for(guard, std::chrono::seconds(5), [&] { return raised; });
    }

private:
    std::mutex lock;
    std::condition_variable changed;
    bool raised = false;
};

// The application: what its port receives goes to the tree, what the tree answers goes back.
class Showcase : public OSCManagerDelegate, public OSCAddressSpaceDelegate {
public:
    explicit Showcase(std::weak_ptr<OSCManager> manager) : manager(std::move(manager)) {}

    void receivedOSCMessage(const std::shared_ptr<OSCMessage>& message) override {
        OSCAddressSpace::mainAddressSpace()->dispatchMessage(message);
    }
    void nodeRenamed(const std::shared_ptr<OSCNode>&) override {}
    void queryResponseNeedsToBeSent(const std::shared_ptr<OSCMessage>& reply) override {
        if (const auto sender = manager.lock()) sender->transmitReplyOrError(reply);
    }

private:
    std::weak_ptr<OSCManager> manager;
};

// The handler on "/showcase/level". It runs on the receiving port's thread.
class LevelHandler : public OSCNodeDelegate {
public:
    void node(OSCNode& node, const std::shared_ptr<OSCMessage>& message) override {
        std::printf("handler: %s received %g\n", node.fullName().value_or("?").c_str(),
                    message->calculateFloatValue());
        std::fflush(stdout);
        received.raise();
    }
    void nodeNameChanged(OSCNode&) override {}
    void nodeDeleted(OSCNode&) override {}

    Signal received;
};

}  // namespace

int main() {
    // The application.
    const auto space = OSCAddressSpace::mainAddressSpace();
    const auto manager = OSCManager::createWithZeroConfService(OSCZeroConfService::createSilent());
    const auto showcase = std::make_shared<Showcase>(manager);
    manager->setDelegate(showcase);
    space->setDelegate(showcase);
    const auto handler = std::make_shared<LevelHandler>();
    space->addDelegate(handler, std::string("/showcase/level"));
    // Nodes other than the root answer queries only when asked to.
    space->findNodeForAddress(std::string("/showcase"))->setAutoQueryReply(true);
    const auto in = manager->createNewInputForPort(0, std::string("showcase"));
    if (!in) return 1;

    // The peer: its queries leave from its own receiving port, where the reply comes back.
    const auto peer = OSCManager::createWithZeroConfService(OSCZeroConfService::createSilent());
    peer->createNewInputForPort(0, std::string("peer"));
    const auto toShowcase =
        peer->createNewOutputToAddress(std::string("127.0.0.1"), in->port(), std::string("showcase"));
    if (!toShowcase) return 1;

    auto level = OSCMessage::createWithAddress(std::string("/showcase/level"));
    level->addFloat(0.5f);
    toShowcase->sendThisMessage(level);
    if (!handler->received.wait()) return 1;

    Signal answered;
    peer->dispatchQuery(
        OSCMessage::createQueryType(OSCQueryTypeNamespaceExploration, std::string("/showcase")),
        toShowcase, 5.0f, [&](const std::shared_ptr<OSCMessage>& reply) {
            std::printf("peer got: %s\n", reply->description().c_str());
            std::fflush(stdout);
            answered.raise();
        });
    const bool ok = answered.wait();
    manager->deleteAllInputs();
    peer->deleteAllInputs();
    return ok ? 0 : 1;
}

// Discovery between programs: a manager with a receiving port labelled OWN that
// watches for the sending port discovery makes for PEER, greets the peer through it, and reports
// on stdout: "listening OWN PORT", "published NAME" (each name the port is announced under,
// as finally registered), "found PEER ADDRESS:PORT", "heard NAME" (a greeting arrived), "lost PEER"
// (its port was removed). With "-" for PEER the port is made without a manager, so it only
// publishes: no discovery renames it. Runs until SIGTERM or SIGINT.
#include <pthread.h>
#include <signal.h>

#include <chrono>
#include <cstdio>
#include <optional>
#include <set>
#include <string>
#include <thread>

#include "basics/MainLoop.h"
#include "basics/RunLoop.h"
#include "osc/OSCManager.h"

using namespace vitrine;

namespace {

void say(const std::string& line) {
    std::printf("%s\n", line.c_str());
    std::fflush(stdout);
}

class Greetings final : public OSCManagerDelegate {
public:
    explicit Greetings(std::shared_ptr<MainLoop> loop) : loop(std::move(loop)) {}
    // On the receiving thread: reported from the main thread, once per greeter.
    void receivedOSCMessage(const std::shared_ptr<OSCMessage>& message) override {
        const auto value = message->value();
        if (message->address() != "/hello" || !value || value->type() != OSCValString) return;
        loop->post([this, name = value->stringValue()] {
            if (heard.insert(name).second) say("heard " + name);
        });
    }

private:
    const std::shared_ptr<MainLoop> loop;
    std::set<std::string> heard;
};

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: zeroconf-peer OWN-LABEL PEER-LABEL|-\n");
        return 2;
    }
    const std::string own = argv[1], peer = argv[2];
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);

    const auto loop = RunLoop::create();
    MainLoop::setCurrent(loop);
    {
        const auto greetings = std::make_shared<Greetings>(loop);
        const auto manager = OSCManager::create();
        manager->setDelegate(greetings);
        std::shared_ptr<OSCInPort> input;
        if (peer == "-") {
            input = OSCInPort::createWithPort(0, own);
            if (input) {
                input->setZeroConfService(manager->zeroConfManager()->zeroConfService());
                input->start();
            }
        } else {
            input = manager->createNewInputForPort(0, own);
        }
        if (!input) return 1;
        say("listening " + own + " " + std::to_string(input->port()));
        bool found = false;
        std::optional<std::string> published;
        const auto timer = loop->scheduleRepeatingTimer(std::chrono::milliseconds(200), [&] {
            if (const auto name = input->zeroConfName(); name && name != published) {
                say("published " + *name);
                published = name;
            }
            if (peer == "-") return;
            const auto out = manager->findOutputWithLabel(peer);
            if (out && !found)
                say("found " + peer + " " + out->addressString() + ":" +
                    std::to_string(out->port()));
            if (!out && found) say("lost " + peer);
            found = out != nullptr;
            if (!out) return;
            const auto hello = OSCMessage::createWithAddress(std::string("/hello"));
            hello->addString(own);
            out->sendThisMessage(hello);
        });
        std::thread signals([&] {
            int received = 0;
            sigwait(&stopSignals, &received);
            loop->stop();
        });
        loop->run();
        signals.join();
        timer->invalidate();
        input->prepareToBeDeleted();
    }
    MainLoop::setCurrent(nullptr);
    return 0;
}

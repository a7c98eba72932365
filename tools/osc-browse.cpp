// osc-browse: lists the OSC services a manager discovers on the local network, one line per
// change: "+ NAME ADDRESS:PORT" when one appears or moves, "- NAME" when it goes.
#include <pthread.h>
#include <signal.h>
#include <time.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <map>
#include <string>
#include <thread>

#include "basics/MainLoop.h"
#include "basics/NotificationCenter.h"
#include "basics/RunLoop.h"
#include "osc/OSCManager.h"
#include "tools/ToolSupport.h"

using namespace vitrine;

namespace {

constexpr auto kOnceWait = std::chrono::seconds(4);
constexpr auto kRefreshInterval = std::chrono::milliseconds(500);

void usage(FILE* to) {
    std::fputs(
        "usage: osc-browse [--once]\n"
        "Lists the OSC services (\"_osc._udp\") announced on the local network, one line per\n"
        "change: \"+ NAME ADDRESS:PORT\" when a service appears or moves, \"- NAME\" when it\n"
        "goes. Runs until Ctrl-C.\n"
        "  --once   print what is known after a few seconds and exit\n"
        "  --help   show this text\n",
        to);
}

// What was last printed, by service name.
using Listing = std::map<std::string, std::string>;

Listing currentListing(OSCManager& manager) {
    Listing now;
    for (const auto& port : manager.outPortArray()->lockCreateArrayCopy()) {
        if (!port || !port->portLabel()) continue;
        now[*port->portLabel()] = port->addressString() + ":" + std::to_string(port->port());
    }
    return now;
}

void printChanges(const Listing& before, const Listing& now) {
    for (const auto& [name, where] : before) {
        if (!now.count(name)) std::printf("- %s\n", name.c_str());
    }
    for (const auto& [name, where] : now) {
        const auto was = before.find(name);
        if (was == before.end() || was->second != where)
            std::printf("+ %s %s\n", name.c_str(), where.c_str());
    }
    std::fflush(stdout);
}

}  // namespace

int main(int argc, char** argv) {
    bool once = false;
    for (int i = 1; i < argc; ++i) {
        if (!std::strcmp(argv[i], "--once")) {
            once = true;
        } else if (!std::strcmp(argv[i], "--help")) {
            usage(stdout);
            return 0;
        } else {
            std::fprintf(stderr, "osc-browse: unknown option %s\n", argv[i]);
            usage(stderr);
            return 2;
        }
    }

    const sigset_t stopSignals = tools::blockStopSignals();

    const auto loop = RunLoop::create();
    MainLoop::setCurrent(loop);
    std::atomic<bool> ended{false};
    std::thread signals([&] {
        const timespec tick{0, 100'000'000};
        while (!ended.load()) {
            if (sigtimedwait(&stopSignals, nullptr, &tick) > 0) loop->stop();
        }
    });
    {
        const auto manager = OSCManager::create();
        Listing shown;
        const auto refresh = [&] {
            auto now = currentListing(*manager);
            printChanges(shown, now);
            shown = std::move(now);
        };
        if (once) {
            loop->runFor(kOnceWait);
            refresh();
        } else {
            // A moved service has its port re-aimed without a notification, so the listing is
            // also compared on a short timer.
            const auto watching = NotificationCenter::defaultCenter().addObserver(
                "OSCOutPortsChangedNotification", std::weak_ptr<void>(manager),
                [&](const Notification&) { refresh(); });
            const auto timer = loop->scheduleRepeatingTimer(kRefreshInterval, refresh);
            loop->run();
            timer->invalidate();
        }
    }
    ended.store(true);
    signals.join();
    MainLoop::setCurrent(nullptr);
    return 0;
}

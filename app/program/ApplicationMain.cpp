#include "app/program/ApplicationMain.h"

#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/address_v4.hpp>
#include <boost/asio/signal_set.hpp>
#include <boost/asio/steady_timer.hpp>

#include <cstdio>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string_view>
#include <vector>

#include "app/controller/AppDelegate.h"
#include "app/toolkit/EmbeddedFile.h"
#include "app/toolkit/LayoutLoader.h"
#include "app/web/RemoteScreen.h"
#include "app/controller/ViewController.h"
#include "app/toolkit/Window.h"
#include "app/program/AsioMainLoop.h"
#include "app/program/CommandLine.h"
#include "app/web/WebServer.h"
#include "basics/Log.h"
#include "simulator/ShowcaseSimulator.h"

namespace vitrine {

namespace asio = boost::asio;

namespace {

// Pages that are still open get this long to take their close frame before the loop stops.
constexpr auto shutdownGrace = std::chrono::milliseconds(1000);

std::shared_ptr<ApplicationDelegate> createDelegateNamed(const std::string& name) {
    static const std::map<std::string, std::function<std::shared_ptr<ApplicationDelegate>()>>
        classes{{"AppDelegate", [] { return std::make_shared<AppDelegate>(); }}};
    const auto found = classes.find(name);
    return found == classes.end() ? nullptr : found->second();
}

std::set<std::string> servedPictureNames() {
    constexpr std::string_view folder = "pictures/";
    std::set<std::string> names;
    for (const EmbeddedFile& file : embeddedWebFiles())
        if (file.name.substr(0, folder.size()) == folder)
            names.emplace(file.name.substr(folder.size()));
    return names;
}

std::mutex printing;
void printLine(const std::string& line) {
    std::lock_guard guard(printing);
    std::fprintf(stdout, "%s\n", line.c_str());
    std::fflush(stdout);
}

// Waits until every connection has gone or the grace period is over, then stops the loop.
void stopWhenIdle(asio::io_context& io, const std::shared_ptr<WebServer>& server,
                  std::chrono::steady_clock::time_point deadline) {
    if (server->connectionCount() == 0 || std::chrono::steady_clock::now() >= deadline) {
        io.stop();
        return;
    }
    auto timer = std::make_shared<asio::steady_timer>(io, std::chrono::milliseconds(20));
    timer->async_wait([&io, server, deadline, timer](const boost::system::error_code&) {
        stopWhenIdle(io, server, deadline);
    });
}

}  // namespace

int ApplicationMain(int argc, char** argv, const std::optional<std::string>& principalClassName,
                    const std::string& delegateClassName) {
    const std::vector<std::string_view> arguments(argv + (argc > 0 ? 1 : 0), argv + argc);
    const CommandLine options = CommandLine::parse(arguments);
    if (options.outcome == CommandLine::Outcome::help) {
        std::fputs(CommandLine::usage(), stdout);
        return 0;
    }
    if (options.outcome == CommandLine::Outcome::usageError) {
        std::fprintf(stderr, "showcase-controller: %s\n%s", options.error.c_str(),
                     CommandLine::usage());
        return 2;
    }
    if (principalClassName) {
        Log::write("\t\terr: no application class %s", principalClassName->c_str());
        return 1;
    }
    const auto delegate = createDelegateNamed(delegateClassName);
    if (!delegate) {
        Log::write("\t\terr: no application delegate class %s", delegateClassName.c_str());
        return 1;
    }

    // Declared first so that it outlives the context whose handlers reach it.
    RemoteScreen screen(servedPictureNames());
    asio::io_context io;
    const auto loop = std::make_shared<AsioMainLoop>(io);
    MainLoop::setCurrent(loop);

    ShowcaseEndpoints showcase = options.showcase;
    std::shared_ptr<ShowcaseSimulator> simulator;
    if (options.demo) {
        simulator = ShowcaseSimulator::create(
            {0, showcase.receivePort, false},
            [](const std::string& line) { printLine("showcase: " + line); });
        if (!simulator) {
            Log::write("\t\terr: the showcase simulator could not start");
            MainLoop::setCurrent(nullptr);
            return 1;
        }
        showcase.address = "127.0.0.1";
        showcase.port = simulator->port();
    }

    boost::system::error_code badAddress;
    const auto httpAddress = asio::ip::make_address_v4(options.httpAddress, badAddress);
    std::string failure = badAddress ? badAddress.message() : std::string();
    std::shared_ptr<WebServer> server;
    if (!badAddress)
        server = WebServer::create(io, screen, {httpAddress, options.httpPort}, failure, {},
                                   options.allowedHosts);
    if (!server) {
        Log::write("\t\terr: cannot serve the page on %s:%u: %s", options.httpAddress.c_str(),
                   static_cast<unsigned>(options.httpPort), failure.c_str());
        MainLoop::setCurrent(nullptr);
        return 1;
    }
    screen.setChangeHandler([weak = std::weak_ptr<WebServer>(server)] {
        if (const auto alive = weak.lock()) alive->scheduleBroadcast();
    });

    // What the toolkit does at launch: the window, then the main layout's root screen.
    delegate->setWindow(std::make_shared<Window>());
    const auto root = std::make_shared<ViewController>(showcase);
    LayoutLoader::loadNibNamed("Main", *root, screen);
    delegate->window()->rootViewController = root;
    root->viewDidLoad();
    delegate->didFinishLaunchingWithOptions({});
    delegate->applicationDidBecomeActive();

    const auto endpoint = server->localEndpoint();
    const std::string shownHost =
        options.httpAddress == "0.0.0.0" ? "<this machine's address>" : options.httpAddress;
    printLine("showcase-controller: control page on http://" + shownHost + ":" +
              std::to_string(endpoint.port()) + "/, scenes to " + showcase.address + ":" +
              std::to_string(showcase.port) + ", answers on UDP port " +
              std::to_string(showcase.receivePort));

    asio::signal_set signals(io, SIGINT, SIGTERM);
    signals.async_wait([&](const boost::system::error_code& error, int) {
        if (error) return;
        delegate->applicationWillResignActive();
        delegate->applicationWillTerminate();
        server->shutdown();
        stopWhenIdle(io, server, std::chrono::steady_clock::now() + shutdownGrace);
    });

    loop->run();

    // The screen's receiving thread is joined on the main thread, while the loop still counts
    // this thread as main; only then does the default loop come back.
    root->tearDown();
    if (simulator) simulator->stop();
    MainLoop::setCurrent(nullptr);
    return 0;
}

}  // namespace vitrine

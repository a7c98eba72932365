// Discovery on the simulated network: which services become sending ports, and on which thread
// the manager hears of them.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "basics/Log.h"
#include "basics/NotificationCenter.h"
#include "basics/RunLoop.h"
#include "osc/OSCManager.h"
#include "osc/OSCMemoryZeroConfNetwork.h"
#include "support/NotificationCount.h"

using namespace vitrine;
using namespace std::chrono_literals;
using Net = OSCMemoryZeroConfNetwork;

namespace {

class ZeroConf : public ::testing::Test {
protected:
    void SetUp() override {
        const auto addresses = OSCManager::hostIPv4Addresses();
        if (!addresses) GTEST_SKIP() << "this host has no non-loopback IPv4 address";
        host = addresses->front();
        previous = MainLoop::setCurrent(loop);
        manager = OSCManager::createWithZeroConfService(network);
        inPort = manager->createNewInputForPort(0, "Jars");
        ASSERT_TRUE(inPort);
        network->addDomain("local.");
        ASSERT_TRUE(loop->runUntil([&] { return domain() != nullptr; }, 5s));
    }
    void TearDown() override {
        manager.reset();
        if (previous) MainLoop::setCurrent(previous);
    }
    std::shared_ptr<OSCZeroConfDomain> domain() {
        return manager->zeroConfManager()->domainForName("local.");
    }

    std::string host;
    std::shared_ptr<RunLoop> loop = RunLoop::create();
    std::shared_ptr<MainLoop> previous;
    std::shared_ptr<Net> network = std::make_shared<Net>();
    std::shared_ptr<OSCManager> manager;
    std::shared_ptr<OSCInPort> inPort;
};

}  // namespace

TEST_F(ZeroConf, RemoteNamesakeRenamesLocalPortThenMovesThenVanishes) {
    test::NotificationCount notes(manager);
    // An IPv6 address ahead of the IPv4 one is passed over.
    network->announce("Jars", {Net::ipv6Loopback(9000), Net::ipv4("192.0.2.77", 9000)});
    ASSERT_TRUE(
        loop->runUntil([&] { return manager->findOutputWithLabel("Jars") != nullptr; }, 5s));
    const auto out = manager->findOutputWithLabel("Jars");
    EXPECT_EQ(out->addressString(), "192.0.2.77");
    EXPECT_EQ(out->port(), 9000);
    EXPECT_NE(inPort->portLabel(), "Jars");
    EXPECT_EQ(manager->findInputWithLabel(inPort->portLabel()), inPort);

    // The same name on another host and port re-aims the port rather than adding one.
    network->announce("Jars", {Net::ipv4("192.0.2.78", 9100)});
    ASSERT_TRUE(loop->runUntil([&] { return out->port() == 9100; }, 5s));
    EXPECT_EQ(out->addressString(), "192.0.2.78");
    EXPECT_EQ(manager->outPortArray()->lockCount(), 1u);

    network->vanish("Jars");
    ASSERT_TRUE(loop->runUntil([&] { return manager->outPortArray()->lockCount() == 0u; }, 5s));
    EXPECT_EQ(notes(), "0/2/2");
    EXPECT_EQ(domain()->servicesArray()->lockCount(), 0u);
}

TEST_F(ZeroConf, TheHostsOwnPortAndUnusableServicesGetNoPort) {
    // Callbacks run in order, so once the marker's port exists the others have been decided.
    const auto onlyTheMarker = [&] {
        network->announce("Marker", {Net::ipv4("192.0.2.77", 9000)});
        EXPECT_TRUE(
            loop->runUntil([&] { return manager->findOutputWithLabel("Marker") != nullptr; }, 5s));
        EXPECT_EQ(manager->outPortArray()->lockCount(), 1u);
        network->vanish("Marker");
        EXPECT_TRUE(loop->runUntil([&] { return manager->outPortArray()->lockCount() == 0; }, 5s));
    };
    // A namesake that is this very port, on the host's address or the loopback.
    for (const std::string& address : {host, std::string("127.0.0.1")}) {
        network->announce("Jars", {Net::ipv4(address, inPort->port())});
        onlyTheMarker();
        network->vanish("Jars");
        EXPECT_EQ(inPort->portLabel(), "Jars") << address;
    }
    network->announce("Only IPv6", {Net::ipv6Loopback(9000)});
    network->announce("Privileged", {Net::ipv4("192.0.2.77", 80)});
    network->announce("No address", {});
    onlyTheMarker();
}

TEST_F(ZeroConf, FailuresAreLoggedWordForWord) {
    LogCapture capture;
    network->failSearches("daemon went away");
    network->vanish("Nobody");
    ASSERT_TRUE(loop->runUntil([&] { return capture.lines().size() >= 2; }, 5s));
    EXPECT_TRUE(capture.contains("\t\terr, oscbm didn't search: daemon went away"));
    EXPECT_TRUE(capture.contains("\t\terr, didn't search: daemon went away"));
    EXPECT_EQ(OSCZeroConfManager::createWithOSCManager({}, "_osc._udp"), nullptr);
    EXPECT_EQ(OSCZeroConfDomain::createWithDomain(std::nullopt, manager->zeroConfManager(), ""),
              nullptr);
    EXPECT_TRUE(
        capture.contains("\t\terr: -[OSCZeroConfManager initWithOSCManager:serviceType:] - BAIL"));
    EXPECT_TRUE(capture.contains(
        "\t\terr: -[OSCZeroConfDomain initWithDomain:andDomainManager:serviceType:] - BAIL"));
}

TEST_F(ZeroConf, CallbacksReachTheManagerOnItsThreadOnly) {
    std::atomic<int> offThread = 0, seen = 0;
    const auto token = NotificationCenter::defaultCenter().addObserver(
        "OSCOutPortsChangedNotification", manager, [&](const Notification&) {
            if (!loop->isMainThread()) ++offThread;
            ++seen;
        });
    std::jthread announcer([&] {
        for (int i = 0; i < 20; ++i)
            network->announce("Remote " + std::to_string(i), {Net::ipv4("192.0.2.77", 9000 + i)});
    });
    ASSERT_TRUE(loop->runUntil([&] { return seen == 20; }, 10s));
    EXPECT_EQ(offThread, 0);
}

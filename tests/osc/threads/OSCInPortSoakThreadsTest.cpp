// 100 000 datagrams in bursts to one receiving port over loopback. Prints what arrived and
// what was lost; the rates are reported, not asserted. Too slow to be useful under
// ThreadSanitizer, so it runs in the other builds only.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <thread>

#include "osc/OSCInPort.h"
#include "support/KernelUdpDrops.h"
#include "support/OscWire.h"

#if defined(__SANITIZE_THREAD__)
#define VITRINE_UNDER_TSAN 1
#elif defined(__has_feature)
#if __has_feature(thread_sanitizer)
#define VITRINE_UNDER_TSAN 1
#endif
#endif

using namespace vitrine;
using namespace std::chrono_literals;

namespace {

struct Counter : OSCInPortDelegate {
    void receivedOSCMessage(const std::shared_ptr<OSCMessage>& message) override {
        const int32_t number = message->value() ? message->value()->intValue() : -1;
        if (number <= last) ++outOfOrder;
        last = number;
        received.fetch_add(1, std::memory_order_relaxed);
    }
    std::atomic<int64_t> received{0};
    int64_t outOfOrder = 0;  // read after the port has stopped
    int32_t last = -1;
};

}  // namespace

TEST(OSCInPortSoak, HundredThousandDatagramsInBursts) {
#ifdef VITRINE_UNDER_TSAN
    GTEST_SKIP() << "soak runs outside ThreadSanitizer";
#endif
    constexpr int kBursts = 1000;
    constexpr int kPerBurst = 100;
    constexpr int64_t kTotal = int64_t{kBursts} * kPerBurst;
    const auto port = OSCInPort::createWithPort(0);
    ASSERT_NE(port, nullptr);
    const auto counter = std::make_shared<Counter>();
    port->setDelegate(counter);
    port->start();
    const auto dropsBefore = test::kernelUdpDrops(port->port());

    // Every datagram is encoded up front, so the sender does nothing but send.
    std::vector<test::Bytes> datagrams;
    for (int32_t i = 0; i < kTotal; ++i)
        datagrams.push_back(test::encoded(test::numbered("/soak", i)));
    test::UdpListener sender;
    const auto start = std::chrono::steady_clock::now();
    for (int burst = 0; burst < kBursts; ++burst) {
        for (int i = 0; i < kPerBurst; ++i)
            sender.sendTo(port->port(), datagrams[static_cast<size_t>(burst * kPerBurst + i)]);
        test::pace(1ms);
    }
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    // Done when nothing more has arrived for a while.
    EXPECT_TRUE(test::waitUntilSettled([&] { return counter->received.load(); }));
    const auto dropsAfter = test::kernelUdpDrops(port->port());
    port->prepareToBeDeleted();

    const int64_t received = counter->received.load();
    const int64_t kernelDrops =
        dropsBefore && dropsAfter ? static_cast<int64_t>(*dropsAfter - *dropsBefore) : -1;
    std::printf(
        "soak: sent %lld datagrams in %.2f s (%.0f/s), received %lld, lost %lld (%.3f%%), "
        "kernel drops %lld\n",
        static_cast<long long>(kTotal), seconds, static_cast<double>(kTotal) / seconds,
        static_cast<long long>(received), static_cast<long long>(kTotal - received),
        100.0 * static_cast<double>(kTotal - received) / static_cast<double>(kTotal),
        static_cast<long long>(kernelDrops));
    EXPECT_EQ(counter->outOfOrder, 0);
    EXPECT_GT(received, 0);
    if (kernelDrops >= 0) {
        EXPECT_EQ(received + kernelDrops, kTotal);
    }
}

// Address-space dispatch, beside liblo's method dispatch on the same work: a datagram decoded and
// handed to the handler of an exact address among 1 000 (ten directories of a hundred leaves,
// every leaf with a handler), and a datagram whose address is a pattern over the hundred children
// of one directory, which reaches all of them. liblo finds its methods from the raw datagram
// (lo_server_dispatch_data); Vitrine decodes the datagram and hands the message to the address
// space, or, for the pattern, to every node the address matches (the address space itself takes
// addresses literally). oscpack has no address space, so it has no figure here.

#include "PeerDispatchBench.h"

#include <benchmark/benchmark.h>
#include <lo/lo.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "AllocationCounter.h"
#include "osc/OSCAddressSpace.h"
#include "osc/OSCMessage.h"
#include "osc/OSCNode.h"
#include "osc/OSCPacket.h"

namespace bench {

namespace {

using namespace vitrine;
using Bytes = std::vector<uint8_t>;

constexpr int kDirectories = 10;
constexpr int kLeaves = 100;
constexpr int kChildren = 100;
// In the middle of the tree, and of liblo's list of methods.
const char* const kExactAddress = "/bank4/n50";
const char* const kPattern = "/a/n[0-9]*";

std::string leafAddress(int directory, int leaf) {
    return "/bank" + std::to_string(directory) + "/n" + std::to_string(leaf);
}
std::string childAddress(int child) {
    return "/a/n" + std::to_string(child);
}

Bytes datagramFor(const char* address) {
    auto message = OSCMessage::createWithAddress(address);
    message->addInt(1);
    const auto packet = OSCPacket::createWithContent(message);
    return {packet->payload(), packet->payload() + packet->bufferLength()};
}

// Counts the calls it gets; while `reached` is set, also writes down where each came from.
struct Handler : OSCNodeDelegate {
    void node(OSCNode& node, const std::shared_ptr<OSCMessage>& message) override {
        calls += message->valueAtIndex(0)->intValue();
        if (reached) reached->push_back(node.fullName().value_or("?"));
    }
    void nodeNameChanged(OSCNode&) override {}
    void nodeDeleted(OSCNode&) override {}
    int64_t calls = 0;
    std::vector<std::string>* reached = nullptr;
};

// An address space of its own with the handler on every leaf (or child) of the tree.
struct VitrineTree {
    explicit VitrineTree(bool pattern)
        : space(std::make_shared<OSCAddressSpace>()), handler(std::make_shared<Handler>()) {
        const auto add = [&](const std::string& address) {
            space->findNodeForAddress(address, true)->addDelegate(handler);
        };
        if (pattern) {
            for (int child = 0; child < kChildren; ++child) add(childAddress(child));
        } else {
            for (int d = 0; d < kDirectories; ++d)
                for (int leaf = 0; leaf < kLeaves; ++leaf) add(leafAddress(d, leaf));
        }
    }
    void dispatchExact(const Bytes& datagram) {
        space->dispatchMessage(
            OSCMessage::parseRawBuffer(datagram.data(), int32_t(datagram.size()), 0, 0));
    }
    void dispatchPattern(const Bytes& datagram) {
        const auto message =
            OSCMessage::parseRawBuffer(datagram.data(), int32_t(datagram.size()), 0, 0);
        if (const auto nodes = space->findNodesMatchingAddress(message->address()))
            for (const auto& node : *nodes) node->dispatchMessage(message);
    }
    std::shared_ptr<OSCAddressSpace> space;
    std::shared_ptr<Handler> handler;
};

struct LoMethodTarget {
    std::string address;
    int64_t* calls;
    std::vector<std::string>** reached;
};

int loHandler(const char*, const char*, lo_arg** argv, int, lo_message, void* user) {
    const auto* target = static_cast<LoMethodTarget*>(user);
    *target->calls += argv[0]->i;
    if (*target->reached) (*target->reached)->push_back(target->address);
    return 0;
}

// A liblo server only ever handed bytes, with a method on every leaf (or child).
struct LoTree {
    explicit LoTree(bool pattern) : server(lo_server_new_with_proto(nullptr, LO_UDP, nullptr)) {
        if (pattern) {
            for (int child = 0; child < kChildren; ++child) targets.push_back(childAddress(child));
        } else {
            for (int d = 0; d < kDirectories; ++d)
                for (int leaf = 0; leaf < kLeaves; ++leaf) targets.push_back(leafAddress(d, leaf));
        }
        methods.reserve(targets.size());
        for (const auto& address : targets) {
            methods.push_back({address, &calls, &reached});
            lo_server_add_method(server, address.c_str(), "i", loHandler, &methods.back());
        }
    }
    ~LoTree() { lo_server_free(server); }
    LoTree(const LoTree&) = delete;
    LoTree& operator=(const LoTree&) = delete;
    void dispatch(Bytes& datagram) { lo_server_dispatch_data(server, datagram.data(), datagram.size()); }

    lo_server server;
    std::vector<std::string> targets;
    std::vector<LoMethodTarget> methods;
    int64_t calls = 0;
    std::vector<std::string>* reached = nullptr;
};

Bytes gExact, gPattern;

std::vector<std::string> allChildren() {
    std::vector<std::string> all;
    for (int child = 0; child < kChildren; ++child) all.push_back(childAddress(child));
    return all;
}

// Both dispatchers must reach exactly the handlers the address names, once each.
int check(const char* who, bool pattern, std::vector<std::string> reached) {
    std::vector<std::string> wanted =
        pattern ? allChildren() : std::vector<std::string>{kExactAddress};
    std::sort(reached.begin(), reached.end());
    std::sort(wanted.begin(), wanted.end());
    if (reached == wanted) return 0;
    std::fprintf(stderr, "cross-check failed: %s %s reached %zu handler(s) instead of %zu\n", who,
                 pattern ? kPattern : kExactAddress, reached.size(), wanted.size());
    return 1;
}

#define DISPATCH_CASE(name, ...)               \
    void name(benchmark::State& state) {       \
        AllocationCounter::Scope allocations;  \
        __VA_ARGS__;                           \
        allocations.report(state);             \
    }

DISPATCH_CASE(ExactVitrine, VitrineTree tree(false); allocations.restart();
              for (auto _ : state) { tree.dispatchExact(gExact); } benchmark::DoNotOptimize(
                  tree.handler->calls);)
DISPATCH_CASE(ExactLiblo, LoTree tree(false); Bytes datagram = gExact; allocations.restart();
              for (auto _ : state) { tree.dispatch(datagram); } benchmark::DoNotOptimize(
                  tree.calls);)
DISPATCH_CASE(PatternVitrine, VitrineTree tree(true); allocations.restart();
              for (auto _ : state) { tree.dispatchPattern(gPattern); } benchmark::DoNotOptimize(
                  tree.handler->calls);)
DISPATCH_CASE(PatternLiblo, LoTree tree(true); Bytes datagram = gPattern; allocations.restart();
              for (auto _ : state) { tree.dispatch(datagram); } benchmark::DoNotOptimize(
                  tree.calls);)

}  // namespace

int checkDispatchCases() {
    gExact = datagramFor(kExactAddress);
    gPattern = datagramFor(kPattern);
    int failures = 0;
    for (const bool pattern : {false, true}) {
        std::vector<std::string> reached;
        VitrineTree vitrine(pattern);
        vitrine.handler->reached = &reached;
        if (pattern) {
            vitrine.dispatchPattern(gPattern);
        } else {
            vitrine.dispatchExact(gExact);
        }
        failures += check("Vitrine", pattern, reached);

        reached.clear();
        LoTree liblo(pattern);
        liblo.reached = &reached;
        Bytes datagram = pattern ? gPattern : gExact;
        liblo.dispatch(datagram);
        failures += check("liblo", pattern, reached);
    }
    return failures;
}

void registerDispatchCases() {
    benchmark::RegisterBenchmark("dispatch_exact_1000/vitrine", ExactVitrine);
    benchmark::RegisterBenchmark("dispatch_exact_1000/liblo", ExactLiblo);
    benchmark::RegisterBenchmark("dispatch_pattern_100/vitrine", PatternVitrine);
    benchmark::RegisterBenchmark("dispatch_pattern_100/liblo", PatternLiblo);
}

}  // namespace bench

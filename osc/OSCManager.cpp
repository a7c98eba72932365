#include "osc/OSCManager.h"

#include <arpa/inet.h>
#include <ifaddrs.h>
#include <netinet/in.h>
#include <unistd.h>

#include <algorithm>
#include <climits>
#include <utility>
#include <variant>

#include "basics/Log.h"
#include "basics/NotificationCenter.h"

namespace vitrine {

namespace {

constexpr const char* kInPortsChanged = "OSCInPortsChangedNotification";
constexpr const char* kOutPortsAboutToChange = "OSCOutPortsAboutToChangeNotification";
constexpr const char* kOutPortsChanged = "OSCOutPortsChangedNotification";
constexpr int32_t kFirstTriedPort = 1234;
constexpr int32_t kLastPort = 65535;
constexpr int32_t kLowestOutPort = 1024;

// The name this machine goes by; generated input labels begin with it.
std::string hostName() {
    char name[HOST_NAME_MAX + 1] = {};
    if (gethostname(name, sizeof name - 1) != 0 || name[0] == '\0') return "localhost";
    return name;
}

std::optional<std::string> snapshotText(const OSCPortSnapshot& snapshot, const char* key) {
    const auto found = snapshot.find(key);
    if (found == snapshot.end()) return std::nullopt;
    if (const auto* text = std::get_if<std::string>(&found->second)) return *text;
    return std::nullopt;
}

std::optional<int64_t> snapshotNumber(const OSCPortSnapshot& snapshot, const char* key) {
    const auto found = snapshot.find(key);
    if (found == snapshot.end()) return std::nullopt;
    if (const auto* number = std::get_if<int64_t>(&found->second)) return *number;
    return std::nullopt;
}

// The snapshot's number as the 32-bit port the creating operations take.
int32_t portNumber(int64_t number) {
    return static_cast<int32_t>(number);
}

}  // namespace

// ---- Construction ----

std::shared_ptr<OSCManager> OSCManager::create() {
    return createWithServiceType(std::string(kDefaultServiceType));
}

std::shared_ptr<OSCManager> OSCManager::createWithServiceType(
    const std::optional<std::string>& serviceType) {
    return createManager({}, {}, serviceType, OSCZeroConfService::createDefault());
}

std::shared_ptr<OSCManager> OSCManager::createWithZeroConfService(
    std::shared_ptr<OSCZeroConfService> zeroConfService,
    const std::optional<std::string>& serviceType) {
    return createManager({}, {}, serviceType, std::move(zeroConfService));
}

std::shared_ptr<OSCManager> OSCManager::createWithInPortClass(
    InPortFactory inPortClass, OutPortFactory outPortClass,
    const std::optional<std::string>& serviceType,
    std::shared_ptr<OSCZeroConfService> zeroConfService) {
    return createManager(std::move(inPortClass), std::move(outPortClass), serviceType,
                         std::move(zeroConfService));
}

std::shared_ptr<OSCManager> OSCManager::createManager(InPortFactory inPortClass,
                                                      OutPortFactory outPortClass,
                                                      const std::optional<std::string>& serviceType,
                                                      std::shared_ptr<OSCZeroConfService> service) {
    auto manager =
        std::make_shared<OSCManager>(Private{}, std::move(inPortClass), std::move(outPortClass));
    // Made once the manager is owned, since the zero-conf manager refers back to it.
    manager->zeroConf =
        OSCZeroConfManager::createWithOSCManager(manager, serviceType, std::move(service));
    return manager;
}

OSCManager::OSCManager(Private, InPortFactory inPortClass, OutPortFactory outPortClass)
    : inPorts(std::make_shared<InPortList>()),
      outPorts(std::make_shared<OutPortList>()),
      inFactory(inPortClass
                    ? std::move(inPortClass)
                    : InPortFactory([](uint16_t port, const std::optional<std::string>& label) {
                          return OSCInPort::createWithPort(port, label);
                      })),
      outFactory(outPortClass
                     ? std::move(outPortClass)
                     : OutPortFactory([](const std::optional<std::string>& address, uint16_t port,
                                         const std::optional<std::string>& label) {
                           return OSCOutPort::createWithAddress(address, port, label);
                       })) {}

OSCManager::~OSCManager() {
    // Discovery goes first, so that it cannot touch the port lists while they are released.
    zeroConf.reset();
}

void OSCManager::post(const char* name) {
    NotificationCenter::defaultCenter().postNotification(name, weak_from_this().lock());
}

// ---- Receiving ports ----

std::shared_ptr<OSCInPort> OSCManager::createNewInputForPort(
    int32_t port, const std::optional<std::string>& label) {
    std::shared_ptr<OSCInPort> created;
    {
        auto guard = inPorts->writeLocked();
        for (const auto& existing : inPorts->array()) {
            if (!existing) continue;
            if (static_cast<int32_t>(existing->port()) == port) return nullptr;
            if (label && existing->portLabel() == label) return nullptr;
        }
        created = inFactory(static_cast<uint16_t>(port & 0xFFFF), label);
        if (created) {
            created->setDelegate(weak_from_this());
            if (zeroConf) created->setZeroConfService(zeroConf->zeroConfService());
            created->start();
            inPorts->addObject(created);
        }
    }
    if (created) post(kInPortsChanged);
    return created;
}

std::shared_ptr<OSCInPort> OSCManager::createNewInputForPort(int32_t port) {
    return createNewInputForPort(port, getUniqueInputLabel());
}

std::shared_ptr<OSCInPort> OSCManager::createNewInput() {
    for (int32_t port = kFirstTriedPort; port <= kLastPort; ++port) {
        if (auto created = createNewInputForPort(port)) return created;
    }
    return nullptr;
}

std::shared_ptr<OSCInPort> OSCManager::createNewInputFromSnapshot(const OSCPortSnapshot* snapshot) {
    if (!snapshot) return nullptr;
    const auto port = snapshotNumber(*snapshot, "port");
    auto label = snapshotText(*snapshot, "portLabel");
    if (!label) label = getUniqueInputLabel();
    return createNewInputForPort(port ? portNumber(*port) : kFirstTriedPort, label);
}

std::shared_ptr<OSCInPort> OSCManager::findInputWithLabel(const std::optional<std::string>& label) {
    if (!label) return nullptr;
    auto guard = inPorts->readLocked();
    for (const auto& port : inPorts->array()) {
        if (port && port->portLabel() == label) return port;
    }
    return nullptr;
}

std::optional<std::vector<std::shared_ptr<OSCInPort>>> OSCManager::findInputsWithLabel(
    const std::optional<std::string>& label) {
    if (!label) return std::nullopt;
    std::vector<std::shared_ptr<OSCInPort>> found;
    {
        auto guard = inPorts->readLocked();
        for (const auto& port : inPorts->array()) {
            if (port && port->portLabel() == label) found.push_back(port);
        }
    }
    if (found.empty()) return std::nullopt;
    return found;
}

std::shared_ptr<OSCInPort> OSCManager::findInputWithZeroConfName(
    const std::optional<std::string>& name) {
    if (!name) return nullptr;
    auto guard = inPorts->readLocked();
    for (const auto& port : inPorts->array()) {
        if (port && port->zeroConfName() == name) return port;
    }
    return nullptr;
}

void OSCManager::removeInput(const std::shared_ptr<OSCInPort>& port) {
    if (!port) return;
    port->stop();
    bool changed;
    {
        auto guard = inPorts->writeLocked();
        const auto before = inPorts->count();
        inPorts->removeObject(port);
        changed = inPorts->count() != before;
    }
    if (changed) post(kInPortsChanged);
}

void OSCManager::deleteAllInputs() {
    InPortList::Array taken;
    {
        auto guard = inPorts->writeLocked();
        taken.swap(inPorts->array());
    }
    // Prepared outside the list's lock: preparing waits for each port's receiving thread, and
    // that thread may be delivering to a delegate that is itself waiting to read the list.
    for (const auto& port : taken) {
        if (port) port->prepareToBeDeleted();
    }
    if (!taken.empty()) post(kInPortsChanged);
}

std::string OSCManager::getUniqueInputLabel() {
    const std::string host = hostName();
    const std::string base = inPortLabelBase();
    for (int n = 1;; ++n) {
        std::string candidate = stringWithFormat("%s %s %d", host.c_str(), base.c_str(), n);
        if (isUniqueInputLabel(candidate)) return candidate;
    }
}

bool OSCManager::isUniqueInputLabel(const std::optional<std::string>& label) {
    {
        auto guard = inPorts->readLocked();
        for (const auto& port : inPorts->array()) {
            if (port && port->portLabel() == label) return false;
        }
    }
    auto guard = outPorts->readLocked();
    for (const auto& port : outPorts->array()) {
        if (port && port->portLabel() == label) return false;
    }
    return true;
}

std::string OSCManager::inPortLabelBase() const {
    std::lock_guard guard(labelBaseLock);
    return labelBase;
}

void OSCManager::setInPortLabelBase(const std::optional<std::string>& base) {
    if (!base) return;
    std::lock_guard guard(labelBaseLock);
    labelBase = *base;
}

// ---- Sending ports ----

std::shared_ptr<OSCOutPort> OSCManager::createNewOutputToAddress(
    const std::optional<std::string>& address, int32_t port,
    const std::optional<std::string>& label) {
    if (!address || port < kLowestOutPort || !label) return nullptr;
    post(kOutPortsAboutToChange);
    std::shared_ptr<OSCOutPort> created;
    {
        auto guard = outPorts->writeLocked();
        const bool taken = std::any_of(
            outPorts->array().begin(), outPorts->array().end(),
            [&](const auto& existing) { return existing && existing->portLabel() == label; });
        if (!taken) {
            created = outFactory(address, static_cast<uint16_t>(port & 0xFFFF), label);
            if (created) outPorts->addObject(created);
        }
    }
    post(kOutPortsChanged);
    return created;
}

std::shared_ptr<OSCOutPort> OSCManager::createNewOutputToAddress(
    const std::optional<std::string>& address, int32_t port) {
    return createNewOutputToAddress(address, port, getUniqueOutputLabel());
}

std::shared_ptr<OSCOutPort> OSCManager::createNewOutput() {
    for (int32_t port = kFirstTriedPort; port <= kLastPort; ++port) {
        if (auto created = createNewOutputToAddress(std::string("127.0.0.1"), port)) return created;
    }
    return nullptr;
}

std::shared_ptr<OSCOutPort> OSCManager::createNewOutputFromSnapshot(
    const OSCPortSnapshot* snapshot) {
    if (!snapshot) return nullptr;
    const auto address = snapshotText(*snapshot, "address");
    const auto port = snapshotNumber(*snapshot, "port");
    if (!address || !port) return nullptr;
    auto label = snapshotText(*snapshot, "portLabel");
    if (!label) label = getUniqueOutputLabel();
    return createNewOutputToAddress(address, portNumber(*port), label);
}

std::shared_ptr<OSCOutPort> OSCManager::findOutputWithLabel(
    const std::optional<std::string>& label) {
    if (!label) return nullptr;
    auto guard = outPorts->readLocked();
    for (const auto& port : outPorts->array()) {
        if (port && port->portLabel() == label) return port;
    }
    return nullptr;
}

std::optional<std::vector<std::shared_ptr<OSCOutPort>>> OSCManager::findOutputsWithLabel(
    const std::optional<std::string>& label) {
    if (!label) return std::nullopt;
    std::vector<std::shared_ptr<OSCOutPort>> found;
    {
        auto guard = outPorts->readLocked();
        for (const auto& port : outPorts->array()) {
            if (port && port->portLabel() == label) found.push_back(port);
        }
    }
    if (found.empty()) return std::nullopt;
    return found;
}

std::shared_ptr<OSCOutPort> OSCManager::findOutputWithAddress(
    const std::optional<std::string>& address, int32_t port) {
    if (!address) return nullptr;
    auto guard = outPorts->readLocked();
    for (const auto& candidate : outPorts->array()) {
        if (candidate && candidate->addressString() == *address &&
            static_cast<int32_t>(candidate->port()) == port)
            return candidate;
    }
    return nullptr;
}

std::shared_ptr<OSCOutPort> OSCManager::findOutputWithRawAddress(uint32_t address, uint16_t port) {
    auto guard = outPorts->readLocked();
    for (const auto& candidate : outPorts->array()) {
        if (candidate && candidate->_matchesRawAddress(address, port)) return candidate;
    }
    return nullptr;
}

std::shared_ptr<OSCOutPort> OSCManager::findOutputWithRawAddress(uint32_t address) {
    auto guard = outPorts->readLocked();
    for (const auto& candidate : outPorts->array()) {
        if (candidate && candidate->_matchesRawAddress(address)) return candidate;
    }
    return nullptr;
}

std::shared_ptr<OSCOutPort> OSCManager::findOutputForIndex(int32_t index) {
    if (index < 0) return nullptr;
    return outPorts->lockObjectAtIndex(static_cast<uint64_t>(index));
}

void OSCManager::removeOutput(const std::shared_ptr<OSCOutPort>& port) {
    if (!port) return;
    post(kOutPortsAboutToChange);
    outPorts->lockRemoveObject(port);
    post(kOutPortsChanged);
}

void OSCManager::removeOutputWithLabel(const std::optional<std::string>& label) {
    if (!label) return;
    post(kOutPortsAboutToChange);
    // Released after the list's lock, so that a port's destruction never runs under it.
    std::shared_ptr<OSCOutPort> removed;
    {
        auto guard = outPorts->writeLocked();
        auto& ports = outPorts->array();
        const auto found = std::find_if(ports.begin(), ports.end(), [&](const auto& port) {
            return port && port->portLabel() == label;
        });
        if (found != ports.end()) {
            removed = *found;
            ports.erase(found);
        }
    }
    removed.reset();
    post(kOutPortsChanged);
}

void OSCManager::removeAllOutputs() {
    post(kOutPortsAboutToChange);
    outPorts->lockRemoveAllObjects();
    post(kOutPortsChanged);
}

void OSCManager::deleteAllOutputs() {
    post(kOutPortsAboutToChange);
    {
        auto guard = outPorts->writeLocked();
        for (const auto& port : outPorts->array()) {
            if (port) port->prepareToBeDeleted();
        }
        outPorts->removeAllObjects();
    }
    post(kOutPortsChanged);
}

std::string OSCManager::getUniqueOutputLabel() {
    auto guard = outPorts->readLocked();
    for (int n = 1;; ++n) {
        std::string candidate = stringWithFormat("OSC Out Port %d", n);
        const bool used =
            std::any_of(outPorts->array().begin(), outPorts->array().end(),
                        [&](const auto& port) { return port && port->portLabel() == candidate; });
        if (!used) return candidate;
    }
}

std::vector<std::string> OSCManager::outPortLabelArray() {
    std::vector<std::string> labels;
    auto guard = outPorts->readLocked();
    for (const auto& port : outPorts->array()) {
        if (!port) continue;
        if (auto label = port->portLabel()) labels.push_back(std::move(*label));
    }
    return labels;
}

// ---- Messages, queries, replies ----

void OSCManager::receivedOSCMessage(const std::shared_ptr<OSCMessage>& message) {
    if (const auto listener = delegate()) listener->receivedOSCMessage(message);
}

void OSCManager::dispatchQuery(const std::shared_ptr<OSCMessage>& query,
                               const std::shared_ptr<OSCOutPort>& outPort, float timeout,
                               ReplyBlock replyHandler) {
    if (!query || !outPort) return;
    if (const auto inPort = inPorts->lockFirstObject())
        inPort->dispatchQuery(query, outPort, timeout, std::move(replyHandler));
}

void OSCManager::dispatchQuery(const std::shared_ptr<OSCMessage>& query,
                               const std::shared_ptr<OSCOutPort>& outPort, float timeout,
                               const std::shared_ptr<OSCQueryReplyDelegate>& replyDelegate) {
    if (!query || !outPort) return;
    if (const auto inPort = inPorts->lockFirstObject())
        inPort->dispatchQuery(query, outPort, timeout, replyDelegate);
}

void OSCManager::transmitReplyOrError(const std::shared_ptr<OSCMessage>& message) {
    if (!message) return;
    const auto type = message->messageType();
    if (type != OSCMessageTypeReply && type != OSCMessageTypeError) return;
    const uint32_t address = message->queryTXAddress();
    const uint16_t port = message->queryTXPort();
    if (address == 0 || port == 0) return;
    auto outPort = findOutputWithRawAddress(address, port);
    if (!outPort) {
        in_addr raw{};
        raw.s_addr = address;
        char text[INET_ADDRSTRLEN] = {};
        if (!inet_ntop(AF_INET, &raw, text, sizeof text)) return;
        outPort = createNewOutputToAddress(std::string(text), ntohs(port));
    }
    if (outPort) outPort->sendThisMessage(message);
}

std::optional<std::vector<std::string>> OSCManager::hostIPv4Addresses() {
    ifaddrs* interfaces = nullptr;
    const int result = getifaddrs(&interfaces);
    if (result != 0) {
        Log::write("\t\terr %d getting ifaddrs in %s", result, "+[OSCManager hostIPv4Addresses]");
        return std::nullopt;
    }
    std::vector<std::string> addresses;
    for (const ifaddrs* entry = interfaces; entry; entry = entry->ifa_next) {
        if (!entry->ifa_addr || entry->ifa_addr->sa_family != AF_INET) continue;
        const auto* inet = reinterpret_cast<const sockaddr_in*>(entry->ifa_addr);
        char text[INET_ADDRSTRLEN] = {};
        if (!inet_ntop(AF_INET, &inet->sin_addr, text, sizeof text)) continue;
        const std::string address(text);
        if (address.find_first_of("abcdefABCDEF:%") != std::string::npos || address == "127.0.0.1")
            continue;
        addresses.push_back(address);
    }
    freeifaddrs(interfaces);
    if (addresses.empty()) return std::nullopt;
    return addresses;
}

// ---- Accessors ----

std::shared_ptr<OSCManagerDelegate> OSCManager::delegate() const {
    std::lock_guard guard(delegateLock);
    return delegateRef.lock();
}

void OSCManager::setDelegate(const std::weak_ptr<OSCManagerDelegate>& newDelegate) {
    std::lock_guard guard(delegateLock);
    delegateRef = newDelegate;
}

}  // namespace vitrine

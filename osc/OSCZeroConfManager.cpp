#include "osc/OSCZeroConfManager.h"

#include <arpa/inet.h>
#include <netinet/in.h>

#include <algorithm>
#include <cstring>
#include <utility>

#include "basics/Log.h"
#include "basics/RWLockGuard.h"
#include "osc/OSCManager.h"

namespace vitrine {

std::shared_ptr<OSCZeroConfManager> OSCZeroConfManager::createWithOSCManager(
    const std::weak_ptr<OSCManager>& oscManager, const std::optional<std::string>& serviceType,
    std::shared_ptr<OSCZeroConfService> service) {
    if (oscManager.expired()) {
        Log::write("\t\terr: %s - BAIL", "-[OSCZeroConfManager initWithOSCManager:serviceType:]");
        return nullptr;
    }
    if (!service) service = OSCZeroConfService::createSilent();
    auto made = std::make_shared<OSCZeroConfManager>(Private{}, oscManager, serviceType,
                                                     std::move(service));
    made->start();
    return made;
}

OSCZeroConfManager::OSCZeroConfManager(Private, std::weak_ptr<OSCManager> oscManager,
                                       std::optional<std::string> serviceType,
                                       std::shared_ptr<OSCZeroConfService> service)
    : service(std::move(service)),
      manager(std::move(oscManager)),
      serviceType(std::move(serviceType)) {}

OSCZeroConfManager::~OSCZeroConfManager() {
    domainBrowser.reset();
    std::map<std::string, std::shared_ptr<OSCZeroConfDomain>> released;
    {
        WriteLocked guard(domainLock);
        released.swap(domainDict);
    }
}

void OSCZeroConfManager::start() {
    std::weak_ptr<OSCZeroConfManager> weak = weak_from_this();
    domainBrowser = service->searchForRegistrationDomains(
        [weak](const std::string& domain) {
            if (auto self = weak.lock()) self->didFindDomain(domain);
        },
        [weak](const std::string& error) {
            if (auto self = weak.lock()) self->didNotSearch(error);
        });
}

void OSCZeroConfManager::didFindDomain(const std::string& domain) {
    auto made = OSCZeroConfDomain::createWithDomain(domain, shared_from_this(), serviceType);
    if (!made) return;
    std::shared_ptr<OSCZeroConfDomain> replaced;
    {
        WriteLocked guard(domainLock);
        replaced = std::exchange(domainDict[domain], std::move(made));
    }
    // The replaced domain object stops its search here, outside the lock.
}

void OSCZeroConfManager::didNotSearch(const std::string& error) {
    Log::write("\t\terr, oscbm didn't search: %s", error.c_str());
}

std::shared_ptr<OSCZeroConfDomain> OSCZeroConfManager::domainForName(const std::string& domain) {
    ReadLocked guard(domainLock);
    const auto found = domainDict.find(domain);
    return found == domainDict.end() ? nullptr : found->second;
}

void OSCZeroConfManager::serviceResolved(const OSCZeroConfDomain::Service& resolved) {
    std::optional<std::string> addressText;
    uint16_t port = 0;
    for (const auto& address : resolved.addresses) {
        if (address.ss_family != AF_INET) continue;
        sockaddr_in ipv4;
        std::memcpy(&ipv4, &address, sizeof ipv4);
        if (const char* text = inet_ntoa(ipv4.sin_addr)) {
            addressText = text;
            port = ntohs(ipv4.sin_port);
            break;
        }
    }
    if (!addressText) return;
    const auto hostAddresses = OSCManager::hostIPv4Addresses();
    if (!hostAddresses) return;
    const auto oscManager = manager.lock();
    if (!oscManager) return;

    const std::string& name = resolved.name;
    if (const auto inPort = oscManager->findInputWithLabel(name)) {
        const bool onThisHost =
            *addressText == "127.0.0.1" ||
            std::ranges::find(*hostAddresses, *addressText) != hostAddresses->end();
        if (inPort->port() == port && onThisHost) return;
        // The name belongs to the remote service; the local port takes another.
        inPort->setPortLabel(oscManager->getUniqueInputLabel());
    }
    if (const auto outPort = oscManager->findOutputWithLabel(name)) {
        outPort->setAddressString(*addressText, port);
    } else {
        oscManager->createNewOutputToAddress(*addressText, port, name);
    }
}

void OSCZeroConfManager::serviceRemoved(const OSCZeroConfDomain::Service& removed) {
    const auto oscManager = manager.lock();
    if (!oscManager) return;
    if (const auto outPort = oscManager->findOutputWithLabel(removed.name)) {
        oscManager->removeOutput(outPort);
    }
}

}  // namespace vitrine

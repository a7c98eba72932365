#include "osc/OSCZeroConfDomain.h"

#include <utility>

#include "basics/Log.h"
#include "osc/OSCZeroConfManager.h"

namespace vitrine {

std::shared_ptr<OSCZeroConfDomain> OSCZeroConfDomain::createWithDomain(
    const std::optional<std::string>& domain,
    const std::shared_ptr<OSCZeroConfManager>& domainManager,
    const std::optional<std::string>& serviceType) {
    if (!domain || !domainManager) {
        Log::write("\t\terr: %s - BAIL",
                   "-[OSCZeroConfDomain initWithDomain:andDomainManager:serviceType:]");
        return nullptr;
    }
    auto made = std::make_shared<OSCZeroConfDomain>(Private{}, *domain, domainManager);
    // The search reports to the domain object through a weak reference, so it needs the object
    // owned first.
    made->start(serviceType.value_or(""));
    return made;
}

OSCZeroConfDomain::OSCZeroConfDomain(Private, std::string domain,
                                     std::weak_ptr<OSCZeroConfManager> domainManager)
    : domain(std::move(domain)),
      services(std::make_shared<ServiceList>()),
      domainManager(std::move(domainManager)) {}

OSCZeroConfDomain::~OSCZeroConfDomain() {
    domainManager.reset();
    serviceBrowser.reset();
    // Pending resolutions end with their services.
    for (const auto& service : services->lockCreateArrayCopy()) service->resolution.reset();
}

void OSCZeroConfDomain::start(const std::string& serviceType) {
    type = serviceType;
    const auto service = domainManager.lock()->zeroConfService();
    std::weak_ptr<OSCZeroConfDomain> weak = weak_from_this();
    serviceBrowser = service->searchForServicesOfType(
        type, domain,
        [weak](const std::string& name) {
            if (auto self = weak.lock()) self->didFindService(name);
        },
        [weak](const std::string& name) {
            if (auto self = weak.lock()) self->didRemoveService(name);
        },
        [weak](const std::string& error) {
            if (auto self = weak.lock()) self->didNotSearch(error);
        });
}

std::shared_ptr<OSCZeroConfDomain::Service> OSCZeroConfDomain::findService(
    const std::string& name) {
    for (const auto& service : services->lockCreateArrayCopy()) {
        if (service->name == name) return service;
    }
    return nullptr;
}

void OSCZeroConfDomain::didFindService(const std::string& name) {
    const auto manager = domainManager.lock();
    if (!manager) return;
    auto service = std::make_shared<Service>();
    service->name = name;
    services->lockAddObject(service);
    std::weak_ptr<OSCZeroConfDomain> weak = weak_from_this();
    std::weak_ptr<Service> weakService = service;
    service->resolution = manager->zeroConfService()->resolve(
        name, type, domain, std::chrono::duration<double>(kResolveTimeout),
        [weak, weakService](const std::vector<sockaddr_storage>& addresses) {
            auto self = weak.lock();
            auto found = weakService.lock();
            if (self && found) self->didResolveAddress(found, addresses);
        },
        [weak, weakService](const std::string& error) {
            auto self = weak.lock();
            auto found = weakService.lock();
            if (self && found) self->didNotResolve(found, error);
        });
}

void OSCZeroConfDomain::didRemoveService(const std::string& name) {
    const auto service = findService(name);
    if (!service) return;
    if (const auto manager = domainManager.lock()) manager->serviceRemoved(*service);
    // A service found again (it moved) has one entry per finding; a name is unique in a domain,
    // so its removal drops them all.
    for (auto found = service; found; found = findService(name)) {
        found->resolution.reset();
        services->lockRemoveObject(found);
    }
}

void OSCZeroConfDomain::didNotSearch(const std::string& error) {
    Log::write("\t\terr, didn't search: %s", error.c_str());
}

void OSCZeroConfDomain::didResolveAddress(const std::shared_ptr<Service>& service,
                                          const std::vector<sockaddr_storage>& addresses) {
    service->resolution.reset();
    service->addresses = addresses;
    if (const auto manager = domainManager.lock()) manager->serviceResolved(*service);
}

void OSCZeroConfDomain::didNotResolve(const std::shared_ptr<Service>& service,
                                      const std::string& error) {
    Log::write("\t\terr resolving domain: %s", error.c_str());
    service->resolution.reset();
    services->lockRemoveObject(service);
}

}  // namespace vitrine

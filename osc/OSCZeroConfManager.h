#pragma once

#include <map>
#include <memory>
#include <optional>
#include <string>

#include "basics/PosixRWLock.h"
#include "osc/OSCZeroConfDomain.h"
#include "osc/OSCZeroConfService.h"

namespace vitrine {

class OSCManager;

// Keeps one sending port in its manager for every OSC service discovered on the local network:
// it browses for registration domains and keeps one OSCZeroConfDomain per domain found, which
// browses that domain and hands resolved and removed services back here. Services that are this
// host's own receiving ports are recognised and skipped.
// Thread safety: created, called back and destroyed on the main thread; domainDict is read and
// written under domainLock.
class OSCZeroConfManager : public std::enable_shared_from_this<OSCZeroConfManager> {
    struct Private {
        explicit Private() = default;
    };

public:
    // Nothing (after "\t\terr: -[OSCZeroConfManager initWithOSCManager:serviceType:] - BAIL")
    // without a manager. The manager is not kept alive. The domain search starts at once.
    static std::shared_ptr<OSCZeroConfManager> createWithOSCManager(
        const std::weak_ptr<OSCManager>& oscManager, const std::optional<std::string>& serviceType,
        std::shared_ptr<OSCZeroConfService> service = OSCZeroConfService::createDefault());

    OSCZeroConfManager(Private, std::weak_ptr<OSCManager> oscManager,
                       std::optional<std::string> serviceType,
                       std::shared_ptr<OSCZeroConfService> service);
    ~OSCZeroConfManager();
    OSCZeroConfManager(const OSCZeroConfManager&) = delete;
    OSCZeroConfManager& operator=(const OSCZeroConfManager&) = delete;

    void didFindDomain(const std::string& domain);
    void didNotSearch(const std::string& error);
    void serviceResolved(const OSCZeroConfDomain::Service& service);
    void serviceRemoved(const OSCZeroConfDomain::Service& service);

    const std::optional<std::string>& serviceTypeString() const { return serviceType; }
    std::shared_ptr<OSCManager> oscManager() const { return manager.lock(); }
    const std::shared_ptr<OSCZeroConfService>& zeroConfService() const { return service; }
    std::shared_ptr<OSCZeroConfDomain> domainForName(const std::string& domain);

private:
    void start();

    const std::shared_ptr<OSCZeroConfService> service;
    std::unique_ptr<OSCZeroConfService::Search> domainBrowser;
    std::map<std::string, std::shared_ptr<OSCZeroConfDomain>> domainDict;
    PosixRWLock domainLock;
    const std::weak_ptr<OSCManager> manager;
    const std::optional<std::string> serviceType;
};

}  // namespace vitrine

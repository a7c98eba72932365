#pragma once

#include <sys/socket.h>

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "basics/MutLockArray.h"
#include "osc/OSCZeroConfService.h"

namespace vitrine {

class OSCZeroConfManager;

// Browses one registration domain for services of one type, resolves each service found and
// hands resolved and removed services to its zero-conf manager.
// Thread safety: created, called back and destroyed on the main thread; servicesArray is changed
// through its locked operations.
class OSCZeroConfDomain : public std::enable_shared_from_this<OSCZeroConfDomain> {
    struct Private {
        explicit Private() = default;
    };

public:
    // A service as the domain sees it: its name, its addresses once resolved, and its
    // resolution while under way.
    struct Service {
        std::string name;
        std::vector<sockaddr_storage> addresses;
        std::unique_ptr<OSCZeroConfService::Search> resolution;
    };
    using ServiceList = MutLockArray<Service>;

    static constexpr double kResolveTimeout = 10.0;

    // Nothing (after "\t\terr: -[OSCZeroConfDomain initWithDomain:andDomainManager:serviceType:]
    // - BAIL") without a domain or a manager. The service search starts at once.
    static std::shared_ptr<OSCZeroConfDomain> createWithDomain(
        const std::optional<std::string>& domain,
        const std::shared_ptr<OSCZeroConfManager>& domainManager,
        const std::optional<std::string>& serviceType);

    OSCZeroConfDomain(Private, std::string domain, std::weak_ptr<OSCZeroConfManager> domainManager);
    ~OSCZeroConfDomain();
    OSCZeroConfDomain(const OSCZeroConfDomain&) = delete;
    OSCZeroConfDomain& operator=(const OSCZeroConfDomain&) = delete;

    void didFindService(const std::string& name);
    void didRemoveService(const std::string& name);
    void didNotSearch(const std::string& error);
    void didResolveAddress(const std::shared_ptr<Service>& service,
                           const std::vector<sockaddr_storage>& addresses);
    void didNotResolve(const std::shared_ptr<Service>& service, const std::string& error);

    const std::string& domainString() const { return domain; }
    const std::shared_ptr<ServiceList>& servicesArray() const { return services; }

private:
    void start(const std::string& type);
    std::shared_ptr<Service> findService(const std::string& name);

    const std::string domain;
    std::unique_ptr<OSCZeroConfService::Search> serviceBrowser;
    std::shared_ptr<ServiceList> services;
    std::weak_ptr<OSCZeroConfManager> domainManager;
    std::string type;
};

}  // namespace vitrine

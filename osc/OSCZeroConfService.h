#pragma once

#include <sys/socket.h>

#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace vitrine {

// The service-discovery facility a manager browses through: registration domains, the services
// of one type in a domain, and the resolution of one service to socket addresses. A manager is
// handed one at construction, so each application or test chooses its own network.
//
// Every callback runs on the current MainLoop's thread, one at a time, and never after the
// handle of its search has been destroyed there. Destroying a handle ends the search.
// Thread safety: the operations are called on the main thread only.
class OSCZeroConfService {
public:
    // An operation under way; destroy it to end it.
    class Search {
    public:
        virtual ~Search() = default;
    };
    using NameCallback = std::function<void(const std::string& name)>;
    // Error information, used only for log lines.
    using ErrorCallback = std::function<void(const std::string& error)>;
    using AddressCallback = std::function<void(const std::vector<sockaddr_storage>& addresses)>;

    virtual ~OSCZeroConfService() = default;

    virtual std::unique_ptr<Search> searchForRegistrationDomains(NameCallback found,
                                                                 ErrorCallback failed) = 0;
    // `found` and `removed` carry service names.
    virtual std::unique_ptr<Search> searchForServicesOfType(const std::string& type,
                                                            const std::string& domain,
                                                            NameCallback found,
                                                            NameCallback removed,
                                                            ErrorCallback failed) = 0;
    // Reports the addresses once, or the failure (also when the timeout passes first).
    virtual std::unique_ptr<Search> resolve(const std::string& name, const std::string& type,
                                            const std::string& domain,
                                            std::chrono::duration<double> timeout,
                                            AddressCallback resolved, ErrorCallback failed) = 0;

    // Finds nothing and reports nothing: for managers that should not browse.
    static std::shared_ptr<OSCZeroConfService> createSilent();
    // The facility a manager gets when none is given.
    static std::shared_ptr<OSCZeroConfService> createDefault();
};

}  // namespace vitrine

#pragma once

#include <sys/socket.h>

#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "osc/OSCZeroConfPublisher.h"

namespace vitrine {

// The service-discovery facility a manager browses and publishes through: registration domains,
// the services of one type in a domain, the resolution of one service to socket addresses, and
// the announcements of its receiving ports. A manager is handed one at construction and hands it
// to each receiving port it makes, so each application or test chooses its own network.
//
// Every search callback runs on the MainLoop that was current when the search began, one at a
// time, and never after the handle of its search has been destroyed there. Destroying a handle
// ends the search.
// Thread safety: searches are made on the main thread; createPublisher from any thread.
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
    // A new, not yet published announcement; never empty. The base one announces nothing and
    // only remembers the name it was given.
    virtual std::shared_ptr<OSCZeroConfPublisher> createPublisher();

    // Finds nothing and reports nothing: for managers that should not browse.
    static std::shared_ptr<OSCZeroConfService> createSilent();
    // The facility a manager gets when none is given: the system's mDNS daemon, one client for
    // the whole process. Without a system bus to reach the daemon by, it logs one line (once per
    // process) and is the silent facility; with a bus but no daemon yet, it logs one line and
    // starts discovering when the daemon appears.
    static std::shared_ptr<OSCZeroConfService> createDefault();
};

}  // namespace vitrine

#pragma once

#include <memory>
#include <string>

#include "osc/OSCZeroConfService.h"

namespace vitrine {

// The zero-conf facility over the system's mDNS daemon, reached through its client library on a
// thread of its own. Searches and publications made while the daemon is away wait for it: when
// it (re)appears they start over, and when it goes they end, a service browse reporting every
// service it had found as removed.
//
// Lock order: the client thread's lock, then a publication's own lock. No daemon callback takes
// any other lock of the system: each one is posted to the MainLoop of the thread that started the
// search, so a receiving port may publish while holding its zeroConfLock.
// Thread safety: searches on the main thread; publications from any thread.
class OSCAvahiZeroConfService final : public OSCZeroConfService {
public:
    // Nothing, with the reason in `failure`, when the client cannot be made (no system bus).
    // With a bus but no daemon yet it is made and waits for the daemon; `waiting` says so.
    static std::shared_ptr<OSCAvahiZeroConfService> create(std::string& failure, bool& waiting);

    struct Core;
    explicit OSCAvahiZeroConfService(std::shared_ptr<Core> core);
    ~OSCAvahiZeroConfService() override;

    std::unique_ptr<Search> searchForRegistrationDomains(NameCallback found,
                                                         ErrorCallback failed) override;
    std::unique_ptr<Search> searchForServicesOfType(const std::string& type,
                                                    const std::string& domain, NameCallback found,
                                                    NameCallback removed,
                                                    ErrorCallback failed) override;
    std::unique_ptr<Search> resolve(const std::string& name, const std::string& type,
                                    const std::string& domain,
                                    std::chrono::duration<double> timeout, AddressCallback resolved,
                                    ErrorCallback failed) override;
    std::shared_ptr<OSCZeroConfPublisher> createPublisher() override;

private:
    std::shared_ptr<Core> core;
};

}  // namespace vitrine

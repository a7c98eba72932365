#pragma once

#include <netinet/in.h>

#include <chrono>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "osc/OSCZeroConfService.h"

namespace vitrine {

// A service-discovery network held in memory, for programs and tests that must not touch a real
// network: domains and services appear, resolve, move and vanish when its owner says so, from any
// thread; every callback is posted to the current MainLoop, in
// command order, and skipped once its search has ended. Publications made through it are
// recorded in one journal (and not announced to its own searches).
class OSCMemoryZeroConfNetwork final : public OSCZeroConfService {
public:
    struct Publication {
        std::string what;  // "publish" or "stop"
        std::string domain, type, name;
        uint16_t port = 0;
        std::chrono::steady_clock::time_point when = std::chrono::steady_clock::now();
    };
    std::vector<Publication> publications() const;
    size_t count(const std::string& what) const;
    std::shared_ptr<OSCZeroConfPublisher> createPublisher() override;

    static sockaddr_storage ipv4(const std::string& address, uint16_t port);
    static sockaddr_storage ipv6Loopback(uint16_t port);

    void addDomain(const std::string& domain);
    // Found in the domain, and resolvable to the addresses (again, for a service that moves).
    void announce(const std::string& name, std::vector<sockaddr_storage> addresses,
                  const std::string& domain = "local.");
    void vanish(const std::string& name);
    void failSearches(const std::string& error);

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

private:
    struct Entry {
        std::shared_ptr<bool> alive;
        std::string domain, name;
        NameCallback found, removed;
        AddressCallback resolved;
        ErrorCallback failed;
    };
    struct Known {
        std::string name, domain;
        std::vector<sockaddr_storage> addresses;
    };
    class Handle;
    std::unique_ptr<Search> add(std::vector<Entry>& list, Entry entry);
    static void deliver(const Entry& entry, std::function<void(const Entry&)> call);

    struct Journal {
        mutable std::mutex lock;
        std::vector<Publication> entries;
    };
    class Publisher;
    std::shared_ptr<Journal> journal = std::make_shared<Journal>();

    std::mutex lock;
    std::vector<std::string> domains;
    std::vector<Known> services;
    std::vector<Entry> domainSearches, serviceSearches, resolutions;
};

}  // namespace vitrine

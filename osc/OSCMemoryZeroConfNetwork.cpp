#include "osc/OSCMemoryZeroConfNetwork.h"

#include <arpa/inet.h>

#include <atomic>
#include <cstring>
#include <optional>

#include "basics/MainLoop.h"

namespace vitrine {

class OSCMemoryZeroConfNetwork::Handle final : public Search {
public:
    explicit Handle(std::shared_ptr<bool> alive) : alive(std::move(alive)) {}
    ~Handle() override { *alive = false; }

private:
    std::shared_ptr<bool> alive;
};

class OSCMemoryZeroConfNetwork::Publisher final : public OSCZeroConfPublisher {
public:
    explicit Publisher(std::shared_ptr<Journal> journal) : journal(std::move(journal)) {}
    void publish(const std::string& domain, const std::string& type, const std::string& name,
                 uint16_t port) override {
        setName(name);
        live.store(true);
        add({"publish", domain, type, name, port});
    }
    // Like a real service, withdrawing a publication that is not on the network changes nothing
    // there, so nothing is recorded.
    void stop() override {
        if (live.exchange(false)) add({"stop", "", "", name().value_or(""), 0});
    }
    std::optional<std::string> name() const override {
        std::lock_guard guard(lock);
        return published;
    }

private:
    void setName(const std::string& name) {
        std::lock_guard guard(lock);
        published = name;
    }
    void add(Publication entry) {
        std::lock_guard guard(journal->lock);
        journal->entries.push_back(std::move(entry));
    }
    std::shared_ptr<Journal> journal;
    mutable std::mutex lock;
    std::optional<std::string> published;
    std::atomic<bool> live{false};
};

std::shared_ptr<OSCZeroConfPublisher> OSCMemoryZeroConfNetwork::createPublisher() {
    return std::make_shared<Publisher>(journal);
}

std::vector<OSCMemoryZeroConfNetwork::Publication> OSCMemoryZeroConfNetwork::publications() const {
    std::lock_guard guard(journal->lock);
    return journal->entries;
}

size_t OSCMemoryZeroConfNetwork::count(const std::string& what) const {
    size_t n = 0;
    for (const auto& entry : publications()) n += entry.what == what;
    return n;
}

sockaddr_storage OSCMemoryZeroConfNetwork::ipv4(const std::string& address, uint16_t port) {
    sockaddr_storage storage{};
    sockaddr_in in{};
    in.sin_family = AF_INET;
    in.sin_port = htons(port);
    inet_pton(AF_INET, address.c_str(), &in.sin_addr);
    std::memcpy(&storage, &in, sizeof in);
    return storage;
}

sockaddr_storage OSCMemoryZeroConfNetwork::ipv6Loopback(uint16_t port) {
    sockaddr_storage storage{};
    sockaddr_in6 in6{};
    in6.sin6_family = AF_INET6;
    in6.sin6_port = htons(port);
    in6.sin6_addr = in6addr_loopback;
    std::memcpy(&storage, &in6, sizeof in6);
    return storage;
}

void OSCMemoryZeroConfNetwork::deliver(const Entry& entry, std::function<void(const Entry&)> call) {
    MainLoop::current()->post([entry, call = std::move(call)] {
        if (*entry.alive) call(entry);
    });
}

std::unique_ptr<OSCZeroConfService::Search> OSCMemoryZeroConfNetwork::add(std::vector<Entry>& list,
                                                                       Entry entry) {
    entry.alive = std::make_shared<bool>(true);
    auto handle = std::make_unique<Handle>(entry.alive);
    list.push_back(std::move(entry));
    return handle;
}

void OSCMemoryZeroConfNetwork::addDomain(const std::string& domain) {
    std::lock_guard guard(lock);
    domains.push_back(domain);
    for (const auto& search : domainSearches)
        deliver(search, [domain](const Entry& e) { e.found(domain); });
}

void OSCMemoryZeroConfNetwork::announce(const std::string& name,
                                     std::vector<sockaddr_storage> addresses,
                                     const std::string& domain) {
    std::lock_guard guard(lock);
    std::erase_if(services, [&](const Known& known) { return known.name == name; });
    services.push_back({name, domain, std::move(addresses)});
    for (const auto& search : serviceSearches) {
        if (search.domain == domain) deliver(search, [name](const Entry& e) { e.found(name); });
    }
}

void OSCMemoryZeroConfNetwork::vanish(const std::string& name) {
    std::lock_guard guard(lock);
    std::string domain;
    std::erase_if(services, [&](const Known& known) {
        if (known.name == name) domain = known.domain;
        return known.name == name;
    });
    for (const auto& search : serviceSearches) {
        if (search.domain == domain) deliver(search, [name](const Entry& e) { e.removed(name); });
    }
}

void OSCMemoryZeroConfNetwork::failSearches(const std::string& error) {
    std::lock_guard guard(lock);
    for (auto* list : {&domainSearches, &serviceSearches}) {
        for (const auto& search : *list)
            deliver(search, [error](const Entry& e) { e.failed(error); });
    }
}

std::unique_ptr<OSCZeroConfService::Search> OSCMemoryZeroConfNetwork::searchForRegistrationDomains(
    NameCallback found, ErrorCallback failed) {
    std::lock_guard guard(lock);
    Entry entry{nullptr, "", "", std::move(found), {}, {}, std::move(failed)};
    auto handle = add(domainSearches, entry);
    for (const auto& domain : domains)
        deliver(domainSearches.back(), [domain](const Entry& e) { e.found(domain); });
    return handle;
}

std::unique_ptr<OSCZeroConfService::Search> OSCMemoryZeroConfNetwork::searchForServicesOfType(
    const std::string&, const std::string& domain, NameCallback found, NameCallback removed,
    ErrorCallback failed) {
    std::lock_guard guard(lock);
    auto handle =
        add(serviceSearches,
            {nullptr, domain, "", std::move(found), std::move(removed), {}, std::move(failed)});
    for (const auto& known : services) {
        if (known.domain == domain)
            deliver(serviceSearches.back(), [name = known.name](const Entry& e) { e.found(name); });
    }
    return handle;
}

std::unique_ptr<OSCZeroConfService::Search> OSCMemoryZeroConfNetwork::resolve(
    const std::string& name, const std::string&, const std::string& domain,
    std::chrono::duration<double>, AddressCallback resolved, ErrorCallback failed) {
    std::lock_guard guard(lock);
    auto handle =
        add(resolutions, {nullptr, domain, name, {}, {}, std::move(resolved), std::move(failed)});
    bool known = false;
    for (const auto& service : services) {
        if (service.name != name) continue;
        known = true;
        deliver(resolutions.back(),
                [addresses = service.addresses](const Entry& e) { e.resolved(addresses); });
    }
    if (!known) deliver(resolutions.back(), [](const Entry& e) { e.failed("no such service"); });
    return handle;
}

}  // namespace vitrine

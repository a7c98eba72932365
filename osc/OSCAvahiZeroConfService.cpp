#include "osc/OSCAvahiZeroConfService.h"

#include <avahi-client/client.h>
#include <avahi-client/lookup.h>
#include <avahi-client/publish.h>
#include <avahi-common/alternative.h>
#include <avahi-common/error.h>
#include <avahi-common/malloc.h>
#include <avahi-common/thread-watch.h>
#include <avahi-common/timeval.h>
#include <netinet/in.h>

#include <cstring>
#include <map>
#include <mutex>
#include <optional>
#include <set>
#include <utility>

#include "basics/Log.h"
#include "basics/MainLoop.h"

namespace vitrine {

namespace {

// A search or publication as the client thread sees it. attach and detach run with the client
// thread's lock held: attach when the daemon is there (again), detach when it goes and when the
// operation ends (Core::remove, before it is destroyed), so that no daemon object outlives the
// client it was made on.
class Operation {
public:
    virtual ~Operation() = default;
    virtual void attach(AvahiClient* client) = 0;
    virtual void detach() = 0;
};

class PollLock {
public:
    explicit PollLock(AvahiThreadedPoll* poll) : poll(poll) { avahi_threaded_poll_lock(poll); }
    ~PollLock() { avahi_threaded_poll_unlock(poll); }
    PollLock(const PollLock&) = delete;
    PollLock& operator=(const PollLock&) = delete;

private:
    AvahiThreadedPoll* poll;
};

std::string clientError(AvahiClient* client) {
    return avahi_strerror(client ? avahi_client_errno(client) : AVAHI_ERR_DISCONNECTED);
}

// The daemon wants names without the final dot that service names carry elsewhere.
std::string withoutFinalDot(std::string name) {
    while (!name.empty() && name.back() == '.') name.pop_back();
    return name;
}

}  // namespace

struct OSCAvahiZeroConfService::Core {
    AvahiThreadedPoll* poll = nullptr;
    // The rest is read and written with the poll's lock held, or on its thread (which holds it
    // while it runs callbacks).
    AvahiClient* client = nullptr;
    bool running = false;
    std::set<Operation*> operations;
    AvahiTimeout* reconnect = nullptr;

    ~Core() {
        if (!poll) return;
        avahi_threaded_poll_stop(poll);
        if (reconnect) avahi_threaded_poll_get(poll)->timeout_free(reconnect);
        if (client) avahi_client_free(client);
        avahi_threaded_poll_free(poll);
    }

    void add(Operation* operation) {
        PollLock guard(poll);
        operations.insert(operation);
        if (running) operation->attach(client);
    }
    void remove(Operation* operation) {
        PollLock guard(poll);
        operation->detach();
        operations.erase(operation);
    }

    void setRunning(bool nowRunning) {
        if (nowRunning == running) return;
        running = nowRunning;
        for (auto* operation : operations) {
            if (running) {
                operation->attach(client);
            } else {
                operation->detach();
            }
        }
    }

    static void clientChanged(AvahiClient* changed, AvahiClientState state, void* context) {
        auto* core = static_cast<Core*>(context);
        core->client = changed;
        switch (state) {
            case AVAHI_CLIENT_S_RUNNING:
                core->setRunning(true);
                break;
            case AVAHI_CLIENT_FAILURE:
                core->setRunning(false);
                // The daemon went away: a new client waits for it to come back.
                if (avahi_client_errno(changed) == AVAHI_ERR_DISCONNECTED && !core->reconnect) {
                    timeval now{};
                    const auto* api = avahi_threaded_poll_get(core->poll);
                    core->reconnect = api->timeout_new(api, avahi_elapse_time(&now, 0, 0),
                                                       &Core::reconnectNow, core);
                }
                break;
            default:
                // Connecting, or the host name being registered or in collision: publications
                // must be made again once the daemon is running.
                core->setRunning(false);
                break;
        }
    }

    static void reconnectNow(AvahiTimeout* timeout, void* context) {
        auto* core = static_cast<Core*>(context);
        const auto* api = avahi_threaded_poll_get(core->poll);
        api->timeout_free(timeout);
        core->reconnect = nullptr;
        if (core->client) avahi_client_free(core->client);
        core->client = nullptr;
        int error = 0;
        avahi_client_new(api, AVAHI_CLIENT_NO_FAIL, &Core::clientChanged, core, &error);
    }
};

namespace {

using Core = OSCAvahiZeroConfService::Core;

// Callbacks of one search, owned by its handle; the client thread posts to the main loop with a
// weak reference, so nothing is delivered once the handle is gone.
template <typename Callbacks>
class Delivery {
public:
    explicit Delivery(Callbacks callbacks)
        : loop(MainLoop::current()), callbacks(std::make_shared<Callbacks>(std::move(callbacks))) {}

    template <typename Call>
    void post(Call call) const {
        loop->post([weak = std::weak_ptr<Callbacks>(callbacks), call = std::move(call)] {
            if (const auto live = weak.lock()) call(*live);
        });
    }

private:
    const std::shared_ptr<MainLoop> loop;
    const std::shared_ptr<Callbacks> callbacks;
};

class SearchHandle final : public OSCZeroConfService::Search {
public:
    SearchHandle(std::shared_ptr<Core> core, std::unique_ptr<Operation> operation)
        : core(std::move(core)), operation(std::move(operation)) {
        this->core->add(this->operation.get());
    }
    ~SearchHandle() override { core->remove(operation.get()); }

private:
    const std::shared_ptr<Core> core;
    const std::unique_ptr<Operation> operation;
};

struct DomainCallbacks {
    OSCZeroConfService::NameCallback found;
    OSCZeroConfService::ErrorCallback failed;
};

// The daemon's own domain ("local") is not announced by any browser, so it is reported first.
class DomainSearch final : public Operation {
public:
    explicit DomainSearch(DomainCallbacks callbacks) : delivery(std::move(callbacks)) {}

    void attach(AvahiClient* client) override {
        if (const char* own = avahi_client_get_domain_name(client)) report(own);
        browser = avahi_domain_browser_new(client, AVAHI_IF_UNSPEC, AVAHI_PROTO_UNSPEC, nullptr,
                                           AVAHI_DOMAIN_BROWSER_BROWSE, AvahiLookupFlags(0),
                                           &DomainSearch::changed, this);
        if (!browser) fail(clientError(client));
    }
    void detach() override {
        if (browser) avahi_domain_browser_free(browser);
        browser = nullptr;
    }

private:
    static void changed(AvahiDomainBrowser* source, AvahiIfIndex, AvahiProtocol,
                        AvahiBrowserEvent event, const char* domain, AvahiLookupResultFlags,
                        void* context) {
        auto* self = static_cast<DomainSearch*>(context);
        if (event == AVAHI_BROWSER_NEW && domain) self->report(domain);
        if (event == AVAHI_BROWSER_FAILURE)
            self->fail(clientError(avahi_domain_browser_get_client(source)));
    }
    void report(const std::string& domain) {
        if (!reported.insert(domain).second) return;
        delivery.post([domain](DomainCallbacks& to) { to.found(domain); });
    }
    void fail(std::string error) {
        delivery.post([error = std::move(error)](DomainCallbacks& to) { to.failed(error); });
    }

    Delivery<DomainCallbacks> delivery;
    AvahiDomainBrowser* browser = nullptr;
    std::set<std::string> reported;
};

struct ServiceCallbacks {
    OSCZeroConfService::NameCallback found, removed;
    OSCZeroConfService::ErrorCallback failed;
};

// The daemon reports a service once per interface and protocol it is seen on; the search reports
// a name when it is first seen and its removal when the last sighting goes.
class ServiceSearch final : public Operation {
public:
    ServiceSearch(std::string type, std::string domain, ServiceCallbacks callbacks)
        : type(withoutFinalDot(std::move(type))),
          domain(withoutFinalDot(std::move(domain))),
          delivery(std::move(callbacks)) {}

    void attach(AvahiClient* client) override {
        browser = avahi_service_browser_new(client, AVAHI_IF_UNSPEC, AVAHI_PROTO_UNSPEC,
                                            type.c_str(), domain.c_str(), AvahiLookupFlags(0),
                                            &ServiceSearch::changed, this);
        if (!browser) fail(clientError(client));
    }
    // Without the daemon nothing is known to be there any more.
    void detach() override {
        if (browser) avahi_service_browser_free(browser);
        browser = nullptr;
        for (const auto& [name, sightings] : seen) {
            delivery.post([name = name](ServiceCallbacks& to) { to.removed(name); });
        }
        seen.clear();
    }

private:
    static void changed(AvahiServiceBrowser* source, AvahiIfIndex, AvahiProtocol,
                        AvahiBrowserEvent event, const char* name, const char*, const char*,
                        AvahiLookupResultFlags, void* context) {
        auto* self = static_cast<ServiceSearch*>(context);
        if (event == AVAHI_BROWSER_FAILURE) {
            self->fail(clientError(avahi_service_browser_get_client(source)));
            return;
        }
        if (!name) return;
        const std::string service(name);
        if (event == AVAHI_BROWSER_NEW && ++self->seen[service] == 1) {
            self->delivery.post([service](ServiceCallbacks& to) { to.found(service); });
        } else if (event == AVAHI_BROWSER_REMOVE) {
            const auto sighting = self->seen.find(service);
            if (sighting == self->seen.end() || --sighting->second > 0) return;
            self->seen.erase(sighting);
            self->delivery.post([service](ServiceCallbacks& to) { to.removed(service); });
        }
    }
    void fail(std::string error) {
        delivery.post([error = std::move(error)](ServiceCallbacks& to) { to.failed(error); });
    }

    const std::string type, domain;
    Delivery<ServiceCallbacks> delivery;
    AvahiServiceBrowser* browser = nullptr;
    std::map<std::string, int> seen;
};

struct ResolveCallbacks {
    OSCZeroConfService::AddressCallback resolved;
    OSCZeroConfService::ErrorCallback failed;
};

// Asks for the IPv4 address only: services reachable over IPv6 alone are of no use to the
// sending ports, and fail to resolve.
class Resolution final : public Operation {
public:
    Resolution(std::shared_ptr<Core> core, std::string name, std::string type, std::string domain,
               std::chrono::duration<double> timeout, ResolveCallbacks callbacks)
        : core(std::move(core)),
          name(std::move(name)),
          type(withoutFinalDot(std::move(type))),
          domain(withoutFinalDot(std::move(domain))),
          timeoutMilliseconds(static_cast<unsigned>(std::max(0.0, timeout.count()) * 1000.0)),
          delivery(std::move(callbacks)) {}

    void attach(AvahiClient* client) override {
        if (done) return;
        resolver = avahi_service_resolver_new(
            client, AVAHI_IF_UNSPEC, AVAHI_PROTO_UNSPEC, name.c_str(), type.c_str(), domain.c_str(),
            AVAHI_PROTO_INET, AvahiLookupFlags(0), &Resolution::answered, this);
        if (!resolver) {
            finish(clientError(client));
            return;
        }
        timeval deadline{};
        const auto* api = avahi_threaded_poll_get(core->poll);
        timer = api->timeout_new(api, avahi_elapse_time(&deadline, timeoutMilliseconds, 0),
                                 &Resolution::timedOut, this);
    }
    void detach() override {
        if (resolver) avahi_service_resolver_free(resolver);
        resolver = nullptr;
        if (timer) avahi_threaded_poll_get(core->poll)->timeout_free(timer);
        timer = nullptr;
    }

private:
    static void answered(AvahiServiceResolver* source, AvahiIfIndex, AvahiProtocol,
                         AvahiResolverEvent event, const char*, const char*, const char*,
                         const char*, const AvahiAddress* address, uint16_t port, AvahiStringList*,
                         AvahiLookupResultFlags, void* context) {
        auto* self = static_cast<Resolution*>(context);
        if (self->done) return;
        if (event != AVAHI_RESOLVER_FOUND || !address || address->proto != AVAHI_PROTO_INET) {
            self->finish(clientError(avahi_service_resolver_get_client(source)));
            return;
        }
        sockaddr_storage storage{};
        auto* ipv4 = reinterpret_cast<sockaddr_in*>(&storage);
        ipv4->sin_family = AF_INET;
        ipv4->sin_port = htons(port);
        ipv4->sin_addr.s_addr = address->data.ipv4.address;
        self->done = true;
        self->delivery.post([found = std::vector<sockaddr_storage>{storage}](ResolveCallbacks& to) {
            to.resolved(found);
        });
        // The resolver and timer stay until the handle goes: freeing them from inside their
        // own callbacks is not something the client library promises to allow.
    }
    static void timedOut(AvahiTimeout*, void* context) {
        auto* self = static_cast<Resolution*>(context);
        if (!self->done) self->finish(avahi_strerror(AVAHI_ERR_TIMEOUT));
    }
    void finish(std::string error) {
        done = true;
        delivery.post([error = std::move(error)](ResolveCallbacks& to) { to.failed(error); });
    }

    const std::shared_ptr<Core> core;
    const std::string name, type, domain;
    const unsigned timeoutMilliseconds;
    Delivery<ResolveCallbacks> delivery;
    AvahiServiceResolver* resolver = nullptr;
    AvahiTimeout* timer = nullptr;
    bool done = false;
};

// One announcement. A name taken by another service is replaced by the daemon's alternative
// ("Name #2"), which name() then reports.
class Publication final : public OSCZeroConfPublisher, public Operation {
public:
    explicit Publication(std::shared_ptr<Core> core) : core(std::move(core)) {
        this->core->add(this);
    }
    ~Publication() override { core->remove(this); }

    void publish(const std::string& domain, const std::string& type, const std::string& name,
                 uint16_t port) override {
        PollLock guard(core->poll);
        detach();
        serviceDomain = withoutFinalDot(domain);
        serviceType = withoutFinalDot(type);
        servicePort = port;
        setName(name);
        wanted = true;
        if (core->running) attach(core->client);
    }
    void stop() override {
        PollLock guard(core->poll);
        wanted = false;
        detach();
    }
    std::optional<std::string> name() const override {
        std::lock_guard guard(nameLock);
        return registeredName;
    }

    void attach(AvahiClient* client) override {
        if (!wanted || group) return;
        group = avahi_entry_group_new(client, &Publication::groupChanged, this);
        if (!group) {
            Log::write("\t\terr publishing %s: %s", currentName().c_str(),
                       clientError(client).c_str());
            return;
        }
        register_();
    }
    void detach() override {
        if (group) avahi_entry_group_free(group);
        group = nullptr;
    }

private:
    static constexpr int kMostRenames = 64;

    static void groupChanged(AvahiEntryGroup* changed, AvahiEntryGroupState state, void* context) {
        auto* self = static_cast<Publication*>(context);
        if (changed != self->group) return;
        if (state == AVAHI_ENTRY_GROUP_COLLISION) {
            self->rename();
            avahi_entry_group_reset(changed);
            self->register_();
        } else if (state == AVAHI_ENTRY_GROUP_FAILURE) {
            Log::write("\t\terr publishing %s: %s", self->currentName().c_str(),
                       clientError(avahi_entry_group_get_client(changed)).c_str());
        }
    }

    void register_() {
        for (int attempt = 0; attempt < kMostRenames; ++attempt) {
            const int added = avahi_entry_group_add_service(
                group, AVAHI_IF_UNSPEC, AVAHI_PROTO_UNSPEC, AvahiPublishFlags(0),
                currentName().c_str(), serviceType.c_str(),
                serviceDomain.empty() ? nullptr : serviceDomain.c_str(), nullptr, servicePort,
                nullptr);
            if (added == AVAHI_ERR_COLLISION) {
                rename();
                continue;
            }
            if (added < 0 || avahi_entry_group_commit(group) < 0) {
                Log::write("\t\terr publishing %s: %s", currentName().c_str(),
                           avahi_strerror(added < 0 ? added
                                                    : avahi_client_errno(
                                                          avahi_entry_group_get_client(group))));
            }
            return;
        }
    }
    void rename() {
        char* alternative = avahi_alternative_service_name(currentName().c_str());
        if (!alternative) return;
        setName(alternative);
        avahi_free(alternative);
    }
    std::string currentName() const { return name().value_or(""); }
    void setName(std::string newName) {
        std::lock_guard guard(nameLock);
        registeredName = std::move(newName);
    }

    const std::shared_ptr<Core> core;
    // Under the poll's lock.
    AvahiEntryGroup* group = nullptr;
    bool wanted = false;
    std::string serviceDomain, serviceType;
    uint16_t servicePort = 0;
    // Its own lock, so that name() never waits for the client thread.
    mutable std::mutex nameLock;
    std::optional<std::string> registeredName;
};

}  // namespace

std::shared_ptr<OSCAvahiZeroConfService> OSCAvahiZeroConfService::create(std::string& failure,
                                                                         bool& waiting) {
    auto core = std::make_shared<Core>();
    core->poll = avahi_threaded_poll_new();
    if (!core->poll) {
        failure = "no poll";
        return nullptr;
    }
    int error = 0;
    // Called back at once with the first state, before the client thread runs.
    core->client = avahi_client_new(avahi_threaded_poll_get(core->poll), AVAHI_CLIENT_NO_FAIL,
                                    &Core::clientChanged, core.get(), &error);
    if (!core->client) {
        failure = avahi_strerror(error);
        return nullptr;
    }
    waiting = avahi_client_get_state(core->client) == AVAHI_CLIENT_CONNECTING;
    if (avahi_threaded_poll_start(core->poll) < 0) {
        failure = "no client thread";
        return nullptr;
    }
    return std::make_shared<OSCAvahiZeroConfService>(std::move(core));
}

OSCAvahiZeroConfService::OSCAvahiZeroConfService(std::shared_ptr<Core> core)
    : core(std::move(core)) {}

OSCAvahiZeroConfService::~OSCAvahiZeroConfService() = default;

std::unique_ptr<OSCZeroConfService::Search> OSCAvahiZeroConfService::searchForRegistrationDomains(
    NameCallback found, ErrorCallback failed) {
    return std::make_unique<SearchHandle>(
        core, std::make_unique<DomainSearch>(DomainCallbacks{std::move(found), std::move(failed)}));
}

std::unique_ptr<OSCZeroConfService::Search> OSCAvahiZeroConfService::searchForServicesOfType(
    const std::string& type, const std::string& domain, NameCallback found, NameCallback removed,
    ErrorCallback failed) {
    return std::make_unique<SearchHandle>(
        core, std::make_unique<ServiceSearch>(
                  type, domain,
                  ServiceCallbacks{std::move(found), std::move(removed), std::move(failed)}));
}

std::unique_ptr<OSCZeroConfService::Search> OSCAvahiZeroConfService::resolve(
    const std::string& name, const std::string& type, const std::string& domain,
    std::chrono::duration<double> timeout, AddressCallback resolved, ErrorCallback failed) {
    return std::make_unique<SearchHandle>(
        core,
        std::make_unique<Resolution>(core, name, type, domain, timeout,
                                     ResolveCallbacks{std::move(resolved), std::move(failed)}));
}

std::shared_ptr<OSCZeroConfPublisher> OSCAvahiZeroConfService::createPublisher() {
    return std::make_shared<Publication>(core);
}

}  // namespace vitrine

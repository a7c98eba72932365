#include "osc/OSCZeroConfService.h"

#include <mutex>
#include <utility>

#include "basics/Log.h"
#include "osc/OSCAvahiZeroConfService.h"

namespace vitrine {

namespace {

class SilentSearch final : public OSCZeroConfService::Search {};

// Announces nothing, but answers with the name it would be known by.
class SilentPublisher final : public OSCZeroConfPublisher {
public:
    void publish(const std::string&, const std::string&, const std::string& serviceName,
                 uint16_t) override {
        std::lock_guard guard(lock);
        published = serviceName;
    }
    void stop() override {}
    std::optional<std::string> name() const override {
        std::lock_guard guard(lock);
        return published;
    }

private:
    mutable std::mutex lock;
    std::optional<std::string> published;
};

class SilentService final : public OSCZeroConfService {
public:
    std::unique_ptr<Search> searchForRegistrationDomains(NameCallback, ErrorCallback) override {
        return std::make_unique<SilentSearch>();
    }
    std::unique_ptr<Search> searchForServicesOfType(const std::string&, const std::string&,
                                                    NameCallback, NameCallback,
                                                    ErrorCallback) override {
        return std::make_unique<SilentSearch>();
    }
    std::unique_ptr<Search> resolve(const std::string&, const std::string&, const std::string&,
                                    std::chrono::duration<double>, AddressCallback,
                                    ErrorCallback) override {
        return std::make_unique<SilentSearch>();
    }
};

struct DefaultService {
    std::mutex lock;
    std::weak_ptr<OSCAvahiZeroConfService> shared;
    bool toldUnreachable = false;
    bool toldWaiting = false;
};

DefaultService& defaultService() {
    // Never destroyed: managers in static objects may still be made or destroyed during exit.
    static auto* state = new DefaultService;
    return *state;
}

}  // namespace

std::shared_ptr<OSCZeroConfPublisher> OSCZeroConfService::createPublisher() {
    return std::make_shared<SilentPublisher>();
}

std::shared_ptr<OSCZeroConfService> OSCZeroConfService::createSilent() {
    return std::make_shared<SilentService>();
}

std::shared_ptr<OSCZeroConfService> OSCZeroConfService::createDefault() {
    auto& state = defaultService();
    std::lock_guard guard(state.lock);
    if (auto existing = state.shared.lock()) return existing;
    std::string failure;
    bool waiting = false;
    auto made = OSCAvahiZeroConfService::create(failure, waiting);
    if (!made) {
        if (!std::exchange(state.toldUnreachable, true))
            Log::write(
                "zero-conf: no mDNS daemon reachable (%s); discovery and publication are off",
                failure.c_str());
        return createSilent();
    }
    if (waiting && !std::exchange(state.toldWaiting, true))
        Log::write(
            "zero-conf: the mDNS daemon is not running; discovery and publication start "
            "when it appears");
    state.shared = made;
    return made;
}

}  // namespace vitrine

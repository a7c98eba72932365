#include "osc/OSCZeroConfPublisher.h"

#include <mutex>
#include <utility>

namespace vitrine {

namespace {

// Announces nothing: the machine has no service-discovery daemon to talk to.
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

struct Installed {
    std::mutex lock;
    OSCZeroConfPublisher::Factory factory;
};

Installed& installed() {
    // Never destroyed: ports living in static objects may still publish during exit.
    static auto* state = new Installed;
    return *state;
}

}  // namespace

std::shared_ptr<OSCZeroConfPublisher> OSCZeroConfPublisher::create() {
    Factory factory;
    {
        auto& state = installed();
        std::lock_guard guard(state.lock);
        factory = state.factory;
    }
    std::shared_ptr<OSCZeroConfPublisher> made = factory ? factory() : nullptr;
    return made ? made : std::make_shared<SilentPublisher>();
}

OSCZeroConfPublisher::Factory OSCZeroConfPublisher::setFactory(Factory factory) {
    auto& state = installed();
    std::lock_guard guard(state.lock);
    return std::exchange(state.factory, std::move(factory));
}

}  // namespace vitrine

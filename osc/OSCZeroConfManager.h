#pragma once

#include <memory>
#include <optional>
#include <string>

namespace vitrine {

class OSCManager;

// Keeps one sending port in its manager for every OSC service discovered on the local network.
// For now it discovers nothing: there is no service browser behind it yet, so a manager's
// sending ports are only the ones made through the manager itself.
// Thread safety: distinct objects safe; shared objects safe (nothing changes after creation).
class OSCZeroConfManager {
    struct Private {
        explicit Private() = default;
    };

public:
    // Nothing (after "\t\terr: -[OSCZeroConfManager initWithOSCManager:serviceType:] - BAIL")
    // without a manager. The manager is not kept alive.
    static std::shared_ptr<OSCZeroConfManager> createWithOSCManager(
        const std::weak_ptr<OSCManager>& oscManager, const std::optional<std::string>& serviceType);

    OSCZeroConfManager(Private, std::weak_ptr<OSCManager> oscManager,
                       std::optional<std::string> serviceType);

    const std::optional<std::string>& serviceTypeString() const { return serviceType; }
    std::shared_ptr<OSCManager> oscManager() const { return manager.lock(); }

private:
    const std::weak_ptr<OSCManager> manager;
    const std::optional<std::string> serviceType;
};

}  // namespace vitrine

#include "osc/OSCZeroConfManager.h"

#include <utility>

#include "basics/Log.h"

namespace vitrine {

std::shared_ptr<OSCZeroConfManager> OSCZeroConfManager::createWithOSCManager(
    const std::weak_ptr<OSCManager>& oscManager, const std::optional<std::string>& serviceType) {
    if (oscManager.expired()) {
        Log::write("\t\terr: %s - BAIL", "-[OSCZeroConfManager initWithOSCManager:serviceType:]");
        return nullptr;
    }
    return std::make_shared<OSCZeroConfManager>(Private{}, oscManager, serviceType);
}

OSCZeroConfManager::OSCZeroConfManager(Private, std::weak_ptr<OSCManager> oscManager,
                                       std::optional<std::string> serviceType)
    : manager(std::move(oscManager)), serviceType(std::move(serviceType)) {}

}  // namespace vitrine

#include "osc/OSCZeroConfService.h"

namespace vitrine {

namespace {

class SilentService final : public OSCZeroConfService {
public:
    std::unique_ptr<Search> searchForRegistrationDomains(NameCallback, ErrorCallback) override {
        return std::make_unique<Search>();
    }
    std::unique_ptr<Search> searchForServicesOfType(const std::string&, const std::string&,
                                                    NameCallback, NameCallback,
                                                    ErrorCallback) override {
        return std::make_unique<Search>();
    }
    std::unique_ptr<Search> resolve(const std::string&, const std::string&, const std::string&,
                                    std::chrono::duration<double>, AddressCallback,
                                    ErrorCallback) override {
        return std::make_unique<Search>();
    }
};

}  // namespace

std::shared_ptr<OSCZeroConfService> OSCZeroConfService::createSilent() {
    return std::make_shared<SilentService>();
}

// No daemon client is built in yet, so a manager without a chosen facility browses nothing.
std::shared_ptr<OSCZeroConfService> OSCZeroConfService::createDefault() {
    return createSilent();
}

}  // namespace vitrine

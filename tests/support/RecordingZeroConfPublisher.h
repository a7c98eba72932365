#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "osc/OSCZeroConfPublisher.h"
#include "osc/OSCZeroConfService.h"

namespace vitrine::test {

// Stands in for the network's service-discovery daemon: every publication made through service()
// records what it was asked to do in one shared journal. Its searches find nothing.
class RecordingZeroConfPublisher {
public:
    struct Event {
        std::string what;  // "publish" or "stop"
        std::string domain, type, name;
        uint16_t port = 0;
    };

    RecordingZeroConfPublisher()
        : journal(std::make_shared<Journal>()), recording(std::make_shared<Service>(journal)) {}
    RecordingZeroConfPublisher(const RecordingZeroConfPublisher&) = delete;
    RecordingZeroConfPublisher& operator=(const RecordingZeroConfPublisher&) = delete;

    std::shared_ptr<OSCZeroConfService> service() const { return recording; }

    std::vector<Event> events() const {
        std::lock_guard guard(journal->lock);
        return journal->events;
    }
    size_t count(const std::string& what) const {
        size_t n = 0;
        for (const auto& event : events()) n += event.what == what;
        return n;
    }

private:
    struct Journal {
        mutable std::mutex lock;
        std::vector<Event> events;
        void add(Event event) {
            std::lock_guard guard(lock);
            events.push_back(std::move(event));
        }
    };

    class Publication : public OSCZeroConfPublisher {
    public:
        explicit Publication(std::shared_ptr<Journal> journal) : journal(std::move(journal)) {}
        void publish(const std::string& domain, const std::string& type, const std::string& name,
                     uint16_t port) override {
            {
                std::lock_guard guard(lock);
                published = name;
            }
            journal->add({"publish", domain, type, name, port});
        }
        void stop() override {
            std::optional<std::string> name;
            {
                std::lock_guard guard(lock);
                name = published;
            }
            journal->add({"stop", "", "", name.value_or(""), 0});
        }
        std::optional<std::string> name() const override {
            std::lock_guard guard(lock);
            return published;
        }

    private:
        std::shared_ptr<Journal> journal;
        mutable std::mutex lock;
        std::optional<std::string> published;
    };

    class Service : public OSCZeroConfService {
    public:
        explicit Service(std::shared_ptr<Journal> journal) : journal(std::move(journal)) {}
        std::unique_ptr<Search> searchForRegistrationDomains(NameCallback found,
                                                             ErrorCallback failed) override {
            return silent->searchForRegistrationDomains(std::move(found), std::move(failed));
        }
        std::unique_ptr<Search> searchForServicesOfType(const std::string& type,
                                                        const std::string& domain,
                                                        NameCallback found, NameCallback removed,
                                                        ErrorCallback failed) override {
            return silent->searchForServicesOfType(type, domain, std::move(found),
                                                   std::move(removed), std::move(failed));
        }
        std::unique_ptr<Search> resolve(const std::string& name, const std::string& type,
                                        const std::string& domain,
                                        std::chrono::duration<double> timeout,
                                        AddressCallback resolved, ErrorCallback failed) override {
            return silent->resolve(name, type, domain, timeout, std::move(resolved),
                                   std::move(failed));
        }
        std::shared_ptr<OSCZeroConfPublisher> createPublisher() override {
            return std::make_shared<Publication>(journal);
        }

    private:
        std::shared_ptr<Journal> journal;
        std::shared_ptr<OSCZeroConfService> silent = OSCZeroConfService::createSilent();
    };

    std::shared_ptr<Journal> journal;
    std::shared_ptr<Service> recording;
};

}  // namespace vitrine::test

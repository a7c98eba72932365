#pragma once

#include <atomic>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "basics/NotificationCenter.h"
#include "osc/OSCManager.h"

namespace vitrine::test {

// Counts the three port-list notifications that one manager posts, as "in/about/changed". The
// counters exist before the observers do, so a notification may be counted on any thread.
class NotificationCount {
public:
    explicit NotificationCount(const std::shared_ptr<OSCManager>& manager) {
        for (const char* name : kNames) counts[name];
        for (const char* name : kNames) {
            tokens.push_back(NotificationCenter::defaultCenter().addObserver(
                name, manager, [this, name](const Notification&) { ++counts.at(name); }));
        }
    }
    std::string operator()() const {
        return std::to_string(counts.at(kNames[0])) + "/" + std::to_string(counts.at(kNames[1])) +
               "/" + std::to_string(counts.at(kNames[2]));
    }

private:
    static constexpr const char* kNames[] = {"OSCInPortsChangedNotification",
                                             "OSCOutPortsAboutToChangeNotification",
                                             "OSCOutPortsChangedNotification"};
    std::map<std::string, std::atomic<int>> counts;
    std::vector<NotificationCenter::Token> tokens;
};

}  // namespace vitrine::test

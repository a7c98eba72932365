#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

namespace vitrine {

// One announcement of a service on the local network by zero-configuration service discovery:
// a receiving port publishes itself under its label so that peers can find it. The process makes
// its publications through one replaceable factory; until the real service is plugged in, the
// installed factory makes publications that announce nothing but remember the name they were
// given, so a port still answers with the name it would be known by.
// Thread safety: implementations must allow publish, stop and name from any thread; a port calls
// them one at a time.
class OSCZeroConfPublisher {
public:
    using Factory = std::function<std::shared_ptr<OSCZeroConfPublisher>()>;

    virtual ~OSCZeroConfPublisher() = default;

    // Announces `name` as a service of `type` ("_osc._udp.") in `domain` ("local.") at `port`.
    virtual void publish(const std::string& domain, const std::string& type,
                         const std::string& name, uint16_t port) = 0;
    // Withdraws the announcement; the name stays readable.
    virtual void stop() = 0;
    // The name the service is announced under (the service may have renamed it), or nothing
    // before the first publish.
    virtual std::optional<std::string> name() const = 0;

    // A new unpublished publication from the installed factory; never empty.
    static std::shared_ptr<OSCZeroConfPublisher> create();
    // Installs the process-wide factory (empty puts the silent one back); returns the previous
    // one.
    static Factory setFactory(Factory factory);
};

}  // namespace vitrine

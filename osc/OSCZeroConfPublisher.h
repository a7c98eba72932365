#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

namespace vitrine {

// One announcement of a service on the local network by zero-configuration service discovery:
// a receiving port publishes itself under its label so that peers can find it. Publications come
// from the port's OSCZeroConfService.
// Thread safety: implementations must allow publish, stop and name from any thread; a port calls
// them one at a time, with its zeroConfLock held, so they must never wait for a search callback.
class OSCZeroConfPublisher {
public:
    virtual ~OSCZeroConfPublisher() = default;

    // Announces `name` as a service of `type` ("_osc._udp.") in `domain` ("local.") at `port`.
    virtual void publish(const std::string& domain, const std::string& type,
                         const std::string& name, uint16_t port) = 0;
    // Withdraws the announcement; the name stays readable.
    virtual void stop() = 0;
    // The name the service is announced under (the service may have renamed it), or nothing
    // before the first publish.
    virtual std::optional<std::string> name() const = 0;
};

}  // namespace vitrine

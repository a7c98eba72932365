#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "osc/OSCInPort.h"
#include "osc/OSCInPortDelegate.h"
#include "osc/OSCOutPort.h"

namespace vitrine {

// A stand-in for the showcase, for demos and tests on one machine: it listens for the
// controller's OSC messages, reports each scene as one line of its 24 levels once "/list" and
// "/list2" have both arrived, reports the master switch, and answers every "/is" with
// "/connected" 1 sent to the asking host on the answer port, as the showcase does. A silent
// simulator never answers, like a showcase that is switched off.
// Thread safety: distinct objects safe; shared objects safe. Messages are handled, and lines
// written, on the receiving port's thread.
class ShowcaseSimulator : public OSCInPortDelegate,
                          public std::enable_shared_from_this<ShowcaseSimulator> {
    struct Private {
        explicit Private() = default;
    };

public:
    struct Options {
        uint16_t port = 10000;        // where it listens; 0 lets the system choose
        uint16_t answerPort = 12000;  // where "/connected" goes on the asking host
        bool silent = false;
    };
    using Output = std::function<void(const std::string& line)>;

    // A listening simulator, or nothing (with the port's log lines) when its port cannot be
    // opened.
    static std::shared_ptr<ShowcaseSimulator> create(const Options& options, Output output);

    ShowcaseSimulator(Private, Options options, Output output);
    ~ShowcaseSimulator() override;
    ShowcaseSimulator(const ShowcaseSimulator&) = delete;
    ShowcaseSimulator& operator=(const ShowcaseSimulator&) = delete;

    // The port it listens on (the chosen one when it was asked for 0).
    uint16_t port() const;
    // Stops listening for good; waits for the receiving thread unless called on it.
    void stop();

    void receivedOSCMessage(const std::shared_ptr<OSCMessage>& message) override;

private:
    void answer(const std::shared_ptr<OSCMessage>& question);
    void write(const std::string& line);

    const Options options;
    const Output output;
    std::shared_ptr<OSCInPort> inPort;

    std::mutex lock;  // guards the fields below
    std::optional<std::array<int32_t, 12>> firstHalf;
    std::map<uint32_t, std::shared_ptr<OSCOutPort>> answerPorts;
};

}  // namespace vitrine

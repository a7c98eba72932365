#include "simulator/ShowcaseSimulator.h"

#include <vector>

#include "basics/Log.h"
#include "osc/OSCStringAdditions.h"
#include "osc/OSCValue.h"

namespace vitrine {

namespace {

// The twelve integer levels of a "/list" or "/list2", or nothing for any other shape.
std::optional<std::array<int32_t, 12>> twelveLevels(const OSCMessage& message) {
    if (message.valueCount() != 12) return std::nullopt;
    std::array<int32_t, 12> levels{};
    for (int32_t i = 0; i < 12; ++i) {
        const auto value = message.valueAtIndex(i);
        if (!value || value->type() != OSCValInt) return std::nullopt;
        levels[static_cast<size_t>(i)] = value->intValue();
    }
    return levels;
}

}  // namespace

std::shared_ptr<ShowcaseSimulator> ShowcaseSimulator::create(const Options& options,
                                                             Output output) {
    auto simulator = std::make_shared<ShowcaseSimulator>(Private{}, options, std::move(output));
    simulator->inPort = OSCInPort::createWithPort(options.port);
    if (!simulator->inPort) return nullptr;
    simulator->inPort->setDelegate(std::weak_ptr<OSCInPortDelegate>(simulator));
    simulator->inPort->start();
    return simulator;
}

ShowcaseSimulator::ShowcaseSimulator(Private, Options options, Output output)
    : options(options), output(std::move(output)) {}

ShowcaseSimulator::~ShowcaseSimulator() {
    stop();
}

uint16_t ShowcaseSimulator::port() const {
    return inPort ? inPort->port() : 0;
}

void ShowcaseSimulator::stop() {
    if (inPort) inPort->prepareToBeDeleted();
    std::lock_guard guard(lock);
    for (auto& [address, port] : answerPorts) port->prepareToBeDeleted();
    answerPorts.clear();
}

void ShowcaseSimulator::receivedOSCMessage(const std::shared_ptr<OSCMessage>& message) {
    if (!message || !message->address()) return;
    const std::string& address = *message->address();
    if (address == "/is") {
        if (!options.silent) answer(message);
        return;
    }
    if (address == "/switch") {
        const auto state = message->value();
        if (message->valueCount() == 1 && state->type() == OSCValInt) {
            write(state->intValue() == 0 ? "switch: off" : "switch: on");
            return;
        }
    } else if (address == "/list" || address == "/list2") {
        if (const auto levels = twelveLevels(*message)) {
            std::string line;
            {
                std::lock_guard guard(lock);
                if (address == "/list") {
                    firstHalf = levels;
                    return;
                }
                // A "/list2" without its "/list" is half a scene; the next pair is whole.
                if (!firstHalf) return;
                line = "scene:";
                for (const int32_t level : *firstHalf) line += " " + std::to_string(level);
                for (const int32_t level : *levels) line += " " + std::to_string(level);
                firstHalf.reset();
            }
            write(line);
            return;
        }
    }
    write("ignored: " + message->description());
}

void ShowcaseSimulator::answer(const std::shared_ptr<OSCMessage>& question) {
    const uint32_t from = question->queryTXAddress();
    if (from == 0) return;
    std::shared_ptr<OSCOutPort> port;
    {
        std::lock_guard guard(lock);
        auto& known = answerPorts[from];
        if (!known)
            known = OSCOutPort::createWithAddress(stringFromRawIPAddress(from), options.answerPort);
        port = known;
    }
    const auto reply = OSCMessage::createWithAddress("/connected");
    if (!port || !reply) return;
    reply->addInt(1);
    port->sendThisMessage(reply);
}

void ShowcaseSimulator::write(const std::string& line) {
    if (output) output(line);
}

}  // namespace vitrine

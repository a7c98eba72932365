#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "basics/MutLockArray.h"
#include "osc/OSCInPort.h"
#include "osc/OSCInPortDelegate.h"
#include "osc/OSCManagerDelegate.h"
#include "osc/OSCMessage.h"
#include "osc/OSCOutPort.h"
#include "osc/OSCPortSnapshot.h"
#include "osc/OSCQueryReply.h"
#include "osc/OSCQueryReplyDelegate.h"
#include "osc/OSCZeroConfManager.h"

namespace vitrine {

// Owns, labels and finds a set of receiving ports and a set of sending ports, and announces
// every change of either set on the default notification centre with the manager as sender:
// "OSCInPortsChangedNotification", "OSCOutPortsAboutToChangeNotification" and
// "OSCOutPortsChangedNotification". It is the delegate of each of its receiving ports and passes
// what they hear on to its own delegate. Each manager owns a zero-conf manager.
//
// Each port list is a MutLockArray with its own lock; no operation holds both, and notifications
// are posted with no lock held.
// Thread safety: distinct objects safe; shared objects safe. Ports follow their own rules (a
// receiving port's stop waits only on the main thread).
class OSCManager : public OSCInPortDelegate, public std::enable_shared_from_this<OSCManager> {
    struct Private {
        explicit Private() = default;
    };

public:
    using InPortFactory = std::function<std::shared_ptr<OSCInPort>(
        uint16_t port, const std::optional<std::string>& label)>;
    using OutPortFactory = std::function<std::shared_ptr<OSCOutPort>(
        const std::optional<std::string>& address, uint16_t port,
        const std::optional<std::string>& label)>;
    using InPortList = MutLockArray<OSCInPort>;
    using OutPortList = MutLockArray<OSCOutPort>;
    using ReplyBlock = OSCQueryReply::ReplyBlock;

    static constexpr const char* kDefaultServiceType = "_osc._udp";

    // Browsing for "_osc._udp" services.
    static std::shared_ptr<OSCManager> create();
    static std::shared_ptr<OSCManager> createWithServiceType(
        const std::optional<std::string>& serviceType);
    // Empty factories keep the defaults (OSCInPort::createWithPort, OSCOutPort::createWithAddress).
    static std::shared_ptr<OSCManager> createWithInPortClass(
        InPortFactory inPortClass, OutPortFactory outPortClass,
        const std::optional<std::string>& serviceType = std::string(kDefaultServiceType),
        std::shared_ptr<OSCZeroConfService> zeroConfService = OSCZeroConfService::createDefault());
    // Discovers through the given facility (an empty one finds nothing).
    static std::shared_ptr<OSCManager> createWithZeroConfService(
        std::shared_ptr<OSCZeroConfService> zeroConfService,
        const std::optional<std::string>& serviceType = std::string(kDefaultServiceType));

    OSCManager(Private, InPortFactory inPortClass, OutPortFactory outPortClass);
    ~OSCManager() override;
    OSCManager(const OSCManager&) = delete;
    OSCManager& operator=(const OSCManager&) = delete;

    // ---- Receiving ports ----
    // A started port with the manager as delegate, or nothing when a port already has that
    // number or that label, or the port cannot be opened. Only the low 16 bits of the number are
    // used; 0 lets the system choose a free port.
    std::shared_ptr<OSCInPort> createNewInputForPort(int32_t port,
                                                     const std::optional<std::string>& label);
    std::shared_ptr<OSCInPort> createNewInputForPort(int32_t port);
    // The first of ports 1234 to 65535 that can be opened.
    std::shared_ptr<OSCInPort> createNewInput();
    // "port" (1234 when absent) and "portLabel" (a generated one when absent).
    std::shared_ptr<OSCInPort> createNewInputFromSnapshot(const OSCPortSnapshot* snapshot);
    std::shared_ptr<OSCInPort> findInputWithLabel(const std::optional<std::string>& label);
    // All ports with the label in list order; nothing when none or without a label.
    std::optional<std::vector<std::shared_ptr<OSCInPort>>> findInputsWithLabel(
        const std::optional<std::string>& label);
    std::shared_ptr<OSCInPort> findInputWithZeroConfName(const std::optional<std::string>& name);
    // Stops the port and takes it out of the list; the port closes when its last holder lets go.
    void removeInput(const std::shared_ptr<OSCInPort>& port);
    void deleteAllInputs();
    // "<host name> <label base> <n>" with the first n that no port of either list uses.
    std::string getUniqueInputLabel();
    bool isUniqueInputLabel(const std::optional<std::string>& label);
    std::string inPortLabelBase() const;
    // An absent base is ignored.
    void setInPortLabelBase(const std::optional<std::string>& base);

    // ---- Sending ports ----
    // Nothing without an address or label, or for a port below 1024 (then no notification is
    // posted); nothing when a sending port already has the label. Two ports may share a
    // destination.
    std::shared_ptr<OSCOutPort> createNewOutputToAddress(const std::optional<std::string>& address,
                                                         int32_t port,
                                                         const std::optional<std::string>& label);
    std::shared_ptr<OSCOutPort> createNewOutputToAddress(const std::optional<std::string>& address,
                                                         int32_t port);
    // To 127.0.0.1 at the first of ports 1234 to 65535 that works.
    std::shared_ptr<OSCOutPort> createNewOutput();
    // Needs "address" and "port"; "portLabel" is generated when absent.
    std::shared_ptr<OSCOutPort> createNewOutputFromSnapshot(const OSCPortSnapshot* snapshot);
    std::shared_ptr<OSCOutPort> findOutputWithLabel(const std::optional<std::string>& label);
    std::optional<std::vector<std::shared_ptr<OSCOutPort>>> findOutputsWithLabel(
        const std::optional<std::string>& label);
    std::shared_ptr<OSCOutPort> findOutputWithAddress(const std::optional<std::string>& address,
                                                      int32_t port);
    // Address and port in network byte order, as a received datagram's source carries them.
    std::shared_ptr<OSCOutPort> findOutputWithRawAddress(uint32_t address, uint16_t port);
    std::shared_ptr<OSCOutPort> findOutputWithRawAddress(uint32_t address);
    std::shared_ptr<OSCOutPort> findOutputForIndex(int32_t index);
    void removeOutput(const std::shared_ptr<OSCOutPort>& port);
    // Removes the first port with the label.
    void removeOutputWithLabel(const std::optional<std::string>& label);
    // Empties the list without closing the ports.
    void removeAllOutputs();
    // Closes every port and empties the list.
    void deleteAllOutputs();
    // "OSC Out Port <n>" with the first n that no sending port uses.
    std::string getUniqueOutputLabel();
    std::vector<std::string> outPortLabelArray();

    // ---- Messages, queries, replies ----
    // From a receiving port, on its thread: handed on to the delegate, if it listens.
    void receivedOSCMessage(const std::shared_ptr<OSCMessage>& message) override;
    // Sent through the first receiving port; nothing without one.
    void dispatchQuery(const std::shared_ptr<OSCMessage>& query,
                       const std::shared_ptr<OSCOutPort>& outPort, float timeout,
                       ReplyBlock replyHandler);
    void dispatchQuery(const std::shared_ptr<OSCMessage>& query,
                       const std::shared_ptr<OSCOutPort>& outPort, float timeout,
                       const std::shared_ptr<OSCQueryReplyDelegate>& replyDelegate);
    // Sends a reply or error back to where its question came from, through an existing sending
    // port to that address and port or a new one made for it.
    void transmitReplyOrError(const std::shared_ptr<OSCMessage>& message);

    // This host's IPv4 addresses other than 127.0.0.1, in interface order; nothing when there
    // are none.
    static std::optional<std::vector<std::string>> hostIPv4Addresses();

    // ---- Accessors ----
    std::shared_ptr<OSCManagerDelegate> delegate() const;
    // Set it before the first port is created; it is not kept alive.
    void setDelegate(const std::weak_ptr<OSCManagerDelegate>& newDelegate);
    const InPortFactory& inPortClass() const { return inFactory; }
    const OutPortFactory& outPortClass() const { return outFactory; }
    // The lists themselves, for callers that lock them as MutLockArray describes.
    const std::shared_ptr<InPortList>& inPortArray() const { return inPorts; }
    const std::shared_ptr<OutPortList>& outPortArray() const { return outPorts; }
    const std::shared_ptr<OSCZeroConfManager>& zeroConfManager() const { return zeroConf; }

private:
    static std::shared_ptr<OSCManager> createManager(InPortFactory inPortClass,
                                                     OutPortFactory outPortClass,
                                                     const std::optional<std::string>& serviceType,
                                                     std::shared_ptr<OSCZeroConfService> service);
    void post(const char* name);

    std::shared_ptr<InPortList> inPorts;
    std::shared_ptr<OutPortList> outPorts;
    mutable std::mutex delegateLock;
    std::weak_ptr<OSCManagerDelegate> delegateRef;
    std::shared_ptr<OSCZeroConfManager> zeroConf;
    const InPortFactory inFactory;
    mutable std::mutex labelBaseLock;
    std::string labelBase = "VAZIZ";
    const OutPortFactory outFactory;
};

}  // namespace vitrine

#pragma once

#include <netinet/in.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <limits>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "basics/Log.h"
#include "basics/MutLockDict.h"
#include "basics/SpinLock.h"
#include "basics/XJStopwatch.h"
#include "osc/OSCInPortDelegate.h"
#include "osc/OSCMessage.h"
#include "osc/OSCMessageReceiver.h"
#include "osc/OSCOutPort.h"
#include "osc/OSCPortSnapshot.h"
#include "osc/OSCQueryReply.h"
#include "osc/OSCQueryReplyDelegate.h"
#include "osc/OSCZeroConfPublisher.h"
#include "osc/OSCZeroConfService.h"
#include "osc/UdpSocket.h"

namespace vitrine {

// A UDP socket bound to one local port on every IPv4 interface, with a receiving thread of its
// own. Each pass the thread waits up to 1 ms for the socket, drains the waiting datagrams into
// the port's one receive buffer, parses them, and only then delivers the pass's messages in
// arrival order outside all locks: replies and errors to the questions they answer, everything
// else to the delegate.
//
// A pass is bounded, so that whatever arrives the port holds little and answers keep flowing:
// it delivers once it has parsed kMostBytesPerPass bytes of datagrams or holds
// kMostMessagesPerPass messages, or kLongestPass after it began, and the next pass goes on
// draining where it stopped. A datagram parses into at most 64 bytes of messages and values per
// byte received, so a pass holds at most about 16 MiB. The lines the parser and the port write
// about bad datagrams are throttled per port (LogThrottle: five of each kind a second, then a
// count), and texts from the network appear in them cut to a short prefix. The port also sends
// questions out of its own socket (so their answers come back here), answers questions that ran out
// of time with an error, and announces itself on the network under its label about a second after
// it starts.
//
// The main-thread rule: stop (and with it setPort, setPortLabel) must run on the main thread
// (MainLoop::current()) to wait for the receiving thread; called elsewhere, stop is posted there
// and returns at once.
// Thread safety: distinct objects safe; shared objects safe, with the main-thread rule above.
// The delegate and query handlers run on the receiving thread.
class OSCInPort : public OSCMessageReceiver, public std::enable_shared_from_this<OSCInPort> {
    struct Private {
        explicit Private() = default;
    };

public:
    using ReplyBlock = OSCQueryReply::ReplyBlock;

    // The largest UDP payload over IPv4, and the size of each port's receive buffer.
    static constexpr int kBufferSize = 65506;
    static constexpr size_t kMostBytesPerPass = 256 * 1024;
    static constexpr size_t kMostMessagesPerPass = 1024;
    static constexpr std::chrono::milliseconds kLongestPass{20};

    // A bound but not yet started port, or nothing (after "\t\terr: -[OSCInPort
    // initWithPort:labelled:] - BAIL") when the socket cannot be made or bound. Port 0 lets the
    // system choose a free port, which the port then reports as its own.
    static std::shared_ptr<OSCInPort> createWithPort(
        uint16_t port, const std::optional<std::string>& label = std::nullopt);

    OSCInPort(Private, uint16_t port, std::optional<std::string> label);
    ~OSCInPort() override;
    OSCInPort(const OSCInPort&) = delete;
    OSCInPort& operator=(const OSCInPort&) = delete;

    // "<OSCInPort: 12000>"
    std::string description() const;
    // "port" and, when labelled, "portLabel".
    OSCPortSnapshot createSnapshot() const;

    uint16_t port() const { return portNumber.load(); }
    std::optional<std::string> portLabel() const;
    bool bound() const { return isBound.load(); }
    std::shared_ptr<OSCInPortDelegate> delegate() const;
    void setDelegate(const std::weak_ptr<OSCInPortDelegate>& newDelegate);
    // The name of the current announcement as finally registered (the network may have renamed
    // it), also after stop withdrew it; nothing before the first.
    std::optional<std::string> zeroConfName() const;
    // Where the port announces itself from its next publication on; the manager hands each of
    // its ports its own facility. Until then, and for an empty one, announcements stay silent.
    void setZeroConfService(std::shared_ptr<OSCZeroConfService> service);
    // "0.0.0.0" (the port listens on every interface); nothing when deleted or unbound.
    std::optional<std::string> ipAddressString() const;
    double interval() const { return pause.load(); }
    // Pause after each pass; negative values and NaN store 0.
    void setInterval(double seconds);
    // How long a pass waits, after each datagram, for another before it delivers what it has:
    // 1000 µs by default. 0 delivers as soon as the socket has nothing waiting, which with an
    // interval of 0 brings a round trip close to the socket's own; values are held to 0 .. 1000.
    int32_t drainWaitMicroseconds() const { return drainWait.load(); }
    void setDrainWaitMicroseconds(int32_t microseconds);

    // Launches the receiving thread unless one is running; the announcement starts over.
    void start();
    // Withdraws the announcement and ends the receiving thread: on the main thread it returns
    // once the thread has ended, elsewhere it is posted to the main thread and returns at once.
    void stop();
    // Moves to another port (main thread only). When the new port cannot be bound the port goes
    // back to its previous one; if even that fails it stays stopped and unbound.
    void setPort(uint16_t newPort);
    // Restarts under the new label and posts "OSCInPortsChangedNotification" (main thread only).
    // An equal, present label changes nothing.
    void setPortLabel(const std::optional<std::string>& label);
    // Clears the delegate, ends the thread and closes the socket for good. Any thread; waits for
    // the receiving thread unless called on it.
    void prepareToBeDeleted();

    // Files the question under its reply address and sends it from this port's socket to the
    // out-port's destination; the answer, or an error once `timeout` seconds have passed, goes
    // to the handler (or the weakly held delegate) on the receiving thread. Nothing for a missing
    // argument, a port without socket, or a message that is not a query.
    void dispatchQuery(const std::shared_ptr<OSCMessage>& query,
                       const std::shared_ptr<OSCOutPort>& outPort, float timeout,
                       ReplyBlock replyHandler);
    void dispatchQuery(const std::shared_ptr<OSCMessage>& query,
                       const std::shared_ptr<OSCOutPort>& outPort, float timeout,
                       const std::shared_ptr<OSCQueryReplyDelegate>& replyDelegate);
    // Sends without filing anything. Nothing for a missing argument, a deleted port, a port
    // without socket, or a message that is not a query.
    void _dispatchQuery(const std::shared_ptr<OSCMessage>& query,
                        const std::shared_ptr<OSCOutPort>& outPort);

    // Decoder callback: gathers one parsed message for this pass's delivery.
    void _addMessage(const std::shared_ptr<OSCMessage>& message) override;
    // Hands one datagram (address and port in network order, as received) to the packet parser.
    void parseRawBuffer(const uint8_t* buffer, int32_t length, uint32_t txAddress, uint16_t txPort);
    // Delivers one pass's messages; see the class comment.
    void handleScratchArray(const std::vector<std::shared_ptr<OSCMessage>>& messages);

    // Questions still waiting for their answer.
    uint64_t _pendingQueryCount() { return queryDict->lockCount(); }
    // True while a receiving thread is running.
    bool _threadRunning() const;

private:
    struct ThreadControl;

    bool createSocket();
    void closeSocket();
    // One pass of the receiving loop; false when the loop must end.
    bool runPass(ThreadControl& control);
    // Drains the socket into the scratch array; `now` is the time of its last datagram.
    bool receiveStep(ThreadControl& control, std::chrono::steady_clock::time_point& now);
    size_t scratchCount();
    void expireQueries();
    void publishIfDue();
    void withdrawPublication();
    // Cancels the receiving thread and, unless called on it, waits for it to end.
    void endThread();
    static void threadMain(std::weak_ptr<OSCInPort> weakPort,
                           std::shared_ptr<ThreadControl> control);
    void fileQuery(const std::shared_ptr<OSCMessage>& query,
                   const std::shared_ptr<OSCOutPort>& outPort,
                   const std::shared_ptr<OSCQueryReply>& reply);

    std::atomic<bool> deleted{false};
    std::atomic<bool> isBound{false};

    // Guards sock: creation, closing, the whole drain of the socket, and the sending of queries.
    // A mutex rather than a spin lock, since a drain may hold it for a while.
    mutable std::mutex socketLock;
    UdpSocket sock;
    std::atomic<uint16_t> portNumber;
    std::vector<uint8_t> buf;
    std::atomic<double> pause{0.01};
    std::atomic<int32_t> drainWait{1000};

    LogThrottle logThrottle;

    SpinLock scratchLock;
    std::vector<std::shared_ptr<OSCMessage>> scratchArray;
    // The pass being delivered; only the receiving thread touches it.
    std::vector<std::shared_ptr<OSCMessage>> deliveryArray;

    // Serialises start, stop and the end of the thread; never taken by the receiving thread.
    mutable std::mutex threadLock;
    std::jthread thread;
    std::shared_ptr<ThreadControl> threadControl;

    XJStopwatch timeoutSWatch;
    // Before this no pass asks timeoutSWatch; only the receiving thread uses it.
    std::chrono::steady_clock::time_point queryCheck =
        std::chrono::steady_clock::now() + std::chrono::milliseconds(500);
    std::shared_ptr<MutLockDict<OSCQueryReply>> queryDict;

    mutable SpinLock labelLock;
    std::optional<std::string> label;

    // Guards the stopwatch and the publication; held across publish and stop, which is why it is
    // a mutex.
    mutable std::mutex zeroConfLock;
    XJStopwatch zeroConfSwatch;
    // Steady-clock nanoseconds before which no pass looks for a due publication: set by start to
    // a second after it, by setPortLabel to now, and to never once nothing is left to publish.
    std::atomic<int64_t> publicationCheck{std::numeric_limits<int64_t>::max()};
    std::shared_ptr<OSCZeroConfPublisher> zeroConfDest;
    std::shared_ptr<OSCZeroConfService> zeroConfService;

    mutable SpinLock delegateLock;
    std::weak_ptr<OSCInPortDelegate> delegateRef;
};

}  // namespace vitrine

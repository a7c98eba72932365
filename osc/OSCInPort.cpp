#include "osc/OSCInPort.h"

#include <arpa/inet.h>
#include <poll.h>
#include <pthread.h>
#include <sched.h>
#include <sys/socket.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <exception>
#include <limits>
#include <stop_token>
#include <utility>

#include "basics/Date.h"
#include "basics/Log.h"
#include "basics/MainLoop.h"
#include "basics/NotificationCenter.h"
#include "osc/OSCPacket.h"
#include "osc/OSCStringAdditions.h"

namespace vitrine {

namespace {

constexpr const char* kThreadProcName = "-[OSCInPort OSCThreadProc]";
constexpr const char* kInPortsChanged = "OSCInPortsChangedNotification";
// How long one wait on the socket may block.
constexpr int kWaitMilliseconds = 1;
// A sender that keeps the socket busy must not keep a pass draining forever: past this many
// datagrams the pass delivers what it has and the rest waits for the next pass. The socket's
// buffer holds far fewer small datagrams than this, so in normal traffic every pass still
// drains the socket completely.
constexpr int kMostDatagramsPerPass = 4096;
// Bounds one sleep so the conversion to a clock duration cannot overflow.
constexpr double kLongestSleep = 1.0e6;
constexpr double kQueryCheckPeriod = 0.5;
constexpr double kPublicationDelay = 1.0;
using SteadyClock = std::chrono::steady_clock;
constexpr int64_t kNever = std::numeric_limits<int64_t>::max();

int64_t steadyNanoseconds(SteadyClock::time_point time) {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(time.time_since_epoch()).count();
}

// The port whose receiving thread this is, so that the port never waits for its own thread.
thread_local const OSCInPort* portOfThisThread = nullptr;

// Asks for the top of the priority range of the thread's own policy. Under the default
// time-sharing policy that range is a single value, so there is nothing to change.
void raiseThreadPriority() {
    int policy = 0;
    sched_param param{};
    if (pthread_getschedparam(pthread_self(), &policy, &param) != 0) return;
    const int highest = sched_get_priority_max(policy);
    if (highest < 0 || param.sched_priority >= highest) return;
    param.sched_priority = highest;
    pthread_setschedparam(pthread_self(), policy, &param);
}

}  // namespace

// Shared between a port and its receiving thread, so that the thread can finish its last sleep
// and leave even when the port has already been destroyed.
struct OSCInPort::ThreadControl {
    std::stop_source cancel;
    std::atomic<bool> running{true};
    std::mutex sleepLock;
    std::condition_variable_any sleepCondition;
};

// The receiving thread's own control, for a port that cancels itself from a delegate callback.
namespace {
thread_local std::stop_source* cancelOfThisThread = nullptr;
}

OSCInPort::OSCInPort(Private, uint16_t port, std::optional<std::string> portLabel)
    : portNumber(port),
      buf(kBufferSize),
      logThrottle("<OSCInPort>"),
      queryDict(std::make_shared<MutLockDict<OSCQueryReply>>()),
      label(std::move(portLabel)) {
    // Room for a full pass from the start, so that no pass grows them.
    scratchArray.reserve(kMostMessagesPerPass);
    deliveryArray.reserve(kMostMessagesPerPass);
}

std::shared_ptr<OSCInPort> OSCInPort::createWithPort(uint16_t port,
                                                     const std::optional<std::string>& label) {
    auto inPort = std::make_shared<OSCInPort>(Private{}, port, label);
    bool created;
    {
        std::lock_guard guard(inPort->socketLock);
        created = inPort->createSocket();
    }
    inPort->isBound.store(created);
    if (!created) {
        Log::write("\t\terr: %s - BAIL", "-[OSCInPort initWithPort:labelled:]");
        return nullptr;
    }
    return inPort;
}

OSCInPort::~OSCInPort() {
    deleted.store(true);
    {
        std::lock_guard guard(delegateLock);
        delegateRef.reset();
    }
    {
        std::lock_guard guard(zeroConfLock);
        if (zeroConfDest) zeroConfDest->stop();
        zeroConfDest.reset();
    }
    // No one else holds the port, so no start or stop can be under way; the receiving thread
    // may be the one dropping the last share, and then it must not wait for itself.
    std::jthread ending;
    {
        std::lock_guard guard(threadLock);
        if (threadControl) threadControl->cancel.request_stop();
        if (thread.joinable()) {
            if (portOfThisThread == this) {
                thread.detach();
            } else {
                ending = std::move(thread);
            }
        }
    }
    if (ending.joinable()) ending.join();
    closeSocket();
}

bool OSCInPort::createSocket() {
    sock = UdpSocket::open();
    if (!sock.valid()) return false;

    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(portNumber.load());
    addr.sin_addr.s_addr = htonl(INADDR_ANY);
    if (bind(sock.fd(), reinterpret_cast<const sockaddr*>(&addr), sizeof addr) != 0) {
        Log::write("\t\terr: couldn't bind socket for OSC");
        return false;
    }
    if (portNumber.load() == 0) {
        // The system chose the port; report the one that really listens.
        sockaddr_in chosen{};
        socklen_t length = sizeof chosen;
        if (getsockname(sock.fd(), reinterpret_cast<sockaddr*>(&chosen), &length) == 0)
            portNumber.store(ntohs(chosen.sin_port));
    }
    const int bufferSize = kBufferSize;
    if (setsockopt(sock.fd(), SOL_SOCKET, SO_RCVBUF, &bufferSize, sizeof bufferSize) != 0)
        Log::write("\t\terr %d at setsockopt() in %s", errno, "-[OSCInPort createSocket]");
    return true;
}

void OSCInPort::closeSocket() {
    std::lock_guard guard(socketLock);
    sock.close();
}

std::string OSCInPort::description() const {
    return stringWithFormat("<OSCInPort: %u>", static_cast<unsigned>(portNumber.load()));
}

OSCPortSnapshot OSCInPort::createSnapshot() const {
    OSCPortSnapshot snapshot;
    snapshot.emplace("port", int64_t{portNumber.load()});
    if (auto current = portLabel()) snapshot.emplace("portLabel", std::move(*current));
    return snapshot;
}

std::optional<std::string> OSCInPort::portLabel() const {
    std::lock_guard guard(labelLock);
    return label;
}

std::shared_ptr<OSCInPortDelegate> OSCInPort::delegate() const {
    std::lock_guard guard(delegateLock);
    return delegateRef.lock();
}

void OSCInPort::setDelegate(const std::weak_ptr<OSCInPortDelegate>& newDelegate) {
    std::lock_guard guard(delegateLock);
    delegateRef = newDelegate;
}

std::optional<std::string> OSCInPort::zeroConfName() const {
    std::lock_guard guard(zeroConfLock);
    if (!zeroConfDest) return std::nullopt;
    return zeroConfDest->name();
}

void OSCInPort::setZeroConfService(std::shared_ptr<OSCZeroConfService> service) {
    std::lock_guard guard(zeroConfLock);
    zeroConfService = std::move(service);
}

std::optional<std::string> OSCInPort::ipAddressString() const {
    if (deleted.load() || !isBound.load()) return std::nullopt;
    sockaddr_in local{};
    socklen_t length = sizeof local;
    {
        std::lock_guard guard(socketLock);
        if (!sock.valid() ||
            getsockname(sock.fd(), reinterpret_cast<sockaddr*>(&local), &length) != 0)
            return std::nullopt;
    }
    return stringFromRawIPAddress(local.sin_addr.s_addr);
}

void OSCInPort::setInterval(double seconds) {
    // Written so that NaN, which fails every comparison, stores 0.
    pause.store(seconds > 0 ? seconds : 0.0);
}

// ---- Thread ----

void OSCInPort::start() {
    if (deleted.load() || portOfThisThread == this) return;
    auto self = weak_from_this();
    if (self.expired()) return;
    {
        std::lock_guard guard(threadLock);
        if (threadControl && threadControl->running.load() &&
            !threadControl->cancel.stop_requested())
            return;
        // A cancelled thread may still be finishing its last pass.
        if (thread.joinable()) {
            if (threadControl) threadControl->cancel.request_stop();
            thread.join();
        }
        // Marked as running before the thread exists, so that a second start launches nothing.
        threadControl = std::make_shared<ThreadControl>();
        thread = std::jthread([weakPort = std::move(self), control = threadControl] {
            threadMain(weakPort, control);
        });
    }
    std::lock_guard guard(zeroConfLock);
    if (zeroConfDest) zeroConfDest->stop();
    zeroConfDest.reset();
    zeroConfSwatch.start();
    publicationCheck.store(steadyNanoseconds(SteadyClock::now() +
                                             std::chrono::duration_cast<SteadyClock::duration>(
                                                 std::chrono::duration<double>(kPublicationDelay))));
}

bool OSCInPort::_threadRunning() const {
    std::lock_guard guard(threadLock);
    return threadControl && threadControl->running.load();
}

void OSCInPort::stop() {
    const auto mainLoop = MainLoop::current();
    if (!mainLoop->isMainThread()) {
        mainLoop->post([weakPort = weak_from_this()] {
            if (const auto port = weakPort.lock()) port->stop();
        });
        return;
    }
    withdrawPublication();
    endThread();
}

void OSCInPort::endThread() {
    if (portOfThisThread == this) {
        if (cancelOfThisThread) cancelOfThisThread->request_stop();
        return;
    }
    std::jthread ending;
    {
        std::lock_guard guard(threadLock);
        if (threadControl) threadControl->cancel.request_stop();
        ending = std::move(thread);
    }
    // Joined outside threadLock: the thread may be delivering to a delegate that starts or
    // stops other ports meanwhile.
    if (ending.joinable()) ending.join();
}

void OSCInPort::withdrawPublication() {
    std::lock_guard guard(zeroConfLock);
    if (zeroConfDest) zeroConfDest->stop();
}

void OSCInPort::threadMain(std::weak_ptr<OSCInPort> weakPort,
                           std::shared_ptr<ThreadControl> control) {
    const std::stop_token cancelled = control->cancel.get_token();
    cancelOfThisThread = &control->cancel;
    {
        const auto port = weakPort.lock();
        portOfThisThread = port.get();
        // Only this thread uses the throttle; the port number is settled by now.
        if (port) port->logThrottle.setSource(port->description());
    }
    raiseThreadPriority();

    while (!cancelled.stop_requested()) {
        double sleep = 0;
        {
            // The thread holds the port only during a pass, so the port can be destroyed while
            // the thread sleeps (its destructor cancels and joins), and if the last share is
            // dropped here the destructor runs on this thread and lets it go.
            const auto port = weakPort.lock();
            if (!port || !port->isBound.load()) break;
            if (!port->runPass(*control)) break;
            sleep = port->pause.load();
        }
        if (cancelled.stop_requested()) break;
        if (sleep > 0) {
            if (sleep > kLongestSleep) sleep = kLongestSleep;
            std::unique_lock lock(control->sleepLock);
            control->sleepCondition.wait_for(lock, cancelled, std::chrono::duration<double>(sleep),
                                             [] { return false; });
        }
    }
    portOfThisThread = nullptr;
    cancelOfThisThread = nullptr;
    control->running.store(false);
}

bool OSCInPort::runPass(ThreadControl& control) {
    bool goOn = true;
    try {
        SteadyClock::time_point now;
        goOn = receiveStep(control, now);

        // The two arrays trade places each pass and keep their room, so that gathering and
        // delivering allocate nothing.
        deliveryArray.clear();
        {
            std::lock_guard guard(scratchLock);
            deliveryArray.swap(scratchArray);
        }
        if (!deliveryArray.empty()) {
            handleScratchArray(deliveryArray);
            // Released now rather than at the next pass: the delegate may expect a message it
            // did not keep to be gone once delivered.
            deliveryArray.clear();
        }

        // The pass's own reading of the clock says when the stopwatches are worth asking: most
        // passes then read no other clock and take no other lock.
        if (now >= queryCheck && timeoutSWatch.timeSinceStart() > kQueryCheckPeriod) {
            expireQueries();
            queryCheck = SteadyClock::now() + std::chrono::duration_cast<SteadyClock::duration>(
                                                  std::chrono::duration<double>(kQueryCheckPeriod));
        }
        if (steadyNanoseconds(now) >= publicationCheck.load(std::memory_order_relaxed))
            publishIfDue();
    } catch (const std::exception& exception) {
        Log::write("\t\t%s caught exception %s on %s", kThreadProcName, exception.what(),
                   description().c_str());
    } catch (...) {
        Log::write("\t\t%s caught exception %s on %s", kThreadProcName, "(unknown exception)",
                   description().c_str());
    }
    return goOn;
}

bool OSCInPort::receiveStep(ThreadControl& control, std::chrono::steady_clock::time_point& now) {
    // Until the first datagram, the pass's time is that of its start.
    SteadyClock::time_point passStart{};
    // Read once a pass: a change applies from the next pass on.
    const long confirmWait = drainWait.load();
    size_t passBytes = 0;
    for (int received = 0; received < kMostDatagramsPerPass; ++received) {
        sockaddr_in from{};
        from.sin_family = AF_INET;
        socklen_t fromLength = sizeof from;
        ssize_t length = 0;
        int readError = 0;
        bool closed = false;
        {
            // Held for the wait and the read only: queries may be sent meanwhile parsing.
            std::lock_guard guard(socketLock);
            if (!sock.valid()) {
                closed = true;
            } else if (received > 0 && confirmWait == 0) {
                // With nothing to wait for, one read that does not block both confirms the drain
                // and takes the next datagram: a system call less per datagram.
                length = recvfrom(sock.fd(), buf.data(), kBufferSize, MSG_DONTWAIT,
                                  reinterpret_cast<sockaddr*>(&from), &fromLength);
                readError = length < 0 ? errno : 0;
                if (readError == EAGAIN || readError == EWOULDBLOCK || readError == EINTR) break;
                closed = readError == EBADF || readError == ENOTSOCK;
            } else {
                pollfd waited{sock.fd(), POLLIN, 0};
                // The first wait of a pass waits for traffic; the later ones confirm the drain.
                const long waitMicroseconds = received == 0 ? kWaitMilliseconds * 1000L : confirmWait;
                const timespec timeout{0, waitMicroseconds * 1000L};
                const int ready = ::ppoll(&waited, 1, &timeout, nullptr);
                if (ready < 0 && errno == EINTR) break;
                closed = ready < 0 || (ready > 0 && (waited.revents & POLLNVAL));
                if (ready == 0) break;
                if (!closed) {
                    length = recvfrom(sock.fd(), buf.data(), kBufferSize, 0,
                                      reinterpret_cast<sockaddr*>(&from), &fromLength);
                    readError = length < 0 ? errno : 0;
                }
            }
        }
        if (closed) {
            Log::write("\t\terr: socket got closed unexpectedly");
            // From this thread stop is handed to the main thread; the loop ends here rather
            // than failing on every pass until the main thread gets to it.
            stop();
            control.cancel.request_stop();
            return false;
        }

        const LogThrottle::Scope quiet(logThrottle);
        if (length <= 0) {
            Log::write("\t\terr on recvfrom: %i", readError);
        } else if (length % 4 != 0) {
            // Also what an oversized datagram looks like: it arrives cut to the buffer's size.
            Log::write("\t\terr: bytes isn't multiple of 4 in %s", kThreadProcName);
        } else {
            // Such a length is below the buffer's size, so the terminator stays inside it.
            buf[static_cast<size_t>(length)] = 0;
            parseRawBuffer(buf.data(), static_cast<int32_t>(length), from.sin_addr.s_addr,
                           from.sin_port);
            passBytes += static_cast<size_t>(length);
        }
        // The clock is read once per datagram: the longest pass counts from the first.
        now = SteadyClock::now();
        if (received == 0) passStart = now;
        if (passBytes >= kMostBytesPerPass || scratchCount() >= kMostMessagesPerPass ||
            now - passStart >= kLongestPass) {
            break;
        }
    }
    if (passStart == SteadyClock::time_point{}) now = SteadyClock::now();
    logThrottle.flush();
    return true;
}

size_t OSCInPort::scratchCount() {
    std::lock_guard guard(scratchLock);
    return scratchArray.size();
}

void OSCInPort::setDrainWaitMicroseconds(int32_t microseconds) {
    drainWait.store(std::clamp(microseconds, int32_t{0}, kWaitMilliseconds * 1000));
}

void OSCInPort::parseRawBuffer(const uint8_t* buffer, int32_t length, uint32_t txAddress,
                               uint16_t txPort) {
    OSCPacket::parseRawBuffer(buffer, length, this, txAddress, txPort);
}

void OSCInPort::_addMessage(const std::shared_ptr<OSCMessage>& message) {
    if (!message) return;
    std::lock_guard guard(scratchLock);
    scratchArray.push_back(message);
}

void OSCInPort::handleScratchArray(const std::vector<std::shared_ptr<OSCMessage>>& messages) {
    const auto receiver = delegate();
    if (!receiver) return;
    for (const auto& message : messages) {
        if (!message) continue;
        switch (message->messageType()) {
            case OSCMessageTypeReply:
            case OSCMessageTypeError: {
                // A question is identified by its reply address; an answer to a question that
                // carried values identifies it by a blob instead, which matches nothing here.
                const auto first = message->value();
                if (!first || first->type() != OSCValString) break;
                std::shared_ptr<OSCQueryReply> pending;
                {
                    // Looked up in place: a key made from the reply's text would copy it.
                    auto guard = queryDict->writeLocked();
                    auto& pendingQueries = queryDict->dict();
                    if (const auto entry = pendingQueries.find(first->stringValue());
                        entry != pendingQueries.end() && entry->second) {
                        pending = std::move(entry->second);
                        pendingQueries.erase(entry);
                    }
                }
                if (pending) pending->dispatchReply(message);
                break;
            }
            case OSCMessageTypeControl:
            case OSCMessageTypeQuery:
                receiver->receivedOSCMessage(message);
                break;
            default:
                break;
        }
    }
}

void OSCInPort::expireQueries() {
    std::vector<std::shared_ptr<OSCQueryReply>> expired;
    {
        auto guard = queryDict->writeLocked();
        const Date now = dateNow();
        std::vector<std::string> keys;
        for (const auto& [key, pending] : queryDict->dict()) {
            if (!pending || pending->_timeoutCheckAgainstDate(now)) {
                keys.push_back(key);
                expired.push_back(pending);
            }
        }
        for (const auto& key : keys) queryDict->removeObjectForKey(key);
    }
    timeoutSWatch.start();
    for (const auto& pending : expired) {
        if (pending)
            pending->dispatchReply(OSCMessage::createErrorForMessage(pending->initialQuery()));
    }
}

void OSCInPort::publishIfDue() {
    std::lock_guard guard(zeroConfLock);
    if (zeroConfDest) {
        publicationCheck.store(kNever);
        return;
    }
    if (zeroConfSwatch.timeSinceStart() <= kPublicationDelay) return;
    const auto name = portLabel();
    if (!name) {
        // Until a new label (setPortLabel asks again) or the next start.
        publicationCheck.store(kNever);
        return;
    }
    publicationCheck.store(kNever);
    if (!zeroConfService) zeroConfService = OSCZeroConfService::createSilent();
    zeroConfDest = zeroConfService->createPublisher();
    zeroConfDest->publish("local.", "_osc._udp.", *name, portNumber.load());
}

// ---- Configuration ----

void OSCInPort::setPort(uint16_t newPort) {
    const uint16_t previous = portNumber.load();
    if (deleted.load() || newPort == previous) return;
    stop();
    const auto reopen = [this](uint16_t number) {
        {
            std::lock_guard guard(socketLock);
            sock.close();
        }
        {
            std::lock_guard guard(scratchLock);
            scratchArray.clear();
        }
        isBound.store(false);
        std::lock_guard guard(socketLock);
        portNumber.store(number);
        isBound.store(createSocket());
        return isBound.load();
    };
    if (!reopen(newPort) && !reopen(previous)) return;
    start();
}

void OSCInPort::setPortLabel(const std::optional<std::string>& newLabel) {
    {
        std::lock_guard guard(labelLock);
        if (newLabel && label == newLabel) return;
    }
    stop();
    {
        std::lock_guard guard(labelLock);
        label = newLabel;
    }
    // Asked on the next pass, also when a stop posted from another thread leaves the receiving
    // thread running and start has nothing to do.
    publicationCheck.store(0);
    start();
    NotificationCenter::defaultCenter().postNotification(kInPortsChanged);
}

void OSCInPort::prepareToBeDeleted() {
    // Set first, so that nothing restarts the port while it is being taken down.
    deleted.store(true);
    setDelegate({});
    withdrawPublication();
    endThread();
    closeSocket();
}

// ---- Queries ----

void OSCInPort::dispatchQuery(const std::shared_ptr<OSCMessage>& query,
                              const std::shared_ptr<OSCOutPort>& outPort, float timeout,
                              ReplyBlock replyHandler) {
    if (!query || !outPort || query->messageType() != OSCMessageTypeQuery) return;
    fileQuery(query, outPort,
              OSCQueryReply::createWithQuery(query, timeout, std::move(replyHandler)));
}

void OSCInPort::dispatchQuery(const std::shared_ptr<OSCMessage>& query,
                              const std::shared_ptr<OSCOutPort>& outPort, float timeout,
                              const std::shared_ptr<OSCQueryReplyDelegate>& replyDelegate) {
    if (!query || !outPort || query->messageType() != OSCMessageTypeQuery) return;
    fileQuery(query, outPort, OSCQueryReply::createWithQuery(query, timeout, replyDelegate));
}

void OSCInPort::fileQuery(const std::shared_ptr<OSCMessage>& query,
                          const std::shared_ptr<OSCOutPort>& outPort,
                          const std::shared_ptr<OSCQueryReply>& reply) {
    {
        std::lock_guard guard(socketLock);
        if (!sock.valid()) return;
    }
    if (!reply) return;
    queryDict->lockSetObject(reply, query->replyAddress());
    _dispatchQuery(query, outPort);
}

void OSCInPort::_dispatchQuery(const std::shared_ptr<OSCMessage>& query,
                               const std::shared_ptr<OSCOutPort>& outPort) {
    if (!query || !outPort || deleted.load() || query->messageType() != OSCMessageTypeQuery) return;
    {
        std::lock_guard guard(socketLock);
        if (!sock.valid()) return;
    }
    const auto packet = OSCPacket::createWithContent(query);
    if (!packet) return;
    const uint8_t* const bytes = packet->payload();
    if (!bytes) {
        Log::write("\t\terr, buff nil in %s", "-[OSCInPort _dispatchQuery:toOutPort:]");
        return;
    }
    const sockaddr_in destination = outPort->addr();
    std::lock_guard guard(socketLock);
    if (!sock.valid()) return;
    // Not examined: a question that is lost is answered by its timeout.
    (void)sendto(sock.fd(), bytes, static_cast<size_t>(packet->bufferLength()), 0,
                 reinterpret_cast<const sockaddr*>(&destination), sizeof destination);
}

}  // namespace vitrine

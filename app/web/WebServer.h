#pragma once

#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>

#include <chrono>
#include <cstddef>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace vitrine {

class RemoteScreen;

// Serves the control page and its pictures from the program itself and carries the page
// protocol over a WebSocket at /ws: the full state to each page when it connects and to every
// page after every change (a state equal to the last one sent is not sent again), a small
// numbered heartbeat to every page about once a second, errors to the page whose input was
// refused.
//
// Sessions follow one pattern: each owns its socket, holds itself alive through the handlers of
// its pending operation, and ends on the first error. Limits bound what a client can make the
// server hold: connections in all and per client address, header and body sizes, message size,
// queued output, time to send a request, idle time. A full pool closes idle connections and then
// those of the address holding the most, so a new page from another address always gets in.
// Thread safety: none; the server, its sessions and the screen run on the io_context's one
// thread.
class WebServer {
public:
    struct Limits {
        size_t maxConnections = 64;
        // A page on a tablet opens about six connections and its socket; no address gets more
        // than this, so that no client can take the pool.
        size_t maxConnectionsPerAddress = 16;
        size_t maxHeaderBytes = 8 * 1024;
        size_t maxBodyBytes = 1024;  // only GET and HEAD are served
        // A socket message above this is closed with 1009; the screen refuses smaller ones
        // above its own limit with an error message.
        size_t maxSocketMessageBytes = 64 * 1024;
        // States waiting for a slow page; a page further behind is dropped and reconnects.
        size_t maxQueuedMessages = 64;
        // From a connection's opening, or a kept-alive connection's next first byte, to the end
        // of its request's headers and body.
        std::chrono::seconds headerTimeout{10};
        // How long a kept-alive connection waits for its next request, a response to be taken,
        // a socket's handshake.
        std::chrono::seconds requestTimeout{30};
        // A page silent for half this is pinged, and dropped when silent for all of it.
        std::chrono::seconds socketIdleTimeout{30};
        // Pages take a link that stays silent for about three of these as dead.
        std::chrono::milliseconds heartbeatInterval{1000};
    };

    // A server listening on `endpoint`, or nothing with the reason in `error`. Requests must
    // name the controller in their Host (see AllowedHosts); `allowedHosts` adds names.
    static std::shared_ptr<WebServer> create(boost::asio::io_context& io, RemoteScreen& screen,
                                             const boost::asio::ip::tcp::endpoint& endpoint,
                                             std::string& error, Limits limits,
                                             const std::vector<std::string>& allowedHosts = {});
    static std::shared_ptr<WebServer> create(boost::asio::io_context& io, RemoteScreen& screen,
                                             const boost::asio::ip::tcp::endpoint& endpoint,
                                             std::string& error) {
        return create(io, screen, endpoint, error, Limits{});
    }

    ~WebServer();
    WebServer(const WebServer&) = delete;
    WebServer& operator=(const WebServer&) = delete;

    boost::asio::ip::tcp::endpoint localEndpoint() const;
    // Connections in the budget now, pages and plain requests alike (evicted ones that are still
    // winding down are not counted).
    size_t connectionCount() const;
    // Sends the state to every page at the end of the running handler; several calls in one
    // handler send once.
    void scheduleBroadcast();
    // Stops accepting and closes every page's socket ("going away"); plain requests finish.
    void shutdown();

    struct State;

private:
    explicit WebServer(std::shared_ptr<State> state);
    std::shared_ptr<State> state;
};

}  // namespace vitrine

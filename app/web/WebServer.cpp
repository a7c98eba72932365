#include "app/web/WebServer.h"

#include <boost/asio/post.hpp>
#include <boost/asio/steady_timer.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>
#include <boost/beast/websocket.hpp>

#include <algorithm>
#include <cctype>
#include <deque>
#include <functional>
#include <list>
#include <map>
#include <set>
#include <string_view>
#include <utility>

#include "app/toolkit/EmbeddedFile.h"
#include "app/web/AllowedHosts.h"
#include "app/web/RemoteScreen.h"
#include "basics/Log.h"

namespace vitrine {

namespace beast = boost::beast;
namespace http = beast::http;
namespace websocket = beast::websocket;
namespace asio = boost::asio;
using tcp = asio::ip::tcp;
using error_code = boost::system::error_code;

namespace {

constexpr std::string_view serverName = "vitrine";

// Beast of this Boost takes its own string_view.
beast::string_view text(std::string_view view) {
    return {view.data(), view.size()};
}

class PageSession;
class ConnectionSlot;

// A connection that ends with an error response before its request was read to the end reads
// what the client still sends for this long after the answer, so that closing with unread
// input does not reset the connection and lose the answer on the way.
constexpr auto lingerTimeout = std::chrono::seconds(2);

std::optional<EmbeddedFile> webFile(std::string_view name) {
    const auto files = embeddedWebFiles();
    const auto found = std::find_if(files.begin(), files.end(),
                                    [&](const EmbeddedFile& file) { return file.name == name; });
    if (found == files.end()) return std::nullopt;
    return *found;
}

std::string_view contentType(std::string_view name) {
    const auto endsWith = [&](std::string_view suffix) {
        return name.size() >= suffix.size() && name.substr(name.size() - suffix.size()) == suffix;
    };
    if (endsWith(".html")) return "text/html; charset=utf-8";
    if (endsWith(".css")) return "text/css; charset=utf-8";
    if (endsWith(".js")) return "text/javascript; charset=utf-8";
    if (endsWith(".png")) return "image/png";
    if (endsWith(".webmanifest")) return "application/manifest+json";
    if (endsWith(".svg")) return "image/svg+xml";
    if (endsWith(".ico")) return "image/x-icon";
    return "application/octet-stream";
}

int hexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// Decodes %XX escapes once; nothing for a broken escape.
std::optional<std::string> percentDecoded(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '%') {
            out.push_back(text[i]);
            continue;
        }
        if (i + 2 >= text.size()) return std::nullopt;
        const int high = hexDigit(text[i + 1]);
        const int low = hexDigit(text[i + 2]);
        if (high < 0 || low < 0) return std::nullopt;
        out.push_back(static_cast<char>(high * 16 + low));
        i += 2;
    }
    return out;
}

// A picture name as the page may ask for one: a plain file name, so that no decoded name can
// reach outside the pictures.
bool isPlainPictureName(std::string_view name) {
    constexpr std::string_view suffix = ".png";
    if (name.size() <= suffix.size() || name.front() == '.' ||
        name.substr(name.size() - suffix.size()) != suffix)
        return false;
    return std::all_of(name.begin(), name.end(), [](char c) {
        return std::isalnum(static_cast<unsigned char>(c)) || c == ' ' || c == '.' || c == '_' ||
               c == '-';
    });
}

// The page's own files by path. Browsers ask for the favicon and iOS for its home-screen icon at
// the root whatever the page links, so those answer there too.
constexpr std::pair<std::string_view, std::string_view> pageFiles[] = {
    {"/", "index.html"},
    {"/index.html", "index.html"},
    {"/app.css", "app.css"},
    {"/app.js", "app.js"},
    {"/manifest.webmanifest", "manifest.webmanifest"},
    {"/favicon.ico", "icons/favicon.ico"},
    {"/apple-touch-icon.png", "icons/apple-touch-icon.png"},
    {"/apple-touch-icon-precomposed.png", "icons/apple-touch-icon.png"},
    {"/icons/icon.svg", "icons/icon.svg"},
    {"/icons/icon-192.png", "icons/icon-192.png"},
    {"/icons/icon-512.png", "icons/icon-512.png"},
    {"/icons/icon-maskable-512.png", "icons/icon-maskable-512.png"},
};

// The embedded file a request path names, or nothing.
std::optional<EmbeddedFile> fileForPath(std::string_view path) {
    for (const auto& [served, name] : pageFiles)
        if (path == served) return webFile(name);
    constexpr std::string_view pictures = "/pictures/";
    if (path.substr(0, pictures.size()) != pictures) return std::nullopt;
    const auto name = percentDecoded(path.substr(pictures.size()));
    if (!name || !isPlainPictureName(*name)) return std::nullopt;
    return webFile("pictures/" + *name);
}

std::string_view pathOf(std::string_view target) {
    return target.substr(0, target.find_first_of("?#"));
}

// Why a request is refused before it is served, if it is: it must name this controller in its
// one Host, and a socket must come from a page this controller served (an http:// or https://
// Origin with the Host's name and port), so that another site open on a tablet, rebinding
// domains included, cannot drive the showcase.
std::optional<http::status> refusal(const http::request<http::string_body>& request,
                                    AllowedHosts& hosts, const asio::ip::address& arrivedOn) {
    const auto value = [&](http::field field) {
        const auto found = request.find(field);
        return std::string_view(found->value().data(), found->value().size());
    };
    if (request.count(http::field::host) != 1 || request.count(http::field::origin) > 1)
        return http::status::bad_request;
    const auto host = AllowedHosts::parseAuthority(value(http::field::host));
    if (!host) return http::status::bad_request;
    if (!hosts.allows(host->name, arrivedOn)) return http::status::misdirected_request;
    if (!websocket::is_upgrade(request)) return std::nullopt;
    if (request.count(http::field::origin) == 0) return http::status::forbidden;
    const auto origin = AllowedHosts::parseOrigin(value(http::field::origin));
    if (!origin || origin->authority.name != host->name) return http::status::forbidden;
    // Without a port each side means its default one: the Origin's scheme's.
    const uint16_t defaultPort = origin->secure ? 443 : 80;
    if (origin->authority.port.value_or(defaultPort) != host->port.value_or(defaultPort))
        return http::status::forbidden;
    return std::nullopt;
}

}  // namespace

struct WebServer::State : std::enable_shared_from_this<WebServer::State> {
    State(asio::io_context& io, RemoteScreen& screen, Limits limits, AllowedHosts hosts)
        : io(io),
          screen(screen),
          limits(limits),
          hosts(std::move(hosts)),
          acceptor(io),
          retryTimer(io),
          heartbeatTimer(io) {}

    void doAccept();
    void scheduleHeartbeat();
    void sendToPages(const std::shared_ptr<const std::string>& message);
    void onAccept(const error_code& error, tcp::socket socket);
    void broadcast();
    // Whether a connection from `peer` may be taken, after closing another to make room if
    // needed.
    bool makeRoomFor(const asio::ip::address& peer);
    bool evictOneOf(const asio::ip::address* peer, bool idleOnly);

    asio::io_context& io;
    RemoteScreen& screen;
    const Limits limits;
    AllowedHosts hosts;
    tcp::acceptor acceptor;
    asio::steady_timer retryTimer;
    asio::steady_timer heartbeatTimer;
    // What the last broadcast sent (or would have sent, with no page there).
    std::string lastBroadcast;
    // Every connection in the budget, oldest first, and how many each client address holds.
    std::list<ConnectionSlot*> slots;
    std::map<asio::ip::address, size_t> perAddress;
    bool broadcastPending = false;
    bool closing = false;
    // Pages that have completed the handshake; each removes itself when it goes.
    std::set<PageSession*> pages;
};

namespace {

// A connection's place in the server's budget, from its accept until its session ends or it is
// evicted; an upgraded connection's page session takes it over from the HTTP session.
class ConnectionSlot {
public:
    enum class Phase {
        idle,     // kept alive between requests, or closing: the first to go
        request,  // a request awaited on a new connection, being read or answered
        page,     // a page's socket
    };

    ConnectionSlot(std::shared_ptr<WebServer::State> state, asio::ip::address peer, Phase phase)
        : phase(phase), state(std::move(state)), peer(peer) {
        position = this->state->slots.insert(this->state->slots.end(), this);
        ++this->state->perAddress[peer];
    }
    ~ConnectionSlot() { leave(); }
    ConnectionSlot(const ConnectionSlot&) = delete;
    ConnectionSlot& operator=(const ConnectionSlot&) = delete;

    WebServer::State& server() const { return *state; }
    const asio::ip::address& address() const { return peer; }

    // Frees the place at once; the evicted session winds down on its own.
    void evict() {
        const auto close = std::move(closer);
        leave();
        if (close) close();
    }

    Phase phase;
    // Closes the owning session's socket; set by the session.
    std::function<void()> closer;

private:
    void leave() {
        if (!inBudget) return;
        inBudget = false;
        state->slots.erase(position);
        const auto count = state->perAddress.find(peer);
        if (--count->second == 0) state->perAddress.erase(count);
    }

    std::shared_ptr<WebServer::State> state;
    const asio::ip::address peer;
    std::list<ConnectionSlot*>::iterator position;
    bool inBudget = true;
};

// One page's socket: reads its messages one at a time and writes the queued ones in order.
class PageSession : public std::enable_shared_from_this<PageSession> {
public:
    PageSession(tcp::socket socket, std::unique_ptr<ConnectionSlot> slot)
        : slot(std::move(slot)), ws(std::move(socket)) {}

    ~PageSession() { slot->server().pages.erase(this); }

    void run(http::request<http::string_body> request) {
        slot->phase = ConnectionSlot::Phase::page;
        slot->closer = [weak = weak_from_this()] {
            if (const auto self = weak.lock()) {
                self->slot->server().pages.erase(self.get());
                beast::get_lowest_layer(self->ws).close();
            }
        };
        const auto& limits = slot->server().limits;
        websocket::stream_base::timeout timeouts{};
        timeouts.handshake_timeout = limits.requestTimeout;
        timeouts.idle_timeout = limits.socketIdleTimeout;
        timeouts.keep_alive_pings = true;
        ws.set_option(timeouts);
        ws.set_option(websocket::stream_base::decorator([](websocket::response_type& response) {
            response.set(http::field::server, text(serverName));
        }));
        ws.read_message_max(limits.maxSocketMessageBytes);
        ws.async_accept(request, [self = shared_from_this()](const error_code& error) {
            self->onAccept(error);
        });
    }

    void send(std::shared_ptr<const std::string> message) {
        if (closing) return;
        if (queue.size() >= slot->server().limits.maxQueuedMessages) {
            // Too far behind to catch up message by message; it reconnects and gets the state.
            close(websocket::close_code::try_again_later);
            return;
        }
        queue.push_back(std::move(message));
        if (queue.size() == 1) doWrite();
    }

    void close(websocket::close_code code) {
        if (closing) return;
        closing = true;
        closeCode = code;
        queue.clear();
        if (writing) return;  // the running write closes when it ends
        ws.async_close(code, [self = shared_from_this()](const error_code&) {});
    }

private:
    void onAccept(const error_code& error) {
        if (error) return;
        auto& server = slot->server();
        if (server.closing) {
            close(websocket::close_code::going_away);
            return;
        }
        server.pages.insert(this);
        send(std::make_shared<const std::string>(server.screen.firstStateMessage()));
        // The page may act at once; it needs a heartbeat to echo.
        send(std::make_shared<const std::string>(server.screen.latestHeartbeat()));
        doRead();
    }

    void doRead() {
        ws.async_read(buffer, [self = shared_from_this()](const error_code& error, size_t) {
            self->onRead(error);
        });
    }

    void onRead(const error_code& error) {
        // A closed, timed-out, oversized (closed with 1009) or broken socket ends the session.
        if (error) return;
        auto& server = slot->server();
        if (!ws.got_text()) {
            buffer.consume(buffer.size());
            send(std::make_shared<const std::string>(
                RemoteScreen::errorMessage(RemoteScreen::unreadable)));
            doRead();
            return;
        }
        const std::string text = beast::buffers_to_string(buffer.data());
        buffer.consume(buffer.size());
        const auto reply = server.screen.handleClientText(text);
        if (reply.error)
            send(std::make_shared<const std::string>(RemoteScreen::errorMessage(*reply.error)));
        if (reply.resendState)
            send(std::make_shared<const std::string>(server.screen.stateMessage()));
        doRead();
    }

    void doWrite() {
        writing = true;
        ws.text(true);
        ws.async_write(
            asio::buffer(*queue.front()),
            [self = shared_from_this()](const error_code& error, size_t) { self->onWrite(error); });
    }

    void onWrite(const error_code& error) {
        writing = false;
        if (error) {
            queue.clear();
            return;
        }
        if (closing) {
            ws.async_close(closeCode, [self = shared_from_this()](const error_code&) {});
            return;
        }
        queue.pop_front();
        if (!queue.empty()) doWrite();
    }

    std::unique_ptr<ConnectionSlot> slot;
    websocket::stream<beast::tcp_stream> ws;
    beast::flat_buffer buffer;
    std::deque<std::shared_ptr<const std::string>> queue;
    bool writing = false;
    bool closing = false;
    websocket::close_code closeCode = websocket::close_code::going_away;
};

// One HTTP connection: requests one after another, until one asks for the page's socket.
class HttpSession : public std::enable_shared_from_this<HttpSession> {
public:
    HttpSession(tcp::socket socket, std::unique_ptr<ConnectionSlot> slot)
        : slot(std::move(slot)), stream(std::move(socket)) {}

    void run() {
        slot->closer = [weak = weak_from_this()] {
            if (const auto self = weak.lock()) self->stream.close();
        };
        // A new connection has the header deadline to send its first request; one that sent
        // nothing yet is no more idle than one that sent half, nor one of a page just opening.
        readRequest();
    }

private:
    // A kept-alive connection costs nothing to close: it waits, evictable, for the first byte
    // of its next request, and only then has the header deadline to send the rest.
    void doRead() {
        if (buffer.size() > 0) {
            readRequest();
            return;
        }
        slot->phase = ConnectionSlot::Phase::idle;
        stream.expires_after(slot->server().limits.requestTimeout);
        stream.async_read_some(buffer.prepare(firstRead),
                               [self = shared_from_this()](const error_code& error, size_t n) {
                                   if (error) return;  // gone, evicted, or idle too long
                                   self->buffer.commit(n);
                                   self->readRequest();
                               });
    }

    void readRequest() {
        const auto& limits = slot->server().limits;
        slot->phase = ConnectionSlot::Phase::request;
        parser.emplace();
        parser->header_limit(static_cast<std::uint32_t>(limits.maxHeaderBytes));
        parser->body_limit(limits.maxBodyBytes);
        stream.expires_after(limits.headerTimeout);
        http::async_read(
            stream, buffer, *parser,
            [self = shared_from_this()](const error_code& error, size_t) { self->onRead(error); });
    }

    void onRead(const error_code& error) {
        if (error == http::error::end_of_stream || error == http::error::partial_message) {
            closeSocket();
            return;
        }
        if (error == http::error::header_limit || error == http::error::body_limit) {
            unreadInput = true;
            sendStatus(http::status::payload_too_large, 11, false);
            return;
        }
        if (error &&
            error.category() == http::make_error_code(http::error::bad_method).category()) {
            unreadInput = true;
            sendStatus(http::status::bad_request, 11, false);
            return;
        }
        if (error) return;
        http::request<http::string_body> request = parser->release();

        error_code ignored;
        const auto refused = refusal(request, slot->server().hosts,
                                     stream.socket().local_endpoint(ignored).address());
        if (refused) {
            sendStatus(*refused, request.version(), false);
            return;
        }
        if (websocket::is_upgrade(request)) {
            upgrade(std::move(request));
            return;
        }
        if (request.method() != http::verb::get && request.method() != http::verb::head) {
            http::response<http::string_body> response{http::status::method_not_allowed,
                                                       request.version()};
            response.set(http::field::allow, "GET, HEAD");
            finish(std::move(response), request.keep_alive());
            return;
        }
        const std::string_view target(request.target().data(), request.target().size());
        const auto file = pathOf(target) == "/ws" ? std::nullopt : fileForPath(pathOf(target));
        if (!file) {
            sendStatus(http::status::not_found, request.version(), request.keep_alive());
            return;
        }
        if (request.method() == http::verb::head) {
            http::response<http::empty_body> response{http::status::ok, request.version()};
            describe(response, *file);
            response.content_length(file->bytes.size());
            send(std::move(response), request.keep_alive());
            return;
        }
        http::response<http::span_body<const char>> response{http::status::ok, request.version()};
        describe(response, *file);
        response.body() = {file->bytes.data(), file->bytes.size()};
        response.prepare_payload();
        send(std::move(response), request.keep_alive());
    }

    void upgrade(http::request<http::string_body> request) {
        const std::string_view target(request.target().data(), request.target().size());
        if (pathOf(target) != "/ws") {
            sendStatus(http::status::not_found, request.version(), false);
            return;
        }
        stream.expires_never();
        std::make_shared<PageSession>(stream.release_socket(), std::move(slot))
            ->run(std::move(request));
    }

    template <typename Body>
    static void describe(http::response<Body>& response, const EmbeddedFile& file) {
        response.set(http::field::server, text(serverName));
        response.set(http::field::content_type, text(contentType(file.name)));
        response.set(http::field::cache_control, "no-cache");
    }

    void sendStatus(http::status status, unsigned version, bool keepAlive) {
        http::response<http::string_body> response{status, version};
        finish(std::move(response), keepAlive);
    }

    void finish(http::response<http::string_body>&& response, bool keepAlive) {
        response.set(http::field::server, text(serverName));
        response.set(http::field::content_type, "text/plain; charset=utf-8");
        response.body() = std::string(response.reason()) + "\n";
        response.prepare_payload();
        send(std::move(response), keepAlive);
    }

    template <typename Body>
    void send(http::response<Body>&& response, bool keepAlive) {
        response.keep_alive(keepAlive && !slot->server().closing);
        auto held = std::make_shared<http::response<Body>>(std::move(response));
        stream.expires_after(slot->server().limits.requestTimeout);
        http::async_write(stream, *held,
                          [self = shared_from_this(), held](const error_code& error, size_t) {
                              self->onWrite(error, held->need_eof());
                          });
    }

    void onWrite(const error_code& error, bool close) {
        if (error) return;
        if (close) {
            closeSocket();
            return;
        }
        doRead();
    }

    void closeSocket() {
        error_code ignored;
        stream.socket().shutdown(tcp::socket::shutdown_send, ignored);
        if (!unreadInput) return;
        slot->phase = ConnectionSlot::Phase::idle;
        buffer.consume(buffer.size());
        stream.expires_after(lingerTimeout);
        drain();
    }

    void drain() {
        stream.async_read_some(buffer.prepare(firstRead),
                               [self = shared_from_this()](const error_code& error, size_t) {
                                   if (error) return;
                                   self->drain();
                               });
    }

    static constexpr size_t firstRead = 1024;

    std::unique_ptr<ConnectionSlot> slot;
    beast::tcp_stream stream;
    beast::flat_buffer buffer;
    std::optional<http::request_parser<http::string_body>> parser;
    bool unreadInput = false;
};

}  // namespace

void WebServer::State::doAccept() {
    acceptor.async_accept([self = shared_from_this()](const error_code& error, tcp::socket socket) {
        self->onAccept(error, std::move(socket));
    });
}

void WebServer::State::onAccept(const error_code& error, tcp::socket socket) {
    if (closing || error == asio::error::operation_aborted) return;
    if (error) {
        // Out of descriptors, most likely: wait a little instead of spinning on the error.
        retryTimer.expires_after(std::chrono::milliseconds(100));
        retryTimer.async_wait([self = shared_from_this()](const error_code& waitError) {
            if (!waitError) self->doAccept();
        });
        return;
    }
    error_code unknown;
    const auto peer = socket.remote_endpoint(unknown).address();
    if (unknown || !makeRoomFor(peer)) {
        error_code ignored;
        socket.close(ignored);
        doAccept();
        return;
    }
    std::make_shared<HttpSession>(
        std::move(socket),
        std::make_unique<ConnectionSlot>(shared_from_this(), peer, ConnectionSlot::Phase::request))
        ->run();
    doAccept();
}

// No address holds more than its share, and a full pool gives way to a newcomer: first an idle
// HTTP connection of anyone's, then a connection of the address that holds the most, as long as
// it holds more than the newcomer. So a page from a new address always gets in, however many
// connections others keep open.
bool WebServer::State::makeRoomFor(const asio::ip::address& peer) {
    const auto found = perAddress.find(peer);
    const size_t held = found == perAddress.end() ? 0 : found->second;
    if (held >= limits.maxConnectionsPerAddress) return evictOneOf(&peer, true);
    if (slots.size() < limits.maxConnections) return true;
    if (evictOneOf(nullptr, true)) return true;
    const auto largest =
        std::max_element(perAddress.begin(), perAddress.end(),
                         [](const auto& a, const auto& b) { return a.second < b.second; });
    if (largest == perAddress.end() || largest->second <= held) return false;
    const asio::ip::address holder = largest->first;  // its entry goes with its last connection
    return evictOneOf(&holder, false);
}

// Evicts the oldest idle connection of `peer` (of anyone without one), else, unless idleOnly,
// its oldest request, else its oldest page.
bool WebServer::State::evictOneOf(const asio::ip::address* peer, bool idleOnly) {
    using Phase = ConnectionSlot::Phase;
    for (const Phase phase : {Phase::idle, Phase::request, Phase::page}) {
        if (idleOnly && phase != Phase::idle) break;
        for (ConnectionSlot* slot : slots) {
            if (slot->phase != phase || (peer && slot->address() != *peer)) continue;
            slot->evict();
            return true;
        }
    }
    return false;
}

// A change that undoes itself within one handler (the indicator's tick sets it twice) or a
// setting to the same value sends nothing. The last state is kept even with no page there, so
// that a state a connecting page was given and that then changed back still goes out.
void WebServer::State::broadcast() {
    broadcastPending = false;
    if (closing) return;
    std::string state = screen.stateMessage();
    if (state == lastBroadcast) return;
    lastBroadcast = state;
    sendToPages(std::make_shared<const std::string>(std::move(state)));
}

void WebServer::State::sendToPages(const std::shared_ptr<const std::string>& message) {
    // A page may drop itself while being sent to; walk a copy.
    const std::vector<PageSession*> recipients(pages.begin(), pages.end());
    for (PageSession* page : recipients)
        if (pages.contains(page)) page->send(message);
}

// From the last beat, not on a fixed schedule: a controller that was stopped for a while sends
// one beat when it runs again, not the ones it missed.
void WebServer::State::scheduleHeartbeat() {
    heartbeatTimer.expires_after(limits.heartbeatInterval);
    heartbeatTimer.async_wait([self = shared_from_this()](const error_code& error) {
        if (error || self->closing) return;
        self->sendToPages(std::make_shared<const std::string>(self->screen.nextHeartbeat()));
        self->scheduleHeartbeat();
    });
}

std::shared_ptr<WebServer> WebServer::create(asio::io_context& io, RemoteScreen& screen,
                                             const tcp::endpoint& endpoint, std::string& error,
                                             Limits limits,
                                             const std::vector<std::string>& allowedHosts) {
    auto state =
        std::make_shared<State>(io, screen, limits, AllowedHosts(endpoint.address(), allowedHosts));
    error_code failure;
    state->acceptor.open(endpoint.protocol(), failure);
    if (!failure) state->acceptor.set_option(asio::socket_base::reuse_address(true), failure);
    if (!failure) state->acceptor.bind(endpoint, failure);
    if (!failure) state->acceptor.listen(asio::socket_base::max_listen_connections, failure);
    if (failure) {
        error = failure.message();
        return nullptr;
    }
    state->lastBroadcast = screen.stateMessage();
    state->doAccept();
    state->scheduleHeartbeat();
    return std::shared_ptr<WebServer>(new WebServer(std::move(state)));
}

WebServer::WebServer(std::shared_ptr<State> state) : state(std::move(state)) {}

WebServer::~WebServer() {
    shutdown();
}

tcp::endpoint WebServer::localEndpoint() const {
    error_code ignored;
    return state->acceptor.local_endpoint(ignored);
}

size_t WebServer::connectionCount() const {
    return state->slots.size();
}

void WebServer::scheduleBroadcast() {
    if (state->broadcastPending || state->closing) return;
    state->broadcastPending = true;
    asio::post(state->io, [weak = std::weak_ptr<State>(state)] {
        if (const auto alive = weak.lock()) alive->broadcast();
    });
}

void WebServer::shutdown() {
    if (state->closing) return;
    state->closing = true;
    error_code ignored;
    state->acceptor.close(ignored);
    state->retryTimer.cancel();
    state->heartbeatTimer.cancel();
    const std::vector<PageSession*> pages(state->pages.begin(), state->pages.end());
    for (PageSession* page : pages)
        if (state->pages.contains(page)) page->close(websocket::close_code::going_away);
}

}  // namespace vitrine

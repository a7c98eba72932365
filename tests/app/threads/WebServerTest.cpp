// The web server over real sockets: the page and its pictures, the WebSocket limits, the Host
// and Origin checks, slow clients. The server runs on an io_context thread of its own; the test
// talks to it as browsers do. Pages sharing changes and errors reaching only their sender are
// the browser test's paths.

#include <gtest/gtest.h>

#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>
#include <boost/beast/websocket.hpp>
#include <nlohmann/json.hpp>

#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "app/controller/ViewController.h"
#include "app/toolkit/LayoutLoader.h"
#include "app/web/RemoteScreen.h"
#include "app/web/WebServer.h"
#include "osc/OSCOutPort.h"
#include "support/ScenePictures.h"
#include "support/UdpListener.h"
#include "support/Waiting.h"

using namespace vitrine;
namespace asio = boost::asio;
namespace beast = boost::beast;
namespace http = beast::http;
namespace websocket = beast::websocket;
using tcp = asio::ip::tcp;
using nlohmann::json;

namespace {

class WebServerTest : public ::testing::Test {
protected:
    void start(WebServer::Limits limits = {}, const std::vector<std::string>& allowedHosts = {}) {
        controller = std::make_shared<ViewController>();
        ASSERT_TRUE(LayoutLoader::loadNibNamed("Main", *controller, screen));
        controller->outPort = OSCOutPort::createWithAddress("127.0.0.1", showcase.port());
        std::string error;
        server = WebServer::create(io, screen, {asio::ip::make_address("127.0.0.1"), 0}, error,
                                   limits, allowedHosts);
        ASSERT_TRUE(server) << error;
        port = server->localEndpoint().port();
        screen.setChangeHandler([this] { server->scheduleBroadcast(); });
        runner = std::thread([this] {
            const auto guard = asio::make_work_guard(io);
            io.run();
        });
    }

    ~WebServerTest() override {
        if (runner.joinable()) {
            asio::post(io, [this] {
                server->shutdown();
                io.stop();
            });
            runner.join();
        }
    }

    struct Page {
        asio::io_context io;
        websocket::stream<tcp::socket> ws{io};

        // The latest heartbeat read, which actions echo.
        uint64_t beat = 0;

        json readAny() {
            beast::flat_buffer buffer;
            ws.read(buffer);
            json message = json::parse(beast::buffers_to_string(buffer.data()));
            if (message["type"] == "heartbeat") beat = message["id"].get<uint64_t>();
            return message;
        }
        // The next message that is not a heartbeat.
        json read() {
            for (;;)
                if (json message = readAny(); message["type"] != "heartbeat") return message;
        }
        // An object's text, sent with the latest heartbeat echoed as pages do; other text as is.
        void send(const std::string& text) {
            ws.text(true);
            ws.write(asio::buffer(
                text.starts_with("{\"")
                    ? "{\"heartbeat\": " + std::to_string(beat) + ", " + text.substr(1)
                    : text));
        }
    };

    std::string host() const { return "127.0.0.1:" + std::to_string(port); }

    // A page that has connected from the server's own origin and read the state sent first.
    std::unique_ptr<Page> openPage() {
        auto page = std::make_unique<Page>();
        page->ws.next_layer().connect({asio::ip::make_address("127.0.0.1"), port});
        page->ws.set_option(websocket::stream_base::decorator(
            [origin = "http://" + host()](websocket::request_type& request) {
                request.set(http::field::origin, origin);
            }));
        page->ws.handshake(host(), "/ws");
        const json first = page->readAny();
        EXPECT_EQ(first["type"], "state");
        EXPECT_EQ(first["scenes"].size(), 12u);
        // Right behind the state, so that the page can act at once.
        EXPECT_EQ(page->readAny()["type"], "heartbeat");
        return page;
    }

    http::response<http::string_body> request(const std::string& verb, const std::string& target);

    test::UdpListener showcase;
    RemoteScreen screen{test::allPictures()};
    std::shared_ptr<ViewController> controller;
    asio::io_context io;
    std::shared_ptr<WebServer> server;
    uint16_t port = 0;
    std::thread runner;
};

// Writes `raw` as one request and reads the answer, if one comes.
std::optional<http::response<http::string_body>> roundTrip(uint16_t port, const std::string& raw) {
    asio::io_context client;
    tcp::socket socket(client);
    socket.connect({asio::ip::make_address("127.0.0.1"), port});
    asio::write(socket, asio::buffer(raw));
    beast::flat_buffer buffer;
    http::response_parser<http::string_body> parser;
    parser.skip(raw.starts_with("HEAD"));
    beast::error_code error;
    http::read(socket, buffer, parser, error);
    if (error) return std::nullopt;
    return parser.release();
}
unsigned statusOf(uint16_t port, const std::string& raw) {
    const auto response = roundTrip(port, raw);
    return response ? response->result_int() : 0;
}
http::response<http::string_body> WebServerTest::request(const std::string& verb,
                                                         const std::string& target) {
    return roundTrip(port, verb + " " + target + " HTTP/1.1\r\nHost: " + host() + "\r\n\r\n")
        .value_or(http::response<http::string_body>{});
}

// The page, its script, its pictures and the icons a tablet asks for without a link to them,
// under their types, and nothing else; headers beyond the limit are refused. (The manifest's
// icons are fetched by the browser test.)
TEST_F(WebServerTest, ServesThePageItsPicturesAndIconsOnly) {
    start();
    // {target, type, first bytes}
    const std::tuple<const char*, const char*, std::string_view> served[] = {
        {"/", "text/html; charset=utf-8", "<!doctype html>"},
        {"/app.js?v=1", "text/javascript; charset=utf-8", ""},
        {"/favicon.ico", "image/x-icon", std::string_view("\0\0\1\0\2\0", 6)},
        {"/apple-touch-icon-precomposed.png", "image/png", "\x89PNG"},
    };
    for (const auto& [target, type, start] : served) {
        const auto response = request("GET", target);
        EXPECT_EQ(response.result(), http::status::ok) << target;
        EXPECT_EQ(response[http::field::content_type], type) << target;
        EXPECT_EQ(response.body().substr(0, start.size()), start) << target;
    }
    EXPECT_EQ(request("HEAD", "/pictures/Theriaque%201.png")[http::field::content_length],
              std::to_string(request("GET", "/pictures/Theriaque%201.png").body().size()));
    for (const char* target :
         {"/nothing", "/pictures/", "/pictures/..%2Fapp.js", "/pictures/%2e%2e%2fapp.js",
          "/pictures/make_pictures.py", "/pictures/.png", "/pictures/BGMortier.png%",
          "/pictures/%zzBGMortier.png", "/app.js/", "/ws", "/../app.js", "/icons/",
          "/icons/favicon.ico", "/manifest.json", "/icon-192.png"})
        EXPECT_EQ(request("GET", target).result(), http::status::not_found) << target;
    EXPECT_EQ(request("POST", "/").result(), http::status::method_not_allowed);
    EXPECT_EQ(statusOf(port, "GET / HTTP/1.1\r\nHost: " + host() + "\r\nUser-Agent: " +
                                 std::string(9000, 'p') + "\r\n\r\n"),
              413u);
}

// A connection beyond the limit is closed at once, a binary frame is refused, a huge message
// closes its page with 1009. A page asking for what already is alone gets the state again: the
// other page's next message is the state of the next real change. (That the repeat sends nothing
// to the showcase is the remote screen's test.)
TEST_F(WebServerTest, LimitsHoldAndARepeatedStateGoesToItsSenderOnly) {
    WebServer::Limits limits;
    limits.maxConnections = 2;
    start(limits);
    auto tablet = openPage();
    auto phone = openPage();
    asio::io_context client;
    tcp::socket third(client);
    third.connect({asio::ip::make_address("127.0.0.1"), port});
    char byte = 0;
    beast::error_code error;
    third.read_some(asio::buffer(&byte, 1), error);
    EXPECT_EQ(error, asio::error::eof);

    phone->ws.binary(true);
    phone->ws.write(asio::buffer(std::string("{\"action\": \"mortier\"}")));
    EXPECT_EQ(phone->read(), (json{{"type", "error"}, {"message", "Message illisible."}}));
    phone->send(R"({"action": "switchVideo", "on": true})");
    EXPECT_TRUE(phone->read()["picture"].is_null());
    tablet->send(R"({"action": "chevrette"})");
    EXPECT_EQ(tablet->read()["picture"], "BGChevrette.png");
    EXPECT_EQ(phone->read()["picture"], "BGChevrette.png");

    phone->send(std::string(70 * 1024, 'x'));
    beast::flat_buffer buffer;
    phone->ws.read(buffer, error);
    // The close frame may race with the end of the upload; when it is read, it says why.
    EXPECT_TRUE(error);
    if (error == websocket::error::closed) {
        EXPECT_EQ(phone->ws.reason().code, websocket::close_code::too_big);
    }
    tablet->send(R"({"action": "onguent"})");
    EXPECT_EQ(tablet->read()["picture"], "BGOnguent.png");
}

// Pages and sockets answer only to the controller's own names; a socket also needs an Origin
// naming the same host and port, so a rebinding domain gets nowhere even with a matching pair.
TEST_F(WebServerTest, HostAndOriginMustNameTheController) {
    start({}, {"Vitrine.Example"});
    const std::string p = ":" + std::to_string(port);
    std::array<char, 256> hostName{};
    ASSERT_EQ(gethostname(hostName.data(), hostName.size() - 1), 0);
    std::string machine = hostName.data();
    std::transform(machine.begin(), machine.end(), machine.begin(), ::tolower);
    const std::string link = machine.substr(0, machine.find('.')) + ".local";
    const std::string upgrade =
        "Connection: Upgrade\r\nUpgrade: websocket\r\nSec-WebSocket-Version: 13\r\n"
        "Sec-WebSocket-Key: dGhlIHNhbXBsZSBub25jZQ==\r\n";
    const auto own = [&](const std::string& origin) {
        return "Host: 127.0.0.1" + p + (origin.empty() ? "" : "\r\nOrigin: " + origin);
    };
    const std::string local = "http://127.0.0.1" + p;
    // {Host and Origin header lines, status of GET /, status of the upgrade}
    const std::tuple<std::string, unsigned, unsigned> cases[] = {
        {own(local), 200, 101},
        {"Host: LocalHost." + p + "\r\nOrigin: https://localhost" + p, 200, 101},
        {"Host: " + machine + p + "\r\nOrigin: http://" + machine + p, 200, 101},
        {"Host: " + link + p + "\r\nOrigin: http://" + link + p + "/", 200, 101},
        {"Host: vitrine.example\r\nOrigin: http://vitrine.example:80", 200, 101},
        {"Host: vitrine.example:443\r\nOrigin: https://vitrine.example", 200, 101},
        {"Host: [::1]" + p + "\r\nOrigin: http://[::1]" + p, 200, 101},
        // The rebinding pair, and foreign names however dressed.
        {"Host: evil.example" + p + "\r\nOrigin: http://evil.example" + p, 421, 421},
        {"Host: 127.0.0.1.evil.example" + p, 421, 421},
        {"Host: 127.1" + p, 421, 421},
        // An own Host with a foreign, schemeless, other-scheme or other-port Origin, or none.
        {own("http://evil.example" + p), 200, 403},
        {own("http://localhost" + p), 200, 403},
        {own("null"), 200, 403},
        {own("127.0.0.1" + p), 200, 403},
        {own("ws://127.0.0.1" + p), 200, 403},
        {own("http://127.0.0.1:" + std::to_string(port + 1)), 200, 403},
        {own(local + "/ws"), 200, 403},
        {own("http://user@127.0.0.1" + p), 200, 403},
        {own(""), 200, 403},
        // Duplicates, none, and hosts no browser sends.
        {own("") + "\r\nHost: evil.example", 400, 400},
        {own(local) + "\r\nOrigin: " + local, 400, 400},
        {"User-Agent: no host", 400, 400},
        {"Host: 127.0.0.1:80x", 400, 400},
        {"Host: 127.0.0.1:65536", 400, 400},
        {"Host: evil example", 400, 400},
        {"Host:", 400, 400},
    };
    for (const auto& [fields, page, socket] : cases) {
        SCOPED_TRACE(fields);
        EXPECT_EQ(statusOf(port, "GET / HTTP/1.1\r\n" + fields + "\r\n\r\n"), page);
        EXPECT_EQ(statusOf(port, "GET /ws HTTP/1.1\r\n" + upgrade + fields + "\r\n\r\n"), socket);
    }
}

// A client's socket from `source` (one of 127/8) to the server, having sent `bytes`.
std::unique_ptr<tcp::socket> slowClient(asio::io_context& io, const char* source, uint16_t port,
                                        const std::string& bytes) {
    auto socket = std::make_unique<tcp::socket>(io);
    socket->open(tcp::v4());
    socket->bind({asio::ip::make_address(source), 0});
    socket->connect({asio::ip::make_address("127.0.0.1"), port});
    asio::write(*socket, asio::buffer(bytes));
    return socket;
}

// How many of `sockets` the server has closed (end of stream or reset) by now.
size_t closedCount(const std::vector<std::unique_ptr<tcp::socket>>& sockets) {
    size_t closed = 0;
    for (const auto& socket : sockets) {
        pollfd ready{socket->native_handle(), POLLIN, 0};
        char byte = 0;
        if (poll(&ready, 1, 0) == 1 && recv(ready.fd, &byte, 1, MSG_PEEK | MSG_DONTWAIT) <= 0)
            ++closed;
    }
    return closed;
}

// Slow clients get a few connections each and lose them at the header deadline; while they hold
// the whole pool, a page from another address still loads and connects. A request line that
// cannot be read is answered 400.
TEST_F(WebServerTest, APageLoadsWhileOthersHoldThePoolWithSlowRequests) {
    WebServer::Limits limits;
    limits.maxConnections = 6;
    limits.maxConnectionsPerAddress = 3;
    limits.headerTimeout = std::chrono::seconds(3);
    start(limits);
    for (const char* line : {"GARBAGE\r\n\r\n", "GET / HTTP/1.1 extra\r\n\r\n", "GET\r\n\r\n",
                             "GET / HTTP/1.1\r\nNo colon here\r\n\r\n"})
        EXPECT_EQ(statusOf(port, line), 400u) << line;

    const std::string partial =
        "GET / HTTP/1.1\r\nHost: 127.0.0.1:" + std::to_string(port) + "\r\nX-Slow: ";
    asio::io_context client;
    std::vector<std::unique_ptr<tcp::socket>> slow;
    for (int i = 0; i < 5; ++i) slow.push_back(slowClient(client, "127.0.0.2", port, partial));
    ASSERT_TRUE(test::waitUntil([&] { return closedCount(slow) >= 2; }, std::chrono::seconds(20)));
    EXPECT_EQ(closedCount(slow), 2u);
    for (int i = 0; i < 3; ++i) slow.push_back(slowClient(client, "127.0.0.3", port, partial));

    EXPECT_EQ(request("GET", "/").result(), http::status::ok);
    const auto page = openPage();
    page->send(R"({"action": "mortier"})");
    EXPECT_EQ(page->read()["picture"], "BGMortier.png");
    EXPECT_TRUE(test::waitUntil([&] { return closedCount(slow) == slow.size(); },
                                std::chrono::seconds(20)));
}

}  // namespace

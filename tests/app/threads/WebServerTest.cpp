// The web server over real sockets: the page and its pictures, the WebSocket protocol with two
// pages, refused input, the origin check, the size and connection limits. The server runs on an
// io_context thread of its own; the test talks to it as browsers do.

#include <gtest/gtest.h>

#include <boost/asio/connect.hpp>
#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>
#include <boost/beast/websocket.hpp>
#include <nlohmann/json.hpp>

#include <memory>
#include <string>
#include <thread>

#include "app/LayoutLoader.h"
#include "app/RemoteScreen.h"
#include "app/SceneControl.h"
#include "app/ViewController.h"
#include "app/server/WebServer.h"
#include "osc/OSCOutPort.h"
#include "support/UdpListener.h"

using namespace vitrine;
namespace asio = boost::asio;
namespace beast = boost::beast;
namespace http = beast::http;
namespace websocket = beast::websocket;
using tcp = asio::ip::tcp;
using nlohmann::json;

namespace {

std::set<std::string> allPictures() {
    std::set<std::string> names;
    for (const auto name : SceneControl::pictureNames()) names.emplace(name);
    return names;
}

class WebServerTest : public ::testing::Test {
protected:
    void start(WebServer::Limits limits = {}) {
        controller = std::make_shared<ViewController>();
        ASSERT_TRUE(LayoutLoader::loadNibNamed("Main", *controller, screen));
        controller->outPort = OSCOutPort::createWithAddress("127.0.0.1", showcase.port());
        std::string error;
        server =
            WebServer::create(io, screen, {asio::ip::make_address("127.0.0.1"), 0}, error, limits);
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

        json read() {
            beast::flat_buffer buffer;
            ws.read(buffer);
            return json::parse(beast::buffers_to_string(buffer.data()));
        }
        void send(const std::string& text) {
            ws.text(true);
            ws.write(asio::buffer(text));
        }
    };

    // A page that has connected and read the state the server sends first.
    std::unique_ptr<Page> openPage(std::string origin = "") {
        auto page = std::make_unique<Page>();
        tcp::resolver resolver(page->io);
        asio::connect(page->ws.next_layer(), resolver.resolve("127.0.0.1", std::to_string(port)));
        const std::string host = "127.0.0.1:" + std::to_string(port);
        if (origin.empty()) origin = "http://" + host;
        page->ws.set_option(
            websocket::stream_base::decorator([origin](websocket::request_type& request) {
                request.set(http::field::origin, origin);
            }));
        page->ws.handshake(host, "/ws");
        const json first = page->read();
        EXPECT_EQ(first["type"], "state");
        return page;
    }

    http::response<http::string_body> request(http::verb verb, const std::string& target) {
        asio::io_context client;
        beast::tcp_stream stream(client);
        tcp::resolver resolver(client);
        stream.connect(resolver.resolve("127.0.0.1", std::to_string(port)));
        http::request<http::empty_body> request{verb, target, 11};
        request.set(http::field::host, "127.0.0.1");
        http::write(stream, request);
        beast::flat_buffer buffer;
        http::response_parser<http::string_body> parser;
        parser.skip(verb == http::verb::head);
        parser.body_limit(4 * 1024 * 1024);
        http::read(stream, buffer, parser);
        return parser.release();
    }

    test::UdpListener showcase;
    RemoteScreen screen{allPictures()};
    std::shared_ptr<ViewController> controller;
    asio::io_context io;
    std::shared_ptr<WebServer> server;
    uint16_t port = 0;
    std::thread runner;
};

TEST_F(WebServerTest, ServesThePageAndItsPicturesOnly) {
    start();
    const auto page = request(http::verb::get, "/");
    EXPECT_EQ(page.result(), http::status::ok);
    EXPECT_EQ(page[http::field::content_type], "text/html; charset=utf-8");
    EXPECT_NE(page.body().find("app.js"), std::string::npos);
    EXPECT_EQ(request(http::verb::get, "/app.css")[http::field::content_type],
              "text/css; charset=utf-8");
    EXPECT_EQ(request(http::verb::get, "/app.js?v=1")[http::field::content_type],
              "text/javascript; charset=utf-8");

    const auto picture = request(http::verb::get, "/pictures/Theriaque%201.png");
    EXPECT_EQ(picture.result(), http::status::ok);
    EXPECT_EQ(picture[http::field::content_type], "image/png");
    EXPECT_EQ(picture.body().substr(1, 3), "PNG");
    const auto head = request(http::verb::head, "/pictures/BGMortier.png");
    EXPECT_EQ(head.result(), http::status::ok);
    EXPECT_EQ(head[http::field::content_length],
              std::to_string(request(http::verb::get, "/pictures/BGMortier.png").body().size()));

    for (const char* target :
         {"/nothing", "/pictures/", "/pictures/..%2Fapp.js", "/pictures/%2e%2e%2fapp.js",
          "/pictures/make_pictures.py", "/pictures/.png", "/pictures/BGMortier.png%",
          "/pictures/%zzBGMortier.png", "/app.js/", "/ws", "/../app.js"})
        EXPECT_EQ(request(http::verb::get, target).result(), http::status::not_found) << target;
    EXPECT_EQ(request(http::verb::post, "/").result(), http::status::method_not_allowed);
    EXPECT_EQ(request(http::verb::delete_, "/app.js").result(), http::status::method_not_allowed);
}

TEST_F(WebServerTest, EveryPageGetsTheStateAfterEveryChange) {
    start();
    auto tablet = openPage();
    auto phone = openPage();
    tablet->send(R"({"action": "chevrette"})");
    EXPECT_EQ(tablet->read()["picture"], "BGChevrette.png");
    EXPECT_EQ(phone->read()["picture"], "BGChevrette.png");
    EXPECT_EQ(showcase.drain().size(), 2u);

    phone->send(R"({"action": "switchVideo", "on": false})");
    for (Page* page : {tablet.get(), phone.get()}) {
        const json state = page->read();
        EXPECT_EQ(state["picture"], "BGAllOff.png");
        EXPECT_FALSE(state["switchOn"]);
        EXPECT_FALSE(state["controls"]["mor"]["enabled"]);
    }
    // A page that is behind asks for what already is and alone gets the state again.
    tablet->send(R"({"action": "switchVideo", "on": false})");
    EXPECT_FALSE(tablet->read()["switchOn"]);
    phone->send(R"({"action": "switchVideo", "on": true})");
    EXPECT_TRUE(phone->read()["switchOn"]);
    EXPECT_TRUE(tablet->read()["switchOn"]);
}

TEST_F(WebServerTest, RefusedInputAnswersItsSenderOnlyAndChangesNothing) {
    start();
    auto offender = openPage();
    auto bystander = openPage();
    offender->send("{\"action\": ");
    EXPECT_EQ(offender->read(), (json{{"type", "error"}, {"message", "Message illisible."}}));
    offender->send(std::string(5000, ' '));
    EXPECT_EQ(offender->read()["message"], "Message trop long.");
    offender->ws.binary(true);
    offender->ws.write(asio::buffer(std::string("{\"action\": \"mortier\"}")));
    EXPECT_EQ(offender->read()["message"], "Message illisible.");
    offender->send(R"({"action": "fader", "value": 2})");
    EXPECT_EQ(offender->read()["message"], "Valeur d'intensit\u00e9 invalide.");
    EXPECT_TRUE(showcase.drain(std::chrono::milliseconds(100)).empty());

    // The bystander's next message is the state of the next real change, nothing before it.
    offender->send(R"({"action": "mortier"})");
    EXPECT_EQ(bystander->read()["picture"], "BGMortier.png");
    EXPECT_EQ(offender->read()["picture"], "BGMortier.png");
}

TEST_F(WebServerTest, AHugeMessageClosesThatPageWith1009AndOthersCarryOn) {
    start();
    auto offender = openPage();
    auto bystander = openPage();
    offender->send(std::string(70 * 1024, 'x'));
    beast::flat_buffer buffer;
    beast::error_code error;
    offender->ws.read(buffer, error);
    // The close frame may race with the end of the upload; when it is read, it says why.
    EXPECT_TRUE(error);
    if (error == websocket::error::closed) {
        EXPECT_EQ(offender->ws.reason().code, websocket::close_code::too_big);
    }
    bystander->send(R"({"action": "onguent"})");
    EXPECT_EQ(bystander->read()["picture"], "BGOnguent.png");
}

TEST_F(WebServerTest, SocketsFromAnotherOriginAreRefused) {
    start();
    const std::string host = "127.0.0.1:" + std::to_string(port);
    const auto upgrade = [&](const std::optional<std::string>& origin) {
        asio::io_context client;
        beast::tcp_stream stream(client);
        stream.connect(tcp::endpoint{asio::ip::make_address("127.0.0.1"), port});
        http::request<http::empty_body> request{http::verb::get, "/ws", 11};
        request.set(http::field::host, host);
        request.set(http::field::connection, "Upgrade");
        request.set(http::field::upgrade, "websocket");
        request.set(http::field::sec_websocket_version, "13");
        request.set(http::field::sec_websocket_key, "dGhlIHNhbXBsZSBub25jZQ==");
        if (origin) request.set(http::field::origin, *origin);
        http::write(stream, request);
        beast::flat_buffer buffer;
        http::response<http::string_body> response;
        http::read(stream, buffer, response);
        return response.result();
    };
    EXPECT_EQ(upgrade("http://evil.example"), http::status::forbidden);
    EXPECT_EQ(upgrade("http://127.0.0.1:" + std::to_string(port + 1)), http::status::forbidden);
    EXPECT_EQ(upgrade("null"), http::status::forbidden);
    EXPECT_EQ(upgrade("http://" + host), http::status::switching_protocols);
    // Without an Origin (no browser) the socket is taken.
    EXPECT_EQ(upgrade(std::nullopt), http::status::switching_protocols);
}

TEST_F(WebServerTest, ConnectionsBeyondTheLimitAreClosedAtOnce) {
    WebServer::Limits limits;
    limits.maxConnections = 2;
    start(limits);
    auto first = openPage();
    auto second = openPage();
    asio::io_context client;
    tcp::socket third(client);
    third.connect({asio::ip::make_address("127.0.0.1"), port});
    char byte = 0;
    beast::error_code error;
    third.read_some(asio::buffer(&byte, 1), error);
    EXPECT_EQ(error, asio::error::eof);
    first->send(R"({"action": "vaseHaut"})");
    EXPECT_EQ(second->read()["picture"], "BGVasehaut.png");
}

TEST_F(WebServerTest, OversizedHeadersAreRefused) {
    WebServer::Limits limits;
    limits.maxHeaderBytes = 1024;
    start(limits);
    asio::io_context client;
    beast::tcp_stream stream(client);
    stream.connect(tcp::endpoint{asio::ip::make_address("127.0.0.1"), port});
    http::request<http::empty_body> request{http::verb::get, "/", 11};
    request.set(http::field::host, "127.0.0.1");
    request.set("X-Padding", std::string(4096, 'p'));
    http::write(stream, request);
    beast::flat_buffer buffer;
    http::response<http::string_body> response;
    http::read(stream, buffer, response);
    EXPECT_EQ(response.result(), http::status::payload_too_large);
}

}  // namespace

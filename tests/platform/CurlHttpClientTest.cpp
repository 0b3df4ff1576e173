#include <arpa/inet.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <httplib.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdlib>
#include <future>
#include <thread>

#include "platform/posix/CurlHttpClient.h"

namespace companion {
namespace {

using std::chrono::milliseconds;

// A loopback server on a port of the system's choosing, answering every request with 201.
class LoopbackServer {
  public:
    explicit LoopbackServer(milliseconds delay = {}) {
        server_.Post(".*",
                     [this, delay](const httplib::Request& request, httplib::Response& response) {
                         {
                             std::lock_guard lock(mutex_);
                             seen_ = request;
                         }
                         std::this_thread::sleep_for(delay);
                         response.status = 201;
                         response.set_content("ignored", "text/plain");
                     });
        port_ = server_.bind_to_any_port("127.0.0.1");
        thread_ = std::thread([this] { server_.listen_after_bind(); });
        while (!server_.is_running()) {
            std::this_thread::sleep_for(milliseconds(1));
        }
    }
    ~LoopbackServer() {
        server_.stop();
        thread_.join();
    }
    std::string url() const { return "http://127.0.0.1:" + std::to_string(port_) + "/v1/x"; }
    httplib::Request seen() {
        std::lock_guard lock(mutex_);
        return seen_;
    }

  private:
    httplib::Server server_;
    std::thread thread_;
    int port_ = 0;
    std::mutex mutex_;
    httplib::Request seen_;
};

struct Delivered {
    HttpOutcome outcome;
    std::thread::id thread;
};

// Sends and waits for the completion, which must come within ten seconds.
Delivered sendAndWait(const HttpRequest& request) {
    auto promise = std::make_shared<std::promise<Delivered>>();
    auto future = promise->get_future();
    EXPECT_TRUE(CurlHttpClient().send(request, [promise](HttpOutcome outcome) {
        promise->set_value({std::move(outcome), std::this_thread::get_id()});
    }));
    if (future.wait_for(std::chrono::seconds(10)) != std::future_status::ready) {
        ADD_FAILURE() << "no completion for " << request.url;
        return {};
    }
    return future.get();
}

HttpRequest post(std::string url, double timeoutSeconds = 60.0) {
    return {.url = std::move(url),
            .method = "POST",
            .headers = {{"Content-Type", "application/json"}, {"X-Probe", "1"}},
            .body = "{}",
            .timeoutSeconds = timeoutSeconds};
}

TEST(CurlHttpClient, PostsOnAWorkerThreadAndDeliversTheStatus) {
    LoopbackServer server;
    const Delivered delivered = sendAndWait(post(server.url()));
    EXPECT_EQ(delivered.outcome.error, std::nullopt);
    EXPECT_EQ(delivered.outcome.status, 201);
    EXPECT_NE(delivered.thread, std::this_thread::get_id());

    const httplib::Request seen = server.seen();
    EXPECT_EQ(seen.method, "POST");
    EXPECT_EQ(seen.path, "/v1/x");
    EXPECT_EQ(seen.get_header_value("Content-Type"), "application/json");
    EXPECT_EQ(seen.get_header_value("X-Probe"), "1");
    EXPECT_EQ(seen.body, "{}");
}

TEST(CurlHttpClient, IgnoresProxiesFromTheEnvironment) {
    LoopbackServer server;
    // Port 9 on loopback has no proxy; a request sent there would fail to connect.
    for (const char* variable : {"http_proxy", "HTTP_PROXY", "all_proxy", "ALL_PROXY"}) {
        ::setenv(variable, "http://127.0.0.1:9", 1);
    }
    const Delivered delivered = sendAndWait(post(server.url()));
    for (const char* variable : {"http_proxy", "HTTP_PROXY", "all_proxy", "ALL_PROXY"}) {
        ::unsetenv(variable);
    }
    EXPECT_EQ(delivered.outcome.error, std::nullopt);
    EXPECT_EQ(delivered.outcome.status, 201);
}

TEST(CurlHttpClient, RefusesAddressesThatDoNotParse) {
    for (const char* url :
         {"", "http://127.0.0.1:99999/x", "http://[::1/x", "http://127.0.0.1:5x/"}) {
        bool called = false;
        EXPECT_FALSE(CurlHttpClient().send(post(url), [&called](HttpOutcome) { called = true; }))
            << url;
        EXPECT_FALSE(called);
    }
}

TEST(CurlHttpClient, DescribesARefusedConnectionInLibcurlsWords) {
    // Bound but not listening: the kernel refuses connections to it.
    const int holder = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(::bind(holder, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    socklen_t length = sizeof address;
    ::getsockname(holder, reinterpret_cast<sockaddr*>(&address), &length);
    const std::string port = std::to_string(ntohs(address.sin_port));

    const Delivered delivered = sendAndWait(post("http://127.0.0.1:" + port + "/x"));
    ::close(holder);
    EXPECT_EQ(delivered.outcome.status, std::nullopt);
    EXPECT_THAT(delivered.outcome.error, ::testing::Optional(::testing::MatchesRegex(
                                             "Failed to connect to 127\\.0\\.0\\.1 port " + port +
                                             " after [0-9]+ ms: Couldn't connect to server")));
}

TEST(CurlHttpClient, KeepsTheRequestsOwnTimeout) {
    LoopbackServer server(milliseconds(1500));
    const Delivered delivered = sendAndWait(post(server.url(), 0.3));
    EXPECT_EQ(delivered.outcome.status, std::nullopt);
    EXPECT_THAT(delivered.outcome.error,
                ::testing::Optional(::testing::HasSubstr("timed out after")));
}

}  // namespace
}  // namespace companion

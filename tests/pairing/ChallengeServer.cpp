#include "pairing/ChallengeServer.h"

#include <arpa/inet.h>
#include <httplib.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <mutex>
#include <stdexcept>
#include <thread>

namespace companion::testing {

namespace {

// Other tests on this machine may hold the port for a moment, the real daemon's among them.
template <typename Attempt>
void retryForPort(Attempt attempt) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (!attempt()) {
        if (std::chrono::steady_clock::now() > deadline) {
            throw std::runtime_error("port 50051 stayed busy");
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
}

}  // namespace

struct ChallengeServer::Impl {
    httplib::Server server;
    std::thread thread;
    mutable std::mutex mutex;
    std::vector<ChallengeRequest> requests;
};

ChallengeServer::ChallengeServer(int status, std::chrono::milliseconds delay)
    : impl_(std::make_unique<Impl>()) {
    Impl& impl = *impl_;
    auto handler = [&impl, status, delay](const httplib::Request& request,
                                          httplib::Response& response) {
        {
            std::lock_guard lock(impl.mutex);
            impl.requests.push_back({request.method, request.path,
                                     request.get_header_value("Content-Type"), request.body,
                                     request.remote_addr});
        }
        std::this_thread::sleep_for(delay);
        response.status = status;
    };
    // The library's default, SO_REUSEPORT, would let this server and a daemon share the port and
    // split the requests between them; SO_REUSEADDR makes the bind wait for the port instead.
    impl.server.set_socket_options([](int socket) {
        int on = 1;
        ::setsockopt(socket, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    });
    impl.server.Post(".*", handler);
    impl.server.Get(".*", handler);
    // Bound is listening already: connections wait in the backlog until the thread accepts them.
    retryForPort([&] { return impl.server.bind_to_port("127.0.0.1", kDaemonPort); });
    impl.thread = std::thread([&impl] { impl.server.listen_after_bind(); });
    // A stop before the accept loop runs would be lost, and the join would wait for ever.
    while (!impl.server.is_running()) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
}

ChallengeServer::~ChallengeServer() {
    impl_->server.stop();
    impl_->thread.join();
}

std::vector<ChallengeRequest> ChallengeServer::requests() const {
    std::lock_guard lock(impl_->mutex);
    return impl_->requests;
}

RefusingPort::RefusingPort() {
    retryForPort([this] {
        socket_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        // Binds beside connections of earlier tests lingering in TIME_WAIT, never beside a
        // listener.
        int on = 1;
        ::setsockopt(socket_, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(kDaemonPort);
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        if (::bind(socket_, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0) {
            return true;
        }
        ::close(socket_);
        socket_ = -1;
        return false;
    });
}

RefusingPort::~RefusingPort() {
    ::close(socket_);
}

}  // namespace companion::testing

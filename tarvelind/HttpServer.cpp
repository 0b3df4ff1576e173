#include "HttpServer.h"

#include <arpa/inet.h>
#include <microhttpd.h>
#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <climits>
#include <cstdio>
#include <list>
#include <optional>
#include <set>
#include <thread>
#include <unordered_map>

#include "FileWriting.h"
#include "Log.h"
#include "PeerAddress.h"

namespace tarvelind {
namespace {

using Clock = std::chrono::steady_clock;

// Room kept for the companion however many LAN clients there are.
constexpr unsigned kLoopbackRoom = 16;
// Descriptors kept for the store, the network reads, the pairing file and the log.
constexpr rlim_t kDescriptorsForTheRest = 32;

std::string addressText(const sockaddr* address) {
    char text[INET6_ADDRSTRLEN] = "";
    if (address->sa_family == AF_INET) {
        inet_ntop(AF_INET, &reinterpret_cast<const sockaddr_in*>(address)->sin_addr, text,
                  sizeof text);
    } else if (address->sa_family == AF_INET6) {
        inet_ntop(AF_INET6, &reinterpret_cast<const sockaddr_in6*>(address)->sin6_addr, text,
                  sizeof text);
    }
    return text;
}

/// The request's own text as a log line may hold it: every byte outside printable ASCII as %XX.
/// libmicrohttpd hands over the path percent-decoded, and any machine on the LAN may send one:
/// unescaped, it could write lines of its own into the log the companion shows, or terminal
/// escape sequences.
std::string loggable(std::string_view text) {
    std::string out;
    for (unsigned char c : text) {
        if (c >= 0x20 && c < 0x7F) {
            out += static_cast<char>(c);
        } else {
            char escaped[4];
            std::snprintf(escaped, sizeof escaped, "%%%02X", c);
            out += escaped;
        }
    }
    return out;
}

}  // namespace

ConnectionLimits connectionLimitsFor(rlim_t descriptors) {
    ConnectionLimits limits;
    rlim_t room = descriptors > kDescriptorsForTheRest ? descriptors - kDescriptorsForTheRest : 0;
    limits.total = static_cast<unsigned>(std::clamp<rlim_t>(room, 2 * kLoopbackRoom, limits.total));
    limits.fromLan = limits.total - kLoopbackRoom;
    return limits;
}

struct HttpServer::State {
    struct Connection {
        std::list<Connection>::iterator position;
        int socket = -1;
        std::string peer;
        bool fromLan = false;
        Clock::time_point deadline;
        bool cut = false;
        std::string body;
        bool bodyTooLarge = false;
    };

    ConnectionLimits limits;
    Handler handler;
    FailureHandler failed;
    MHD_Daemon* daemon = nullptr;
    int stopEvent = -1;
    std::thread loop;

    // Touched only by the loop's thread, and by MHD_stop_daemon once the loop has ended.
    std::list<Connection> connections;
    std::unordered_map<std::string, unsigned> openFromLanPeer;
    unsigned openFromLan = 0;
    std::set<std::string> refusalLogged;  // peers refused since they last had none open
    bool closedDuringRun = false;

    ~State() {
        if (daemon)
            MHD_stop_daemon(daemon);
        if (stopEvent >= 0)
            close(stopEvent);
    }

    static MHD_Result admit(void* cls, const sockaddr* address, socklen_t) {
        auto& self = *static_cast<State*>(cls);
        std::string peer = addressText(address);
        if (isLoopbackPeer(peer))
            return MHD_YES;
        auto open = self.openFromLanPeer.find(peer);
        unsigned fromPeer = open == self.openFromLanPeer.end() ? 0 : open->second;
        if (fromPeer < self.limits.perLanPeer && self.openFromLan < self.limits.fromLan)
            return MHD_YES;
        // Told once per flood, not once per connection, so the log stays readable.
        if (self.refusalLogged.insert(peer).second) {
            logLine("refusing new connections from " + peer + " for now: it holds " +
                    std::to_string(fromPeer) + ", the LAN " + std::to_string(self.openFromLan) +
                    " of " + std::to_string(self.limits.fromLan));
        }
        return MHD_NO;
    }

    static void notify(void* cls, MHD_Connection* connection, void** context,
                       MHD_ConnectionNotificationCode code) {
        auto& self = *static_cast<State*>(cls);
        if (code == MHD_CONNECTION_NOTIFY_STARTED) {
            auto& added = self.connections.emplace_front();
            added.position = self.connections.begin();
            added.socket =
                MHD_get_connection_info(connection, MHD_CONNECTION_INFO_CONNECTION_FD)->connect_fd;
            added.peer =
                addressText(MHD_get_connection_info(connection, MHD_CONNECTION_INFO_CLIENT_ADDRESS)
                                ->client_addr);
            added.fromLan = !isLoopbackPeer(added.peer);
            added.deadline = Clock::now() + self.limits.requestTime;
            if (added.fromLan) {
                ++self.openFromLanPeer[added.peer];
                ++self.openFromLan;
            }
            *context = &added;
            return;
        }
        auto* closed = static_cast<Connection*>(*context);
        if (!closed)
            return;
        if (closed->fromLan) {
            --self.openFromLan;
            if (--self.openFromLanPeer[closed->peer] == 0) {
                self.openFromLanPeer.erase(closed->peer);
                self.refusalLogged.erase(closed->peer);
            }
        }
        self.connections.erase(closed->position);
        *context = nullptr;
        self.closedDuringRun = true;
    }

    static MHD_Result handle(void* cls, MHD_Connection* connection, const char* path,
                             const char* method, const char*, const char* upload,
                             size_t* uploadSize, void** request) {
        auto& self = *static_cast<State*>(cls);
        auto& client = *static_cast<Connection*>(
            MHD_get_connection_info(connection, MHD_CONNECTION_INFO_SOCKET_CONTEXT)
                ->socket_context);
        if (*request == nullptr) {  // the headers are in; a body may follow
            client.body.clear();
            client.bodyTooLarge = false;
            *request = &client;
            return MHD_YES;
        }
        if (*uploadSize > 0) {
            // What does not fit is read and dropped, so the client still gets its answer.
            if (client.body.size() + *uploadSize > kMaxBodyBytes) {
                client.bodyTooLarge = true;
                client.body.clear();
            } else if (!client.bodyTooLarge) {
                client.body.append(upload, *uploadSize);
            }
            *uploadSize = 0;
            return MHD_YES;
        }
        HttpAnswer answer =
            self.handler({method, path, client.peer, std::move(client.body), client.bodyTooLarge});
        logLine(loggable(method) + " " + loggable(path) + " " + std::to_string(answer.status) +
                " from " + client.peer);
        // A kept-alive connection has the same time again for its next request.
        client.deadline = Clock::now() + self.limits.requestTime;
        MHD_Response* response = MHD_create_response_from_buffer(
            answer.body.size(), answer.body.data(), MHD_RESPMEM_MUST_COPY);
        MHD_add_response_header(response, MHD_HTTP_HEADER_CONTENT_TYPE, "application/json");
        MHD_Result queued = MHD_queue_response(connection, answer.status, response);
        MHD_destroy_response(response);
        return queued;
    }

    static void logMhd(void*, const char* format, va_list arguments) {
        char text[512];
        std::vsnprintf(text, sizeof text, format, arguments);
        std::string_view line(text);
        while (line.ends_with('\n'))
            line.remove_suffix(1);
        logLine("http server: " + std::string(line));
    }

    /// Milliseconds until MHD or a connection's deadline needs the loop, or -1 for never.
    int nextWakeup() const {
        std::optional<Clock::time_point> next;
        MHD_UNSIGNED_LONG_LONG mhdTimeout = 0;
        if (MHD_get_timeout(daemon, &mhdTimeout) == MHD_YES)
            next = Clock::now() + std::chrono::milliseconds(mhdTimeout);
        for (const Connection& client : connections) {
            if (!client.cut)
                next = std::min(next.value_or(client.deadline), client.deadline);
        }
        if (!next)
            return -1;
        auto wait = std::chrono::ceil<std::chrono::milliseconds>(*next - Clock::now()).count();
        return static_cast<int>(std::clamp<decltype(wait)>(wait, 0, INT_MAX));
    }

    /// Cuts off the clients whose time is up. The socket is shut down rather than closed: MHD
    /// sees the end of the stream, closes the connection and forgets it as for any other.
    void cutOverdue() {
        const auto now = Clock::now();
        for (Connection& client : connections) {
            if (!client.cut && client.deadline <= now) {
                shutdown(client.socket, SHUT_RDWR);
                client.cut = true;
            }
        }
    }

    void run() {
        const int mhdEvents = MHD_get_daemon_info(daemon, MHD_DAEMON_INFO_EPOLL_FD)->epoll_fd;
        const int events = epoll_create1(EPOLL_CLOEXEC);
        epoll_event watch{};
        watch.events = EPOLLIN;
        for (int fd : {mhdEvents, stopEvent}) {
            watch.data.fd = fd;
            if (events < 0 || epoll_ctl(events, EPOLL_CTL_ADD, fd, &watch) != 0) {
                failed("cannot wait for connections: " + errnoText());
                return;
            }
        }
        for (;;) {
            epoll_event ready[2];
            int count = epoll_wait(events, ready, 2, nextWakeup());
            if (count < 0 && errno != EINTR) {
                failed("cannot wait for connections: " + errnoText());
                break;
            }
            if (std::any_of(ready, ready + std::max(count, 0),
                            [&](const epoll_event& e) { return e.data.fd == stopEvent; })) {
                break;
            }
            // Out of descriptors, MHD stops accepting until a connection closes, and accepts
            // again only on its next run: that run is now, not at the next event, which may
            // be long in coming while a client waits.
            do {
                closedDuringRun = false;
                MHD_run(daemon);
            } while (closedDuringRun);
            cutOverdue();
        }
        close(events);
    }
};

std::unique_ptr<HttpServer> HttpServer::start(int listeningSocket, ConnectionLimits limits,
                                              Handler handler, FailureHandler failed,
                                              std::string& error) {
    auto state = std::make_unique<State>();
    state->limits = limits;
    state->handler = std::move(handler);
    state->failed = std::move(failed);
    state->stopEvent = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    State* self = state.get();
    state->daemon = MHD_start_daemon(
        MHD_USE_EPOLL | MHD_USE_ERROR_LOG, 0, &State::admit, self, &State::handle, self,
        MHD_OPTION_EXTERNAL_LOGGER, &State::logMhd, self, MHD_OPTION_LISTEN_SOCKET, listeningSocket,
        MHD_OPTION_CONNECTION_LIMIT, limits.total, MHD_OPTION_NOTIFY_CONNECTION, &State::notify,
        self, MHD_OPTION_END);
    if (!state->daemon || state->stopEvent < 0) {
        if (!state->daemon)
            close(listeningSocket);
        error = "the HTTP server cannot start";
        return nullptr;
    }
    state->loop = std::thread([self] { self->run(); });
    return std::unique_ptr<HttpServer>(new HttpServer(std::move(state)));
}

HttpServer::HttpServer(std::unique_ptr<State> state) : state_(std::move(state)) {}

HttpServer::~HttpServer() {
    eventfd_write(state_->stopEvent, 1);
    state_->loop.join();
}

}  // namespace tarvelind

#pragma once

#include <sys/resource.h>

#include <chrono>
#include <functional>
#include <memory>
#include <string>

#include "HttpApi.h"

namespace tarvelind {

/// How much of the daemon its clients may hold. Every machine on the LAN can reach it, so no
/// one of them, nor all of them together, may take the room the companion needs.
struct ConnectionLimits {
    unsigned total = 256;     // open connections, loopback ones included
    unsigned fromLan = 240;   // of those, from addresses other than loopback
    unsigned perLanPeer = 8;  // from any one address other than loopback
    // For a request to arrive whole, counted from the connection's opening or the previous
    // answer; an idle or trickling client is cut off then.
    std::chrono::milliseconds requestTime{2000};
};

/// The limits that leave room within `descriptors` open files for the rest of the daemon.
ConnectionLimits connectionLimitsFor(rlim_t descriptors);

/// An HTTP/1.1 server run by the event loop of one thread of its own, so that a client that
/// connects and waits costs a descriptor and a little memory, never a thread.
class HttpServer {
  public:
    using Handler = std::function<HttpAnswer(const HttpRequest&)>;
    using FailureHandler = std::function<void(const std::string& reason)>;

    /// Serves on `listeningSocket` (bound, listening and non-blocking; the server closes it)
    /// until destroyed. `failed` is called from the server's thread if it has to stop early.
    /// Returns nothing and sets `error` when it cannot start.
    static std::unique_ptr<HttpServer> start(int listeningSocket, ConnectionLimits limits,
                                             Handler handler, FailureHandler failed,
                                             std::string& error);

    /// Closes every connection and the listening socket.
    ~HttpServer();

    struct State;

  private:
    explicit HttpServer(std::unique_ptr<State> state);
    std::unique_ptr<State> state_;
};

}  // namespace tarvelind

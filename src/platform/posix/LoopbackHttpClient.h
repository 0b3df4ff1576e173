#pragma once

#include <optional>
#include <string>

#include "platform/HttpClient.h"

namespace companion {

// Plain HTTP/1.1 to a numeric address, each request on a worker thread of its own that ends with
// the request. The companion only ever talks to its own daemon on this machine, so there is no
// name lookup, no proxy and no TLS, and none of their libraries are loaded into the menu app.
class LoopbackHttpClient : public HttpClient {
  public:
    bool send(const HttpRequest& request, std::function<void(HttpOutcome)> completion) override;
};

// The parts of an "http://ADDRESS[:PORT]/PATH" URL the client can reach: a numeric IPv4 address or
// a bracketed IPv6 one, a port from 1 to 65535 (80 when absent), and a path of visible characters.
struct LoopbackUrl {
    std::string address;  // without brackets
    unsigned port = 80;
    std::string path;
};
std::optional<LoopbackUrl> parseLoopbackUrl(const std::string& url);

// The status of an answer that begins with an HTTP/1.x status line; absent for anything else.
std::optional<int> httpStatusOf(const std::string& answer);

}  // namespace companion

#pragma once

#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace companion {

struct HttpRequest {
    std::string url;
    std::string method;
    std::vector<std::pair<std::string, std::string>> headers;
    std::string body;
    double timeoutSeconds = 60.0;
};

struct HttpOutcome {
    // The transport's own description of a failure; absent when an answer arrived.
    std::optional<std::string> error;
    // The HTTP status of the answer; absent when the answer was not HTTP.
    std::optional<int> status;
};

class HttpClient {
  public:
    virtual ~HttpClient() = default;
    // Starts the request and returns at once. The completion runs exactly once, on a worker
    // thread, never on the caller's. Returns false, and never calls the completion, when the URL
    // does not parse or the method or a header cannot be written as they are.
    virtual bool send(const HttpRequest& request, std::function<void(HttpOutcome)> completion) = 0;
};

}  // namespace companion

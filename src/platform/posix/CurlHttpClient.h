#pragma once

#include "platform/HttpClient.h"

namespace companion {

// HTTP on libcurl, each request on a worker thread of its own.
class CurlHttpClient : public HttpClient {
  public:
    bool send(const HttpRequest& request, std::function<void(HttpOutcome)> completion) override;
};

}  // namespace companion

#pragma once

#include "platform/HttpClient.h"

namespace companion {

// HTTP on libcurl, each request on a worker thread of its own that ends with the request. Never
// goes through a proxy: the companion only talks to its own daemon on this machine.
class CurlHttpClient : public HttpClient {
  public:
    CurlHttpClient();
    bool send(const HttpRequest& request, std::function<void(HttpOutcome)> completion) override;
};

}  // namespace companion

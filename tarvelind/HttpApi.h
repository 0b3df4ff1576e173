#pragma once

#include <string>

#include "PairingFile.h"

namespace tarvelind {

constexpr std::size_t kMaxBodyBytes = 64 * 1024;

/// One whole request as the server received it.
struct HttpRequest {
    std::string method;
    std::string path;
    std::string peer;  // the client's address, without its port
    std::string body;
    bool bodyTooLarge = false;  // more than kMaxBodyBytes arrived; `body` is then empty
};

/// A status and the JSON text to send with it.
struct HttpAnswer {
    int status = 500;
    std::string body;
};

/// The daemon's endpoints: the companion's pairing challenge and a health check.
class HttpApi {
  public:
    /// `pairing` must outlive the API.
    HttpApi(PairingIssuer& pairing, std::string fingerprint, bool captureAllowed);

    HttpAnswer answer(const HttpRequest& request);

  private:
    PairingIssuer& pairing_;
    std::string fingerprint_;
    bool captureAllowed_;
};

}  // namespace tarvelind

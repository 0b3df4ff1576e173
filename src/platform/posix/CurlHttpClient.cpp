#include "platform/posix/CurlHttpClient.h"

// Placeholder until the pairing subsystem lands.
namespace companion {

bool CurlHttpClient::send(const HttpRequest&, std::function<void(HttpOutcome)>) {
    return false;
}

}  // namespace companion

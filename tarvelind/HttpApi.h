#pragma once

#include <string>

#include "PairingFile.h"

namespace httplib {
class Server;
}

namespace tarvelind {

constexpr std::size_t kMaxBodyBytes = 64 * 1024;

/// Routes, limits and socket options of the daemon's HTTP server. `pairing` must outlive it.
void configureHttpServer(httplib::Server& server, PairingIssuer& pairing,
                         const std::string& fingerprint, bool captureAllowed);

}  // namespace tarvelind

#pragma once

#include <optional>
#include <string>

namespace companion {

enum class ProcessProbeResult {
    Alive,         // signal 0 was accepted
    NotPermitted,  // the process exists but belongs to another user
    NoSuchProcess,
    Failed,  // any other error
};

class ProcessProbe {
  public:
    virtual ~ProcessProbe() = default;
    // Probes with signal 0: nothing is delivered.
    virtual ProcessProbeResult probe(long long pid) const = 0;
    // The base name of the program the process runs, or nothing when it cannot be read.
    virtual std::optional<std::string> programName(long long pid) const = 0;
};

class PortProbe {
  public:
    virtual ~PortProbe() = default;
    // True only when some socket listens on the TCP port; false when nothing does or when the
    // probe cannot tell. Blocks its caller; any thread.
    virtual bool isListening(const std::string& port) const = 0;
};

// The name under which other devices on the LAN reach this computer, as the system reports it
// (untrimmed, without a domain), or nothing when it cannot be had.
class HostNameSource {
  public:
    virtual ~HostNameSource() = default;
    virtual std::optional<std::string> localHostName() const = 0;
};

}  // namespace companion

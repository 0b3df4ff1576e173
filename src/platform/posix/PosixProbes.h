#pragma once

#include "platform/Probes.h"

namespace companion {

// Signal 0 answers whether a process exists; which program it runs is the system's business.
class PosixProcessProbe : public ProcessProbe {
  public:
    ProcessProbeResult probe(long long pid) const override;
    std::optional<std::string> programName(long long pid) const override;
};

// The system's host name, first label only.
class PosixHostNameSource : public HostNameSource {
  public:
    std::optional<std::string> localHostName() const override;
};

}  // namespace companion

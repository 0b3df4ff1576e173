#include "platform/posix/PosixProbes.h"

#include <unistd.h>
#include <cerrno>
#include <climits>
#include <csignal>

namespace companion {

ProcessProbeResult PosixProcessProbe::probe(long long pid) const {
    if (pid <= 0 || pid > INT_MAX) {
        return ProcessProbeResult::Failed;
    }
    if (::kill(static_cast<pid_t>(pid), 0) == 0) {
        return ProcessProbeResult::Alive;
    }
    switch (errno) {
        case EPERM:
            return ProcessProbeResult::NotPermitted;
        case ESRCH:
            return ProcessProbeResult::NoSuchProcess;
        default:
            return ProcessProbeResult::Failed;
    }
}

std::optional<std::string> PosixProcessProbe::programName(long long) const {
    return std::nullopt;
}

std::optional<std::string> PosixHostNameSource::localHostName() const {
    char name[HOST_NAME_MAX + 1] = {};
    if (::gethostname(name, sizeof name - 1) != 0) {
        return std::nullopt;
    }
    std::string host(name);
    return host.substr(0, host.find('.'));
}

}  // namespace companion

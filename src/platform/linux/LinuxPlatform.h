#pragma once

#include <filesystem>
#include <string>
#include <string_view>
#include <utility>

#include "platform/Directories.h"
#include "platform/Platform.h"
#include "platform/posix/PosixProbes.h"

namespace companion {

// The XDG folders: $XDG_DATA_HOME (else ~/.local/share) and $XDG_STATE_HOME (else
// ~/.local/state), read from the environment on every call.
class XdgDirectories : public Directories {
  public:
    std::filesystem::path applicationSupportDirectory() const override;
    std::filesystem::path libraryDirectory() const override;
};

// Resources in a folder; the application's own lie in ../Resources beside its executable.
class ResourceFolderBundle : public Bundle {
  public:
    explicit ResourceFolderBundle(std::filesystem::path folder) : folder_(std::move(folder)) {}
    static ResourceFolderBundle besideExecutable();
    std::optional<std::filesystem::path> resource(const std::string& name) const override;

  private:
    std::filesystem::path folder_;
};

// Reads which program a process runs from /proc, also for other users' processes.
class LinuxProcessProbe : public PosixProcessProbe {
  public:
    std::optional<std::string> programName(long long pid) const override;
};

// Where a port probe looks for listening TCP sockets.
enum class PortProbeSource {
    // The kernel's socket diagnostics (NETLINK_SOCK_DIAG) asked for listening sockets alone:
    // the same small cost however many connections the machine holds. False where refused.
    Netlink,
    // /proc/net/tcp and /proc/net/tcp6: every socket of the machine is read and parsed, so it
    // costs milliseconds once thousands of connections sit in TIME_WAIT.
    ProcNet,
    // Netlink, and /proc where netlink is refused (a sandbox denying the socket or the dump).
    NetlinkElseProcNet,
};

// Asks the kernel rather than starting a tool, so it also sees sockets of other users (the
// capture daemon runs as root) and never waits on a child process.
class LinuxPortProbe : public PortProbe {
  public:
    explicit LinuxPortProbe(PortProbeSource source = PortProbeSource::NetlinkElseProcNet)
        : source_(source) {}
    bool isListening(const std::string& port) const override;

  private:
    PortProbeSource source_;
};

// Whether a /proc/net/tcp or /proc/net/tcp6 table lists a listening socket on the port.
bool socketTableListensOn(std::string_view table, unsigned port);

// A Linux desktop's words for the machine and for the system that asks for approval.
inline PlatformWords linuxPlatformWords() {
    return {.thisComputer = "this computer", .systemWillAsk = "Your system will ask"};
}

// The base name of the first argument of a /proc/PID/cmdline text.
std::optional<std::string> programNameFromCmdline(std::string_view cmdline);

}  // namespace companion

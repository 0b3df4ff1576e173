#include "platform/linux/LinuxPlatform.h"

#include <linux/inet_diag.h>
#include <linux/netlink.h>
#include <linux/sock_diag.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <pwd.h>
#include <sys/socket.h>
#include <unistd.h>
#include <algorithm>
#include <array>
#include <cerrno>
#include <charconv>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <span>
#include <sstream>

#include "platform/posix/Spawn.h"
#include "platform/posix/WaitUntilReady.h"

namespace companion {

namespace fs = std::filesystem;

namespace {

fs::path homeDirectory() {
    if (const char* home = std::getenv("HOME"); home && *home) {
        return home;
    }
    if (const passwd* entry = ::getpwuid(::getuid()); entry && entry->pw_dir) {
        return entry->pw_dir;
    }
    return "/";
}

// XDG says relative values are invalid and must be ignored.
fs::path xdgFolder(const char* variable, const char* fallback) {
    if (const char* value = std::getenv(variable); value && *value == '/') {
        return value;
    }
    return homeDirectory() / fallback;
}

std::string readWhole(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    std::ostringstream contents;
    contents << in.rdbuf();
    return contents.str();
}

using Clock = std::chrono::steady_clock;

// The next datagram from the kernel, or nothing when none came by the deadline, the socket
// failed, or the datagram did not fit the buffer (it would be cut, and so would the answer).
std::optional<std::size_t> receiveFromKernel(int fd, std::span<char> buffer,
                                             Clock::time_point deadline) {
    while (waitUntilReady(fd, POLLIN, deadline)) {
        sockaddr_nl sender{};
        socklen_t senderSize = sizeof sender;
        // MSG_TRUNC answers a datagram's whole length even when the buffer held less.
        const ssize_t received =
            ::recvfrom(fd, buffer.data(), buffer.size(), MSG_DONTWAIT | MSG_TRUNC,
                       reinterpret_cast<sockaddr*>(&sender), &senderSize);
        if (received < 0 && (errno == EINTR || errno == EAGAIN)) {
            continue;
        }
        if (received <= 0 || static_cast<std::size_t>(received) > buffer.size()) {
            return std::nullopt;
        }
        // Any process may write to our address; only the kernel's word counts.
        if (sender.nl_pid == 0) {
            return static_cast<std::size_t>(received);
        }
    }
    return std::nullopt;
}

// Dumps the family's listening TCP sockets and says whether one has the local port (network
// order); nothing when the kernel refuses or the dump fails, so the caller may look elsewhere.
std::optional<bool> dumpListsListener(int fd, std::uint8_t family, std::uint16_t port,
                                      Clock::time_point deadline) {
    struct Request {
        nlmsghdr header;
        inet_diag_req_v2 body;
    } request{};
    request.header = {.nlmsg_len = sizeof request,
                      .nlmsg_type = SOCK_DIAG_BY_FAMILY,
                      .nlmsg_flags = NLM_F_REQUEST | NLM_F_DUMP,
                      .nlmsg_seq = family,
                      .nlmsg_pid = 0};
    request.body.sdiag_family = family;
    request.body.sdiag_protocol = IPPROTO_TCP;
    // The kernel then walks its listening sockets alone, never the connections.
    request.body.idiag_states = 1U << TCP_LISTEN;
    sockaddr_nl kernel{};
    kernel.nl_family = AF_NETLINK;
    ssize_t sent = 0;
    do {
        sent = ::sendto(fd, &request, sizeof request, 0, reinterpret_cast<sockaddr*>(&kernel),
                        sizeof kernel);
    } while (sent < 0 && errno == EINTR);
    if (sent != static_cast<ssize_t>(sizeof request)) {
        return std::nullopt;
    }
    // The kernel sizes each part of a dump to the largest buffer the reader offered, up to this.
    alignas(nlmsghdr) std::array<char, 32768> buffer;
    for (;;) {
        const auto received = receiveFromKernel(fd, buffer, deadline);
        if (!received) {
            return std::nullopt;
        }
        for (std::size_t at = 0; at < *received;) {
            nlmsghdr header;
            if (*received - at < sizeof header) {
                return std::nullopt;
            }
            std::memcpy(&header, buffer.data() + at, sizeof header);
            if (header.nlmsg_len < sizeof header || header.nlmsg_len > *received - at) {
                return std::nullopt;
            }
            const char* payload = buffer.data() + at + sizeof header;
            const std::size_t payloadSize = header.nlmsg_len - sizeof header;
            at += NLMSG_ALIGN(header.nlmsg_len);
            if (header.nlmsg_seq != request.header.nlmsg_seq) {
                continue;
            }
            if (header.nlmsg_type == NLMSG_ERROR) {
                return std::nullopt;
            }
            if (header.nlmsg_type == NLMSG_DONE) {
                // A dump that failed part way ends with the error in place of its success.
                int error = 0;
                std::memcpy(&error, payload, std::min(payloadSize, sizeof error));
                return error < 0 ? std::nullopt : std::optional(false);
            }
            inet_diag_msg listener;
            if (header.nlmsg_type != SOCK_DIAG_BY_FAMILY || payloadSize < sizeof listener) {
                return std::nullopt;
            }
            std::memcpy(&listener, payload, sizeof listener);
            if (listener.id.idiag_sport == port) {
                return true;
            }
        }
    }
}

// Whether the kernel lists a listening TCP socket on the port, IPv4 or IPv6, or nothing when it
// will not answer.
std::optional<bool> netlinkListensOn(std::uint16_t port) {
    const FileDescriptor fd(::socket(AF_NETLINK, SOCK_RAW | SOCK_CLOEXEC, NETLINK_SOCK_DIAG));
    if (!fd) {
        return std::nullopt;
    }
    // The probe runs on the main thread: a kernel that does not answer costs a moment, then
    // /proc answers instead.
    const auto deadline = Clock::now() + std::chrono::milliseconds(250);
    std::optional<bool> listed = false;
    for (const std::uint8_t family : {AF_INET, AF_INET6}) {
        listed = dumpListsListener(fd.get(), family, htons(port), deadline);
        if (listed != false) {  // found, or the kernel will not answer
            break;
        }
    }
    return listed;
}

}  // namespace

fs::path XdgDirectories::applicationSupportDirectory() const {
    return xdgFolder("XDG_DATA_HOME", ".local/share");
}

fs::path XdgDirectories::libraryDirectory() const {
    return xdgFolder("XDG_STATE_HOME", ".local/state");
}

ResourceFolderBundle ResourceFolderBundle::besideExecutable() {
    std::error_code error;
    const fs::path executable = fs::read_symlink("/proc/self/exe", error);
    return ResourceFolderBundle(executable.parent_path().parent_path() / "Resources");
}

std::optional<fs::path> ResourceFolderBundle::resource(const std::string& name) const {
    const fs::path candidate = folder_ / name;
    std::error_code error;
    if (!fs::is_regular_file(candidate, error)) {
        return std::nullopt;
    }
    return candidate;
}

std::optional<std::string> programNameFromCmdline(std::string_view cmdline) {
    const std::string_view first = cmdline.substr(0, cmdline.find('\0'));
    if (first.empty()) {
        return std::nullopt;
    }
    return fs::path(first).filename().string();
}

std::optional<std::string> LinuxProcessProbe::programName(long long pid) const {
    // An exited process, or one whose table is hidden from us, leaves nothing to read.
    return programNameFromCmdline(readWhole(fs::path("/proc") / std::to_string(pid) / "cmdline"));
}

bool socketTableListensOn(std::string_view table, unsigned port) {
    constexpr std::string_view kListen = "0A";
    std::size_t lineStart = table.find('\n');  // the first line names the columns
    while (lineStart != std::string_view::npos && lineStart < table.size()) {
        std::size_t lineEnd = table.find('\n', lineStart + 1);
        std::string_view line = table.substr(lineStart + 1, lineEnd == std::string_view::npos
                                                                ? std::string_view::npos
                                                                : lineEnd - lineStart - 1);
        lineStart = lineEnd;
        // Columns: slot, local address:port, remote address:port, state, ...
        std::istringstream columns{std::string(line)};
        std::string slot, local, remote, state;
        if (!(columns >> slot >> local >> remote >> state) || state != kListen) {
            continue;
        }
        const std::size_t colon = local.rfind(':');
        if (colon == std::string::npos) {
            continue;
        }
        unsigned localPort = 0;
        const char* begin = local.data() + colon + 1;
        const char* end = local.data() + local.size();
        if (auto [ptr, error] = std::from_chars(begin, end, localPort, 16);
            error == std::errc() && ptr == end && localPort == port) {
            return true;
        }
    }
    return false;
}

bool LinuxPortProbe::isListening(const std::string& port) const {
    unsigned number = 0;
    const char* end = port.data() + port.size();
    if (auto [ptr, error] = std::from_chars(port.data(), end, number);
        error != std::errc() || ptr != end || port.empty() || number > 65535) {
        return false;
    }
    if (source_ != PortProbeSource::ProcNet) {
        if (const auto listed = netlinkListensOn(static_cast<std::uint16_t>(number))) {
            return *listed;
        }
        if (source_ == PortProbeSource::Netlink) {
            return false;
        }
    }
    for (const char* table : {"/proc/net/tcp", "/proc/net/tcp6"}) {
        if (socketTableListensOn(readWhole(table), number)) {
            return true;
        }
    }
    return false;
}

}  // namespace companion

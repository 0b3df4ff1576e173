#include "platform/linux/LinuxPlatform.h"

#include <pwd.h>
#include <unistd.h>
#include <charconv>
#include <cstdlib>
#include <fstream>
#include <sstream>

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

bool ProcNetPortProbe::isListening(const std::string& port) const {
    unsigned number = 0;
    const char* end = port.data() + port.size();
    if (auto [ptr, error] = std::from_chars(port.data(), end, number);
        error != std::errc() || ptr != end || port.empty() || number > 65535) {
        return false;
    }
    for (const char* table : {"/proc/net/tcp", "/proc/net/tcp6"}) {
        if (socketTableListensOn(readWhole(table), number)) {
            return true;
        }
    }
    return false;
}

}  // namespace companion

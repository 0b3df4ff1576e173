#include "platform/linux/XdgLoginItem.h"

#include <pwd.h>
#include <unistd.h>
#include <cstdlib>
#include <sstream>
#include <system_error>
#include <vector>

#include "platform/Files.h"

namespace companion {

namespace fs = std::filesystem;

namespace {

constexpr const char* kEntryName = "orvane-pelix-companion.desktop";
// Desktop entries are a few hundred bytes; anything far larger is not ours.
constexpr std::size_t kMaxEntryBytes = 64 * 1024;
constexpr std::string_view kDeletedSuffix = " (deleted)";

fs::path configHome() {
    // XDG says relative values are invalid and must be ignored.
    if (const char* value = std::getenv("XDG_CONFIG_HOME"); value && *value == '/') {
        return value;
    }
    if (const char* home = std::getenv("HOME"); home && *home) {
        return fs::path(home) / ".config";
    }
    if (const passwd* entry = ::getpwuid(::getuid()); entry && entry->pw_dir) {
        return fs::path(entry->pw_dir) / ".config";
    }
    return "/.config";
}

std::string_view trimmed(std::string_view text) {
    const auto begin = text.find_first_not_of(" \t\r");
    if (begin == std::string_view::npos) {
        return {};
    }
    const auto end = text.find_last_not_of(" \t\r");
    return text.substr(begin, end - begin + 1);
}

std::string unescapeString(std::string_view value) {
    std::string out;
    for (std::size_t i = 0; i < value.size(); ++i) {
        if (value[i] != '\\' || i + 1 == value.size()) {
            out += value[i];
            continue;
        }
        switch (const char next = value[++i]) {
            case 's':
                out += ' ';
                break;
            case 'n':
                out += '\n';
                break;
            case 't':
                out += '\t';
                break;
            case 'r':
                out += '\r';
                break;
            case '\\':
                out += '\\';
                break;
            // Not a string escape: it belongs to the Exec quoting, which reads it next.
            default:
                out += '\\', out += next;
                break;
        }
    }
    return out;
}

bool isBlank(char c) {
    return c == ' ' || c == '\t' || c == '\n';
}

// The arguments of an Exec value after the string escapes are undone. Reads what desktops
// accept: double quotes with \" \` \$ \\ escapes as the format says, and the shell's single
// quotes and bare backslashes as GLib also takes them.
std::optional<std::vector<std::string>> splitExec(std::string_view exec) {
    std::vector<std::string> arguments;
    std::size_t i = 0;
    while (i < exec.size()) {
        while (i < exec.size() && isBlank(exec[i])) {
            ++i;
        }
        if (i == exec.size()) {
            break;
        }
        std::string argument;
        while (i < exec.size() && !isBlank(exec[i])) {
            const char c = exec[i++];
            if (c == '"') {
                for (;;) {
                    if (i == exec.size()) {
                        return std::nullopt;
                    }
                    const char q = exec[i++];
                    if (q == '"') {
                        break;
                    }
                    if (q == '\\' && i < exec.size() &&
                        std::string_view("\"`$\\").find(exec[i]) != std::string_view::npos) {
                        argument += exec[i++];
                    } else {
                        argument += q;
                    }
                }
            } else if (c == '\'') {
                const auto close = exec.find('\'', i);
                if (close == std::string_view::npos) {
                    return std::nullopt;
                }
                argument += exec.substr(i, close - i);
                i = close + 1;
            } else if (c == '\\' && i < exec.size()) {
                argument += exec[i++];
            } else {
                argument += c;
            }
        }
        arguments.push_back(std::move(argument));
    }
    return arguments;
}

std::string withoutFieldCodeEscapes(std::string_view argument) {
    std::string out;
    for (std::size_t i = 0; i < argument.size(); ++i) {
        out += argument[i];
        if (argument[i] == '%' && i + 1 < argument.size() && argument[i + 1] == '%') {
            ++i;
        }
    }
    return out;
}

// A bare program name is looked up the way the session starts it: through PATH.
std::optional<fs::path> programLocation(const std::string& program) {
    if (program.find('/') != std::string::npos) {
        return program.front() == '/' ? std::optional<fs::path>(program) : std::nullopt;
    }
    const char* path = std::getenv("PATH");
    std::istringstream folders(path ? path : "/usr/local/bin:/usr/bin:/bin");
    for (std::string folder; std::getline(folders, folder, ':');) {
        const fs::path candidate = fs::path(folder.empty() ? "." : folder) / program;
        if (::access(candidate.c_str(), X_OK) == 0) {
            return candidate;
        }
    }
    return std::nullopt;
}

bool isTrue(const std::optional<std::string>& value) {
    return value && (trimmed(*value) == "true" || trimmed(*value) == "1");
}

bool isFalse(const std::optional<std::string>& value) {
    return value && (trimmed(*value) == "false" || trimmed(*value) == "0");
}

}  // namespace

std::string desktopEntryExec(const fs::path& program) {
    std::string quoted = "\"";
    for (const char c : program.string()) {
        if (c == '"' || c == '`' || c == '$' || c == '\\') {
            quoted += '\\';
        }
        quoted += c;
        if (c == '%') {
            quoted += '%';
        }
    }
    quoted += '"';
    // The string escapes come last because readers undo them first.
    std::string exec;
    for (const char c : quoted) {
        switch (c) {
            case '\\':
                exec += "\\\\";
                break;
            case '\n':
                exec += "\\n";
                break;
            case '\t':
                exec += "\\t";
                break;
            case '\r':
                exec += "\\r";
                break;
            default:
                exec += c;
                break;
        }
    }
    return exec;
}

std::optional<std::string> desktopEntryProgram(std::string_view exec) {
    const auto arguments = splitExec(exec);
    if (!arguments || arguments->empty() || arguments->front().empty()) {
        return std::nullopt;
    }
    return withoutFieldCodeEscapes(arguments->front());
}

std::optional<std::string> desktopEntryValue(std::string_view entry, std::string_view key) {
    std::optional<std::string> value;
    bool inMainGroup = false;
    std::istringstream lines{std::string(entry)};
    for (std::string line; std::getline(lines, line);) {
        const std::string_view text = trimmed(line);
        if (text.empty() || text.front() == '#') {
            continue;
        }
        if (text.front() == '[') {
            inMainGroup = text == "[Desktop Entry]";
            continue;
        }
        const auto equals = text.find('=');
        if (!inMainGroup || equals == std::string_view::npos ||
            trimmed(text.substr(0, equals)) != key) {
            continue;
        }
        // A repeated key is malformed; the last one wins, as the desktops read it.
        value = unescapeString(trimmed(text.substr(equals + 1)));
    }
    return value;
}

XdgLoginItem::XdgLoginItem(fs::path executable) : executable_(std::move(executable)) {}

fs::path XdgLoginItem::entryPath() {
    return configHome() / "autostart" / kEntryName;
}

std::optional<fs::path> XdgLoginItem::resolvedExecutable() const {
    std::error_code error;
    if (auto path = fs::canonical(executable_, error); !error) {
        return path;
    }
    // After an upgrade replaced the running program the link names the old file as deleted;
    // the new one at the same place is what the next login should start.
    const std::string target = fs::read_symlink(executable_, error).string();
    if (error || !target.ends_with(kDeletedSuffix)) {
        return std::nullopt;
    }
    auto path = fs::canonical(target.substr(0, target.size() - kDeletedSuffix.size()), error);
    return error ? std::nullopt : std::optional<fs::path>(path);
}

LoginItemStatus XdgLoginItem::status() const {
    const auto executable = resolvedExecutable();
    if (!executable) {
        return LoginItemStatus::NotFound;
    }
    const auto entry = readSmallRegularFile(entryPath(), kMaxEntryBytes);
    if (!entry) {
        return LoginItemStatus::NotRegistered;
    }
    const auto exec = desktopEntryValue(*entry, "Exec");
    const auto program = exec ? desktopEntryProgram(*exec) : std::nullopt;
    const auto location = program ? programLocation(*program) : std::nullopt;
    std::error_code error;
    if (!location || !fs::equivalent(*location, *executable, error) || error) {
        return LoginItemStatus::NotRegistered;
    }
    // GNOME's own switch predates Hidden and is still what its session settings write.
    if (isTrue(desktopEntryValue(*entry, "Hidden")) ||
        isFalse(desktopEntryValue(*entry, "X-GNOME-Autostart-enabled"))) {
        return LoginItemStatus::RequiresApproval;
    }
    return LoginItemStatus::Enabled;
}

std::optional<std::string> XdgLoginItem::registerItem() {
    const auto executable = resolvedExecutable();
    if (!executable) {
        return "The location of the running Orvane Pelix Companion could not be determined.";
    }
    const fs::path entry = entryPath();
    if (auto failure = createFolder(entry.parent_path())) {
        return failure;
    }
    return writeFileAtomically(entry,
                               "[Desktop Entry]\n"
                               "Type=Application\n"
                               "Name=Orvane Pelix Companion\n"
                               "Comment=Starts the Orvane Pelix companion when you log in\n"
                               "Exec=" +
                                   desktopEntryExec(*executable) +
                                   "\n"
                                   "Icon=orvane-pelix-companion\n"
                                   "Terminal=false\n"
                                   "X-GNOME-Autostart-enabled=true\n");
}

std::optional<std::string> XdgLoginItem::unregisterItem() {
    const fs::path entry = entryPath();
    std::error_code error;
    // Already gone is what was asked for.
    fs::remove(entry, error);
    if (error && error != std::errc::no_such_file_or_directory) {
        return describeFileError("Could not remove the file", entry, error);
    }
    return std::nullopt;
}

}  // namespace companion

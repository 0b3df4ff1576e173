#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

#include "platform/LoginItem.h"

namespace companion {

// The XDG autostart entry orvane-pelix-companion.desktop in $XDG_CONFIG_HOME/autostart (else
// ~/.config/autostart), which desktops read at login.
//
// Enabled: the entry starts this executable and is switched on. Requires approval: it starts
// this executable but the user switched it off in the desktop's session settings (Hidden=true),
// so registering again is what turns it back on. Not registered: no entry, or one that starts
// some other program. Not found: the running executable's own path cannot be resolved.
class XdgLoginItem : public LoginItem {
  public:
    // The program the entry is to start; the running one unless a test names another.
    explicit XdgLoginItem(std::filesystem::path executable = "/proc/self/exe");

    LoginItemStatus status() const override;
    std::optional<std::string> registerItem() override;
    std::optional<std::string> unregisterItem() override;

    // Where the entry lives, read from the environment on every call.
    static std::filesystem::path entryPath();

  private:
    std::optional<std::filesystem::path> resolvedExecutable() const;

    std::filesystem::path executable_;
};

// The Exec value that starts the program without arguments: quoted and escaped the way the
// desktop entry format asks, so blanks, quotes, dollars, backslashes and percent signs survive.
std::string desktopEntryExec(const std::filesystem::path& program);

// The program an Exec value starts (its first argument, unquoted), or nothing when the value
// holds no program or its quoting is broken.
std::optional<std::string> desktopEntryProgram(std::string_view exec);

// The value of a key in the [Desktop Entry] group, with the format's string escapes (\s, \n,
// \t, \r, \\) undone; nothing when the group has no such key.
std::optional<std::string> desktopEntryValue(std::string_view entry, std::string_view key);

}  // namespace companion

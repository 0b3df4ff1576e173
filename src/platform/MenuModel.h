#pragma once

#include <string>
#include <vector>

namespace companion {

// The commands the status menu can send to the application, one for each operation bound by name.
enum class Command {
    None,
    ShowPairingQR,
    ShowCompanionDigest,
    StartCaptureHelper,
    StopCaptureHelper,
    ToggleOpenAtLogin,
    RestartDaemon,
    StopDaemon,
    OpenLogs,
    RemoveCompanionData,
    Quit,
};

struct MenuItem {
    bool separator = false;
    std::string title;
    // A single lower-case letter; the platform adds its default modifier (Command, or Ctrl here).
    std::string keyEquivalent;
    // Items without a command are informational lines and show disabled.
    Command command = Command::None;
    // Whether the item shows a check mark place, and whether the mark is on.
    bool checkable = false;
    bool checked = false;

    static MenuItem makeSeparator() { return MenuItem{.separator = true}; }
    bool operator==(const MenuItem&) const = default;
};

// What the status menu shows, built from state and handed to the platform whole.
struct MenuModel {
    std::vector<MenuItem> items;
    bool operator==(const MenuModel&) const = default;
};

}  // namespace companion

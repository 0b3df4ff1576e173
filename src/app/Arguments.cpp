#include "app/Arguments.h"

#include <algorithm>
#include <array>
#include <string_view>

namespace companion {

namespace {

// Qt's own options; those of the first list take a value, as "-style fusion" or "-style=fusion".
constexpr std::array<std::string_view, 13> kToolkitOptionsWithValue = {
    "platform", "platformpluginpath", "platformtheme", "plugin",   "qwindowgeometry",
    "qwindowicon", "qwindowtitle",    "session",       "display", "geometry",
    "style",       "stylesheet",      "qmljsdebugger"};
constexpr std::array<std::string_view, 5> kToolkitFlags = {"reverse", "nograb", "dograb", "sync",
                                                           "widgetcount"};

bool isOneOf(std::string_view name, const auto& names) {
    return std::find(names.begin(), names.end(), name) != names.end();
}

}  // namespace

LaunchChoice chooseLaunch(const std::vector<std::string>& arguments) {
    using enum LaunchChoice::Kind;
    for (std::size_t i = 0; i < arguments.size(); ++i) {
        const std::string& argument = arguments[i];
        if (argument == "--help" || argument == "-h") {
            return {Help};
        }
        if (argument == "--version" || argument == "-v") {
            return {Version};
        }
        std::string_view name = argument;
        name.remove_prefix(name.starts_with("--") ? 2 : name.starts_with('-') ? 1 : 0);
        const std::string_view key = name.substr(0, name.find('='));
        if (name.size() == argument.size() || name.empty()) {
            return {Unknown, argument};  // the companion opens no files
        }
        if (isOneOf(name, kToolkitFlags) ||
            (key.size() < name.size() && isOneOf(key, kToolkitOptionsWithValue))) {
            continue;
        }
        if (!isOneOf(name, kToolkitOptionsWithValue) || i + 1 == arguments.size()) {
            return {Unknown, argument};
        }
        ++i;  // its value
    }
    return {};
}

std::string usageText() {
    return "Usage: orvane-pelix-companion [--help | --version]\n"
           "\n"
           "Orvane Pelix Companion sits in the system tray beside the Orvane Pelix iPhone app. It\n"
           "runs the local network daemon, pairs the iPhone through a QR code and shows a digest\n"
           "of what the daemon noticed. Started again while it runs, it shows the pairing window\n"
           "of the one that runs.\n"
           "\n"
           "  -h, --help     show this help and exit\n"
           "  -v, --version  show the version and exit\n"
           "\n"
           "Qt's own options (-platform, -display, -style and the like) are passed on to Qt.\n";
}

std::string versionText() {
    return "Orvane Pelix Companion " COMPANION_VERSION "\n";
}

}  // namespace companion

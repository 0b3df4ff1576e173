#include "app/CompanionAppDelegate.h"

namespace companion {

namespace {

MenuItem info(std::string title) {
    return MenuItem{.title = std::move(title)};
}

MenuItem action(std::string title, std::string key, Command command) {
    return MenuItem{.title = std::move(title), .keyEquivalent = std::move(key), .command = command};
}

}  // namespace

MenuModel CompanionAppDelegate::menuModel() {
    const bool captureHelperRuns = captureHelperPID().has_value();
    const bool daemonRuns = daemon && daemon->isRunning();

    MenuModel menu;
    auto& items = menu.items;
    items.push_back(info(captureHelperRuns ? "Packet Capture Helper Running"
                         : daemonRuns      ? "Companion Running"
                                           : "Companion Stopped"));
    items.push_back(info("Menu bar app - use this menu to quit before deleting"));
    items.push_back(MenuItem::makeSeparator());
    items.push_back(action("Show Pairing QR...", "p", Command::ShowPairingQR));
    items.push_back(action("Show Companion Digest...", "d", Command::ShowCompanionDigest));
    items.push_back(
        captureHelperRuns
            ? action("Stop Packet Capture Helper", "", Command::StopCaptureHelper)
            : action("Start Packet Capture Helper...", "", Command::StartCaptureHelper));
    MenuItem openAtLogin = action("Open at Login", "", Command::ToggleOpenAtLogin);
    openAtLogin.checkable = true;
    openAtLogin.checked = platform.loginItem->status() == LoginItemStatus::Enabled;
    items.push_back(openAtLogin);
    items.push_back(
        action(daemonRuns ? "Restart Companion" : "Start Companion", "r", Command::RestartDaemon));
    items.push_back(action("Stop Companion", "s", Command::StopDaemon));
    items.push_back(MenuItem::makeSeparator());
    items.push_back(action("Open Logs", "l", Command::OpenLogs));
    items.push_back(action("Remove Data and Quit...", "", Command::RemoveCompanionData));
    items.push_back(MenuItem::makeSeparator());
    items.push_back(action("Quit Orvane Pelix Companion", "q", Command::Quit));
    return menu;
}

void CompanionAppDelegate::rebuildMenu() {
    MenuModel menu = menuModel();
    if (statusItem) {
        statusItem->setMenu(menu);
    }
}

}  // namespace companion

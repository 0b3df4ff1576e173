#include <system_error>

#include "app/CompanionAppDelegate.h"
#include "platform/Files.h"

namespace companion {

void CompanionAppDelegate::toggleOpenAtLogin() {
    auto& loginItem = *platform.loginItem;
    // Every status but enabled registers, so a registration waiting for approval is asked again.
    const auto failure = loginItem.status() == LoginItemStatus::Enabled ? loginItem.unregisterItem()
                                                                        : loginItem.registerItem();
    if (failure) {
        showAlert("Could not update Login Items", *failure);
        return;
    }
    rebuildMenu();
}

void CompanionAppDelegate::openLogs() {
    const auto folder = logDir();
    createFolder(folder);
    platform.ui->openFolder(folder.string());
}

void CompanionAppDelegate::removeCompanionData() {
    const int answer = platform.ui->runModal(Alert{
        "Remove companion data?",
        "This stops the local companion and removes pairing keys, peer records, and companion logs "
        "from " + platform.words.thisComputer + ".",
        {"Remove", "Cancel"}});
    if (answer != kAlertFirstButtonReturn) {
        return;
    }
    stopDaemonProcess(false);
    std::error_code ignored;
    std::filesystem::remove_all(appSupport(), ignored);
    std::filesystem::remove_all(logDir(), ignored);
    platform.ui->terminate();
}

}  // namespace companion

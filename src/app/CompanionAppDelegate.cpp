#include "app/CompanionAppDelegate.h"

#include <utility>

namespace companion {

CompanionAppDelegate::CompanionAppDelegate(Platform platform) : platform(std::move(platform)) {}

void CompanionAppDelegate::applicationDidFinishLaunching() {
    platform.ui->setActivationPolicyRegular();
    statusItem = platform.ui->createStatusItem();
    if (statusItem && statusItem->hasButton()) {
        statusItem->setImage("antenna.radiowaves.left.and.right", "Orvane Pelix Companion");
        statusItem->setTitle(" Pelix");
    }
    rebuildMenu();
    startDaemon();

    // Counted from here, so the window never appears on top of an alert the launch showed.
    platform.mainQueue->postAfter(Seconds(0.6), [weak = weak_from_this()] {
        auto self = weak.lock();
        if (!self || self->didShowInitialPairing) {
            return;
        }
        self->didShowInitialPairing = true;
        self->showPairingQR();
    });
}

bool CompanionAppDelegate::applicationShouldHandleReopen(bool /*hasVisibleWindows*/) {
    showPairingQR();
    return true;
}

void CompanionAppDelegate::quit() {
    stopDaemonProcess(false);
    platform.ui->terminate();
}

void CompanionAppDelegate::perform(Command command) {
    switch (command) {
        case Command::None:
            break;
        case Command::ShowPairingQR:
            showPairingQR();
            break;
        case Command::ShowCompanionDigest:
            showCompanionDigest();
            break;
        case Command::StartCaptureHelper:
            startCaptureHelper();
            break;
        case Command::StopCaptureHelper:
            stopCaptureHelper();
            break;
        case Command::ToggleOpenAtLogin:
            toggleOpenAtLogin();
            break;
        case Command::RestartDaemon:
            restartDaemon();
            break;
        case Command::StopDaemon:
            stopDaemon();
            break;
        case Command::OpenLogs:
            openLogs();
            break;
        case Command::RemoveCompanionData:
            removeCompanionData();
            break;
        case Command::Quit:
            quit();
            break;
    }
}

void CompanionAppDelegate::showAlert(const std::string& messageText,
                                     const std::string& informativeText) {
    platform.ui->runModal(Alert{messageText, informativeText, {}});
}

}  // namespace companion

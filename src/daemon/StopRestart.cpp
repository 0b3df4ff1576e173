#include <thread>

#include "app/CompanionAppDelegate.h"

namespace companion {

void CompanionAppDelegate::stopDaemonProcess(bool restart) {
    daemonShouldRestart = restart;
    if (daemonRestartWorkItem) {
        daemonRestartWorkItem->cancel();
    }
    if (daemonStabilityWorkItem) {
        daemonStabilityWorkItem->cancel();
    }
    if (!restart) {
        daemonRestartFailures.clear();
    }
    // No wait and no forced kill: the exit arrives through the termination handler.
    if (daemon) {
        daemon->terminate();
    }
    daemon.reset();
    rebuildMenu();
}

void CompanionAppDelegate::restartDaemon() {
    stopDaemonProcess(true);
    startDaemon();
}

void CompanionAppDelegate::stopDaemon() {
    if (captureHelperPID()) {
        stopCaptureHelper();
    } else {
        stopDaemonProcess(false);
    }
}

bool CompanionAppDelegate::isPortListening() const {
    return platform.portProbe->isListening(port);
}

void CompanionAppDelegate::waitForPortToClose() const {
    waitForPortToClose(*platform.portProbe, port);
}

void CompanionAppDelegate::waitForPortToClose(const PortProbe& probe, const std::string& port) {
    const auto deadline = MonotonicClock::now() + std::chrono::seconds(3);
    while (MonotonicClock::now() < deadline) {
        if (!probe.isListening(port)) {
            return;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
}

}  // namespace companion

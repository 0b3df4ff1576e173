#include <fstream>
#include <system_error>

#include "app/CompanionAppDelegate.h"
#include "app/CompanionFiles.h"
#include "platform/Files.h"
#include "capture/CaptureHelperScript.h"

namespace companion {

namespace fs = std::filesystem;

void CompanionAppDelegate::startCaptureHelper() {
    if (captureHelperStarting) {
        return;
    }
    const auto binary = platform.bundle->resource(kCaptureDaemonResourceName);
    if (!binary) {
        showAlert("Missing capture helper",
                  "The app bundle does not contain tarvelind-pcap-darwin-arm64.");
        return;
    }
    const int answer = platform.ui->runModal(Alert{
        "Start packet capture helper?",
        "This temporarily replaces the lightweight watcher with the pcap-enabled companion. " +
            platform.words.systemWillAsk +
            " for administrator approval because packet capture needs elevated network access.",
        {"Start Helper", "Cancel"}});
    if (answer != kAlertFirstButtonReturn) {
        return;
    }
    captureHelperStarting = true;
    stopDaemonProcess(false);
    // Both daemons use the same port; the capture daemon could not bind it while the old one
    // is still shutting down.
    waitForPortToClose();
    platform.mainQueue->postAfter(Seconds(1.2), [weak = weak_from_this(), binary = *binary] {
        if (auto self = weak.lock()) {
            self->launchCaptureHelper(binary);
        }
    });
}

void CompanionAppDelegate::launchCaptureHelper(const fs::path& binary) {
    const auto log = logDir() / kCaptureHelperLogName;
    const auto prepareFailed = [this](const std::string& description) {
        captureHelperStarting = false;
        showAlert("Could not prepare capture helper", description);
        startDaemon();
    };
    for (const auto& folder : {appSupport(), daemonConfigDirectory(), logDir()}) {
        if (auto error = createFolder(folder)) {
            return prepareFailed(*error);
        }
    }
    // Created by the user before the administrator's script touches it, so the file stays the
    // user's and the pairing window can still read what the capture daemon writes.
    const auto pairingFile = daemonConfigDirectory() / kPairingFileName;
    std::ofstream(pairingFile, std::ios::binary | std::ios::trunc);
    std::error_code ignored;
    fs::permissions(pairingFile, fs::perms::owner_read | fs::perms::owner_write,
                    fs::perm_options::replace, ignored);
    if (auto error = writeCaptureHelperScript(binary, log)) {
        return prepareFailed(*error);
    }

    const auto command = captureHelperLaunchCommand(appSupport() / kCaptureHelperScriptName);
    runAdminShell(command, [queue = platform.mainQueue,
                            weak = weak_from_this()](AdminShellResult result) {
        queue->post([weak, result = std::move(result)] {
            auto self = weak.lock();
            if (!self) {
                return;
            }
            if (!result.isSuccess()) {
                self->captureHelperStarting = false;
                std::error_code ignored;
                fs::remove(self->appSupport() / kCaptureHelperPidFileName, ignored);
                self->showAlert("Could not start packet capture helper", result.text);
                self->startDaemon();
                self->rebuildMenu();
                return;
            }
            // Success only means the script was started; give it a moment to start its daemon
            // before asking whether it stayed up.
            self->platform.mainQueue->postAfter(Seconds(1.5), [weak] {
                auto self = weak.lock();
                if (!self) {
                    return;
                }
                self->captureHelperStarting = false;
                if (self->captureHelperPID()) {
                    self->showAlert("Packet capture helper started",
                                    "Capture & explain can now run from the iPhone. Choose Stop "
                                    "Packet Capture Helper when you want to return to the "
                                    "lightweight watcher.");
                } else {
                    self->showAlert("Packet capture helper did not stay running",
                                    "Check Open Logs for the capture helper log. The lightweight "
                                    "companion will restart now.");
                    self->startDaemon();
                }
                self->rebuildMenu();
            });
        });
    });
}

std::optional<std::string> CompanionAppDelegate::writeCaptureHelperScript(const fs::path& binary,
                                                                          const fs::path& log) {
    const auto configDirectory = daemonConfigDirectory();
    const auto script = appSupport() / kCaptureHelperScriptName;
    if (auto error = writeFileAtomically(
            script, captureHelperScript(binary, configDirectory, configDirectory / kPairingFileName,
                                        appSupport() / kCaptureHelperPidFileName, log, port))) {
        return error;
    }
    std::error_code error;
    fs::permissions(script, fs::perms::owner_all, fs::perm_options::replace, error);
    if (error) {
        return describeFileError("Could not make the file executable", script, error);
    }
    return std::nullopt;
}

}  // namespace companion

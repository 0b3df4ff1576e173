#include "daemon/DaemonLaunch.h"

#include <fstream>

#include "app/CompanionAppDelegate.h"
#include "app/CompanionFiles.h"
#include "platform/Files.h"

namespace companion {

std::vector<std::string> daemonArguments(const std::string& port,
                                         const std::filesystem::path& configDirectory,
                                         const std::filesystem::path& pairingFile) {
    return {"-addr",
            "lan",
            "-port",
            port,
            "-config",
            configDirectory.string(),
            "-pairing-code-file",
            pairingFile.string()};
}

void CompanionAppDelegate::startDaemon() {
    if (daemon && daemon->isRunning()) {
        return;
    }
    if (captureHelperPID()) {
        rebuildMenu();
        return;
    }
    daemonShouldRestart = true;

    const auto executable = platform.bundle->resource(kDaemonResourceName);
    if (!executable) {
        showAlert("Missing companion binary",
                  "The app bundle does not contain tarvelind-darwin-arm64.");
        return;
    }
    const auto launchFailed = [this](const std::string& description) {
        showAlert("Could not start companion", description);
    };
    const auto configDirectory = daemonConfigDirectory();
    if (auto error = createFolder(configDirectory)) {
        return launchFailed(*error);
    }
    const auto logs = logDir();
    if (auto error = createFolder(logs)) {
        return launchFailed(*error);
    }
    // Each launch gets a new file, so it holds the output of the latest daemon only. Replaced,
    // not emptied: a daemon still exiting writes on into the old, unlinked file instead of at
    // its old offset in the new one.
    const auto log = logs / kCompanionDaemonLogName;
    std::error_code ignored;
    std::filesystem::remove(log, ignored);
    std::ofstream(log, std::ios::app);

    LaunchRequest request{
        .executable = *executable,
        .arguments = daemonArguments(port, configDirectory, configDirectory / kPairingFileName),
        .outputFile = log,
        .terminateWithCompanion = true};
    auto onTermination = [queue = platform.mainQueue,
                          weak = weak_from_this()](const std::shared_ptr<ChildProcess>& process) {
        queue->post([weak, process] {
            auto self = weak.lock();
            if (!self) {
                return;
            }
            if (self->daemon == process) {
                self->daemon.reset();
            }
            self->rebuildMenu();
            // Also when a newer process has taken its place: a replaced daemon's exit counts.
            if (self->daemonShouldRestart) {
                self->scheduleDaemonRestart();
            }
        });
    };
    auto launched = platform.processLauncher->launch(request, std::move(onTermination));
    if (auto* error = std::get_if<std::string>(&launched)) {
        return launchFailed(*error);
    }
    daemon = std::get<std::shared_ptr<ChildProcess>>(launched);
    scheduleDaemonStabilityReset(daemon);
    rebuildMenu();
}

}  // namespace companion

#pragma once

#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "capture/AdminShellResult.h"
#include "digest/CompanionDigestSnapshot.h"
#include "pairing/PairingPayload.h"
#include "platform/Platform.h"

namespace companion {

// The one object that owns the companion's state and every command. Its members are defined in
// the folder of the subsystem they belong to. Everything here runs on the main thread; work that
// finishes elsewhere is posted to the main queue before it touches a field.
class CompanionAppDelegate : public std::enable_shared_from_this<CompanionAppDelegate> {
  public:
    explicit CompanionAppDelegate(Platform platform);

    // Application lifecycle.
    void applicationDidFinishLaunching();
    // Shows the pairing window, whatever is visible; always answers true.
    bool applicationShouldHandleReopen(bool hasVisibleWindows);
    void quit();

    // The two folders and the daemon config directory, computed anew on every use.
    std::filesystem::path appSupport() const;
    std::filesystem::path logDir() const;
    std::filesystem::path daemonConfigDirectory() const;

    // Status menu.
    void rebuildMenu();
    MenuModel menuModel();
    void perform(Command command);

    // Menu commands.
    void showPairingQR();
    void showCompanionDigest();
    void startCaptureHelper();
    void stopCaptureHelper();
    void toggleOpenAtLogin();
    void restartDaemon();
    void stopDaemon();
    void openLogs();
    void removeCompanionData();

    // Daemon supervision.
    void startDaemon();
    std::optional<long long> captureHelperPID();
    void scheduleDaemonRestart();
    void scheduleDaemonStabilityReset(const std::shared_ptr<ChildProcess>& process);
    void stopDaemonProcess(bool restart);
    bool isPortListening() const;
    // Blocks its thread for up to about three seconds; any thread.
    void waitForPortToClose() const;
    static void waitForPortToClose(const PortProbe& probe, const std::string& port);

    // Pairing.
    std::optional<PairingPayload> readPairingPayload() const;
    // Blocks for at most one second; absent on success, else a sentence for the user.
    std::optional<std::string> refreshPairingCode() const;
    std::string localPairingHost(const PairingPayload& payload) const;

    // Digest.
    CompanionDigestSnapshot loadCompanionDigest() const;
    std::optional<std::string> runSQLiteJSON(const std::filesystem::path& database,
                                             const std::string& query) const;

    // Packet capture helper.
    // Returns at once; the completion runs exactly once on a worker thread, never the main one.
    void runAdminShell(const std::string& command,
                       std::function<void(AdminShellResult)> completion);
    void launchCaptureHelper(const std::filesystem::path& binary);
    // Absent on success, else the file system's description of the failure.
    std::optional<std::string> writeCaptureHelperScript(const std::filesystem::path& binary,
                                                        const std::filesystem::path& log);

    // State, read and written on the main thread only.
    std::shared_ptr<StatusItem> statusItem;
    std::shared_ptr<ChildProcess> daemon;
    std::vector<std::shared_ptr<Window>> pairingWindows;
    std::vector<std::shared_ptr<Window>> digestWindows;
    bool didShowInitialPairing = false;
    bool daemonShouldRestart = true;
    std::vector<WallClock::time_point> daemonRestartFailures;
    std::shared_ptr<ScheduledTask> daemonRestartWorkItem;
    std::shared_ptr<ScheduledTask> daemonStabilityWorkItem;
    const std::string port = "50051";
    static constexpr double restartFailureWindow = 60.0;
    static constexpr int maxRestartFailures = 5;
    static constexpr double stableRunInterval = 30.0;

  private:
    void showAlert(const std::string& messageText, const std::string& informativeText);

    Platform platform;
};

}  // namespace companion

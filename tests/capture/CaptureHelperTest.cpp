#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <csignal>
#include <future>
#include <thread>

#include "capture/CaptureHelperScript.h"
#include "capture/CaptureHelperStop.h"
#include "capture/ShellQuoting.h"
#include "daemon/CaptureHelperPid.h"
#include "platform/linux/LinuxPlatform.h"
#include "platform/linux/PkexecAdminShellRunner.h"
#include "platform/posix/PosixToolRunner.h"
#include "support/DirectShellRunner.h"
#include "support/TestEnvironment.h"

namespace companion::testing {
namespace {

namespace fs = std::filesystem;
using ::testing::HasSubstr;

// Runs what worker threads hand to the main queue until the condition holds or time is up.
bool runUntil(ManualMainQueue& queue, const std::function<bool()>& done, double seconds = 20.0) {
    const auto deadline = std::chrono::steady_clock::now() +
                          std::chrono::duration_cast<std::chrono::steady_clock::duration>(
                              std::chrono::duration<double>(seconds));
    while (!done()) {
        if (std::chrono::steady_clock::now() >= deadline) {
            return false;
        }
        queue.runPosted();
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return true;
}

bool portListening() {
    return ProcNetPortProbe().isListening("50051");
}

fs::perms mode(const fs::path& file) {
    return fs::status(file).permissions() & fs::perms::mask;
}

// A stand-in for pkexec that writes down the command it was given and refuses it.
std::shared_ptr<AdminShellRunner> refusingRunner(const fs::path& folder) {
    const fs::path tool = folder / "pkexec";
    writeScript(tool, "printf '%s' \"$3\" > " + shellQuoted((folder / "command").string()) +
                          "\nprintf '\\nRequest dismissed\\n' >&2\nexit 126");
    return std::make_shared<PkexecAdminShellRunner>(std::make_shared<PosixToolRunner>(), tool);
}

class CaptureHelper : public ::testing::Test {
  protected:
    void SetUp() override { env.adminShellRunner = std::make_shared<DirectShellRunner>(); }

    void TearDown() override {
        if (!delegate) {
            return;
        }
        auto daemon = delegate->daemon;
        delegate->stopDaemonProcess(false);
        endCaptureHelpers();
        EXPECT_TRUE(runUntil(*env.queue, [&] { return !daemon || !daemon->isRunning(); }));
        env.queue->runPosted();
    }

    // A helper script this test started runs on after a failed assertion and outlives the
    // temporary folder; its daemon would hold the port for every later test. Each start line
    // in the log is matched by an exit line once its daemon is gone.
    void endCaptureHelpers() {
        if (!std::dynamic_pointer_cast<DirectShellRunner>(env.adminShellRunner) ||
            !fs::is_regular_file(scriptFile())) {
            return;
        }
        const auto count = [this](const std::string& line) {
            const std::string log = readFile(captureLog());
            std::size_t found = 0;
            for (auto at = log.find(line); at != std::string::npos; at = log.find(line, at + 1)) {
                ++found;
            }
            return found;
        };
        waitUntil([&] { return count("starting packet capture helper") > 0; }, 5.0);
        EXPECT_TRUE(waitUntil(
            [&] {
                if (count("exited with status") >= count("starting packet capture helper")) {
                    return true;
                }
                if (auto pid = parseCaptureHelperPid(readFile(pidFile()))) {
                    ::kill(static_cast<pid_t>(*pid), SIGKILL);
                }
                return false;
            },
            20.0));
    }

    void launchCompanion() {
        delegate = env.makeDelegate();
        delegate->statusItem = env.ui->createStatusItem();
        delegate->startDaemon();
    }

    // Chooses "Start Helper" and lets the delay before the launch pass, expecting the launch
    // itself to show the given alert.
    void startHelper(const char* launchAlert = nullptr) {
        env.ui->expectAlert("Start packet capture helper?");
        delegate->startCaptureHelper();
        if (launchAlert) {
            env.ui->expectAlert(launchAlert);
        }
        EXPECT_EQ(delegate->daemon, nullptr);
        EXPECT_EQ(statusLine(), "Companion Stopped");
        ASSERT_EQ(env.queue->pendingTimers(), 1u);
        EXPECT_NEAR(*env.queue->nextTimerDelay(), 1.2, 1e-6);
        env.queue->advance(1.2);
    }

    std::string statusLine() const { return env.ui->statusItem->titles().at(0); }
    std::string captureItem() const { return env.ui->statusItem->titles().at(5); }
    bool daemonRuns() const { return delegate->daemon && delegate->daemon->isRunning(); }
    fs::path captureDaemon() const { return env.resources() / "tarvelind-pcap-darwin-arm64"; }
    fs::path pidFile() const { return env.appSupport() / "capture-helper.pid"; }
    fs::path scriptFile() const { return env.appSupport() / "run-capture-helper.sh"; }
    fs::path pairingFile() const { return env.configDirectory() / "pairing-code.json"; }
    fs::path captureLog() const { return env.logDir() / "Orvane Pelix Capture Helper.log"; }

    TestEnvironment env;
    std::shared_ptr<CompanionAppDelegate> delegate;
};

TEST_F(CaptureHelper, SwapsToTheCaptureDaemonAndBack) {
    env.installReferenceDaemon();
    launchCompanion();
    ASSERT_TRUE(runUntil(*env.queue, portListening));

    startHelper();
    ASSERT_TRUE(runUntil(*env.queue, [&] {
        return env.queue->pendingTimers() == 1 && delegate->captureHelperPID() && portListening();
    }));
    env.ui->expectAlert("Packet capture helper started");
    env.queue->advance(1.5);
    const auto pid = delegate->captureHelperPID();
    ASSERT_TRUE(pid);
    EXPECT_EQ(statusLine(), "Packet Capture Helper Running");
    EXPECT_EQ(captureItem(), "Stop Packet Capture Helper");
    EXPECT_EQ(delegate->daemon, nullptr);
    EXPECT_THAT(readFile("/proc/" + std::to_string(*pid) + "/cmdline"),
                HasSubstr("-allow-capture"));

    delegate->perform(env.ui->statusItem->menu().items.at(5).command);
    ASSERT_TRUE(runUntil(*env.queue, [&] { return daemonRuns(); }));
    EXPECT_TRUE(runUntil(*env.queue, [&] { return ::kill(static_cast<pid_t>(*pid), 0) != 0; }));
    EXPECT_FALSE(fs::exists(pidFile()));
    EXPECT_EQ(statusLine(), "Companion Running");
    EXPECT_EQ(captureItem(), "Start Packet Capture Helper...");
    EXPECT_THAT(readFile(captureLog()), HasSubstr("packet capture helper exited with status"));
    EXPECT_TRUE(runUntil(*env.queue, portListening));
}

TEST_F(CaptureHelper, CaptureDaemonThatExitsAtOnceBringsTheDaemonBack) {
    env.installDaemonScript("exec sleep 30");
    writeScript(captureDaemon(), "echo 'capture daemon says bye'\nexit 3");
    writeFile(pairingFile(), R"({"pairingCode":"old"})");
    launchCompanion();

    startHelper();
    // The script runs on its own: wait until it is over and the request has come back.
    ASSERT_TRUE(runUntil(*env.queue, [&] {
        return env.queue->pendingTimers() == 1 &&
               readFile(captureLog()).find("exited with status 3") != std::string::npos;
    }));
    env.ui->expectAlert("Packet capture helper did not stay running");
    env.queue->advance(1.5);

    EXPECT_TRUE(daemonRuns());
    EXPECT_EQ(statusLine(), "Companion Running");
    EXPECT_EQ(captureItem(), "Start Packet Capture Helper...");
    EXPECT_FALSE(fs::exists(pidFile()));
    const std::string log = readFile(captureLog());
    EXPECT_THAT(log, HasSubstr("starting packet capture helper"));
    EXPECT_THAT(log, HasSubstr("binary: " + captureDaemon().string() + "\n"));
    EXPECT_THAT(log, HasSubstr("config: " + env.configDirectory().string() + "\n"));
    EXPECT_THAT(log, HasSubstr("capture daemon says bye\n"));
    EXPECT_EQ(readFile(pairingFile()), "");
    EXPECT_EQ(mode(pairingFile()), fs::perms::owner_read | fs::perms::owner_write);
}

TEST_F(CaptureHelper, RefusedRequestRemovesThePidFileAndBringsTheDaemonBack) {
    env.installDaemonScript("exec sleep 30");
    writeScript(captureDaemon(), "exit 0");
    env.adminShellRunner = refusingRunner(env.home.path());
    writeFile(pidFile(), "left behind\n");
    launchCompanion();

    startHelper();
    env.ui->expectAlert("Could not start packet capture helper");
    ASSERT_TRUE(runUntil(*env.queue, [&] { return daemonRuns(); }));

    EXPECT_EQ(env.ui->alerts.back().informativeText, "Request dismissed");
    EXPECT_FALSE(fs::exists(pidFile()));
    EXPECT_EQ(statusLine(), "Companion Running");
    EXPECT_EQ(readFile(env.home.path() / "command"), captureHelperLaunchCommand(scriptFile()));
    EXPECT_EQ(readFile(scriptFile()),
              captureHelperScript(captureDaemon(), env.configDirectory(), pairingFile(), pidFile(),
                                  captureLog(), "50051"));
    EXPECT_EQ(mode(scriptFile()), fs::perms::owner_all);
}

TEST_F(CaptureHelper, UnwritableScriptBringsTheDaemonBack) {
    env.installDaemonScript("exec sleep 30");
    writeScript(captureDaemon(), "exit 0");
    fs::create_directories(scriptFile() / "in the way");
    launchCompanion();

    startHelper("Could not prepare capture helper");

    EXPECT_TRUE(daemonRuns());
    EXPECT_THAT(env.ui->alerts.back().informativeText, HasSubstr(scriptFile().string()));
}

struct Declined {
    const char* name;
    bool resourcePresent;
    int answer;
    const char* alert;
};

class DeclinedStart : public CaptureHelper, public ::testing::WithParamInterface<Declined> {};

TEST_P(DeclinedStart, ChangesNothing) {
    env.installDaemonScript("exec sleep 30");
    if (GetParam().resourcePresent) {
        writeScript(captureDaemon(), "exit 0");
    }
    launchCompanion();
    const auto daemon = delegate->daemon;
    const auto menus = env.ui->statusItem->menus.size();

    env.ui->expectAlert(GetParam().alert, GetParam().answer);
    delegate->startCaptureHelper();
    env.queue->advance(5);

    EXPECT_EQ(delegate->daemon, daemon);
    EXPECT_TRUE(daemonRuns());
    EXPECT_EQ(env.ui->statusItem->menus.size(), menus);
    EXPECT_FALSE(fs::exists(scriptFile()));
    if (!GetParam().resourcePresent) {
        EXPECT_EQ(env.ui->alerts.back().informativeText,
                  "The app bundle does not contain tarvelind-pcap-darwin-arm64.");
    }
}

INSTANTIATE_TEST_SUITE_P(Cases, DeclinedStart,
                         ::testing::Values(Declined{"MissingResource", false,
                                                    kAlertFirstButtonReturn,
                                                    "Missing capture helper"},
                                           Declined{"Cancel", true, kAlertFirstButtonReturn + 1,
                                                    "Start packet capture helper?"}),
                         [](const auto& info) { return std::string(info.param.name); });

struct StopCase {
    const char* name;
    bool granted;
    const char* statusLine;
    const char* captureItem;
};

class StopHelper : public CaptureHelper, public ::testing::WithParamInterface<StopCase> {};

// "Stop Companion" while a helper runs goes through the helper's stop; the PID file alone then
// decides whether the lightweight daemon comes back.
TEST_P(StopHelper, PidFileDecidesWhatRunsAfterwards) {
    env.installDaemonScript("exec sleep 30");
    if (!GetParam().granted) {
        env.adminShellRunner = refusingRunner(env.home.path());
    }
    auto helper = startFakeCaptureHelper(env);
    launchCompanion();
    ASSERT_EQ(delegate->daemon, nullptr);
    const auto menus = env.ui->statusItem->menus.size();

    delegate->stopDaemon();
    ASSERT_TRUE(
        runUntil(*env.queue, [&] { return env.ui->statusItem->menus.size() >= menus + 2; }));

    EXPECT_EQ(helper->isRunning(), !GetParam().granted);
    EXPECT_EQ(fs::exists(pidFile()), !GetParam().granted);
    EXPECT_EQ(daemonRuns(), GetParam().granted);
    EXPECT_EQ(statusLine(), GetParam().statusLine);
    EXPECT_EQ(captureItem(), GetParam().captureItem);
    helper->terminate();
}

INSTANTIATE_TEST_SUITE_P(Cases, StopHelper,
                         ::testing::Values(StopCase{"Granted", true, "Companion Running",
                                                    "Start Packet Capture Helper..."},
                                           StopCase{"Refused", false,
                                                    "Packet Capture Helper Running",
                                                    "Stop Packet Capture Helper"}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(CaptureHelper, StopKillsADaemonThatIgnoresTerm) {
    const fs::path stubborn = env.home.path() / "stubborn";
    const fs::path ready = env.home.path() / "ready";
    const fs::path signals = env.home.path() / "signals";
    writeScript(stubborn, "trap 'echo TERM >> " + shellQuoted(signals.string()) + "' TERM\n: > " +
                              shellQuoted(ready.string()) + "\nwhile :; do sleep 0.1; done");
    auto process = startChild(stubborn);
    ASSERT_TRUE(runUntil(*env.queue, [&] { return fs::exists(ready); }));
    writeFile(pidFile(), std::to_string(process->processIdentifier()) + "\n");

    const auto result =
        DirectShellRunner().run(captureHelperStopCommand(process->processIdentifier(), pidFile()));

    EXPECT_TRUE(result.isSuccess()) << result.text;
    EXPECT_TRUE(runUntil(*env.queue, [&] { return !process->isRunning(); }));
    EXPECT_EQ(readFile(signals), "TERM\n");
    EXPECT_FALSE(fs::exists(pidFile()));
}

TEST_F(CaptureHelper, AdminRequestsCompleteOnWorkersOfTheirOwn) {
    delegate = env.makeDelegate();
    // Each request waits for the other's mark, so both succeed only when nothing serialises them.
    const auto meetCommand = [&](const char* mine, const char* other) {
        const std::string me = shellQuoted((env.home.path() / mine).string());
        const std::string them = shellQuoted((env.home.path() / other).string());
        return ": > " + me + "\ni=0\nwhile [ ! -e " + them + " ] && [ $i -lt 400 ]; do\n" +
               "  i=$((i + 1)); sleep 0.05\ndone\n[ -e " + them + " ]";
    };
    struct Completion {
        std::promise<std::thread::id> thread;
        AdminShellResult result;
        std::atomic<int> calls{0};
    };
    Completion first, second;
    for (auto [completion, mine, other] : {std::tuple{&first, "a", "b"}, {&second, "b", "a"}}) {
        delegate->runAdminShell(meetCommand(mine, other), [completion](AdminShellResult result) {
            completion->result = std::move(result);
            if (++completion->calls == 1) {
                completion->thread.set_value(std::this_thread::get_id());
            }
        });
    }
    auto firstThread = first.thread.get_future();
    auto secondThread = second.thread.get_future();
    ASSERT_EQ(firstThread.wait_for(std::chrono::seconds(30)), std::future_status::ready);
    ASSERT_EQ(secondThread.wait_for(std::chrono::seconds(30)), std::future_status::ready);

    EXPECT_TRUE(first.result.isSuccess()) << first.result.text;
    EXPECT_TRUE(second.result.isSuccess()) << second.result.text;
    EXPECT_NE(firstThread.get(), std::this_thread::get_id());
    EXPECT_NE(secondThread.get(), std::this_thread::get_id());
    EXPECT_EQ(first.calls + second.calls, 2);
}

}  // namespace
}  // namespace companion::testing

#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/mount.h>
#include <unistd.h>
#include <atomic>
#include <fstream>
#include <sstream>

#include "main/PrivateNetwork.h"
#include "platform/linux/LinuxPlatform.h"
#include "platform/posix/PosixProcessLauncher.h"
#include "support/DirectShellRunner.h"
#include "support/TestEnvironment.h"

namespace companion::testing {
namespace {

struct Probes : ProcessProbe, LinuxPortProbe {
    ProcessProbeResult probe(long long) const override { return result; }
    std::optional<std::string> programName(long long) const override { return program; }
    bool isListening(const std::string& port) const override {
        ++portProbes;
        return LinuxPortProbe::isListening(port);
    }
    ProcessProbeResult result;
    std::optional<std::string> program;
    mutable std::atomic<int> portProbes = 0;  // the stop probes from a worker
};

// A delegate in a temporary home whose daemon is a shell script, launched for real; notes launch
// times (virtual seconds) and counts the exits whose main-queue task has run.
struct Supervised : ProcessLauncher {
    explicit Supervised(const std::string& daemonScript, std::shared_ptr<Probes> probes = {}) {
        env.installDaemonScript(daemonScript);
        env.adminShellRunner = std::make_shared<DirectShellRunner>();
        auto platform = env.platform();
        platform.processLauncher = std::shared_ptr<ProcessLauncher>(std::shared_ptr<void>(), this);
        platform.processProbe = probes ? probes : platform.processProbe;
        platform.portProbe = probes ? probes : platform.portProbe;
        delegate = std::make_shared<CompanionAppDelegate>(platform);
        delegate->statusItem = env.ui->createStatusItem();
    }
    ~Supervised() override { delegate->stopDaemonProcess(false); }

    LaunchResult launch(const LaunchRequest& request, TerminationHandler handler) override {
        launches.push_back(now());
        return PosixProcessLauncher().launch(
            request, [queue = env.queue, exits = exits, handler](const auto& process) {
                handler(process);
                queue->post([exits] { ++*exits; });  // behind the delegate's own task
            });
    }
    double now() const { return Seconds(env.queue->monotonicNow() - start).count(); }
    void awaitExits(int n) {
        ASSERT_TRUE(env.queue->runUntil([&] { return *exits >= n; }));
    }

    TestEnvironment env;
    const MonotonicClock::time_point start = env.queue->monotonicNow();
    std::vector<double> launches;
    std::shared_ptr<int> exits = std::make_shared<int>(0);
    std::shared_ptr<CompanionAppDelegate> delegate;
};

// The latest menu, an item a line: title, key, command ("-" on a disabled line), check mark.
std::vector<std::string> shownMenu(const TestEnvironment& env) {
    const char* const commands[] = {"-",       "pairing", "digest", "capStart", "capStop", "login",
                                    "restart", "stop",    "logs",   "remove",   "quit"};
    std::vector<std::string> menu;
    for (const MenuItem& i : env.ui->statusItem->menu().items) {
        const std::string mark = i.checkable ? i.checked ? " on" : " off" : "";
        const auto name = commands[static_cast<int>(i.command)];
        menu.push_back(i.separator ? "---" : i.title + " [" + i.keyEquivalent + "] " + name + mark);
    }
    return menu;
}

TEST(StatusMenu, FollowsTheDaemonTheCaptureHelperAndTheLoginItem) {
    Supervised s("exec sleep 600");
    const char* const startCapture = "Start Packet Capture Helper... [] capStart";
    const auto expectMenu = [&](const std::string& status, const std::string& check,
                                const std::string& restart, const char* capture) {
        // clang-format off
        EXPECT_EQ(shownMenu(s.env), (std::vector<std::string>{
            status + " [] -", "Menu bar app - use this menu to quit before deleting [] -", "---",
            "Show Pairing QR... [p] pairing", "Show Companion Digest... [d] digest", capture,
            "Open at Login [] login " + check, restart + " [r] restart", "Stop Companion [s] stop",
            "---", "Open Logs [l] logs", "Remove Data and Quit... [] remove", "---",
            "Quit Orvane Pelix Companion [q] quit"}));
        // clang-format on
        EXPECT_EQ(s.delegate->menuModel(), s.env.ui->statusItem->menu()) << "same state, same menu";
    };
    s.delegate->rebuildMenu();
    expectMenu("Companion Stopped", "off", "Start Companion", startCapture);
    // Open at Login registers in every status but enabled, and the scripted item then reads so.
    s.delegate->toggleOpenAtLogin();
    expectMenu("Companion Stopped", "on", "Start Companion", startCapture);
    s.delegate->startDaemon();
    expectMenu("Companion Running", "on", "Restart Companion", startCapture);
    s.delegate->toggleOpenAtLogin();
    expectMenu("Companion Running", "off", "Restart Companion", startCapture);

    const auto first = s.delegate->daemon;  // ended, its exit not yet handled
    first->terminate();
    ASSERT_TRUE(waitUntil([&] { return !first->isRunning(); }));
    s.env.loginItem->currentStatus = LoginItemStatus::RequiresApproval;
    s.delegate->rebuildMenu();
    expectMenu("Companion Stopped", "off", "Start Companion", startCapture);
    s.delegate->toggleOpenAtLogin();
    expectMenu("Companion Stopped", "on", "Start Companion", startCapture);
    s.delegate->startDaemon();  // replaces it
    s.awaitExits(1);
    ASSERT_TRUE(s.delegate->daemon && s.delegate->daemon->isRunning()) << "not replaced";

    s.env.loginItem->currentStatus = LoginItemStatus::NotFound;
    s.delegate->daemon->terminate();  // the daemon ends on its own
    s.awaitExits(2);
    expectMenu("Companion Stopped", "off", "Start Companion", startCapture);
    s.delegate->toggleOpenAtLogin();
    // A running capture helper, as the PID file shows it, keeps the lightweight daemon off.
    const fs::path impostor = s.env.home.path() / "tarvelind-pcap-darwin-arm64";
    fs::copy_file("/bin/sleep", impostor);
    const auto helper = startChild(impostor, {"60"});
    writeFile(s.env.appSupport() / "capture-helper.pid",
              std::to_string(helper->processIdentifier()));
    s.delegate->startDaemon();
    expectMenu("Packet Capture Helper Running", "on", "Start Companion",
               "Stop Packet Capture Helper [] capStop");
    helper->terminate();

    s.env.loginItem->failure = "Denied.";
    s.env.ui->expectAlert("Could not update Login Items");
    const auto menus = s.env.ui->statusItem->menus.size();
    s.delegate->toggleOpenAtLogin();
    EXPECT_EQ(s.env.ui->alerts.at(0).informativeText, "Denied.");
    EXPECT_EQ(s.env.ui->statusItem->menus.size(), menus) << "rebuilt after a failure";
}

// Steps at virtual seconds: x the daemon exits, r Restart Companion, s Stop Companion.
TEST(RestartPolicy, FollowsTheTimelineOfExits) {
    // clang-format off
    const struct {
        const char* steps; int wallJumpPerExit;
        std::vector<double> launches, giveUps; bool runningAtEnd;
    } rows[] = {
        {"x0 x1 x3 x7 x15 x31 r40 x40 x41 x43 x47 x55 x71", 0,  // a crash loop, then Start
         {0, 1, 3, 7, 15, 31, 40, 41, 43, 47, 55, 71}, {31, 71}, false},
        {"x0 x1 x2 x3 x4 x5", 59, {0, 1, 2, 3, 4, 5, 6}, {}, true},  // a minute apart: no give-up
        {"x0 x1 x40", 0, {0, 1, 3, 41}, {}, true},  // thirty stable seconds clear the count
        {"x0 x30 x33", 0, {0, 1, 32, 37}, {}, true},  // the check at 31 finds its daemon gone
        {"r5 r10 r15 r20 r25 r30", 0, {0, 5, 10, 15, 20, 25, 30}, {30}, true},  // newest one kept
        {"x0 s0.5", 0, {0}, {}, false}};  // a stop cancels the pending restart
    // clang-format on
    for (const auto& row : rows) {
        SCOPED_TRACE(row.steps);
        Supervised s("exec sleep 600");
        auto& queue = *s.env.queue;
        for ([[maybe_unused]] double time : row.giveUps)
            s.env.ui->expectAlert("Companion stopped after repeated crashes");
        s.delegate->startDaemon();
        int ended = 0;
        std::vector<double> alertTimes;
        std::istringstream steps(row.steps);
        char act;
        for (double at; steps >> act >> at;) {
            queue.advance(at - s.now());
            auto& daemon = s.delegate->daemon;
            ended += daemon && daemon->isRunning();
            if (act == 'x' && daemon) {
                daemon->terminate();
                queue.setWallClock(queue.wallNow() + std::chrono::seconds(row.wallJumpPerExit));
            } else if (act != 'x') {
                act == 'r' ? s.delegate->restartDaemon() : s.delegate->stopDaemon();
            }
            s.awaitExits(ended);
            alertTimes.resize(s.env.ui->alerts.size(), at);
        }
        queue.advance(120 - s.now());
        EXPECT_EQ(s.launches, row.launches);
        EXPECT_EQ(alertTimes, row.giveUps);
        EXPECT_EQ(s.delegate->daemon && s.delegate->daemon->isRunning(), row.runningAtEnd);
    }
}

TEST(DaemonLaunch, ReportsEachFailureOnceThenPassesItsArgumentsWholeToAFreshLog) {
    Supervised s("printf '[%s]' \"$@\"; echo to-stderr >&2");
    auto& ui = *s.env.ui;
    const fs::path binary = s.env.resources() / "tarvelind-darwin-arm64";
    const auto fails = [&](const char* alert, const char* detail) {
        ui.expectAlert(alert);
        s.delegate->startDaemon();
        s.env.queue->advance(120);  // a retry would show another alert
        EXPECT_NE(ui.alerts.back().informativeText.find(detail), std::string::npos)
            << ui.alerts.back().informativeText;
        EXPECT_TRUE(!s.delegate->daemon && ui.statusItem->menus.empty()) << "started or rebuilt";
    };
    fs::rename(binary, s.env.home.path() / "aside");
    fails("Missing companion binary", "The app bundle does not contain tarvelind-darwin-arm64.");
    fs::rename(s.env.home.path() / "aside", binary);
    writeFile(s.env.dataHome(), "a file where the data folder belongs");
    fails("Could not start companion", "Not a directory");
    fs::remove(s.env.dataHome());
    writeFile(s.env.logDir(), "a file where the log folder belongs");
    fails("Could not start companion", "Orvane Pelix\u201d: Not a directory");
    fs::remove(s.env.logDir());
    if (privateNetworkProblem().empty()) {
        fs::create_directories(s.env.dataHome());
        ASSERT_EQ(mount("ro", s.env.dataHome().c_str(), "tmpfs", MS_RDONLY, nullptr), 0);
        fails("Could not start companion", "Read-only file system");
        umount(s.env.dataHome().c_str());
    }
    fs::permissions(binary, fs::perms::owner_read);
    fails("Could not start companion", "Permission denied");

    fs::permissions(binary, fs::perms::owner_all);
    const fs::path log = s.env.logDir() / "Orvane Pelix Companion.log";
    writeFile(log, "an earlier daemon's output\n");
    std::fstream earlier(log, std::ios::in | std::ios::out | std::ios::ate);  // still exiting
    s.delegate->startDaemon();
    s.awaitExits(1);
    earlier << "its last words" << std::flush;
    const std::string dir = s.env.configDirectory().string();
    EXPECT_EQ(readFile(log), "[-addr][lan][-port][50051][-config][" + dir +
                                 "][-pairing-code-file][" + dir + "/pairing-code.json]to-stderr\n");
}

TEST(CaptureHelperPid, CountsALiveCaptureDaemonAndForgetsAStaleFile) {
    using enum ProcessProbeResult;
    const auto probes = std::make_shared<Probes>();
    Supervised s("", probes);
    const fs::path pidFile = s.env.appSupport() / "capture-helper.pid";
    // clang-format off
    const struct {
        const char* content; ProcessProbeResult probe; std::optional<long long> pid; bool fileKept;
        std::optional<std::string> program = "tarvelind-pcap-darwin-arm64";
    } cases[] = {
        {" \n+4242 \n\n", Alive, 4242, true}, {"4242\n", NotPermitted, 4242, true},  // root's helper
        {"", Alive, {}, true}, {"-4242", Alive, {}, true}, {"0", Alive, {}, true},
        {"4242abc", Alive, {}, true}, {"4242\n4243\n", Alive, {}, true},
        {"99999999999999999999", Alive, {}, true}, {"4242\n", NoSuchProcess, {}, false},
        {"4242\n", Alive, {}, false, "sleep"}};  // the number went to another program
    // clang-format on
    for (const auto& c : cases) {
        probes->result = c.probe;
        probes->program = c.program;
        writeFile(pidFile, c.content);
        EXPECT_EQ(s.delegate->captureHelperPID(), c.pid) << c.content;
        EXPECT_EQ(fs::exists(pidFile), c.fileKept) << c.content;
    }
}

TEST(WaitForPortToClose, ProbesATenthOfASecondApartForAboutThreeSeconds) {
    REQUIRE_PRIVATE_NETWORK();
    const auto probes = std::make_shared<Probes>();
    Supervised s("", probes);
    s.delegate->waitForPortToClose();
    EXPECT_EQ(probes->portProbes, 1) << "nothing listens: one probe, no wait";
    const int listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{.sin_family = AF_INET, .sin_port = htons(50051)};
    ASSERT_EQ(::bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    ASSERT_EQ(::listen(listener, 1), 0);
    s.delegate->waitForPortToClose();
    EXPECT_TRUE(probes->portProbes >= 1 + 2 && probes->portProbes <= 1 + 31) << probes->portProbes;
    // A stopped capture helper's port is waited for on a worker, which must leave the delegate
    // for the main thread to destroy.
    const int before = probes->portProbes;
    s.delegate->stopCaptureHelper();
    ASSERT_TRUE(waitUntil([&] { return probes->portProbes > before; }));
    std::weak_ptr<CompanionAppDelegate> quitted = std::exchange(s.delegate, s.env.makeDelegate());
    EXPECT_TRUE(quitted.expired());
    ::close(listener);
}

TEST(Lifecycle, PairingShowsOnceByItselfAndOnReopenAndQuittingStopsTheDaemonForGood) {
    Supervised s("exec sleep 600");
    auto& ui = *s.env.ui;
    // The stand-in daemon never answers the pairing challenge, so each showing ends in this alert.
    ui.expectAlert("Pairing code not ready");
    ui.expectAlert("Pairing code not ready");
    s.delegate->applicationDidFinishLaunching();
    EXPECT_TRUE(s.delegate->applicationShouldHandleReopen(true));
    s.env.queue->advance(0.3);
    s.delegate->applicationDidFinishLaunching();  // must not bring a second automatic showing
    s.env.queue->advance(0.29);
    EXPECT_EQ(ui.alerts.size(), 1u);
    s.env.queue->advance(0.01);
    EXPECT_EQ(ui.alerts.size(), 2u);  // the second launch's showing, due at 0.9, must never come

    ui.expectAlert("Remove companion data?", kAlertFirstButtonReturn + 1);
    s.delegate->removeCompanionData();
    EXPECT_EQ(ui.alerts.back().buttons, (std::vector<std::string>{"Remove", "Cancel"}));
    EXPECT_TRUE(ui.alerts.back().informativeText.ends_with("logs from this computer."));
    EXPECT_TRUE(s.delegate->daemon && s.delegate->daemon->isRunning() && ui.terminations == 0);
    EXPECT_TRUE(fs::exists(s.env.configDirectory()) && fs::exists(s.env.logDir()));
    ui.expectAlert("Remove companion data?");
    s.delegate->removeCompanionData();
    EXPECT_FALSE(fs::exists(s.env.appSupport()) || fs::exists(s.env.logDir()));
    EXPECT_TRUE(fs::is_directory(s.env.dataHome() / "Orvane Pelix"));
    s.awaitExits(1);
    s.env.queue->advance(60);
    EXPECT_TRUE(s.launches.size() == 1 && ui.terminations == 1) << "restarted after removal";

    s.delegate->openLogs();
    EXPECT_TRUE(fs::is_directory(s.env.logDir()));
    EXPECT_EQ(ui.openedFolders, std::vector<std::string>{s.env.logDir().string()});

    s.delegate->startDaemon();
    s.delegate->quit();
    s.awaitExits(2);
    s.env.queue->advance(60);
    EXPECT_TRUE(s.launches.size() == 2 && ui.terminations == 2) << "restarted after quit";
}

}  // namespace
}  // namespace companion::testing

#include "daemon/DaemonLaunch.h"

#include "daemon/SupervisionFixture.h"

namespace companion::testing {
namespace {

namespace fs = std::filesystem;

TEST_F(Supervision, LaunchesTheDaemonWithItsCommandLineAndAFreshLog) {
    installDaemon("echo \"output $1\"; echo \"errors $2\" >&2; exec sleep 30");
    const fs::path log = env.logDir() / "Orvane Pelix Companion.log";
    writeFile(log, "an earlier daemon's output\n");
    delegate->statusItem = env.ui->createStatusItem();

    delegate->startDaemon();
    ASSERT_TRUE(launchedAndRunning());
    ASSERT_TRUE(awaitLaunches(1));
    const std::string config = env.configDirectory().string();
    EXPECT_EQ(readFile(launchLog()), std::to_string(delegate->daemon->processIdentifier()) +
                                         " -addr lan -port 50051 -config " + config +
                                         " -pairing-code-file " + config + "/pairing-code.json\n");
    EXPECT_TRUE(fs::is_directory(env.configDirectory()));
    ASSERT_TRUE(waitUntil([&] { return readFile(log).find("errors") != std::string::npos; }));
    EXPECT_EQ(readFile(log), "output -addr\nerrors lan\n");
    EXPECT_EQ(env.ui->statusItem->titles().front(), "Companion Running");

    // Already running: nothing at all happens, not even a rebuild.
    const auto menus = env.ui->statusItem->menus.size();
    const auto running = delegate->daemon;
    delegate->startDaemon();
    EXPECT_EQ(delegate->daemon, running);
    EXPECT_EQ(launches(), 1);
    EXPECT_EQ(env.ui->statusItem->menus.size(), menus);
}

TEST(DaemonArguments, KeepPathsWithBlanksWhole) {
    EXPECT_EQ(
        daemonArguments("50051", "/a b/tarvelind", "/a b/tarvelind/pairing-code.json"),
        (std::vector<std::string>{"-addr", "lan", "-port", "50051", "-config", "/a b/tarvelind",
                                  "-pairing-code-file", "/a b/tarvelind/pairing-code.json"}));
}

TEST_F(Supervision, ReportsEveryLaunchFailureAndTouchesNothingElse) {
    struct Case {
        const char* name;
        std::function<void()> arrange;
        const char* message;
        const char* detailFragment;
    } cases[] = {
        {"missing binary", [&] { fs::remove(env.resources() / "tarvelind-darwin-arm64"); },
         "Missing companion binary", "The app bundle does not contain tarvelind-darwin-arm64."},
        {"data folder is a file",
         [&] {
             installDaemon("exec sleep 30");
             writeFile(env.dataHome(), "in the way");
         },
         "Could not start companion", "Not a directory"},
        {"log folder is a file",
         [&] {
             fs::remove(env.dataHome());
             writeFile(env.stateHome(), "in the way");
         },
         "Could not start companion", "Not a directory"},
        {"binary not executable",
         [&] {
             fs::remove(env.stateHome());
             fs::permissions(env.resources() / "tarvelind-darwin-arm64", fs::perms::owner_read);
         },
         "Could not start companion", "Permission denied"},
    };
    delegate->statusItem = env.ui->createStatusItem();
    for (const auto& c : cases) {
        c.arrange();
        env.ui->expectAlert(c.message);
        const auto menus = env.ui->statusItem->menus.size();
        delegate->startDaemon();
        ASSERT_FALSE(env.ui->alerts.empty()) << c.name;
        EXPECT_NE(env.ui->alerts.back().informativeText.find(c.detailFragment), std::string::npos)
            << c.name << ": " << env.ui->alerts.back().informativeText;
        EXPECT_FALSE(delegate->daemon) << c.name;
        EXPECT_TRUE(delegate->daemonShouldRestart) << c.name;
        EXPECT_EQ(env.ui->statusItem->menus.size(), menus) << c.name;
        EXPECT_EQ(env.queue->pendingTimers(), 0u) << c.name << ": nothing is retried";
    }
}

TEST_F(Supervision, LeavesTheDaemonOffWhileTheCaptureHelperRuns) {
    installDaemon("exec sleep 30");
    auto helper = startFakeCaptureHelper(env);
    delegate->statusItem = env.ui->createStatusItem();
    delegate->daemonShouldRestart = false;
    delegate->startDaemon();
    EXPECT_FALSE(delegate->daemon);
    EXPECT_FALSE(delegate->daemonShouldRestart);
    EXPECT_EQ(env.ui->statusItem->titles().front(), "Packet Capture Helper Running");
    helper->terminate();
}

TEST_F(Supervision, AnEndedButUnnoticedDaemonIsReplaced) {
    installDaemon("exit 0");
    delegate->statusItem = env.ui->createStatusItem();
    delegate->startDaemon();
    const auto first = delegate->daemon;
    ASSERT_TRUE(waitUntil([&] { return !first->isRunning(); }));
    EXPECT_EQ(env.ui->statusItem->titles().front(), "Companion Running");
    delegate->rebuildMenu();
    EXPECT_EQ(env.ui->statusItem->titles().front(), "Companion Stopped");
    EXPECT_EQ(env.ui->statusItem->titles().at(7), "Start Companion");

    installDaemon("exec sleep 30");
    delegate->startDaemon();
    EXPECT_NE(delegate->daemon, first);
    // The first exit still arrives, leaves the new daemon alone, and is counted.
    awaitExit();
    EXPECT_TRUE(delegate->daemon && delegate->daemon->isRunning());
    EXPECT_EQ(delegate->daemonRestartFailures.size(), 1u);
}

}  // namespace
}  // namespace companion::testing

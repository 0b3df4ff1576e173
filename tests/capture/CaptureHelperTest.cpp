#include <gtest/gtest.h>
#include <sys/mount.h>

#include <fstream>

#include "capture/AppleScript.h"
#include "capture/CaptureHelperScript.h"
#include "capture/CaptureHelperStop.h"
#include "capture/ShellQuoting.h"
#include "main/PrivateNetwork.h"
#include "platform/linux/PkexecAdminShellRunner.h"
#include "platform/posix/PosixToolRunner.h"
#include "support/TestEnvironment.h"

namespace companion::testing {
namespace {

TEST(ShellQuoted, StandsForExactlyTheTextInARealShell) {
    const std::pair<std::string, std::string> cases[] = {
        {"", "''"}, {"/a b/it's o'k $a\"\\`x`\n;", "'/a b/it'\\''s o'\\''k $a\"\\`x`\n;'"}};
    std::string command = "printf '[%s]'", expected;
    for (const auto& [text, quoted] : cases) {
        EXPECT_EQ(shellQuoted(text), quoted);
        command += " " + quoted;
        expected += "[" + text + "]";
    }
    EXPECT_EQ(PosixToolRunner().run("/bin/sh", {"-c", command}, ToolErrorOutput::Discard).output,
              expected);
}

TEST(CaptureHelperTexts, AppleScript) {
    EXPECT_EQ(osascriptArguments("a\"\\b\nc\r"),
              (std::vector<std::string>{
                  "-e", "do shell script \"a\\\"\\\\b\\nc\r\" with administrator privileges"}));
}

// The administrator runs requests as the test's user until pkexec.refuse exists.
class CaptureHelper : public ::testing::Test {
  protected:
    void SetUp() override {
        const fs::path pkexec = env.home.path() / "pkexec";
        writeScript(pkexec,
                    "[ -e \"$0.refuse\" ] || [ \"$#$1$2\" != 3/bin/sh-c ] || exec \"$@\"\n"
                    "echo No >&2; exit 1");
        env.adminShellRunner =
            std::make_shared<PkexecAdminShellRunner>(std::make_shared<PosixToolRunner>(), pkexec);
        env.installDaemonScript("exec sleep 30");
        delegate = env.makeDelegate();
        delegate->statusItem = env.ui->createStatusItem();
    }
    void TearDown() override { delegate->stopDaemonProcess(false); }

    void startHelper(const std::string& answerAlert) {
        env.ui->expectAlert("Start packet capture helper?");
        delegate->startCaptureHelper();
        delegate->startCaptureHelper();  // while one is under way: not even a question
        EXPECT_EQ(detail(),
                  "This temporarily replaces the lightweight watcher with the pcap-enabled "
                  "companion. Your system will ask for administrator approval because packet "
                  "capture needs elevated network access.");
        EXPECT_NEAR(env.queue->nextTimerDelay().value_or(0), 1.2, 1e-9);
        env.ui->expectAlert(answerAlert);
        env.queue->advance(1.2);
        ASSERT_TRUE(env.queue->runUntil(
            [&] { return static_cast<bool>(env.queue->nextTimerDelay()) || daemonUp(); }));
    }
    std::string detail() const { return env.ui->alerts.back().informativeText; }
    bool daemonUp() const { return delegate->daemon && delegate->daemon->isRunning(); }
    fs::path captureDaemon() const { return env.resources() / "tarvelind-pcap-darwin-arm64"; }
    fs::path pidFile() const { return env.appSupport() / "capture-helper.pid"; }

    TestEnvironment env;
    std::shared_ptr<CompanionAppDelegate> delegate;
};

TEST_F(CaptureHelper, SwapsToTheCaptureDaemonOnlyWhileItStays) {
    REQUIRE_PRIVATE_NETWORK();
    env.installReferenceDaemon();
    delegate->startDaemon();
    // Stopped before it listens, a daemon could still take the port from its successor.
    ASSERT_TRUE(waitUntil([&] { return delegate->isPortListening(); }));
    startHelper("Packet capture helper started");
    // Asked while the script has forked but not yet started the daemon, the PID would look stale.
    ASSERT_TRUE(waitUntil([&] { return fs::exists(pidFile()) && delegate->isPortListening(); }));
    // The script logs its start and runs the capture variant with capture allowed, on a pairing
    // file kept private.
    const std::string started = readFile(env.logDir() / "Orvane Pelix Capture Helper.log");
    EXPECT_TRUE(started.find("starting packet capture helper\nbinary: ") != std::string::npos &&
                started.find("starting with packet capture allowed") != std::string::npos &&
                fs::status(env.configDirectory() / "pairing-code.json").permissions() ==
                    (fs::perms::owner_read | fs::perms::owner_write))
        << started;
    env.queue->advance(1.5);
    EXPECT_EQ(detail(),
              "Capture & explain can now run from the iPhone. Choose Stop Packet Capture Helper "
              "when you want to return to the lightweight watcher.");
    delegate->perform(Command::StopDaemon);
    ASSERT_TRUE(env.queue->runUntil([&] { return daemonUp(); }));

    writeScript(captureDaemon(), "exit 3");
    ASSERT_TRUE(waitUntil([&] { return delegate->isPortListening(); }));
    startHelper("Packet capture helper did not stay running");
    EXPECT_NEAR(env.queue->nextTimerDelay().value_or(0), 1.5, 1e-9);
    const fs::path log = env.logDir() / "Orvane Pelix Capture Helper.log";
    ASSERT_TRUE(waitUntil([&] { return readFile(log).ends_with("status 3\n"); }));
    env.queue->advance(1.5);
    EXPECT_EQ(detail(),
              "Check Open Logs for the capture helper log. The lightweight "
              "companion will restart now.");
    EXPECT_TRUE(daemonUp());
}

TEST_F(CaptureHelper, ARefusedRequestLeavesTheLightweightDaemonAndNoStalePidFile) {
    writeFile(env.home.path() / "pkexec.refuse", "");
    writeScript(captureDaemon(), "exit 0");
    writeFile(pidFile(), "left behind\n");
    startHelper("Could not start packet capture helper");
    EXPECT_EQ(detail(), "No");
    EXPECT_FALSE(fs::exists(pidFile()));
}

TEST_F(CaptureHelper, AFullDiskIsToldAndLeavesTheScriptAsItWas) {
    REQUIRE_PRIVATE_NETWORK();
    fs::create_directories(env.appSupport());
    ASSERT_EQ(mount("full", env.appSupport().c_str(), "tmpfs", 0, "size=64k"), 0);
    writeScript(captureDaemon(), "exit 0");
    writeFile(env.appSupport() / "run-capture-helper.sh", "an earlier script");
    std::ofstream(env.appSupport() / "filler") << std::string(64 * 1024, 'x');
    startHelper("Could not prepare capture helper");
    EXPECT_NE(detail().find("No space left on device"), std::string::npos) << detail();
    EXPECT_EQ(readFile(env.appSupport() / "run-capture-helper.sh"), "an earlier script");
    umount(env.appSupport().c_str());
}

TEST_F(CaptureHelper, StopKillsACaptureDaemonThatIgnoresTerm) {
    const std::string signals = (env.home.path() / "signals").string();
    const std::string script =
        "trap 'echo TERM >> \"$0\"' TERM; : > \"$0\"; while :; do sleep 0.1; done";
    auto daemon = startChild("/bin/sh", {"-c", script, signals});
    ASSERT_TRUE(waitUntil([&] { return fs::exists(signals); }));
    writeFile(pidFile(), std::to_string(daemon->processIdentifier()) + "\n");
    const auto stop = captureHelperStopCommand(daemon->processIdentifier(), pidFile());
    EXPECT_TRUE(env.adminShellRunner->run(stop).isSuccess() && !AdminShellResult().isSuccess());
    EXPECT_TRUE(waitUntil([&] { return !daemon->isRunning(); }));
    EXPECT_EQ(readFile(signals), "TERM\n");
    EXPECT_FALSE(fs::exists(pidFile()));
}

}  // namespace
}  // namespace companion::testing

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "pairing/ChallengeServer.h"
#include "pairing/PairingLink.h"
#include "platform/posix/PosixProbes.h"
#include "support/TestEnvironment.h"

namespace companion::testing {
namespace {

const char* kStarting = "The daemon is starting. Try again in a few seconds.";

// The command with a stand-in daemon: a real child that only sleeps, so the launch succeeds
// quietly, and a test server in its place on the port.
class ShowPairing : public ::testing::Test {
  protected:
    ShowPairing() {
        env.installDaemonScript("exec sleep 30");
        delegate = env.makeDelegate();
    }
    ~ShowPairing() override { delegate->stopDaemonProcess(false); }

    void writePairingFile(const std::string& json) {
        writeFile(env.configDirectory() / "pairing-code.json", json);
    }

    TestEnvironment env;
    std::shared_ptr<CompanionAppDelegate> delegate;
};

TEST_F(ShowPairing, OpensOneWindowWithTheLinkAndRaisesItWhileVisible) {
    ChallengeServer daemon(204);
    writePairingFile(R"({"pairingCode": "042917", "serverFingerprint": "sha256:ab",
                         "host": "Jo's Mac.local"})");
    delegate->showPairingQR();

    ASSERT_EQ(env.ui->pairingWindows.size(), 1u);
    const auto& first = *env.ui->pairingWindows[0];
    EXPECT_EQ(first.content,
              pairingWindowContent("042917", "Jo's Mac.local",
                                   "orvane-pelix://pair?host=Jo's%20Mac.local&port=50051"
                                   "&code=042917&fingerprint=sha256:ab"));
    EXPECT_TRUE(first.visible);
    EXPECT_EQ(first.timesRaised, 1);
    EXPECT_EQ(env.ui->activations, 1);
    EXPECT_TRUE(delegate->daemon && delegate->daemon->isRunning());

    // A new code while the window shows: the same window comes forward unchanged.
    writePairingFile(R"({"pairingCode": "999999", "serverFingerprint": "sha256:ab"})");
    delegate->showPairingQR();
    ASSERT_EQ(env.ui->pairingWindows.size(), 1u);
    EXPECT_EQ(delegate->pairingWindows.size(), 1u);
    EXPECT_EQ(first.timesRaised, 2);
    EXPECT_EQ(first.content.code, "042917");
    EXPECT_EQ(env.ui->activations, 2);
    EXPECT_EQ(daemon.requests().size(), 2u);
}

TEST_F(ShowPairing, MakesANewWindowOnceTheOldOneIsClosed) {
    ChallengeServer daemon(204);
    writePairingFile(R"({"pairingCode": "042917", "serverFingerprint": "f", "host": ""})");
    delegate->showPairingQR();
    ASSERT_EQ(env.ui->pairingWindows.size(), 1u);
    env.ui->pairingWindows[0]->close();

    writePairingFile(R"({"pairingCode": "777777", "serverFingerprint": "f"})");
    delegate->showPairingQR();
    ASSERT_EQ(env.ui->pairingWindows.size(), 2u);
    EXPECT_EQ(delegate->pairingWindows.size(), 2u);
    EXPECT_FALSE(env.ui->pairingWindows[0]->visible);
    EXPECT_TRUE(env.ui->pairingWindows[1]->visible);
    EXPECT_EQ(env.ui->pairingWindows[1]->content.code, "777777");
    // An empty host in the file leaves the choice to the system's name.
    const std::string host = pairingHostFromSystemName(PosixHostNameSource().localHostName());
    EXPECT_EQ(env.ui->pairingWindows[0]->content.pairingURL,
              pairingLink(host, "50051", "042917", "f"));
}

struct NotReadyCase {
    const char* name;
    std::optional<std::string> pairingFile;
    std::string informativeText;
};

class ShowPairingNotReady : public ShowPairing,
                            public ::testing::WithParamInterface<NotReadyCase> {};

TEST_P(ShowPairingNotReady, AlertsAndLeavesTheWindowsAlone) {
    const NotReadyCase& notReady = GetParam();
    // A window already showing is neither raised nor joined by another.
    ChallengeServer daemon(204);
    writePairingFile(R"({"pairingCode": "1", "serverFingerprint": "f"})");
    delegate->showPairingQR();
    ASSERT_EQ(env.ui->pairingWindows.size(), 1u);

    if (notReady.pairingFile) {
        writePairingFile(*notReady.pairingFile);
    } else {
        std::filesystem::remove(env.configDirectory() / "pairing-code.json");
    }
    env.ui->expectAlert("Pairing code not ready");
    delegate->showPairingQR();
    ASSERT_EQ(env.ui->alerts.size(), 1u);
    EXPECT_EQ(env.ui->alerts[0].informativeText, notReady.informativeText);
    EXPECT_TRUE(env.ui->alerts[0].buttons.empty());
    EXPECT_EQ(env.ui->pairingWindows.size(), 1u);
    EXPECT_EQ(env.ui->pairingWindows[0]->timesRaised, 1);
    EXPECT_EQ(env.ui->activations, 1);
}

INSTANTIATE_TEST_SUITE_P(
    Failures, ShowPairingNotReady,
    ::testing::Values(NotReadyCase{"NoFingerprint", R"({"pairingCode": "1"})", kStarting},
                      NotReadyCase{"NoCode", R"({"serverFingerprint": "f"})", kStarting},
                      NotReadyCase{"CodeNotAString",
                                   R"({"pairingCode": 1, "serverFingerprint": "f"})", kStarting},
                      NotReadyCase{"NotAnObject", "[]", kStarting},
                      NotReadyCase{"NoFile", std::nullopt, kStarting}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(ShowPairing, EmptyCodeAndFingerprintStillCount) {
    ChallengeServer daemon(204);
    writePairingFile(R"({"pairingCode": "", "serverFingerprint": ""})");
    delegate->showPairingQR();
    ASSERT_EQ(env.ui->pairingWindows.size(), 1u);
    EXPECT_EQ(env.ui->pairingWindows[0]->content.code, "");
}

TEST_F(ShowPairing, ShowsTheRefreshFailureEvenWithAWindowOpen) {
    {
        ChallengeServer daemon(204);
        writePairingFile(R"({"pairingCode": "1", "serverFingerprint": "f"})");
        delegate->showPairingQR();
        ASSERT_EQ(env.ui->pairingWindows.size(), 1u);
    }
    {
        ChallengeServer daemon(404);
        env.ui->expectAlert("Pairing code not ready");
        delegate->showPairingQR();
    }
    {
        RefusingPort nothingListens;
        env.ui->expectAlert("Pairing code not ready");
        delegate->showPairingQR();
    }
    ASSERT_EQ(env.ui->alerts.size(), 2u);
    EXPECT_EQ(env.ui->alerts[0].informativeText, "Companion returned HTTP 404.");
    EXPECT_THAT(env.ui->alerts[1].informativeText,
                ::testing::StartsWith("Failed to connect to 127.0.0.1 port 50051 after "));
    EXPECT_EQ(env.ui->pairingWindows.size(), 1u);
    EXPECT_EQ(env.ui->pairingWindows[0]->timesRaised, 1);
}

}  // namespace
}  // namespace companion::testing

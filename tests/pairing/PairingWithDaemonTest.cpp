#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "pairing/PairingLink.h"
#include "support/TestEnvironment.h"

namespace companion::testing {
namespace {

// The whole command against the reference daemon built with the project.
class PairingWithDaemon : public ::testing::Test {
  protected:
    PairingWithDaemon() {
        env.installReferenceDaemon();
        // Other tests on this machine may still be letting go of the daemon's port.
        waitUntil([&] { return !delegate->isPortListening(); }, 30.0);
    }
    ~PairingWithDaemon() override {
        // The next test that starts a daemon needs the port free.
        const auto process = delegate->daemon;
        delegate->stopDaemonProcess(false);
        if (process) {
            EXPECT_TRUE(waitUntil([&] { return !process->isRunning(); }));
        }
    }

    nlohmann::json pairingFile() const {
        return nlohmann::json::parse(readFile(env.configDirectory() / "pairing-code.json"));
    }

    TestEnvironment env;
    std::shared_ptr<CompanionAppDelegate> delegate = env.makeDelegate();
};

TEST_F(PairingWithDaemon, ShowsTheFreshCodeRaisesTheWindowAndReplacesItOnceClosed) {
    delegate->startDaemon();
    ASSERT_TRUE(delegate->daemon);
    ASSERT_TRUE(waitUntil([&] { return delegate->isPortListening(); }))
        << "the daemon never listened";

    delegate->showPairingQR();
    ASSERT_EQ(env.ui->pairingWindows.size(), 1u);
    const auto& first = *env.ui->pairingWindows[0];
    const auto file = pairingFile();
    EXPECT_EQ(first.content.code, file.at("pairingCode").get<std::string>());
    EXPECT_EQ(first.content.pairingURL,
              pairingLink(delegate->localPairingHost({}), "50051",
                          file.at("pairingCode").get<std::string>(),
                          file.at("serverFingerprint").get<std::string>()));
    EXPECT_TRUE(first.content.qr);
    EXPECT_TRUE(first.visible);

    delegate->showPairingQR();
    EXPECT_EQ(env.ui->pairingWindows.size(), 1u);
    EXPECT_EQ(first.timesRaised, 2);

    env.ui->pairingWindows[0]->close();
    delegate->showPairingQR();
    ASSERT_EQ(env.ui->pairingWindows.size(), 2u);
    EXPECT_EQ(delegate->pairingWindows.size(), 2u);
    EXPECT_FALSE(env.ui->pairingWindows[0]->visible);
    EXPECT_TRUE(env.ui->pairingWindows[1]->visible);
    EXPECT_EQ(env.ui->pairingWindows[1]->content.code,
              pairingFile().at("pairingCode").get<std::string>());
    EXPECT_EQ(env.ui->activations, 3);
}

}  // namespace
}  // namespace companion::testing

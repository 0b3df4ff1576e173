#include <gtest/gtest.h>

#include "digest/DigestWindowContent.h"
#include "platform/posix/PosixToolRunner.h"
#include "support/TestEnvironment.h"

namespace companion::testing {
namespace {

namespace fs = std::filesystem;

std::optional<std::size_t> position(const CompanionDigestSnapshot& snapshot,
                                    const std::string& summary) {
    for (std::size_t i = 0; i < snapshot.rows.size(); ++i) {
        if (snapshot.rows[i].summary == summary) {
            return i;
        }
    }
    return std::nullopt;
}

// The reference daemon's own store, read while the daemon runs and writes it.
class DaemonStoreDigest : public ::testing::Test {
  protected:
    void SetUp() override {
        if (!fs::exists(builtResources() / "tarvelind-darwin-arm64")) {
            GTEST_SKIP() << "the reference daemon is not built";
        }
        env.installReferenceDaemon();
        delegate->startDaemon();
        daemon = delegate->daemon;
        ASSERT_TRUE(daemon);
        // The pairing file is the last thing the daemon writes while starting.
        ASSERT_TRUE(waitUntil([&] {
            return fs::exists(env.configDirectory() / "pairing-code.json") || !daemon->isRunning();
        }));
        ASSERT_TRUE(daemon->isRunning()) << readFile(env.logDir() / "Orvane Pelix Companion.log");
    }

    void TearDown() override {
        if (daemon) {
            delegate->stopDaemonProcess(false);
            EXPECT_TRUE(waitUntil([&] { return !daemon->isRunning(); }));
        }
    }

    // Adds a LAN event as the daemon records one, waiting out the daemon's own writes.
    void recordLanEvent(const std::string& kind, const std::string& summary) {
        const auto result = PosixToolRunner().run(
            "/usr/bin/sqlite3",
            {store().string(), ".timeout 5000",
             "INSERT INTO companion_events(created_at, kind, severity, summary) VALUES "
             "(strftime('%Y-%m-%dT%H:%M:%fZ', 'now'), '" +
                 kind + "', 'notice', '" + summary + "');"},
            ToolErrorOutput::MergeWithOutput);
        ASSERT_TRUE(result.succeeded()) << result.output;
    }

    fs::path store() const { return env.configDirectory() / "events.sqlite"; }

    TestEnvironment env;
    std::shared_ptr<CompanionAppDelegate> delegate = env.makeDelegate();
    std::shared_ptr<ChildProcess> daemon;
};

TEST_F(DaemonStoreDigest, StartUpRecordsAloneReadAsSteady) {
    EXPECT_EQ(delegate->loadCompanionDigest().title, "All steady");
}

TEST_F(DaemonStoreDigest, LanEventsShowNewestFirstWithTheirTimeOfDay) {
    recordLanEvent("lan.neighbor.joined", "Neighbor 192.168.1.20 joined the network.");
    recordLanEvent("lan.gateway.changed", "The default gateway is now 192.168.1.1.");

    const auto snapshot = delegate->loadCompanionDigest();
    // The daemon may notice real changes of its own meanwhile, so ours are found by their text.
    const auto joined = position(snapshot, "Neighbor 192.168.1.20 joined the network.");
    const auto gateway = position(snapshot, "The default gateway is now 192.168.1.1.");
    ASSERT_TRUE(joined && gateway) << snapshot.title;
    EXPECT_LT(*gateway, *joined);
    EXPECT_EQ(snapshot.detail, snapshot.rows[0].summary);
    for (const auto& row : snapshot.rows) {
        EXPECT_NE(row.kind, "lan.baseline");
        EXPECT_NE(row.kind, "companion.started");
    }
    const auto content = digestWindowContent(snapshot, *env.ui);
    const std::string meta = content.blocks.at(*gateway).meta;
    const std::string prefix = "lan.gateway.changed \u00B7 notice \u00B7 ";
    ASSERT_TRUE(meta.starts_with(prefix)) << meta;
    EXPECT_EQ(meta.size(), prefix.size() + 5) << "not a time of day: " << meta;

    // The daemon writes on, undisturbed by the reading.
    EXPECT_TRUE(daemon->isRunning());
    recordLanEvent("lan.neighbor.left", "Neighbor 192.168.1.20 left the network.");
    const auto later = delegate->loadCompanionDigest();
    const auto left = position(later, "Neighbor 192.168.1.20 left the network.");
    const auto earlier = position(later, "The default gateway is now 192.168.1.1.");
    ASSERT_TRUE(left && earlier);
    EXPECT_LT(*left, *earlier);
}

}  // namespace
}  // namespace companion::testing

#include <gtest/gtest.h>

#include "platform/posix/PosixToolRunner.h"
#include "support/TestEnvironment.h"

namespace companion::testing {
namespace {

TEST(ShowCompanionDigest, BringsAnOpenWindowForwardAndReadsAfreshOnceClosed) {
    TestEnvironment env;
    auto delegate = env.makeDelegate();

    delegate->showCompanionDigest();
    ASSERT_EQ(env.ui->digestWindows.size(), 1u);
    auto first = env.ui->digestWindows[0];
    EXPECT_TRUE(first->visible);
    EXPECT_EQ(first->content.title, "No companion history yet");
    EXPECT_EQ(env.ui->activations, 1);

    // The store appears while the window is open: the open window is not refreshed.
    const auto store = env.configDirectory() / "events.sqlite";
    std::filesystem::create_directories(env.configDirectory());
    ASSERT_TRUE(PosixToolRunner()
                    .run("/usr/bin/sqlite3",
                         {store.string(),
                          "CREATE TABLE companion_events (cursor INTEGER PRIMARY KEY, created_at, "
                          "kind, severity, summary); INSERT INTO companion_events VALUES (1, "
                          "'2025-03-01T14:05:09Z', 'lan.joined', 'info', 'Printer joined');"},
                         ToolErrorOutput::Discard)
                    .succeeded());
    delegate->showCompanionDigest();
    EXPECT_EQ(env.ui->digestWindows.size(), 1u);
    EXPECT_EQ(first->timesRaised, 2);
    EXPECT_EQ(env.ui->activations, 2);

    first->close();
    delegate->showCompanionDigest();
    ASSERT_EQ(env.ui->digestWindows.size(), 2u);
    auto second = env.ui->digestWindows[1];
    EXPECT_FALSE(first->visible);
    EXPECT_TRUE(second->visible);
    EXPECT_EQ(second->content.title, "1 recent companion update");
    EXPECT_EQ(second->content.blocks.at(0).meta, "lan.joined \u00B7 info \u00B7 14:05");
    EXPECT_EQ(env.ui->activations, 3);
    ASSERT_EQ(delegate->digestWindows.size(), 2u);
    EXPECT_EQ(delegate->digestWindows[0], first);
    EXPECT_EQ(delegate->digestWindows[1], second);
}

}  // namespace
}  // namespace companion::testing

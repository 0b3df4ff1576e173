#include <gtest/gtest.h>

#include "digest/CompanionDigest.h"
#include "digest/DigestWindowContent.h"
#include "support/FakeUi.h"

namespace companion::testing {
namespace {

TEST(DigestWindowContent, OneBlockPerRowWithKindSeverityAndTime) {
    FakeUi ui;
    const auto content = digestWindowContent(
        companionDigestSnapshot({{"2025-03-01T14:05:09.250Z", "lan.joined", "info", "TV joined"},
                                 {"2025-03-01 09:00:00", "", "", "Odd one"}}),
        ui);
    EXPECT_EQ(content.windowTitle, "Companion Digest");
    EXPECT_EQ(content.title, "2 recent companion updates");
    EXPECT_EQ(content.detail, "TV joined");
    const std::vector<DigestWindowContent::Block> blocks = {
        {"TV joined", "lan.joined \u00B7 info \u00B7 14:05"},
        {"Odd one", " \u00B7  \u00B7 2025-03-01 09:00:00"}};
    EXPECT_EQ(content.blocks, blocks);
    EXPECT_FALSE(content.emptyText);
    EXPECT_EQ(content.footer, "Close and reopen this window to refresh.");
}

TEST(DigestWindowContent, EverySnapshotWithoutRowsShowsTheEmptyText) {
    FakeUi ui;
    for (const auto& snapshot : {noCompanionHistorySnapshot(), unreadableCompanionHistorySnapshot(),
                                 steadyCompanionDigestSnapshot()}) {
        const auto content = digestWindowContent(snapshot, ui);
        EXPECT_EQ(content.title, snapshot.title);
        EXPECT_EQ(content.detail, snapshot.detail);
        EXPECT_TRUE(content.blocks.empty());
        EXPECT_EQ(content.emptyText,
                  "No action needed. The companion will add entries here when "
                  "LAN neighbors or desktop probes change.");
    }
}

}  // namespace
}  // namespace companion::testing

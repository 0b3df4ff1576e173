#include <gtest/gtest.h>

#include "digest/CompanionDigest.h"
#include "digest/ShortTime.h"
#include "platform/posix/PosixToolRunner.h"
#include "support/TestEnvironment.h"

namespace companion::testing {
namespace {

using Snapshot = CompanionDigestSnapshot;

const Snapshot kUnreadable{"Could not read companion history",
                           "The local event store exists, but the menu app could not summarize "
                           "it. Open Logs for details.",
                           {}};

// A row of the tool's output, opening the list unless told otherwise.
std::string row(const std::string& summary, const char* before = "[") {
    return std::string(before) + R"({"created_at":"t","kind":"k","severity":"s","summary":")" +
           summary + "\"}";
}

TEST(CompanionDigest, FromTheToolsOutput) {
    const Snapshot steady{
        "All steady", "No stored companion changes yet. Stable networks are quiet by design.", {}};
    const Snapshot::Row a{"t", "k", "s", "A"};
    const std::vector<std::pair<std::optional<std::string>, Snapshot>> cases = {
        {std::nullopt, kUnreadable},
        // A clean run that prints nothing is how the tool says that no row qualified.
        {"", steady},
        {" \r\n\t", steady},
        {"[]\n", steady},
        {row("A") + "]\n", {"1 recent companion update", "A", {a}}},
        {row("A") + row("B", ",") + "]",
         {"2 recent companion updates", "A", {a, {"t", "k", "s", "B"}}}},
        {row("A") + R"(,{"created_at":"t","kind":"k","severity":"s","summary":null}])",
         kUnreadable},
        {R"([{"created_at":"t","kind":"k","summary":"A"}])", kUnreadable},
        {row("A") + ",", kUnreadable}};
    for (const auto& [output, snapshot] : cases)
        EXPECT_EQ(companionDigestFromOutput(output), snapshot) << output.value_or("no output");
}

TEST(ShortTime, TimeOfDayOrTheTextUnchanged) {
    FakeUi ui;  // shows "HH:MM" in UTC
    for (const auto& [createdAt, shown] : std::vector<std::pair<std::string, std::string>>{
             {"2025-03-01T14:05:09.250Z", "14:05"},
             {"2025-03-01T14:05:09Z", "14:05"},
             {"2025-03-01T14:05:09+02:00", "12:05"},
             {"2025-03-01T00:10:00.5-01:30", "01:40"}}) {
        EXPECT_EQ(shortTime(createdAt, ui), shown) << createdAt;
    }
    for (const std::string unchanged : {"2025-02-29T14:05:09Z", "2025-03-01T24:00:00Z",
                                        "2025-03-01 14:05:09", "2025-03-01T14:05:09"}) {
        EXPECT_EQ(shortTime(unchanged, ui), unchanged);
    }
}

std::string events(std::initializer_list<int> cursors, const std::string& kind = "lan.joined") {
    std::string sql =
        "CREATE TABLE IF NOT EXISTS companion_events (cursor INTEGER PRIMARY KEY, created_at "
        "TEXT, kind TEXT, severity TEXT, summary TEXT);";
    for (int cursor : cursors) {
        sql += "INSERT INTO companion_events VALUES (" + std::to_string(cursor) +
               ", '2025-03-01T14:05:09Z', '" + kind + "', 'info', 'event " +
               std::to_string(cursor) + "');";
    }
    return sql;
}

TEST(ShowCompanionDigest, RaisesTheOpenWindowAndReadsTheStoreAfreshOnceClosed) {
    // What lies at the store's path (nothing, bytes, or what the SQL makes), title, summaries.
    const std::vector<std::tuple<std::string, std::string, std::vector<std::string>>> stores = {
        {"", "No companion history yet", {}},
        {"not a database\n", kUnreadable.title, {}},
        {events({1}, "lan.baseline") + events({2}, "companion.started") +
             events({3}, "lan.snapshot") + events({4}, "capture.start") +
             "INSERT INTO companion_events VALUES (5, 't', NULL, 'info', 'no kind');",
         "All steady",
         {}},
        // The cursor alone tells the newest, whatever the times say.
        {events({9, 12, 5, 10, 8, 6, 11, 13, 14, 16, 15, 7}) + events({17}, "lan.snapshot") +
             "UPDATE companion_events SET created_at = '2030-01-01T00:00:00Z' WHERE cursor = 5;",
         "8 recent companion updates",
         {"event 16", "event 15", "event 14", "event 13", "event 12", "event 11", "event 10",
          "event 9"}}};
    TestEnvironment env;
    const fs::path store = env.configDirectory() / "events.sqlite";
    const auto delegate = env.makeDelegate();
    for (const auto& [contents, title, summaries] : stores) {
        fs::remove(store);
        if (contents.starts_with("CREATE")) {
            fs::create_directories(env.configDirectory());
            const auto made = PosixToolRunner().run("/usr/bin/sqlite3", {store.string(), contents},
                                                    ToolErrorOutput::Discard);
            ASSERT_TRUE(made.succeeded());
        } else if (!contents.empty()) {
            writeFile(store, contents);
        }
        delegate->showCompanionDigest();
        delegate->showCompanionDigest();
        const auto window = env.ui->digestWindows.back();
        EXPECT_EQ(window->timesRaised, 2);
        EXPECT_EQ(window->content.title, title);
        std::vector<std::string> shown;
        for (const auto& block : window->content.blocks) {
            shown.push_back(block.summary);
            EXPECT_EQ(block.meta, "lan.joined \u00B7 info \u00B7 14:05");
        }
        EXPECT_EQ(shown, summaries);
        window->close();
    }
    EXPECT_EQ(env.ui->activations, 2 * static_cast<int>(stores.size()));
}

}  // namespace
}  // namespace companion::testing

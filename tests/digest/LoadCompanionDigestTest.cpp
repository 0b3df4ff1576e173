#include <gtest/gtest.h>
#include <csignal>
#include <functional>
#include <thread>

#include "digest/CompanionDigest.h"
#include "platform/posix/PosixToolRunner.h"
#include "support/TestEnvironment.h"

namespace companion::testing {
namespace {

namespace fs = std::filesystem;

// The real runner, with a record of every tool it was asked to start.
class RecordingToolRunner : public ToolRunner {
  public:
    ToolResult run(const fs::path& tool, const std::vector<std::string>& arguments,
                   ToolErrorOutput errorOutput) override {
        calls.push_back({tool.string()});
        calls.back().insert(calls.back().end(), arguments.begin(), arguments.end());
        return PosixToolRunner().run(tool, arguments, errorOutput);
    }
    std::vector<std::vector<std::string>> calls;
};

void sqlite(const fs::path& database, const std::string& sql) {
    fs::create_directories(database.parent_path());
    const auto result = PosixToolRunner().run("/usr/bin/sqlite3", {database.string(), sql},
                                              ToolErrorOutput::MergeWithOutput);
    ASSERT_TRUE(result.succeeded()) << result.output;
}

const char* const kSchema =
    "CREATE TABLE companion_events (cursor INTEGER PRIMARY KEY, created_at TEXT NOT NULL, "
    "kind TEXT, severity TEXT, summary TEXT);";

std::string event(int cursor, const std::string& kind, const std::string& summary) {
    return "INSERT INTO companion_events VALUES (" + std::to_string(cursor) +
           ", '2025-03-01T14:05:09Z', " + kind + ", 'info', " + summary + ");";
}

std::string events(std::initializer_list<int> cursors) {
    std::string sql;
    for (int cursor : cursors) {
        sql += event(cursor, "'lan.joined'", "'event " + std::to_string(cursor) + "'");
    }
    return sql;
}

const std::string kExcludedKinds =
    event(1, "'lan.baseline'", "'b'") + event(2, "'companion.started'", "'c'") +
    event(3, "'lan.snapshot'", "'s'") + event(4, "'capture.start'", "'p'");

struct StoreCase {
    const char* name;
    // Makes what lies at the store's path; none leaves nothing there.
    std::function<void(const fs::path&)> make;
    const char* title;
    std::vector<std::string> summaries;
};

void PrintTo(const StoreCase& c, std::ostream* os) {
    *os << c.name;
}

class LoadCompanionDigest : public ::testing::TestWithParam<StoreCase> {};

std::vector<std::pair<std::string, std::string>> folderContents(const fs::path& folder) {
    std::vector<std::pair<std::string, std::string>> contents;
    std::error_code ignored;
    for (const auto& entry : fs::directory_iterator(folder, ignored)) {
        contents.emplace_back(entry.path().filename(),
                              entry.is_regular_file() ? readFile(entry.path()) : "");
    }
    std::sort(contents.begin(), contents.end());
    return contents;
}

TEST_P(LoadCompanionDigest, ReadsTheStoreWithoutChangingIt) {
    TestEnvironment env;
    const fs::path store = env.configDirectory() / "events.sqlite";
    fs::create_directories(env.configDirectory());
    if (GetParam().make) {
        GetParam().make(store);
    }
    const auto before = folderContents(env.configDirectory());
    auto platform = env.platform();
    auto runner = std::make_shared<RecordingToolRunner>();
    platform.toolRunner = runner;
    auto delegate = std::make_shared<CompanionAppDelegate>(platform);

    const auto snapshot = delegate->loadCompanionDigest();

    EXPECT_EQ(snapshot.title, GetParam().title);
    std::vector<std::string> summaries;
    for (const auto& row : snapshot.rows) {
        summaries.push_back(row.summary);
    }
    EXPECT_EQ(summaries, GetParam().summaries);
    if (!summaries.empty()) {
        EXPECT_EQ(snapshot.detail, summaries.front());
    }
    EXPECT_EQ(folderContents(env.configDirectory()), before);
    if (!GetParam().make) {
        EXPECT_TRUE(runner->calls.empty());
    } else {
        const std::vector<std::vector<std::string>> expected = {
            {"/usr/bin/sqlite3", "-json", store.string(), std::string(kCompanionDigestQuery)}};
        EXPECT_EQ(runner->calls, expected);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Stores, LoadCompanionDigest,
    ::testing::Values(
        StoreCase{"NoFile", nullptr, "No companion history yet", {}},
        StoreCase{"NotADatabase",
                  [](const fs::path& p) { writeFile(p, "not a database\n"); },
                  "Could not read companion history",
                  {}},
        StoreCase{"Folder",
                  [](const fs::path& p) { fs::create_directories(p); },
                  "Could not read companion history",
                  {}},
        StoreCase{"NoEventsTable",
                  [](const fs::path& p) { sqlite(p, "CREATE TABLE other (x);"); },
                  "Could not read companion history",
                  {}},
        StoreCase{"OnlyExcludedKinds",
                  [](const fs::path& p) { sqlite(p, kSchema + kExcludedKinds); },
                  "All steady",
                  {}},
        StoreCase{"OneEvent",
                  [](const fs::path& p) { sqlite(p, kSchema + kExcludedKinds + events({7})); },
                  "1 recent companion update",
                  {"event 7"}},
        // Inserted out of order, and with times that disagree: the cursor alone decides.
        StoreCase{"TwelveEvents",
                  [](const fs::path& p) {
                      sqlite(p,
                             kSchema + events({9, 12, 5, 10, 8, 6, 11, 13, 14, 16, 15, 7}) +
                                 "UPDATE companion_events SET created_at = '2030-01-01T00:00:00Z' "
                                 "WHERE cursor = 5;");
                  },
                  "8 recent companion updates",
                  {"event 16", "event 15", "event 14", "event 13", "event 12", "event 11",
                   "event 10", "event 9"}},
        StoreCase{"NullKindNotSelected",
                  [](const fs::path& p) {
                      sqlite(p, kSchema + events({5}) + event(6, "NULL", "'no kind'"));
                  },
                  "1 recent companion update",
                  {"event 5"}},
        StoreCase{
            "NullSummaryAmongEight",
            [](const fs::path& p) {
                sqlite(p, kSchema + events({1, 2, 3, 4, 6, 7, 8}) + event(5, "'lan.left'", "NULL"));
            },
            "Could not read companion history",
            {}},
        // Without declared types a number stays a number, and is no text.
        StoreCase{"NumberInColumn",
                  [](const fs::path& p) {
                      sqlite(
                          p,
                          "CREATE TABLE companion_events (cursor, created_at, kind, severity, "
                          "summary); INSERT INTO companion_events VALUES (1, 't', 'k', 3, 's');");
                  },
                  "Could not read companion history",
                  {}},
        // Far more than a pipe holds: the tool must be drained while it runs.
        StoreCase{"HugeSummary",
                  [](const fs::path& p) {
                      sqlite(p, kSchema + event(1, "'lan.joined'",
                                                "replace(hex(zeroblob(2000000)), '0', 'x')"));
                  },
                  "1 recent companion update",
                  {std::string(4'000'000, 'x')}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(LoadCompanionDigestFailure, NoStoreExplainsWhatComesFirst) {
    TestEnvironment env;
    const auto snapshot = env.makeDelegate()->loadCompanionDigest();
    EXPECT_EQ(snapshot.detail,
              "The daemon writes a baseline first, then records LAN changes and probe results as "
              "they happen.");
    EXPECT_FALSE(fs::exists(env.configDirectory()));
}

// While another process holds the store exclusively, the tool gives up at once: no partial list.
TEST(LoadCompanionDigestFailure, LockedStore) {
    TestEnvironment env;
    const fs::path store = env.configDirectory() / "events.sqlite";
    sqlite(store, kSchema + events({1, 2}));
    const fs::path holder = env.home.path() / "holder.pid";
    auto locker =
        startChild("/usr/bin/sqlite3",
                   {store.string(), "BEGIN EXCLUSIVE;",
                    ".shell echo $$ > '" + holder.string() + ".new' && mv '" + holder.string() +
                        ".new' '" + holder.string() + "' && exec sleep 60"});
    while (!fs::exists(holder) && locker->isRunning()) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    ASSERT_TRUE(fs::exists(holder));

    EXPECT_EQ(env.makeDelegate()->loadCompanionDigest().title, "Could not read companion history");

    ::kill(std::stoi(readFile(holder)), SIGTERM);
    while (locker->isRunning()) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    EXPECT_EQ(env.makeDelegate()->loadCompanionDigest().title, "2 recent companion updates");
}

}  // namespace
}  // namespace companion::testing

// What reading the digest costs on a store that has grown for a long time, beside the bare
// sqlite3 command on the same query.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <unistd.h>

#include <stdexcept>

#include "BenchSupport.h"
#include "app/CompanionAppDelegate.h"
#include "digest/CompanionDigest.h"
#include "platform/posix/PosixToolRunner.h"
#include "platform/posix/Spawn.h"

namespace companion::bench {
namespace {

constexpr int kEvents = 1'000'000;

// A home whose event store holds a million events in the daemon's schema. In a busy store one
// event in ten is a LAN change; in a quiet one only the oldest thousand are, so the query walks
// the whole table.
class StoreHome {
  public:
    explicit StoreHome(bool quiet) {
        auto delegate = std::make_shared<CompanionAppDelegate>(home.platform);
        std::filesystem::create_directories(delegate->daemonConfigDirectory());
        store = delegate->daemonConfigDirectory() / "events.sqlite";
        const std::string qualifies = quiet ? "x <= 1000" : "x % 10 = 0";
        const std::string sql =
            "PRAGMA journal_mode=WAL;"
            "CREATE TABLE companion_events(cursor INTEGER PRIMARY KEY AUTOINCREMENT, "
            "created_at TEXT NOT NULL, kind TEXT NOT NULL, severity TEXT NOT NULL, "
            "summary TEXT NOT NULL);"
            "WITH RECURSIVE n(x) AS (SELECT 1 UNION ALL SELECT x + 1 FROM n WHERE x < " +
            std::to_string(kEvents) +
            ") INSERT INTO companion_events(created_at, kind, severity, summary) SELECT "
            "strftime('%Y-%m-%dT%H:%M:%fZ', 1700000000 + x, 'unixepoch'), CASE WHEN " +
            qualifies +
            " THEN 'lan.neighbor.joined' ELSE 'lan.snapshot' END, 'info', "
            "'Neighbor 192.168.1.' || (x % 250) || ' joined the network; event ' || x || '.' "
            "FROM n;";
        const auto made = PosixToolRunner().run(kSQLiteToolPath, {store.string(), sql},
                                                ToolErrorOutput::MergeWithOutput);
        if (!made.succeeded()) {
            throw std::runtime_error("cannot build the store: " + made.output);
        }
        delegate_ = delegate;
    }

    CompanionAppDelegate& delegate() { return *delegate_; }

    BenchHome home;
    std::filesystem::path store;

  private:
    std::shared_ptr<CompanionAppDelegate> delegate_;
};

// Built once, on first use, and removed with the program.
StoreHome& storeHome(bool quiet) {
    static StoreHome busy(false);
    if (!quiet) {
        return busy;
    }
    static StoreHome quietStore(true);
    return quietStore;
}

void loadDigest(benchmark::State& state, bool quiet) {
    auto& home = storeHome(quiet);
    for (auto _ : state) {
        const auto snapshot = home.delegate().loadCompanionDigest();
        if (snapshot.rows.size() != 8) {
            state.SkipWithError(("unexpected digest: " + snapshot.title).c_str());
            break;
        }
        benchmark::DoNotOptimize(snapshot);
    }
}

// The anchor: the tool alone, its output thrown away, nothing decoded.
void bareSqlite3(benchmark::State& state, bool quiet) {
    auto& home = storeHome(quiet);
    FileDescriptor devNull(::open("/dev/null", O_WRONLY | O_CLOEXEC));
    const std::vector<std::string> arguments = {"-json", home.store.string(),
                                                std::string(kCompanionDigestQuery)};
    for (auto _ : state) {
        const auto spawned =
            spawnProgram({kSQLiteToolPath, arguments, devNull.get(), devNull.get()});
        if (spawned.error != 0) {
            state.SkipWithError("sqlite3 could not start");
            break;
        }
        benchmark::DoNotOptimize(waitForChild(spawned.pid));
    }
}

void BM_LoadCompanionDigest(benchmark::State& state) {
    loadDigest(state, false);
}
void BM_Sqlite3Bare(benchmark::State& state) {
    bareSqlite3(state, false);
}
void BM_LoadCompanionDigest_QuietStore(benchmark::State& state) {
    loadDigest(state, true);
}
void BM_Sqlite3Bare_QuietStore(benchmark::State& state) {
    bareSqlite3(state, true);
}

BENCHMARK(BM_LoadCompanionDigest)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Sqlite3Bare)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_LoadCompanionDigest_QuietStore)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Sqlite3Bare_QuietStore)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace companion::bench

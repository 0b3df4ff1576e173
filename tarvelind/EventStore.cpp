#include "EventStore.h"

#include <fcntl.h>
#include <sqlite3.h>
#include <unistd.h>

#include <cerrno>

#include "Rfc3339.h"

namespace tarvelind {
namespace {

// Long enough to ride out the companion's short read of the latest rows, short enough that a
// store held by a stuck process is reported instead of hanging the start.
constexpr int kBusyTimeoutMs = 2000;

/// The first column of the first row of `sql`, or nothing when it fails.
std::optional<std::string> singleText(sqlite3* db, const char* sql) {
    sqlite3_stmt* statement = nullptr;
    if (sqlite3_prepare_v2(db, sql, -1, &statement, nullptr) != SQLITE_OK)
        return std::nullopt;
    std::optional<std::string> result;
    if (sqlite3_step(statement) == SQLITE_ROW) {
        auto text = sqlite3_column_text(statement, 0);
        result = text ? reinterpret_cast<const char*>(text) : "";
    }
    sqlite3_finalize(statement);
    return result;
}

}  // namespace

std::unique_ptr<EventStore> EventStore::open(const std::filesystem::path& file,
                                             const std::optional<FileOwner>& owner,
                                             std::string& error) {
    // The file is made here rather than by SQLite so that it has its owner from the start;
    // SQLite, running as root, then gives its -wal and -shm files that same owner.
    int fd = ::open(file.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd >= 0) {
        bool handedOver = !owner || fchown(fd, owner->uid, owner->gid) == 0;
        std::string reason = handedOver ? "" : errnoText();
        close(fd);
        if (!handedOver) {
            error = "cannot change the owner of " + file.string() + ": " + reason;
            return nullptr;
        }
    } else if (errno != EEXIST) {
        error = "cannot create " + file.string() + ": " + errnoText();
        return nullptr;
    }

    sqlite3* db = nullptr;
    int rc = sqlite3_open_v2(file.c_str(), &db, SQLITE_OPEN_READWRITE, nullptr);
    std::unique_ptr<EventStore> store(new EventStore(db));
    auto fail = [&](const std::string& what) {
        error = file.string() + ": " + what + ": " + sqlite3_errmsg(db);
        return nullptr;
    };
    if (rc != SQLITE_OK)
        return fail("cannot open");
    sqlite3_busy_timeout(db, kBusyTimeoutMs);

    if (singleText(db, "PRAGMA journal_mode=WAL") != "wal")
        return fail("cannot switch to WAL");
    if (sqlite3_exec(db, "PRAGMA synchronous=NORMAL", nullptr, nullptr, nullptr) != SQLITE_OK) {
        return fail("cannot set synchronous mode");
    }
    auto check = singleText(db, "PRAGMA quick_check");
    if (check != "ok") {
        error = file.string() + ": damaged: " + check.value_or(sqlite3_errmsg(db));
        return nullptr;
    }
    // NOT NULL because the companion rejects the whole digest when one shown value is null.
    const char* schema =
        "CREATE TABLE IF NOT EXISTS companion_events("
        "cursor INTEGER PRIMARY KEY AUTOINCREMENT, "
        "created_at TEXT NOT NULL, kind TEXT NOT NULL, "
        "severity TEXT NOT NULL, summary TEXT NOT NULL)";
    if (sqlite3_exec(db, schema, nullptr, nullptr, nullptr) != SQLITE_OK) {
        return fail("cannot create the events table");
    }
    if (sqlite3_prepare_v2(db,
                           "INSERT INTO companion_events(created_at, kind, severity, summary) "
                           "VALUES(?, ?, ?, ?)",
                           -1, &store->insert_, nullptr) != SQLITE_OK) {
        return fail("unexpected events table");
    }
    return store;
}

EventStore::~EventStore() {
    sqlite3_finalize(insert_);
    sqlite3_close_v2(db_);
}

std::optional<std::string> EventStore::record(const std::string& kind, const std::string& severity,
                                              const std::string& summary) {
    std::lock_guard lock(mutex_);
    std::string createdAt = rfc3339Now();
    sqlite3_bind_text(insert_, 1, createdAt.c_str(), -1, SQLITE_TRANSIENT);
    sqlite3_bind_text(insert_, 2, kind.c_str(), -1, SQLITE_TRANSIENT);
    sqlite3_bind_text(insert_, 3, severity.c_str(), -1, SQLITE_TRANSIENT);
    sqlite3_bind_text(insert_, 4, summary.c_str(), -1, SQLITE_TRANSIENT);
    int rc = sqlite3_step(insert_);
    sqlite3_reset(insert_);
    sqlite3_clear_bindings(insert_);
    if (rc != SQLITE_DONE) {
        return "cannot record " + kind + " event: " + sqlite3_errstr(rc);
    }
    return std::nullopt;
}

}  // namespace tarvelind

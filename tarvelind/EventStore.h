#pragma once

#include <filesystem>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "FileWriting.h"

struct sqlite3;
struct sqlite3_stmt;

namespace tarvelind {

/// The companion_events table in events.sqlite. The companion reads it with the sqlite3 tool
/// while this process writes, hence WAL mode. Safe to use from several threads.
class EventStore {
  public:
    /// Opens or creates the store, checks that it is sound and writable. Returns nothing and
    /// sets `error` when the file is damaged, locked beyond the busy timeout, or cannot be made.
    static std::unique_ptr<EventStore> open(const std::filesystem::path& file,
                                            const std::optional<FileOwner>& owner,
                                            std::string& error);
    ~EventStore();
    EventStore(const EventStore&) = delete;
    EventStore& operator=(const EventStore&) = delete;

    /// Appends one event stamped with the current time; returns an error text on failure.
    std::optional<std::string> record(const std::string& kind, const std::string& severity,
                                      const std::string& summary);

  private:
    explicit EventStore(sqlite3* db) : db_(db) {}
    std::mutex mutex_;
    sqlite3* db_;
    sqlite3_stmt* insert_ = nullptr;
};

}  // namespace tarvelind

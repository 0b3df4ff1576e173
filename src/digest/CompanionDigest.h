#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "digest/CompanionDigestSnapshot.h"

namespace companion {

// The one question the companion asks of the daemon's event store: the eight newest events that
// are worth a person's attention. The daemon's own bookkeeping records never count.
inline constexpr std::string_view kCompanionDigestQuery =
    "SELECT created_at, kind, severity, summary\n"
    "FROM companion_events\n"
    "WHERE kind NOT IN ('lan.baseline', 'companion.started', 'lan.snapshot', 'capture.start')\n"
    "ORDER BY cursor DESC\n"
    "LIMIT 8;";

inline constexpr const char* kSQLiteToolPath = "/usr/bin/sqlite3";

// The rows of the tool's JSON output: an array of objects, each with "created_at", "kind",
// "severity" and "summary" as strings (other keys are ignored). Anything else, including a single
// bad element, gives nothing, so a list is never partial.
std::optional<std::vector<CompanionDigestSnapshot::Row>> decodeCompanionDigestRows(
    std::string_view json);

CompanionDigestSnapshot noCompanionHistorySnapshot();
CompanionDigestSnapshot unreadableCompanionHistorySnapshot();
CompanionDigestSnapshot steadyCompanionDigestSnapshot();
// The digest of one or more rows, the newest first; no rows give the steady snapshot.
CompanionDigestSnapshot companionDigestSnapshot(std::vector<CompanionDigestSnapshot::Row> rows);

// The snapshot for what the tool printed on a successful run, or for no output at all when the
// tool failed.
CompanionDigestSnapshot companionDigestFromOutput(const std::optional<std::string>& output);

}  // namespace companion

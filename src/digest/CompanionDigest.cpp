#include "digest/CompanionDigest.h"

#include <algorithm>
#include <filesystem>
#include <nlohmann/json.hpp>
#include <system_error>

#include "app/CompanionAppDelegate.h"
#include "app/CompanionFiles.h"

namespace companion {

namespace {

using Row = CompanionDigestSnapshot::Row;

std::optional<std::string> stringField(const nlohmann::json& object, const char* key) {
    const auto found = object.find(key);
    if (found == object.end() || !found->is_string()) {
        return std::nullopt;
    }
    return found->get<std::string>();
}

std::optional<Row> decodeRow(const nlohmann::json& element) {
    if (!element.is_object()) {
        return std::nullopt;
    }
    auto createdAt = stringField(element, "created_at");
    auto kind = stringField(element, "kind");
    auto severity = stringField(element, "severity");
    auto summary = stringField(element, "summary");
    if (!createdAt || !kind || !severity || !summary) {
        return std::nullopt;
    }
    return Row{std::move(*createdAt), std::move(*kind), std::move(*severity), std::move(*summary)};
}

bool isJsonWhitespace(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r';
}

}  // namespace

std::optional<std::vector<Row>> decodeCompanionDigestRows(std::string_view json) {
    const auto document = nlohmann::json::parse(json, nullptr, /*allow_exceptions=*/false);
    if (document.is_discarded() || !document.is_array()) {
        return std::nullopt;
    }
    std::vector<Row> rows;
    rows.reserve(document.size());
    for (const auto& element : document) {
        auto row = decodeRow(element);
        if (!row) {
            return std::nullopt;
        }
        rows.push_back(std::move(*row));
    }
    return rows;
}

CompanionDigestSnapshot noCompanionHistorySnapshot() {
    return {"No companion history yet",
            "The daemon writes a baseline first, then records LAN changes and probe results as "
            "they happen.",
            {}};
}

CompanionDigestSnapshot unreadableCompanionHistorySnapshot() {
    return {"Could not read companion history",
            "The local event store exists, but the menu app could not summarize it. Open Logs for "
            "details.",
            {}};
}

CompanionDigestSnapshot steadyCompanionDigestSnapshot() {
    return {
        "All steady", "No stored companion changes yet. Stable networks are quiet by design.", {}};
}

CompanionDigestSnapshot companionDigestSnapshot(std::vector<Row> rows) {
    if (rows.empty()) {
        return steadyCompanionDigestSnapshot();
    }
    std::string title = std::to_string(rows.size()) + " recent companion update";
    if (rows.size() != 1) {
        title += "s";
    }
    std::string detail = rows.front().summary;
    return {std::move(title), std::move(detail), std::move(rows)};
}

CompanionDigestSnapshot companionDigestFromOutput(const std::optional<std::string>& output) {
    if (!output) {
        return unreadableCompanionHistorySnapshot();
    }
    // The tool prints nothing at all, not "[]", when no row qualifies; a healthy store holding
    // only the daemon's own records must still read as steady.
    if (std::all_of(output->begin(), output->end(), isJsonWhitespace)) {
        return steadyCompanionDigestSnapshot();
    }
    auto rows = decodeCompanionDigestRows(*output);
    if (!rows) {
        return unreadableCompanionHistorySnapshot();
    }
    return companionDigestSnapshot(std::move(*rows));
}

CompanionDigestSnapshot CompanionAppDelegate::loadCompanionDigest() const {
    const auto database = daemonConfigDirectory() / kEventStoreFileName;
    // The tool would create an empty database where there is none; only the daemon makes it.
    std::error_code error;
    if (!std::filesystem::exists(database, error)) {
        return noCompanionHistorySnapshot();
    }
    return companionDigestFromOutput(runSQLiteJSON(database, std::string(kCompanionDigestQuery)));
}

std::optional<std::string> CompanionAppDelegate::runSQLiteJSON(
    const std::filesystem::path& database, const std::string& query) const {
    ToolResult result = platform.toolRunner->run(
        kSQLiteToolPath, {"-json", database.string(), query}, ToolErrorOutput::Discard);
    if (!result.succeeded()) {
        return std::nullopt;
    }
    return std::move(result.output);
}

}  // namespace companion

#include "digest/DigestWindowContent.h"

#include "digest/ShortTime.h"

namespace companion {

DigestWindowContent digestWindowContent(const CompanionDigestSnapshot& snapshot, const Ui& ui) {
    // A space, a middle dot and a space: the separator survives an empty kind or severity.
    static constexpr const char* kSeparator = " \u00B7 ";

    DigestWindowContent content;
    content.windowTitle = "Companion Digest";
    content.title = snapshot.title;
    content.detail = snapshot.detail;
    for (const auto& row : snapshot.rows) {
        content.blocks.push_back({row.summary, row.kind + kSeparator + row.severity + kSeparator +
                                                   shortTime(row.createdAt, ui)});
    }
    if (content.blocks.empty()) {
        content.emptyText =
            "No action needed. The companion will add entries here when LAN neighbors or desktop "
            "probes change.";
    }
    content.footer = "Close and reopen this window to refresh.";
    return content;
}

}  // namespace companion

#pragma once

#include <optional>
#include <string>
#include <vector>

#include "digest/CompanionDigestSnapshot.h"

namespace companion {

class Ui;

// Everything the digest window shows, composed without a display.
struct DigestWindowContent {
    struct Block {
        std::string summary;
        // "kind · severity · time"
        std::string meta;
        bool operator==(const Block&) const = default;
    };

    std::string windowTitle;
    std::string title;
    std::string detail;
    // One per event, newest first; when there are none, emptyText shows in their place.
    std::vector<Block> blocks;
    std::optional<std::string> emptyText;
    std::string footer;

    bool operator==(const DigestWindowContent&) const = default;
};

// The digest window's page for a snapshot; the event times are shown in the user's style.
DigestWindowContent digestWindowContent(const CompanionDigestSnapshot& snapshot, const Ui& ui);

}  // namespace companion

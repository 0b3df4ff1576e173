#pragma once

#include <optional>
#include <string>
#include <vector>

namespace companion {

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

}  // namespace companion

#pragma once

#include <string>
#include <utility>
#include <vector>

namespace companion {

// What the digest shows: a headline, one sentence, and the latest events, newest first.
struct CompanionDigestSnapshot {
    // One stored event, every field required.
    struct Row {
        std::string createdAt;
        std::string kind;
        std::string severity;
        std::string summary;
        bool operator==(const Row&) const = default;
    };

    std::string title;
    std::string detail;
    std::vector<Row> rows;

    bool operator==(const CompanionDigestSnapshot&) const = default;
};

}  // namespace companion

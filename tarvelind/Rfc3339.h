#pragma once

#include <chrono>
#include <string>

namespace tarvelind {

/// "2025-03-01T09:04:05.123Z": UTC with milliseconds, the form the companion parses.
std::string formatRfc3339(std::chrono::system_clock::time_point when);

inline std::string rfc3339Now() {
    return formatRfc3339(std::chrono::system_clock::now());
}

}  // namespace tarvelind

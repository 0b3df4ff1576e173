#pragma once

#include <string_view>

namespace tarvelind {

/// One timestamped line on standard output, flushed at once: the companion sends it to a log
/// file, where a buffered line would be lost with a crash.
void logLine(std::string_view message);

}  // namespace tarvelind

#pragma once

#include <filesystem>
#include <optional>
#include <string>

namespace companion {

// Run as the administrator: ends the capture daemon (TERM, then KILL after about five seconds)
// and removes its PID file. Without a live process only the file is removed.
std::string captureHelperStopCommand(std::optional<long long> pid,
                                     const std::filesystem::path& pidFile);

}  // namespace companion

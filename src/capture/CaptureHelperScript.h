#pragma once

#include <filesystem>
#include <string>
#include <string_view>

namespace companion {

// Everything after the assignments: it begins with the line feed that ends the port line and
// ends without one.
extern const std::string_view kCaptureHelperScriptTail;

// The script the administrator's shell runs: it starts the capture daemon, records its process
// id in the PID file for as long as it runs, and logs its start and end.
std::string captureHelperScript(const std::filesystem::path& binary,
                                const std::filesystem::path& configDirectory,
                                const std::filesystem::path& pairingFile,
                                const std::filesystem::path& pidFile,
                                const std::filesystem::path& log, const std::string& port);

// Starts the script in the background, so the administrator's shell returns at once.
std::string captureHelperLaunchCommand(const std::filesystem::path& script);

}  // namespace companion

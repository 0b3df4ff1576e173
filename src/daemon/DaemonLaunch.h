#pragma once

#include <filesystem>
#include <string>
#include <vector>

namespace companion {

// The lightweight daemon's arguments, each one argument (no shell is involved).
std::vector<std::string> daemonArguments(const std::string& port,
                                         const std::filesystem::path& configDirectory,
                                         const std::filesystem::path& pairingFile);

}  // namespace companion

#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <span>
#include <string>

namespace tarvelind {

struct Options {
    std::string addr;      // as given: "lan", "loopback" or an address literal
    std::string bindHost;  // the address the listening socket is bound to
    std::uint16_t port = 0;
    std::filesystem::path configDir;
    std::filesystem::path pairingCodeFile;
    bool allowCapture = false;
};

/// Either options to run with, or a message to print and the status to exit with
/// (2 for a bad command line, 0 for a help request).
struct CommandLine {
    std::optional<Options> options;
    std::string message;
    int exitStatus = 0;
};

/// Reads Go-style flags ("-port 50051", "-port=50051", "--port 50051"); the companion's launch
/// code and scripts were written against that dialect, so it is followed exactly.
CommandLine parseCommandLine(std::span<const std::string> args);

std::string usageText();

}  // namespace tarvelind

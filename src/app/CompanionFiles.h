#pragma once

#include <filesystem>
#include <optional>
#include <string>

namespace companion {

// The names of everything the companion keeps on disk, relative to its two folders.
inline constexpr const char* kAppSupportRelativePath = "Orvane Pelix/Companion";
inline constexpr const char* kLogDirRelativePath = "Logs/Orvane Pelix";
inline constexpr const char* kDaemonConfigDirectoryName = "tarvelind";
inline constexpr const char* kPairingFileName = "pairing-code.json";
inline constexpr const char* kEventStoreFileName = "events.sqlite";
inline constexpr const char* kCaptureHelperPidFileName = "capture-helper.pid";
inline constexpr const char* kCaptureHelperScriptName = "run-capture-helper.sh";
inline constexpr const char* kCompanionDaemonLogName = "Orvane Pelix Companion.log";
inline constexpr const char* kCaptureHelperLogName = "Orvane Pelix Capture Helper.log";

// The two daemon executables among the application's resources.
inline constexpr const char* kDaemonResourceName = "tarvelind-darwin-arm64";
inline constexpr const char* kCaptureDaemonResourceName = "tarvelind-pcap-darwin-arm64";

// Creates the folder and any missing parents; a folder that exists already is fine. Answers a
// description the user can read when it fails.
std::optional<std::string> createFolder(const std::filesystem::path& folder);

// Replaces the file's contents in one step: a reader sees the old file or the new one, never a
// part. Answers a description the user can read when it fails.
std::optional<std::string> writeFileAtomically(const std::filesystem::path& file,
                                               const std::string& contents);

// Reads a regular file of at most maxBytes. Anything else (missing, unreadable, a folder, a FIFO
// or device, or larger) gives nothing, so a reader never blocks or swallows an endless stream.
std::optional<std::string> readSmallRegularFile(const std::filesystem::path& file,
                                                std::size_t maxBytes);

// The system's description of an error, for the user.
std::string describeFileError(const std::string& action, const std::filesystem::path& path,
                              const std::error_code& error);

}  // namespace companion

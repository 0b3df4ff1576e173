#pragma once

// File operations that the core and the platform implementations share.
#include <filesystem>
#include <optional>
#include <string>
#include <system_error>

namespace companion {

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

#pragma once

#include <sys/types.h>

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace tarvelind {

struct FileOwner {
    uid_t uid;
    gid_t gid;
};

/// The owner to give every file created in `dir`: when running as root (the capture variant) in a
/// folder that belongs to another user, that user, so the companion and the lightweight daemon
/// can still read and write the files after the root daemon has gone. Otherwise none.
std::optional<FileOwner> ownerForFilesIn(const std::filesystem::path& dir);

/// Replaces `target` with `bytes` so that a reader sees either the old file or the whole new
/// one: a temporary file in the same folder is written, synced, given `mode` and `owner`, and
/// renamed over the target. Returns a description of the failure, or nothing on success; on
/// failure the target is left as it was and no temporary file remains.
std::optional<std::string> writeFileAtomically(const std::filesystem::path& target,
                                               std::string_view bytes, mode_t mode,
                                               const std::optional<FileOwner>& owner);

/// Text of the current errno, for log lines.
std::string errnoText();

}  // namespace tarvelind

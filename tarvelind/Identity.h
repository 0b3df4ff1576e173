#pragma once

#include <array>
#include <filesystem>
#include <optional>
#include <string>

#include "FileWriting.h"

namespace tarvelind {

using IdentityKey = std::array<unsigned char, 32>;

/// Lower-case hexadecimal SHA-256 of the key: what the phone pins the daemon by.
std::string fingerprintOf(const IdentityKey& key);

struct Identity {
    IdentityKey key{};
    std::string fingerprint;
};

/// Reads `dir`/identity.key, or creates it from OpenSSL's generator on first start. A file that
/// exists but cannot be read or has the wrong size is an error, never silently replaced: a new
/// key would change the fingerprint every paired phone relies on.
std::optional<Identity> loadOrCreateIdentity(const std::filesystem::path& dir,
                                             const std::optional<FileOwner>& owner,
                                             std::string& error);

}  // namespace tarvelind

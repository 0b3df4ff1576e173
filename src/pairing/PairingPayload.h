#pragma once

#include <map>
#include <optional>
#include <string>
#include <string_view>

namespace companion {

// The string members of the daemon's pairing file, by name, values unchanged.
using PairingPayload = std::map<std::string, std::string>;

// The daemon writes the file with a handful of short members; anything near this size is not
// its file, and reading it whole would only cost memory.
inline constexpr std::size_t kMaxPairingFileBytes = 1024 * 1024;

// The payload of a pairing file's bytes: nothing unless they are one JSON object in valid UTF-8.
// Members that are not strings are left out.
std::optional<PairingPayload> parsePairingPayload(std::string_view bytes);

}  // namespace companion

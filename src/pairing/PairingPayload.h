#pragma once

#include <map>
#include <string>

namespace companion {

// The string members of the daemon's pairing file, by name, values unchanged.
using PairingPayload = std::map<std::string, std::string>;

}  // namespace companion

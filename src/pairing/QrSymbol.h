#pragma once

#include <optional>
#include <string_view>

#include "pairing/PairingWindowContent.h"

namespace companion {

// The text's UTF-8 bytes in byte mode at error correction level M, in the smallest version that
// holds them. Nothing when the text is not valid UTF-8 or too long for any version.
std::optional<QrSymbol> qrSymbol(std::string_view text);

}  // namespace companion

#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "pairing/PairingWindowContent.h"

namespace companion::testing {

// An 8-bit grey picture, row by row, 0 black and 255 white.
struct GreyImage {
    int width = 0;
    int height = 0;
    std::vector<std::uint8_t> pixels;
};

// The symbol as a scanner would see it printed: black modules of scale pixels on white, inside a
// quiet zone of quietModules.
GreyImage renderQrSymbol(const QrSymbol& symbol, int scale, int quietModules);

// The texts of every QR code zbar finds in the picture, as raw bytes.
std::vector<std::string> decodeQrCodes(const GreyImage& image);

}  // namespace companion::testing

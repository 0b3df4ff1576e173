#pragma once

#include <optional>
#include <string>
#include <vector>

namespace companion {

// A QR symbol as its modules, row by row; true is a dark module. No quiet zone is included.
struct QrSymbol {
    int size = 0;
    std::vector<bool> modules;

    bool dark(int x, int y) const { return modules[static_cast<size_t>(y) * size + x]; }
    bool operator==(const QrSymbol&) const = default;
};

// Everything the pairing window shows, composed without a display.
struct PairingWindowContent {
    std::string windowTitle;
    std::string title;
    std::string instruction;
    // Absent when the link does not fit a symbol; the frame then stays empty.
    std::optional<QrSymbol> qr;
    std::string code;
    std::string note;
    std::string copyButtonTitle;
    // Encoded in the symbol and put on the clipboard by the copy button.
    std::string pairingURL;

    bool operator==(const PairingWindowContent&) const = default;
};

// What the pairing window shows for a code, the host the iPhone reaches and the pairing link. The
// server fingerprint needs no place of its own: it reaches the iPhone inside the link.
PairingWindowContent pairingWindowContent(const std::string& code, const std::string& host,
                                          const std::string& pairingURL);

}  // namespace companion

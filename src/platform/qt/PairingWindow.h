#pragma once

#include <QImage>
#include <optional>
#include <string>

#include "pairing/PairingWindowContent.h"
#include "platform/qt/QtWindow.h"

namespace companion {

// The window the user pairs the iPhone app with: the pairing link as a QR code, the code in large
// type, the host the iPhone reaches and a button that copies the link. Its content never changes.
class PairingWindow : public QtWindow {
  public:
    explicit PairingWindow(const PairingWindowContent& content);

    // Puts the pairing link on the clipboard as plain text, replacing what was there.
    void copyPairingLink();

    // The symbol black on white, each module 12 pixels square, inside a white quiet zone; a null
    // image when there is no symbol.
    static QImage qrImage(const std::optional<QrSymbol>& symbol);

    const std::string pairingURL;
};

}  // namespace companion

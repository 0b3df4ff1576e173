#include "pairing/PairingWindowContent.h"

#include "pairing/QrSymbol.h"

namespace companion {

PairingWindowContent pairingWindowContent(const std::string& code, const std::string& host,
                                          const std::string& pairingURL) {
    return PairingWindowContent{
        .windowTitle = "Orvane Pelix Pairing",
        .title = "Pair Orvane Pelix",
        .instruction = "Scan with Orvane Pelix on your iPhone.",
        .qr = qrSymbol(pairingURL),
        .code = code,
        // The window is told no port: the note always names the daemon's fixed one.
        .note = "Ready on " + host + ":50051. The iPhone verifies this companion automatically.",
        .copyButtonTitle = "Copy Pairing Link",
        .pairingURL = pairingURL,
    };
}

}  // namespace companion

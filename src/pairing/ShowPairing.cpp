#include "app/CompanionAppDelegate.h"

// Placeholder until the pairing subsystem lands.
namespace companion {

void CompanionAppDelegate::showPairingQR() {
    startDaemon();
}
std::string CompanionAppDelegate::localPairingHost(const PairingPayload&) const {
    return "localhost";
}

}  // namespace companion

#include "app/CompanionAppDelegate.h"

// Placeholder until the pairing subsystem lands.
namespace companion {

void CompanionAppDelegate::showPairingQR() {
    startDaemon();
}
std::optional<PairingPayload> CompanionAppDelegate::readPairingPayload() const {
    return std::nullopt;
}
std::optional<std::string> CompanionAppDelegate::refreshPairingCode() const {
    return std::nullopt;
}
std::string CompanionAppDelegate::localPairingHost(const PairingPayload&) const {
    return "localhost";
}

}  // namespace companion

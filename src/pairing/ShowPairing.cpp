#include "app/CompanionAppDelegate.h"
#include "pairing/PairingLink.h"

namespace companion {

namespace {

// An entry holding the empty text counts as present.
const std::string* entry(const std::optional<PairingPayload>& payload, const std::string& name) {
    if (!payload) {
        return nullptr;
    }
    const auto found = payload->find(name);
    return found == payload->end() ? nullptr : &found->second;
}

}  // namespace

void CompanionAppDelegate::showPairingQR() {
    // No waiting for a daemon launched just now: one still starting shows up as a failed refresh.
    startDaemon();

    if (auto failure = refreshPairingCode()) {
        showAlert("Pairing code not ready", *failure);
        return;
    }
    const auto payload = readPairingPayload();
    const std::string* code = entry(payload, "pairingCode");
    const std::string* fingerprint = entry(payload, "serverFingerprint");
    if (!code || !fingerprint) {
        showAlert("Pairing code not ready", "The daemon is starting. Try again in a few seconds.");
        return;
    }
    const std::string host = localPairingHost(*payload);
    const std::string link = pairingLink(host, port, *code, *fingerprint);

    // One pairing window at a time: an open one keeps what it shows, even when the code changed.
    for (const auto& window : pairingWindows) {
        if (window->isVisible()) {
            window->makeKeyAndOrderFront();
            platform.ui->activateIgnoringOtherApps();
            return;
        }
    }
    auto window = platform.ui->createPairingWindow(pairingWindowContent(*code, host, link));
    pairingWindows.push_back(window);
    window->makeKeyAndOrderFront();
    platform.ui->activateIgnoringOtherApps();
}

}  // namespace companion

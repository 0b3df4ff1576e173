#include "app/CompanionAppDelegate.h"
#include "digest/DigestWindowContent.h"

namespace companion {

void CompanionAppDelegate::showCompanionDigest() {
    // An open digest keeps what it showed; only a closed one lets the store be read again.
    for (const auto& window : digestWindows) {
        if (window->isVisible()) {
            window->makeKeyAndOrderFront();
            platform.ui->activateIgnoringOtherApps();
            return;
        }
    }
    const CompanionDigestSnapshot snapshot = loadCompanionDigest();
    auto window = platform.ui->createDigestWindow(digestWindowContent(snapshot, *platform.ui));
    digestWindows.push_back(window);
    window->makeKeyAndOrderFront();
    platform.ui->activateIgnoringOtherApps();
}

}  // namespace companion

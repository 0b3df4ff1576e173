#include "app/CompanionAppDelegate.h"

// Placeholder until the capture subsystem lands.
namespace companion {

void CompanionAppDelegate::startCaptureHelper() {}
void CompanionAppDelegate::stopCaptureHelper() {}
void CompanionAppDelegate::launchCaptureHelper(const std::filesystem::path&) {}
std::optional<std::string> CompanionAppDelegate::writeCaptureHelperScript(
    const std::filesystem::path&, const std::filesystem::path&) {
    return std::nullopt;
}

}  // namespace companion

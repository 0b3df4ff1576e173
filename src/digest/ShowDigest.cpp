#include "app/CompanionAppDelegate.h"

// Placeholder until the digest subsystem lands.
namespace companion {

void CompanionAppDelegate::showCompanionDigest() {}
CompanionDigestSnapshot CompanionAppDelegate::loadCompanionDigest() const {
    return {};
}
std::optional<std::string> CompanionAppDelegate::runSQLiteJSON(const std::filesystem::path&,
                                                               const std::string&) const {
    return std::nullopt;
}

}  // namespace companion

#include "app/CompanionFiles.h"

#include "app/CompanionAppDelegate.h"

namespace companion {

namespace fs = std::filesystem;

fs::path CompanionAppDelegate::appSupport() const {
    return platform.directories->applicationSupportDirectory() / kAppSupportRelativePath;
}

fs::path CompanionAppDelegate::logDir() const {
    return platform.directories->libraryDirectory() / kLogDirRelativePath;
}

fs::path CompanionAppDelegate::daemonConfigDirectory() const {
    return appSupport() / kDaemonConfigDirectoryName;
}

}  // namespace companion

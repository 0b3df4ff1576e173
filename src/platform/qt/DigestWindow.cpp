#include "platform/qt/DigestWindow.h"

// Placeholder until the digest subsystem lands.
namespace companion {

CompanionDigestWindow::CompanionDigestWindow(const DigestWindowContent& content)
    : QtWindow(QString::fromStdString(content.windowTitle)) {}

}  // namespace companion

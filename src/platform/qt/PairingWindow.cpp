#include "platform/qt/PairingWindow.h"

// Placeholder until the pairing subsystem lands.
namespace companion {

PairingWindow::PairingWindow(const PairingWindowContent& content)
    : QtWindow(QString::fromStdString(content.windowTitle)) {}

}  // namespace companion

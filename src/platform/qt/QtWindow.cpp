#include "platform/qt/QtWindow.h"

#include <QGuiApplication>
#include <QScreen>

namespace companion {

QtWindow::QtWindow(const QString& title) : QWidget(nullptr, Qt::Window) {
    setWindowTitle(title);
    setAttribute(Qt::WA_DeleteOnClose, false);
    setAttribute(Qt::WA_QuitOnClose, false);
}

void QtWindow::makeKeyAndOrderFront() {
    show();
    raise();
    activateWindow();
}

void QtWindow::centerOnScreen() {
    if (QScreen* screen = QGuiApplication::primaryScreen()) {
        QRect frame = geometry();
        frame.moveCenter(screen->availableGeometry().center());
        move(frame.topLeft());
    }
}

}  // namespace companion

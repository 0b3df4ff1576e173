#include "platform/qt/QtWindow.h"

#include <QGuiApplication>
#include <QScreen>
#include <QShortcut>

namespace companion {

QtWindow::QtWindow(const QString& title) : QWidget(nullptr, Qt::Window) {
    setWindowTitle(title);
    setAttribute(Qt::WA_DeleteOnClose, false);
    setAttribute(Qt::WA_QuitOnClose, false);
    // Closes as every other window of the desktop does from the keyboard (Ctrl+W, or Command-W).
    connect(new QShortcut(QKeySequence::Close, this), &QShortcut::activated, this, &QWidget::close);
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

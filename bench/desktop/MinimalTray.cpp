// The yardstick for the companion's launch: the least a Qt 6 tray program can be, a tray icon and
// a fourteen-item menu and nothing else.
#include <QApplication>
#include <QMenu>
#include <QPixmap>
#include <QSystemTrayIcon>

int main(int argc, char** argv) {
    QApplication application(argc, argv);
    QApplication::setQuitOnLastWindowClosed(false);
    QMenu menu;
    for (int item = 1; item <= 14; ++item)
        menu.addAction(QString("Item %1").arg(item));
    QPixmap image(22, 22);
    image.fill(Qt::darkBlue);
    QSystemTrayIcon icon{QIcon(image)};
    icon.setContextMenu(&menu);
    icon.show();
    return QApplication::exec();
}

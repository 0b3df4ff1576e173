#pragma once

#include <QDBusConnection>
#include <QDBusObjectPath>
#include <QObject>
#include <QPoint>
#include <functional>

#include "platform/qt/DBusMenu.h"

namespace companion {

struct DBusImage {  // (iiay): ARGB32, most significant byte first
    int width = 0;
    int height = 0;
    QByteArray pixels;
};
using DBusImageList = QList<DBusImage>;
struct DBusToolTip {  // (sa(iiay)ss)
    QString iconName;
    DBusImageList images;
    QString title;
    QString description;
};

// The companion's item on desktops whose tray is a StatusNotifierItem host (KDE, GNOME's
// AppIndicator extension, Xfce, LXQt, every Wayland panel): the icon and the tooltip go to the
// watcher on the session bus, and the menu goes with it as a DBusMenu that the host draws.
class StatusNotifierItem : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.kde.StatusNotifierItem")
    Q_PROPERTY(QString Category READ category)
    Q_PROPERTY(QString Id READ id)
    Q_PROPERTY(QString Title READ title)
    Q_PROPERTY(QString Status READ status)
    Q_PROPERTY(int WindowId READ windowId)
    Q_PROPERTY(QString IconName READ noIconName)
    Q_PROPERTY(companion::DBusImageList IconPixmap READ iconPixmap)
    Q_PROPERTY(QString OverlayIconName READ noIconName)
    Q_PROPERTY(companion::DBusImageList OverlayIconPixmap READ noPixmap)
    Q_PROPERTY(QString AttentionIconName READ noIconName)
    Q_PROPERTY(companion::DBusImageList AttentionIconPixmap READ noPixmap)
    Q_PROPERTY(QString AttentionMovieName READ noIconName)
    Q_PROPERTY(companion::DBusToolTip ToolTip READ toolTip)
    Q_PROPERTY(bool ItemIsMenu READ itemIsMenu)
    Q_PROPERTY(QDBusObjectPath Menu READ menu)

  public:
    // popUp shows the companion's own menu at a point of the screen, for hosts that ask the
    // item to show its menu rather than drawing the exported one.
    StatusNotifierItem(QDBusConnection bus, std::function<void(Command)> onCommand,
                       std::function<void(QPoint)> popUp);
    ~StatusNotifierItem() override;

    // Whether a watcher with at least one host runs on the bus now.
    bool hostIsRegistered() const;
    // Puts the item on the bus and registers it with the watcher, now and whenever a watcher
    // starts again; the icon then shows in every host.
    void show();
    void setMenu(const MenuModel& model) { menu_.setModel(model); }
    void setToolTip(const QString& title);

    QString category() const { return "ApplicationStatus"; }
    QString id() const { return "orvane-pelix-companion"; }
    QString title() const { return "Orvane Pelix Companion"; }
    QString status() const { return "Active"; }
    int windowId() const { return 0; }
    QString noIconName() const { return {}; }
    DBusImageList iconPixmap() const;
    DBusImageList noPixmap() const { return {}; }
    DBusToolTip toolTip() const;
    // The item stands for its menu, as a status item does on macOS: a click opens it.
    bool itemIsMenu() const { return true; }
    QDBusObjectPath menu() const;

  public slots:
    void ContextMenu(int x, int y);
    void Activate(int x, int y);
    void SecondaryActivate(int x, int y);
    void Scroll(int delta, const QString& orientation);

  signals:
    // A host registered with the watcher: a tray has appeared where there was none.
    void hostRegistered();

    void NewTitle();
    void NewIcon();
    void NewAttentionIcon();
    void NewOverlayIcon();
    void NewToolTip();
    void NewStatus(const QString& status);

  private slots:
    void onHostRegistered();
    void onWatcherStarted();

  private:
    void registerWithWatcher();

    QDBusConnection bus_;
    std::function<void(QPoint)> popUp_;
    DBusMenuExporter menu_;
    QString service_;
    QString toolTipTitle_;
    bool shown_ = false;
};

}  // namespace companion

Q_DECLARE_METATYPE(companion::DBusImage)
Q_DECLARE_METATYPE(companion::DBusToolTip)

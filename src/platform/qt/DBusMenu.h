#pragma once

#include <QDBusArgument>
#include <QDBusVariant>
#include <QList>
#include <QObject>
#include <QStringList>
#include <QVariantMap>
#include <functional>
#include <vector>

#include "platform/MenuModel.h"

namespace companion {

// The shapes the DBusMenu interface speaks in, as D-Bus marshals them.
struct DBusMenuLayoutItem {  // (ia{sv}av): an item, its properties and its children
    int id = 0;
    QVariantMap properties;
    QList<DBusMenuLayoutItem> children;
};
struct DBusMenuItemProperties {  // (ia{sv})
    int id = 0;
    QVariantMap properties;
};
struct DBusMenuItemKeys {  // (ias): the properties an item no longer has
    int id = 0;
    QStringList names;
};
struct DBusMenuEvent {  // (isvu)
    int id = 0;
    QString eventId;
    QDBusVariant data;
    uint timestamp = 0;
};
using DBusMenuItemPropertiesList = QList<DBusMenuItemProperties>;
using DBusMenuItemKeysList = QList<DBusMenuItemKeys>;
using DBusMenuEventList = QList<DBusMenuEvent>;
using DBusMenuShortcut = QList<QStringList>;

// The status menu exported over D-Bus, where desktops with StatusNotifierItem trays draw it
// themselves. An item's id follows its command (or, for a line without one, its place), so an id
// a desktop read earlier runs the same command after any update, or nothing once it is gone; the
// revision grows with every change, so a desktop that caches by revision never shows a stale menu.
class DBusMenuExporter : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "com.canonical.dbusmenu")
    Q_PROPERTY(uint Version READ version)
    Q_PROPERTY(QString TextDirection READ textDirection)
    Q_PROPERTY(QString Status READ status)
    Q_PROPERTY(QStringList IconThemePath READ iconThemePath)

  public:
    explicit DBusMenuExporter(std::function<void(Command)> onCommand);

    void setModel(const MenuModel& model);

    uint version() const { return 3; }
    QString textDirection() const { return "ltr"; }
    QString status() const { return "normal"; }
    QStringList iconThemePath() const { return {}; }

  public slots:
    uint GetLayout(int parentId, int recursionDepth, const QStringList& propertyNames,
                   DBusMenuLayoutItem& layout);
    DBusMenuItemPropertiesList GetGroupProperties(const QList<int>& ids,
                                                  const QStringList& propertyNames);
    QDBusVariant GetProperty(int id, const QString& name);
    void Event(int id, const QString& eventId, const QDBusVariant& data, uint timestamp);
    QList<int> EventGroup(const DBusMenuEventList& events);
    bool AboutToShow(int id);
    QList<int> AboutToShowGroup(const QList<int>& ids, QList<int>& idErrors);

  signals:
    void ItemsPropertiesUpdated(const DBusMenuItemPropertiesList& updatedProps,
                                const DBusMenuItemKeysList& removedProps);
    void LayoutUpdated(uint revision, int parent);
    void ItemActivationRequested(int id, uint timestamp);

  private:
    struct Entry {
        int id;
        MenuItem item;
    };
    const Entry* find(int id) const;

    std::function<void(Command)> onCommand_;
    std::vector<Entry> entries_;
    uint revision_ = 0;
};

// A D-Bus structure written or read field by field, in order.
template <typename... Fields>
QDBusArgument& writeStructure(QDBusArgument& argument, const Fields&... fields) {
    argument.beginStructure();
    (argument << ... << fields);
    argument.endStructure();
    return argument;
}
template <typename... Fields>
const QDBusArgument& readStructure(const QDBusArgument& argument, Fields&... fields) {
    argument.beginStructure();
    (argument >> ... >> fields);
    argument.endStructure();
    return argument;
}

// How a desktop reads a layout back.
const QDBusArgument& operator>>(const QDBusArgument& argument, DBusMenuLayoutItem& item);

}  // namespace companion

Q_DECLARE_METATYPE(companion::DBusMenuLayoutItem)
Q_DECLARE_METATYPE(companion::DBusMenuItemProperties)
Q_DECLARE_METATYPE(companion::DBusMenuItemKeys)
Q_DECLARE_METATYPE(companion::DBusMenuEvent)

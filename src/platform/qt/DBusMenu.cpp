#include "platform/qt/DBusMenu.h"

#include <QDBusMetaType>
#include <QTimer>
#include <algorithm>

namespace companion {

QDBusArgument& operator<<(QDBusArgument& argument, const DBusMenuLayoutItem& item) {
    argument.beginStructure();
    argument << item.id << item.properties;
    argument.beginArray(QMetaType::fromType<QDBusVariant>());
    for (const DBusMenuLayoutItem& child : item.children) {
        argument << QDBusVariant(QVariant::fromValue(child));
    }
    argument.endArray();
    argument.endStructure();
    return argument;
}

const QDBusArgument& operator>>(const QDBusArgument& argument, DBusMenuLayoutItem& item) {
    argument.beginStructure();
    argument >> item.id >> item.properties;
    argument.beginArray();
    item.children.clear();
    while (!argument.atEnd()) {
        QDBusVariant child;
        argument >> child;
        item.children.append(qdbus_cast<DBusMenuLayoutItem>(child.variant()));
    }
    argument.endArray();
    argument.endStructure();
    return argument;
}

QDBusArgument& operator<<(QDBusArgument& argument, const DBusMenuItemProperties& item) {
    return writeStructure(argument, item.id, item.properties);
}

const QDBusArgument& operator>>(const QDBusArgument& argument, DBusMenuItemProperties& item) {
    return readStructure(argument, item.id, item.properties);
}

QDBusArgument& operator<<(QDBusArgument& argument, const DBusMenuItemKeys& item) {
    return writeStructure(argument, item.id, item.names);
}

const QDBusArgument& operator>>(const QDBusArgument& argument, DBusMenuItemKeys& item) {
    return readStructure(argument, item.id, item.names);
}

QDBusArgument& operator<<(QDBusArgument& argument, const DBusMenuEvent& event) {
    return writeStructure(argument, event.id, event.eventId, event.data, event.timestamp);
}

const QDBusArgument& operator>>(const QDBusArgument& argument, DBusMenuEvent& event) {
    return readStructure(argument, event.id, event.eventId, event.data, event.timestamp);
}

namespace {

// Ids of items with a command are this plus the command; lines without one count from 1 by place.
constexpr int kCommandIds = 100;

int idOf(const MenuItem& item, std::size_t place) {
    return item.command == Command::None ? static_cast<int>(place) + 1
                                         : kCommandIds + static_cast<int>(item.command);
}

QVariantMap only(const QVariantMap& properties, const QStringList& names) {
    if (names.isEmpty()) {
        return properties;
    }
    QVariantMap kept;
    for (const QString& name : names) {
        if (properties.contains(name)) {
            kept.insert(name, properties.value(name));
        }
    }
    return kept;
}

// Registers the shapes above with D-Bus, before the first call that carries one.
void registerDBusMenuTypes() {
    qDBusRegisterMetaType<DBusMenuLayoutItem>();
    qDBusRegisterMetaType<DBusMenuItemProperties>();
    qDBusRegisterMetaType<DBusMenuItemPropertiesList>();
    qDBusRegisterMetaType<DBusMenuItemKeys>();
    qDBusRegisterMetaType<DBusMenuItemKeysList>();
    qDBusRegisterMetaType<DBusMenuEvent>();
    qDBusRegisterMetaType<DBusMenuEventList>();
    qDBusRegisterMetaType<DBusMenuShortcut>();
    qDBusRegisterMetaType<QList<int>>();
    // D-Bus finds a method's types by the names its declaration spells them with.
    qRegisterMetaType<DBusMenuLayoutItem>("DBusMenuLayoutItem");
    qRegisterMetaType<DBusMenuItemPropertiesList>("DBusMenuItemPropertiesList");
    qRegisterMetaType<DBusMenuItemKeysList>("DBusMenuItemKeysList");
    qRegisterMetaType<DBusMenuEventList>("DBusMenuEventList");
}

// What a desktop is told of an item, defaults included where it would otherwise have to guess.
QVariantMap dbusMenuProperties(const MenuItem& item) {
    if (item.separator) {
        return {{"type", "separator"}};
    }
    // An underscore would mark the next letter as the access key.
    QVariantMap properties{{"label", QString::fromStdString(item.title).replace("_", "__")},
                           {"enabled", item.command != Command::None}};
    if (!item.keyEquivalent.empty()) {
        properties.insert("shortcut",
                          QVariant::fromValue(DBusMenuShortcut{
                              {"Control", QString::fromStdString(item.keyEquivalent)}}));
    }
    if (item.checkable) {
        properties.insert("toggle-type", "checkmark");
        properties.insert("toggle-state", item.checked ? 1 : 0);
    }
    return properties;
}

}  // namespace

DBusMenuExporter::DBusMenuExporter(std::function<void(Command)> onCommand)
    : onCommand_(std::move(onCommand)) {
    registerDBusMenuTypes();
}

void DBusMenuExporter::setModel(const MenuModel& model) {
    std::vector<Entry> entries;
    for (std::size_t place = 0; place < model.items.size(); ++place) {
        entries.push_back({idOf(model.items[place], place), model.items[place]});
    }
    const bool sameItems =
        std::equal(entries.begin(), entries.end(), entries_.begin(), entries_.end(),
                   [](const Entry& a, const Entry& b) {
                       return a.id == b.id && a.item.separator == b.item.separator;
                   });
    if (!sameItems) {
        entries_ = std::move(entries);
        emit LayoutUpdated(++revision_, 0);
        return;
    }
    DBusMenuItemPropertiesList updated;
    DBusMenuItemKeysList removed;
    for (std::size_t i = 0; i < entries.size(); ++i) {
        if (entries[i].item == entries_[i].item) {
            continue;
        }
        const QVariantMap before = dbusMenuProperties(entries_[i].item);
        const QVariantMap after = dbusMenuProperties(entries[i].item);
        updated.append({entries[i].id, after});
        QStringList gone;
        for (auto it = before.begin(); it != before.end(); ++it) {
            if (!after.contains(it.key())) {
                gone.append(it.key());
            }
        }
        if (!gone.isEmpty()) {
            removed.append({entries[i].id, gone});
        }
    }
    entries_ = std::move(entries);
    if (!updated.isEmpty()) {
        ++revision_;
        emit ItemsPropertiesUpdated(updated, removed);
    }
}

const DBusMenuExporter::Entry* DBusMenuExporter::find(int id) const {
    const auto found = std::find_if(entries_.begin(), entries_.end(),
                                    [id](const Entry& entry) { return entry.id == id; });
    return found == entries_.end() ? nullptr : &*found;
}

uint DBusMenuExporter::GetLayout(int parentId, int recursionDepth, const QStringList& propertyNames,
                                 DBusMenuLayoutItem& layout) {
    layout = {};
    if (parentId != 0) {
        // Items here have no submenus.
        if (const Entry* entry = find(parentId)) {
            layout = {parentId, only(dbusMenuProperties(entry->item), propertyNames), {}};
        }
        return revision_;
    }
    layout.properties = only({{"children-display", "submenu"}}, propertyNames);
    if (recursionDepth != 0) {
        for (const Entry& entry : entries_) {
            layout.children.append(
                {entry.id, only(dbusMenuProperties(entry.item), propertyNames), {}});
        }
    }
    return revision_;
}

DBusMenuItemPropertiesList DBusMenuExporter::GetGroupProperties(const QList<int>& ids,
                                                                const QStringList& propertyNames) {
    DBusMenuItemPropertiesList found;
    for (const Entry& entry : entries_) {
        if (ids.isEmpty() || ids.contains(entry.id)) {
            found.append({entry.id, only(dbusMenuProperties(entry.item), propertyNames)});
        }
    }
    return found;
}

QDBusVariant DBusMenuExporter::GetProperty(int id, const QString& name) {
    const Entry* entry = find(id);
    return QDBusVariant(entry ? dbusMenuProperties(entry->item).value(name) : QVariant());
}

void DBusMenuExporter::Event(int id, const QString& eventId, const QDBusVariant&, uint) {
    const Entry* entry = find(id);
    if (eventId != "clicked" || !entry || entry->item.command == Command::None) {
        return;
    }
    // After the reply: a command may show a modal alert, and the desktop waits on the answer.
    QTimer::singleShot(0, this, [this, command = entry->item.command] { onCommand_(command); });
}

QList<int> DBusMenuExporter::EventGroup(const DBusMenuEventList& events) {
    QList<int> unknown;
    for (const DBusMenuEvent& event : events) {
        if (find(event.id)) {
            Event(event.id, event.eventId, event.data, event.timestamp);
        } else {
            unknown.append(event.id);
        }
    }
    return unknown;
}

bool DBusMenuExporter::AboutToShow(int) {
    return false;
}

QList<int> DBusMenuExporter::AboutToShowGroup(const QList<int>& ids, QList<int>& idErrors) {
    for (int id : ids) {
        if (id != 0 && !find(id)) {
            idErrors.append(id);
        }
    }
    return {};
}

}  // namespace companion

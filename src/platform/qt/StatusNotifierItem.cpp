#include "platform/qt/StatusNotifierItem.h"

#include <unistd.h>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDBusServiceWatcher>
#include <QImage>
#include <QtEndian>

#include "platform/qt/QtUi.h"

namespace companion {

namespace {

const QString kWatcher = "org.kde.StatusNotifierWatcher";
const QString kWatcherPath = "/StatusNotifierWatcher";
const QString kItemPath = "/StatusNotifierItem";
const QString kMenuPath = "/MenuBar";

// A watcher that does not answer must not hold up the launch: there is no tray to wait for.
constexpr int kWatcherAnswerMilliseconds = 500;

}  // namespace

QDBusArgument& operator<<(QDBusArgument& argument, const DBusImage& image) {
    return writeStructure(argument, image.width, image.height, image.pixels);
}

const QDBusArgument& operator>>(const QDBusArgument& argument, DBusImage& image) {
    return readStructure(argument, image.width, image.height, image.pixels);
}

QDBusArgument& operator<<(QDBusArgument& argument, const DBusToolTip& tip) {
    return writeStructure(argument, tip.iconName, tip.images, tip.title, tip.description);
}

const QDBusArgument& operator>>(const QDBusArgument& argument, DBusToolTip& tip) {
    return readStructure(argument, tip.iconName, tip.images, tip.title, tip.description);
}

StatusNotifierItem::StatusNotifierItem(QDBusConnection bus, std::function<void(Command)> onCommand,
                                       std::function<void(QPoint)> popUp)
    : bus_(std::move(bus)),
      popUp_(std::move(popUp)),
      menu_(std::move(onCommand)),
      service_(QString("org.kde.StatusNotifierItem-%1-1").arg(::getpid())) {
    qDBusRegisterMetaType<DBusImage>();
    qDBusRegisterMetaType<DBusImageList>();
    qDBusRegisterMetaType<DBusToolTip>();
    qRegisterMetaType<DBusImageList>("companion::DBusImageList");
    qRegisterMetaType<DBusToolTip>("companion::DBusToolTip");
    bus_.connect(kWatcher, kWatcherPath, kWatcher, "StatusNotifierHostRegistered", this,
                 SLOT(onHostRegistered()));
    // Started at login, the companion often comes up before the panel does.
    auto* watcher =
        new QDBusServiceWatcher(kWatcher, bus_, QDBusServiceWatcher::WatchForRegistration, this);
    connect(watcher, &QDBusServiceWatcher::serviceRegistered, this,
            &StatusNotifierItem::onWatcherStarted);
}

StatusNotifierItem::~StatusNotifierItem() {
    if (shown_) {
        bus_.unregisterService(service_);
        bus_.unregisterObject(kItemPath);
        bus_.unregisterObject(kMenuPath);
    }
}

bool StatusNotifierItem::hostIsRegistered() const {
    if (!bus_.isConnected() || !bus_.interface()->isServiceRegistered(kWatcher)) {
        return false;
    }
    QDBusMessage get = QDBusMessage::createMethodCall(kWatcher, kWatcherPath,
                                                      "org.freedesktop.DBus.Properties", "Get");
    get << kWatcher << "IsStatusNotifierHostRegistered";
    const QDBusMessage reply = bus_.call(get, QDBus::Block, kWatcherAnswerMilliseconds);
    return reply.type() == QDBusMessage::ReplyMessage &&
           reply.arguments().value(0).value<QDBusVariant>().variant().toBool();
}

void StatusNotifierItem::show() {
    if (shown_) {
        return;
    }
    shown_ = bus_.registerObject(kItemPath, this, QDBusConnection::ExportAllContents) &&
             bus_.registerObject(kMenuPath, &menu_, QDBusConnection::ExportAllContents) &&
             bus_.registerService(service_);
    if (shown_) {
        registerWithWatcher();
    }
}

void StatusNotifierItem::registerWithWatcher() {
    QDBusMessage registration = QDBusMessage::createMethodCall(kWatcher, kWatcherPath, kWatcher,
                                                               "RegisterStatusNotifierItem");
    registration << service_;
    bus_.asyncCall(registration);
}

void StatusNotifierItem::onHostRegistered() {
    emit hostRegistered();
}

void StatusNotifierItem::onWatcherStarted() {
    if (shown_) {
        registerWithWatcher();
    } else if (hostIsRegistered()) {
        emit hostRegistered();
    }
}

void StatusNotifierItem::setToolTip(const QString& title) {
    toolTipTitle_ = title;
    emit NewToolTip();
}

DBusImageList StatusNotifierItem::iconPixmap() const {
    DBusImageList images;
    for (int size : {22, 32, 48}) {
        QImage image =
            companionIcon().pixmap(size, size).toImage().convertToFormat(QImage::Format_ARGB32);
        // QImage keeps each pixel in the machine's order; the protocol wants the alpha first.
        auto* pixels = reinterpret_cast<quint32*>(image.bits());
        for (qsizetype i = 0; i < image.sizeInBytes() / 4; ++i) {
            pixels[i] = qToBigEndian(pixels[i]);
        }
        images.append(
            {image.width(), image.height(),
             QByteArray(reinterpret_cast<const char*>(image.constBits()), image.sizeInBytes())});
    }
    return images;
}

DBusToolTip StatusNotifierItem::toolTip() const {
    return {{}, {}, toolTipTitle_, {}};
}

QDBusObjectPath StatusNotifierItem::menu() const {
    return QDBusObjectPath(kMenuPath);
}

void StatusNotifierItem::ContextMenu(int x, int y) {
    popUp_(QPoint(x, y));
}

void StatusNotifierItem::Activate(int x, int y) {
    popUp_(QPoint(x, y));
}

void StatusNotifierItem::SecondaryActivate(int, int) {}

void StatusNotifierItem::Scroll(int, const QString&) {}

}  // namespace companion

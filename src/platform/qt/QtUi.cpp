#include "platform/qt/QtUi.h"

#include <QApplication>
#include <QCursor>
#include <QDBusConnection>
#include <QDateTime>
#include <QDesktopServices>
#include <QLocale>
#include <QMenu>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>
#include <QSystemTrayIcon>
#include <QTimer>
#include <QUrl>

#include "platform/qt/DigestWindow.h"
#include "platform/qt/PairingWindow.h"
#include "platform/qt/StatusNotifierItem.h"
#include "platform/qt/StatusWindow.h"

namespace companion {

// How often, while no tray is there, the companion looks for one that has started since: an
// XEmbed tray announces itself only to the icon waiting for it.
static constexpr int kTrayLookMilliseconds = 500;

// The status item wherever the desktop keeps it: a StatusNotifierItem when a host is on the
// session bus, an XEmbed tray icon otherwise, and a window of its own while there is neither.
// All three show the one menu built from the model.
class QtStatusItem : public StatusItem {
  public:
    explicit QtStatusItem(QtUi::CommandHandler onCommand) : onCommand_(std::move(onCommand)) {
        if (QDBusConnection bus = QDBusConnection::sessionBus(); bus.isConnected()) {
            notifierItem_ = std::make_unique<StatusNotifierItem>(bus, onCommand_,
                                                                 [this](QPoint at) { popUp(at); });
            QObject::connect(notifierItem_.get(), &StatusNotifierItem::hostRegistered,
                             [this] { useNotifierItem(); });
            if (notifierItem_->hostIsRegistered()) {
                useNotifierItem();
                return;
            }
        }
        // Qt settles which tray it speaks to for the whole run when the first icon is made:
        // made now, with no host on the bus, it is the XEmbed one, which docks whenever a tray
        // starts.
        tray_ = std::make_unique<QSystemTrayIcon>(companionIcon());
        // macOS opens a status item's menu on a plain click; trays here only do so on a right
        // click unless asked.
        QObject::connect(tray_.get(), &QSystemTrayIcon::activated,
                         [this](QSystemTrayIcon::ActivationReason reason) {
                             if (reason == QSystemTrayIcon::Trigger) {
                                 popUp(QCursor::pos());
                             }
                         });
        tray_->show();
        lookForTray_.setInterval(kTrayLookMilliseconds);
        QObject::connect(&lookForTray_, &QTimer::timeout, [this] {
            if (QSystemTrayIcon::isSystemTrayAvailable()) {
                trayAppeared();
            }
        });
        if (!QSystemTrayIcon::isSystemTrayAvailable()) {
            showWindow();
        }
    }

    ~QtStatusItem() override { delete menu_.data(); }

    bool hasButton() const override { return true; }

    void setImage(const std::string&, const std::string& accessibilityDescription) override {
        // Our own antenna stands for the system symbol; the description names the item for
        // assistive tools through its menu.
        accessibleName_ = QString::fromStdString(accessibilityDescription);
        if (menu_) {
            menu_->setAccessibleName(accessibleName_);
        }
    }

    // Trays show no text beside their icons, so the title goes where the desktop shows text.
    void setTitle(const std::string& title) override {
        if (tray_) {
            tray_->setToolTip(QString::fromStdString(title));
        }
        if (notifierItem_) {
            notifierItem_->setToolTip(QString::fromStdString(title));
        }
    }

    void setMenu(const MenuModel& model) override {
        if (notifierItem_) {
            notifierItem_->setMenu(model);
        }
        if (menu_ && updateMenu(*menu_, model)) {
            return;
        }
        QMenu* menu = buildMenu(model, onCommand_);
        menu->setAccessibleName(accessibleName_);
        QMenu* previous = menu_.data();
        menu_ = menu;
        if (tray_) {
            tray_->setContextMenu(menu);
        }
        if (window_) {
            window_->showItemsOf(menu);
        }
        if (previous) {
            // A menu the user has open stays as it was until it closes.
            if (previous->isVisible()) {
                QObject::connect(previous, &QMenu::aboutToHide, previous, &QObject::deleteLater);
            } else {
                previous->deleteLater();
            }
        }
    }

    // Opening the application again where there is no tray brings the window back, since
    // nothing else shows that the companion runs.
    void reveal() {
        if (window_ && !trayShown_) {
            showWindow();
        }
    }

  private:
    void popUp(QPoint at) {
        if (menu_) {
            menu_->popup(at);
        }
    }

    void useNotifierItem() {
        notifierItem_->show();
        if (tray_) {
            tray_->hide();
        }
        trayAppeared();
    }

    void trayAppeared() {
        trayShown_ = true;
        lookForTray_.stop();
        if (window_) {
            window_->hide();
        }
    }

    void showWindow() {
        if (!window_) {
            window_ = std::make_unique<StatusWindow>();
        }
        if (menu_) {
            window_->showItemsOf(menu_);
        }
        window_->makeKeyAndOrderFront();
        // Only X has XEmbed trays; elsewhere the bus says when a tray starts.
        if (QGuiApplication::platformName() == "xcb") {
            lookForTray_.start();
        }
    }

    QtUi::CommandHandler onCommand_;
    std::unique_ptr<StatusNotifierItem> notifierItem_;
    std::unique_ptr<QSystemTrayIcon> tray_;
    std::unique_ptr<StatusWindow> window_;
    QTimer lookForTray_;
    bool trayShown_ = false;
    QPointer<QMenu> menu_;
    QString accessibleName_;
};

namespace {

// What an item stands for, kept on its action so that an update can change it.
constexpr const char* kCommandProperty = "companionCommand";
constexpr const char* kCheckedProperty = "companionChecked";

void applyMenuItem(QAction& action, const MenuItem& item) {
    action.setText(QString::fromStdString(item.title));
    // Built from text: the standard sequences are empty on some platforms, and Qt maps Ctrl to
    // Command on macOS.
    action.setShortcut(
        item.keyEquivalent.empty()
            ? QKeySequence()
            : QKeySequence("Ctrl+" + QString::fromStdString(item.keyEquivalent).toUpper()));
    action.setShortcutVisibleInContextMenu(true);
    action.setEnabled(item.command != Command::None);
    action.setCheckable(item.checkable);
    action.setChecked(item.checked);
    action.setProperty(kCommandProperty, static_cast<int>(item.command));
    action.setProperty(kCheckedProperty, item.checked);
}

}  // namespace

QMenu* buildMenu(const MenuModel& model, const QtUi::CommandHandler& onCommand) {
    auto* menu = new QMenu;
    for (const MenuItem& item : model.items) {
        if (item.separator) {
            menu->addSeparator();
            continue;
        }
        QAction* action = menu->addAction(QString());
        applyMenuItem(*action, item);
        // Qt flips a check mark on click; the menu shows the state of its last update instead,
        // so a command that fails, and updates nothing, leaves the mark as it was.
        QObject::connect(action, &QAction::triggered, [onCommand, action] {
            action->setChecked(action->property(kCheckedProperty).toBool());
            onCommand(static_cast<Command>(action->property(kCommandProperty).toInt()));
        });
    }
    return menu;
}

bool isCommandAction(const QAction& action) {
    return static_cast<Command>(action.property(kCommandProperty).toInt()) != Command::None;
}

bool updateMenu(QMenu& menu, const MenuModel& model) {
    const QList<QAction*> actions = menu.actions();
    if (actions.size() != static_cast<qsizetype>(model.items.size())) {
        return false;
    }
    for (qsizetype i = 0; i < actions.size(); ++i) {
        if (actions[i]->isSeparator() != model.items[i].separator) {
            return false;
        }
    }
    for (qsizetype i = 0; i < actions.size(); ++i) {
        if (!model.items[i].separator) {
            applyMenuItem(*actions[i], model.items[i]);
        }
    }
    return true;
}

QIcon companionIcon() {
    static const QIcon icon(":/orvane-pelix-companion.svg");
    return icon;
}

QtUi::QtUi(CommandHandler onCommand) : onCommand_(std::move(onCommand)) {}

void QtUi::setActivationPolicyRegular() {
    // Already an ordinary application here; keep running with no window open.
    QApplication::setQuitOnLastWindowClosed(false);
    QApplication::setWindowIcon(companionIcon());
}

std::shared_ptr<StatusItem> QtUi::createStatusItem() {
    auto item = std::make_shared<QtStatusItem>(onCommand_);
    statusItem_ = item;
    return item;
}

void QtUi::revealStatusItem() {
    if (auto item = statusItem_.lock()) {
        item->reveal();
    }
}

void configureAlert(QMessageBox& box, const Alert& alert) {
    box.setWindowTitle("Orvane Pelix Companion");
    box.setIconPixmap(companionIcon().pixmap(64, 64));
    // The message reads as a headline above the details, as alerts do on macOS, and the details
    // get room for a sentence a line rather than a word or two.
    box.setStyleSheet(
        "QLabel#qt_msgbox_label { font-weight: bold; }"
        "QLabel#qt_msgbox_informativelabel { min-width: 320px; }");
    box.setText(QString::fromStdString(alert.messageText));
    box.setInformativeText(QString::fromStdString(alert.informativeText));
    if (alert.buttons.empty()) {
        box.setStandardButtons(QMessageBox::Ok);
        box.setDefaultButton(QMessageBox::Ok);
        box.setEscapeButton(QMessageBox::Ok);
        return;
    }
    for (std::size_t i = 0; i < alert.buttons.size(); ++i) {
        const QString title = QString::fromStdString(alert.buttons[i]);
        const auto role = i == 0              ? QMessageBox::AcceptRole
                          : title == "Cancel" ? QMessageBox::RejectRole
                                              : QMessageBox::ActionRole;
        QPushButton* button = box.addButton(title, role);
        button->setProperty("alertIndex", static_cast<int>(i));
        if (i == 0) {
            box.setDefaultButton(button);
        }
        if (title == "Cancel") {
            box.setEscapeButton(button);
        }
    }
}

int alertAnswer(const QMessageBox& box, const QAbstractButton* clicked) {
    if (!clicked) {
        return kAlertFirstButtonReturn;
    }
    const QVariant index = clicked->property("alertIndex");
    if (!index.isValid()) {
        // The single default button, or the box closed without a button of ours.
        return box.buttons().size() == 1 ? kAlertFirstButtonReturn : kAlertFirstButtonReturn + 1;
    }
    return kAlertFirstButtonReturn + index.toInt();
}

int QtUi::runModal(const Alert& alert) {
    QMessageBox box;
    configureAlert(box, alert);
    box.exec();
    return alertAnswer(box, box.clickedButton());
}

std::shared_ptr<Window> QtUi::createPairingWindow(const PairingWindowContent& content) {
    return std::make_shared<PairingWindow>(content);
}

std::shared_ptr<Window> QtUi::createDigestWindow(const DigestWindowContent& content) {
    return std::make_shared<CompanionDigestWindow>(content);
}

void QtUi::activateIgnoringOtherApps() {
    // Each window raises and activates itself when shown; there is no application-wide
    // activation to ask for here.
}

void QtUi::openFolder(const std::string& path) {
    QDesktopServices::openUrl(QUrl::fromLocalFile(QString::fromStdString(path)));
}

void QtUi::terminate() {
    QCoreApplication::quit();
}

std::string QtUi::shortTimeOfDay(std::chrono::system_clock::time_point instant) const {
    const auto msecs =
        std::chrono::duration_cast<std::chrono::milliseconds>(instant.time_since_epoch()).count();
    const QTime time = QDateTime::fromMSecsSinceEpoch(msecs).toLocalTime().time();
    return QLocale::system().toString(time, QLocale::ShortFormat).toStdString();
}

}  // namespace companion

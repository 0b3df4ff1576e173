#pragma once

#include <QIcon>
#include <functional>

#include "platform/Ui.h"

class QAbstractButton;
class QAction;
class QMenu;
class QMessageBox;

namespace companion {

class QtStatusItem;

// The display on Qt Widgets: a tray icon with a menu, message boxes and the two windows.
class QtUi : public Ui {
  public:
    using CommandHandler = std::function<void(Command)>;

    explicit QtUi(CommandHandler onCommand);

    void setActivationPolicyRegular() override;
    std::shared_ptr<StatusItem> createStatusItem() override;
    int runModal(const Alert& alert) override;
    std::shared_ptr<Window> createPairingWindow(const PairingWindowContent& content) override;
    std::shared_ptr<Window> createDigestWindow(const DigestWindowContent& content) override;
    void activateIgnoringOtherApps() override;
    void openFolder(const std::string& path) override;
    void terminate() override;
    std::string shortTimeOfDay(std::chrono::system_clock::time_point instant) const override;

    // Opening the application again shows the status item's window where no tray shows it.
    void revealStatusItem();

  private:
    CommandHandler onCommand_;
    std::weak_ptr<QtStatusItem> statusItem_;
};

// A new menu for the model, each item sending its command to the handler.
QMenu* buildMenu(const MenuModel& model, const QtUi::CommandHandler& onCommand);
// Brings a menu built for a model of the same shape (the same separators in the same places) up
// to this model, keeping every item: a desktop that shows the menu through D-Bus then sees the
// same items change, under a growing revision. False, and nothing changed, for another shape.
bool updateMenu(QMenu& menu, const MenuModel& model);
// Whether the item runs a command, rather than being one of the menu's informational lines.
bool isCommandAction(const QAction& action);

// The companion's own antenna icon.
QIcon companionIcon();

// Sets up a message box for the alert: its texts, the buttons in order with the first the
// default and "Cancel" on Escape, or one default button when the alert names none.
void configureAlert(QMessageBox& box, const Alert& alert);
// The answer for the button the user chose: 1000 for the first, 1001 for the second, ...
int alertAnswer(const QMessageBox& box, const QAbstractButton* clicked);

}  // namespace companion

#pragma once

#include <QPointer>

#include "platform/qt/QtWindow.h"

class QMenu;
class QGridLayout;

namespace companion {

// Where there is no tray to hold the status item (GNOME without an extension, a bare window
// manager), the companion shows its menu as a window instead: the state lines, then a button for
// every command. The buttons are bound to the menu's own actions, so the window and the menu
// show the same titles, enabled states, check marks and key equivalents, and run the same code.
class StatusWindow : public QtWindow {
  public:
    StatusWindow();

    // Shows the items of this menu; a menu of another shape replaces the one shown before.
    void showItemsOf(QMenu* menu);

  private:
    QPointer<QMenu> shown_;
    QGridLayout* grid_;
};

}  // namespace companion

#pragma once

#include <QWidget>

#include "platform/Ui.h"

namespace companion {

// A top-level window that the application keeps: closing it only hides it.
class QtWindow : public QWidget, public Window {
  public:
    explicit QtWindow(const QString& title);

    // A minimised window is not in sight: the commands that show a window then open a new one.
    bool isVisible() const override { return QWidget::isVisible() && !isMinimized(); }
    void makeKeyAndOrderFront() override;

  protected:
    // Centres the window on the screen it will show on, once its size is known.
    void centerOnScreen();
};

}  // namespace companion

#include "platform/qt/StatusWindow.h"

#include <QCheckBox>
#include <QGridLayout>
#include <QLabel>
#include <QMenu>
#include <QPushButton>

#include "platform/qt/QtUi.h"
#include "platform/qt/Typography.h"

namespace companion {

namespace {

QLabel* makeStateLine(QAction* action, bool first) {
    auto* label = new QLabel;
    label->setTextFormat(Qt::PlainText);
    label->setFont(systemFont(first ? 15 : 12, first ? QFont::DemiBold : QFont::Normal));
    setTone(*label, first ? Tone::Primary : Tone::Secondary);
    const auto follow = [label, action] { label->setText(action->text()); };
    follow();
    QObject::connect(action, &QAction::changed, label, follow);
    return label;
}

// A button that shows what the action shows and triggers it, as a click on the menu item does;
// its key equivalent goes in the next column.
void addCommandRow(QGridLayout& grid, int row, QAction* action) {
    QAbstractButton* button =
        action->isCheckable() ? static_cast<QAbstractButton*>(new QCheckBox) : new QPushButton;
    auto* key = new QLabel;
    key->setFont(systemFont(12, QFont::Normal));
    setTone(*key, Tone::Secondary);
    const auto follow = [button, key, action] {
        button->setText(action->text());
        button->setEnabled(action->isEnabled());
        button->setChecked(action->isChecked());
        key->setText(action->shortcut().toString(QKeySequence::NativeText));
    };
    follow();
    QObject::connect(action, &QAction::changed, button, follow);
    // The action sets its mark back to the model's, and the box follows it, so the box shows what
    // the command did.
    QObject::connect(button, &QAbstractButton::clicked, action, &QAction::trigger);
    grid.addWidget(button, row, 0);
    grid.addWidget(key, row, 1);
}

}  // namespace

StatusWindow::StatusWindow() : QtWindow("Orvane Pelix Companion") {
    setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowCloseButtonHint | Qt::WindowMinimizeButtonHint);
    grid_ = new QGridLayout(this);
    grid_->setContentsMargins(20, 18, 20, 18);
    grid_->setVerticalSpacing(8);
    grid_->setHorizontalSpacing(12);
    grid_->setSizeConstraint(QLayout::SetFixedSize);
}

void StatusWindow::showItemsOf(QMenu* menu) {
    if (menu == shown_) {
        return;
    }
    // Later: the click that replaced the menu may still be running in one of these buttons.
    while (QLayoutItem* item = grid_->takeAt(0)) {
        item->widget()->hide();
        item->widget()->deleteLater();
        delete item;
    }
    for (QAction* action : actions()) {
        removeAction(action);
    }
    shown_ = menu;
    int row = 0;
    for (QAction* action : menu->actions()) {
        if (action->isSeparator()) {
            grid_->addWidget(makeSeparatorLine(), row, 0, 1, 2);
        } else if (!isCommandAction(*action)) {
            grid_->addWidget(makeStateLine(action, row == 0), row, 0, 1, 2);
        } else {
            addCommandRow(*grid_, row, action);
            // Its key equivalent then works in this window as it does in the open menu.
            addAction(action);
        }
        ++row;
    }
    adjustSize();
    centerOnScreen();
}

}  // namespace companion

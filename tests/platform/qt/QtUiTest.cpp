#include "platform/qt/QtUi.h"

#include <gtest/gtest.h>
#include <QMenu>
#include <QMessageBox>
#include <QPushButton>

#include "platform/qt/QtApplication.h"

namespace companion::testing {
namespace {

TEST(QtMenu, BuiltFromTheModel) {
    qtApplication();
    std::vector<Command> sent;
    const std::unique_ptr<QMenu> menu(buildMenu(
        {{{.title = "Companion Running"},
          MenuItem::makeSeparator(),
          {.title = "Show Pairing QR...", .keyEquivalent = "p", .command = Command::ShowPairingQR},
          {.title = "Open at Login",
           .command = Command::ToggleOpenAtLogin,
           .checkable = true,
           .checked = true}}},
        [&](Command command) { sent.push_back(command); }));
    QString shown;
    for (QAction* action : menu->actions()) {
        shown += QString("%1 %2 %3%4%5%6|")
                     .arg(action->text(), action->shortcut().toString())
                     .arg(action->isSeparator())
                     .arg(action->isEnabled())
                     .arg(action->isCheckable())
                     .arg(action->isChecked());
        action->trigger();
    }
    EXPECT_EQ(shown.toStdString(),
              "Companion Running  0000|  1100|Show Pairing QR... Ctrl+P 0100|Open at Login  0111|");
    EXPECT_EQ(sent, (std::vector{Command::ShowPairingQR, Command::ToggleOpenAtLogin}));
}

TEST(QtAlert, FirstButtonIsTheDefaultCancelTakesEscapeAnswersCountFrom1000) {
    qtApplication();
    const std::tuple<std::vector<std::string>, QString, int> cases[] = {
        {{"Remove", "Cancel"}, "Remove", 1000},
        {{"Start Helper", "Cancel"}, "Escape", 1001},
        {{}, "OK", 1000}};
    for (const auto& [buttons, click, answer] : cases) {
        QMessageBox box;
        configureAlert(box, Alert{"Remove data?", "It goes.", buttons});
        EXPECT_EQ(
            box.text() + box.informativeText() + box.defaultButton()->text().remove('&'),
            "Remove data?It goes." + QString::fromStdString(buttons.empty() ? "OK" : buttons[0]));
        QAbstractButton* chosen = box.escapeButton();
        for (QAbstractButton* button : box.buttons()) {
            chosen = button->text().remove('&') == click ? button : chosen;
        }
        box.open();
        chosen->click();
        EXPECT_EQ(alertAnswer(box, box.clickedButton()), answer) << click.toStdString();
    }
}

}  // namespace
}  // namespace companion::testing

#include "platform/qt/QtUi.h"

#include <gtest/gtest.h>
#include <QMenu>
#include <QMessageBox>
#include <QPushButton>

#include "platform/posix/PosixToolRunner.h"
#include "platform/qt/QtApplication.h"
#include "support/TestEnvironment.h"

namespace companion::testing {
namespace {

TEST(QtMenu, BuiltFromTheModel) {
    qtApplication();
    std::vector<Command> sent;
    const std::unique_ptr<QMenu> menu(buildMenu(
        {{{.title = "Running"},
          MenuItem::makeSeparator(),
          {.title = "Show", .keyEquivalent = "p", .command = Command::ShowPairingQR},
          {.title = "Login", .command = Command::Quit, .checkable = true, .checked = true}}},
        [&](Command command) { sent.push_back(command); }));
    QString shown;
    for (QAction* action : menu->actions()) {
        shown += action->text() + " " + action->shortcut().toString() + " " +
                 QString::number(action->isEnabled() * 100 + action->isCheckable() * 10 +
                                 action->isChecked()) +
                 "|";
        action->trigger();
    }
    EXPECT_EQ(shown.toStdString(), "Running  0|  100|Show Ctrl+P 100|Login  111|");
    EXPECT_EQ(sent, (std::vector{Command::ShowPairingQR, Command::Quit}));
}

TEST(QtAlert, FirstButtonIsTheDefaultCancelTakesEscapeAnswersCountFrom1000) {
    qtApplication();
    for (const auto& [buttons, click, answer] :
         {std::tuple{std::vector<std::string>{"Remove", "Cancel"}, "Remove", 1000},
          {{"Start Helper", "Cancel"}, "", 1001},
          {{}, "OK", 1000}}) {
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
        EXPECT_EQ(alertAnswer(box, box.clickedButton()), answer) << click;
    }
}

// Four launches at once of a stand-in for the companion with the real guard, in a runtime folder
// of the test's own: the one that runs takes a "reopen" from each of the others, which end.
TEST(SingleInstance, LaunchesAtOnceLeaveOneThatTakesTheOthersReopen) {
    TemporaryFolder runtime;
    ScopedEnvironment folder("XDG_RUNTIME_DIR", runtime.path().string());
    const std::string launches =
        "for i in 1 2 3 4; do timeout 60 \"$0\" 3 & pids=\"$pids $!\"; done\n"
        "for pid in $pids; do wait $pid || echo failed; done";
    EXPECT_EQ(PosixToolRunner()
                  .run("/bin/sh", {"-c", launches, SINGLE_INSTANCE_PROBE}, ToolErrorOutput::Discard)
                  .output,
              "running\nreopen\nreopen\nreopen\n");
}

}  // namespace
}  // namespace companion::testing

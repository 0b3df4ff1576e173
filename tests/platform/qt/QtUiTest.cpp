#include "platform/qt/QtUi.h"

#include <gtest/gtest.h>
#include <QCheckBox>
#include <QDBusMessage>
#include <QLabel>
#include <QMenu>
#include <QMessageBox>
#include <QPushButton>
#include <atomic>
#include <csignal>
#include <numeric>
#include <thread>

#include "platform/posix/PosixToolRunner.h"
#include "platform/posix/Spawn.h"
#include "platform/qt/QtApplication.h"
#include "platform/qt/QtMainQueue.h"
#include "platform/qt/StatusNotifierItem.h"
#include "platform/qt/StatusWindow.h"
#include "support/TestEnvironment.h"

namespace companion::testing {
namespace {

TEST(QtMenu, BuiltFromTheModelAndUpdatedInPlaceWhileItKeepsItsShape) {
    qtApplication();
    std::vector<Command> sent;
    const std::unique_ptr<QMenu> menu(buildMenu(
        {{{.title = "Running"},
          MenuItem::makeSeparator(),
          {.title = "Show", .keyEquivalent = "p", .command = Command::ShowPairingQR},
          {.title = "Login", .command = Command::Quit, .checkable = true, .checked = true}}},
        [&](Command command) { sent.push_back(command); }));
    const auto shown = [&] {
        QString shown;
        for (const QAction* action : menu->actions()) {
            const int flags =
                action->isEnabled() * 100 + action->isCheckable() * 10 + action->isChecked();
            shown +=
                QString("%1 %2 %3|").arg(action->text(), action->shortcut().toString()).arg(flags);
        }
        return shown.toStdString();
    };
    EXPECT_EQ(shown(), "Running  0|  100|Show Ctrl+P 100|Login  111|");
    // A toggle whose command changed nothing keeps the mark the menu was built with.
    const QList<QAction*> items = menu->actions();
    items[3]->trigger();
    EXPECT_TRUE(items[3]->isChecked());
    // The same shape keeps every item, so an item read before the update runs what it now shows.
    ASSERT_TRUE(
        updateMenu(*menu, {{{.title = "Stopped"},
                            MenuItem::makeSeparator(),
                            {.title = "Stop", .command = Command::StopDaemon},
                            {.title = "Login", .command = Command::Quit, .checkable = true}}}));
    EXPECT_EQ(shown(), "Stopped  0|  100|Stop  100|Login  110|");
    items[2]->trigger();
    EXPECT_TRUE(menu->actions() == items &&
                sent == (std::vector{Command::Quit, Command::StopDaemon}));
    EXPECT_FALSE(updateMenu(*menu, {{{.title = "Running"}, {.title = "Show"}, {}, {}}}));
    EXPECT_EQ(shown(), "Stopped  0|  100|Stop  100|Login  110|");
}

// Where there is no tray, the window holds the menu's lines and commands and follows its updates;
// a box ticked there shows what the command left, as the menu's mark does.
TEST(StatusWindow, ShowsRunsAndFollowsWhatTheMenuHolds) {
    qtApplication();
    std::vector<Command> sent;
    MenuModel model{{{.title = "Companion Running"},
                     MenuItem::makeSeparator(),
                     {.title = "Show", .keyEquivalent = "p", .command = Command::ShowPairingQR},
                     {.title = "Login", .command = Command::ToggleOpenAtLogin, .checkable = true}}};
    const std::unique_ptr<QMenu> menu(buildMenu(model, [&](Command c) { sent.push_back(c); }));
    StatusWindow window;
    window.showItemsOf(menu.get());
    const auto shown = [&] {
        std::string text;
        for (const QObject* child : window.children()) {
            if (const auto* label = qobject_cast<const QLabel*>(child)) {
                text += label->text().toStdString() + "|";
            } else if (const auto* button = qobject_cast<const QAbstractButton*>(child)) {
                text += button->text().toStdString() + (button->isEnabled() ? " on" : " off") +
                        (button->isChecked() ? " x|" : "|");
            }
        }
        return text;
    };
    EXPECT_EQ(shown(), "Companion Running|Show on|Ctrl+P|Login on||");
    model.items[0].title = "Companion Stopped";
    model.items[3].checked = true;
    ASSERT_TRUE(updateMenu(*menu, model));
    EXPECT_EQ(shown(), "Companion Stopped|Show on|Ctrl+P|Login on x||");
    window.findChild<QCheckBox*>()->click();
    EXPECT_EQ(shown(), "Companion Stopped|Show on|Ctrl+P|Login on x||");
    EXPECT_EQ(sent, std::vector{Command::ToggleOpenAtLogin});
}

// A desktop reads the exported menu from a bus of the test's own: item for item it shows what the
// tray's menu built from the same model shows, before and after the state changes, and an id it
// read before a change still runs that item's command.
TEST(StatusNotifierItem, ExportsWhatTheTrayMenuShowsUnderStableIdsAndAGrowingRevision) {
    qtApplication();
    // A bus of the test's own, which the kernel ends with the test whatever happens to it.
    Pipe printed;
    ASSERT_EQ(makePipe(printed), 0);
    const SpawnResult daemon =
        spawnProgram({.executable = "/usr/bin/dbus-daemon",
                      .arguments = {"--session", "--nofork", "--print-address"},
                      .standardOutput = printed.writeEnd.get(),
                      .terminateWithParent = true});
    printed.writeEnd.reset();
    char line[512] = {};
    ASSERT_GT(::read(printed.readEnd.get(), line, sizeof line - 1), 0);
    const QString address = QString::fromUtf8(line).trimmed();
    std::vector<Command> sent;
    StatusNotifierItem item(
        QDBusConnection::connectToBus(address, "item"),
        [&](Command command) { sent.push_back(command); }, [](QPoint) {});
    QDBusConnection desktop = QDBusConnection::connectToBus(address, "desktop");
    const auto ask = [&](const QString& method, const QVariantList& arguments) {
        QDBusMessage call = QDBusMessage::createMethodCall(
            QString("org.kde.StatusNotifierItem-%1-1").arg(::getpid()), "/MenuBar",
            "com.canonical.dbusmenu", method);
        call.setArguments(arguments);
        return desktop.call(call, QDBus::BlockWithGui).arguments();
    };
    const auto shown = [&](const MenuModel& model, std::vector<int>& ids) {
        item.setMenu(model);
        const std::unique_ptr<QMenu> menu(buildMenu(model, [](Command) {}));
        const QVariantList reply = ask("GetLayout", {0, -1, QStringList()});
        const auto layout = qdbus_cast<DBusMenuLayoutItem>(reply.value(1));
        ids.clear();
        for (qsizetype i = 0; i < layout.children.size(); ++i) {
            const QVariantMap& exported = layout.children[i].properties;
            const QAction& action = *menu->actions().value(i);
            const auto keys = qdbus_cast<DBusMenuShortcut>(exported.value("shortcut"));
            // Doubled, an underscore shows as itself rather than marking an access key.
            EXPECT_EQ(exported.value("label").toString().replace("__", "_").toStdString(),
                      action.text().toStdString());
            EXPECT_EQ(exported.value("type") == "separator", action.isSeparator());
            EXPECT_EQ(exported.value("enabled", true).toBool(), action.isEnabled());
            EXPECT_EQ(exported.value("toggle-state", 0).toInt(), action.isChecked());
            EXPECT_EQ(keys.isEmpty() ? "" : "Ctrl+" + keys[0].value(1).toUpper(),
                      action.shortcut().toString());
            ids.push_back(layout.children[i].id);
        }
        EXPECT_EQ(layout.children.size(), menu->actions().size());
        return reply.value(0).toUInt();
    };
    item.show();
    MenuModel model{
        {{.title = "Companion Running"},
         MenuItem::makeSeparator(),
         {.title = "Start_Helper", .command = Command::StartCaptureHelper},
         {.title = "Login", .command = Command::ToggleOpenAtLogin, .checkable = true},
         {.title = "Restart", .keyEquivalent = "r", .command = Command::RestartDaemon}}};
    std::vector<int> before, after, swapped;
    const uint first = shown(model, before);
    model.items[0].title = "Companion Stopped";
    model.items[3].checked = true;
    model.items[4].title = "Start";
    const uint second = shown(model, after);
    ask("Event", {before[4], "clicked", QVariant::fromValue(QDBusVariant(0)), 0u});
    model.items[2] = {.title = "Stop Helper", .command = Command::StopCaptureHelper};
    const uint third = shown(model, swapped);
    ask("Event", {before[2], "clicked", QVariant::fromValue(QDBusVariant(0)), 0u});
    ask("Event", {before[0], "clicked", QVariant::fromValue(QDBusVariant(0)), 0u});
    QCoreApplication::processEvents();
    EXPECT_TRUE(first < second && second < third) << first << second << third;
    EXPECT_EQ(before, after);
    EXPECT_TRUE(swapped[2] != before[2] && swapped[4] == before[4]);
    EXPECT_EQ(sent, std::vector{Command::RestartDaemon});
    ::kill(daemon.pid, SIGTERM);
    waitForChild(daemon.pid);
}

TEST(QtAlert, FirstButtonIsTheDefaultCancelTakesEscapeAnswersCountFrom1000) {
    qtApplication();
    for (const auto& [buttons, click, answer] :
         {std::tuple{std::vector<std::string>{"Remove", "Cancel"}, "Remove", 1000},
          {{"Start Helper", "Cancel"}, "", 1001}}) {
        QMessageBox box;
        configureAlert(box, Alert{"Remove?", "", buttons});
        EXPECT_EQ(box.defaultButton()->text().remove('&').toStdString(), buttons[0]);
        QAbstractButton* chosen = box.escapeButton();
        for (QAbstractButton* button : box.buttons())
            chosen = button->text().remove('&') == click ? button : chosen;
        box.open();
        chosen->click();
        EXPECT_EQ(alertAnswer(box, box.clickedButton()), answer) << click;
    }
}

// The worker's post may return after the task already ran; what the task holds is still let go
// on the main thread, as the code it belongs to expects.
TEST(QtMainQueue, RunsAndReleasesWhatWorkersPostOnTheMainThreadInOrder) {
    qtApplication();
    QtMainQueue queue;
    const auto mainThread = std::this_thread::get_id();
    std::atomic<int> releasedElsewhere = 0;
    std::vector<int> ran, expected(500);
    std::thread worker([&] {
        for (int i = 0; i < 500; ++i) {
            queue.post([&ran, i, held = std::shared_ptr<void>(nullptr, [&](void*) {
                                     releasedElsewhere += std::this_thread::get_id() != mainThread;
                                 })] { ran.push_back(i); });
        }
    });
    while (ran.size() < expected.size())
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    worker.join();
    std::iota(expected.begin(), expected.end(), 0);
    EXPECT_EQ(ran, expected);
    EXPECT_EQ(releasedElsewhere, 0);
}

// Launched at once in a runtime folder of the test's own, where a crashed companion left its
// socket, one takes the other's reopen.
TEST(SingleInstance, LaunchesAtOnceLeaveOneThatTakesTheOthersReopen) {
    TemporaryFolder runtime;
    ::setenv("XDG_RUNTIME_DIR", runtime.path().c_str(), 1);
    const std::string launches =
        "python3 -c 'import socket, sys; socket.socket(socket.AF_UNIX).bind(sys.argv[1])' "
        "$XDG_RUNTIME_DIR/orvane-pelix-companion.socket; "
        "timeout 60 \"$0\" & timeout 60 \"$0\" || echo no; wait $! || echo no";
    const auto ran = PosixToolRunner().run("/bin/sh", {"-c", launches, SINGLE_INSTANCE_PROBE},
                                           ToolErrorOutput::Discard);
    EXPECT_EQ(ran.output, "running\nreopen\n");
}

// Asked for help or the version, or given what it does not take, the companion answers without a
// display, writes no file and ends at once; the toolkit's own options pass.
TEST(CommandLine, AnswersWithoutADisplayOrTheDaemon) {
    for (const auto& [arguments, output] : std::vector<std::pair<std::string, std::string>>{
             {"--help", "Usage: orvane-pelix-companion [--help | --version]\n"},
             {"-style=fusion --platform xcb -reverse -v", "Orvane Pelix Companion 0."},
             {"--bogus", "orvane-pelix-companion: unknown option --bogus\n\nUsage: "},
             {"-platform", "orvane-pelix-companion: unknown option -platform\n"},
             {"pairing.json", "orvane-pelix-companion: unknown option pairing.json\n"}}) {
        const std::string run =
            "h=$(mktemp -d) && env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM HOME=$h "
            "XDG_RUNTIME_DIR=$h XDG_DATA_HOME=$h XDG_STATE_HOME=$h XDG_CONFIG_HOME=$h \"$0\" " +
            arguments + " 2>&1; echo \"[$?] $(ls -A $h)\"";
        const std::string ran =
            PosixToolRunner()
                .run("/bin/sh", {"-c", run, COMPANION_EXECUTABLE}, ToolErrorOutput::Discard)
                .output;
        EXPECT_TRUE(ran.starts_with(output) &&
                    ran.ends_with(output.starts_with("orvane") ? "\n[2] \n" : "\n[0] \n"))
            << ran;
    }
}

}  // namespace
}  // namespace companion::testing

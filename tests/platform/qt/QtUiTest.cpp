#include <gtest/gtest.h>
#include <QAction>
#include <QElapsedTimer>
#include <QMenu>
#include <QMessageBox>
#include <QPushButton>
#include <atomic>
#include <thread>

#include "platform/qt/QtApplication.h"
#include "platform/qt/QtMainQueue.h"
#include "platform/qt/QtUi.h"
#include "support/TestEnvironment.h"

namespace companion::testing {
namespace {

// Runs the event loop until the condition holds or the time is up.
bool processEventsUntil(const std::function<bool()>& condition, int timeoutMs = 5000) {
    QElapsedTimer timer;
    timer.start();
    while (!condition()) {
        if (timer.elapsed() > timeoutMs) {
            return false;
        }
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    }
    return true;
}

TEST(QtAlert, ButtonsInOrderFirstIsDefaultCancelOnEscapeAnswersCountFrom1000) {
    qtApplication();
    struct Case {
        std::vector<std::string> buttons;
        int clickedIndex;  // -1 presses Escape
        int answer;
        std::vector<QString> titles;
    } cases[] = {
        {{"Remove", "Cancel"}, 0, 1000, {"Remove", "Cancel"}},
        {{"Remove", "Cancel"}, 1, 1001, {"Remove", "Cancel"}},
        {{"Start Helper", "Cancel"}, -1, 1001, {"Start Helper", "Cancel"}},
        {{}, 0, 1000, {"OK"}},
        {{}, -1, 1000, {"OK"}},
    };
    for (const auto& c : cases) {
        QMessageBox box;
        configureAlert(box, Alert{"Remove companion data?", "Details here.", c.buttons});
        EXPECT_EQ(box.text(), "Remove companion data?");
        EXPECT_EQ(box.informativeText(), "Details here.");
        std::vector<QString> titles;
        for (QAbstractButton* button : box.buttons()) {
            titles.push_back(button->text().remove('&'));
        }
        std::sort(titles.begin(), titles.end());
        auto expected = c.titles;
        std::sort(expected.begin(), expected.end());
        EXPECT_EQ(titles, expected);
        ASSERT_TRUE(box.defaultButton());
        EXPECT_EQ(box.defaultButton()->text().remove('&'), c.titles.front());

        box.open();
        QAbstractButton* clicked = nullptr;
        if (c.clickedIndex < 0) {
            ASSERT_TRUE(box.escapeButton());
            box.escapeButton()->click();
            clicked = box.clickedButton();
        } else {
            for (QAbstractButton* button : box.buttons()) {
                if (button->text().remove('&') == c.titles[c.clickedIndex]) {
                    button->click();
                }
            }
            clicked = box.clickedButton();
        }
        EXPECT_EQ(alertAnswer(box, clicked), c.answer);
    }
}

TEST(QtMenu, BuiltFromTheModel) {
    qtApplication();
    MenuModel model;
    model.items = {
        MenuItem{.title = "Companion Running"}, MenuItem::makeSeparator(),
        MenuItem{
            .title = "Show Pairing QR...", .keyEquivalent = "p", .command = Command::ShowPairingQR},
        MenuItem{.title = "Open at Login",
                 .command = Command::ToggleOpenAtLogin,
                 .checkable = true,
                 .checked = true}};
    std::vector<Command> sent;
    std::unique_ptr<QMenu> menu(buildMenu(model, [&](Command c) { sent.push_back(c); }));
    const auto actions = menu->actions();
    ASSERT_EQ(actions.size(), 4);
    EXPECT_EQ(actions[0]->text(), "Companion Running");
    EXPECT_FALSE(actions[0]->isEnabled());
    EXPECT_TRUE(actions[1]->isSeparator());
    EXPECT_TRUE(actions[2]->isEnabled());
    EXPECT_EQ(actions[2]->shortcut(), QKeySequence("Ctrl+P"));
    EXPECT_FALSE(actions[2]->isCheckable());
    EXPECT_TRUE(actions[3]->isCheckable());
    EXPECT_TRUE(actions[3]->isChecked());
    actions[2]->trigger();
    actions[3]->trigger();
    EXPECT_EQ(sent, (std::vector<Command>{Command::ShowPairingQR, Command::ToggleOpenAtLogin}));
}

TEST(QtMainQueue, TimersRunInDeadlineOrderAndCancelledOnesNever) {
    qtApplication();
    QtMainQueue queue;
    std::vector<int> ran;
    queue.postAfter(Seconds(0.06), [&] { ran.push_back(3); });
    auto cancelled = queue.postAfter(Seconds(0.02), [&] { ran.push_back(99); });
    queue.postAfter(Seconds(0.01), [&] { ran.push_back(1); });
    queue.postAfter(Seconds(0.03), [&] { ran.push_back(2); });
    cancelled->cancel();
    EXPECT_TRUE(cancelled->isCancelled());
    ASSERT_TRUE(processEventsUntil([&] { return ran.size() == 3; }));
    QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
    EXPECT_EQ(ran, (std::vector<int>{1, 2, 3}));
}

TEST(QtMainQueue, PostsFromOtherThreadsRunOnTheMainThread) {
    qtApplication();
    QtMainQueue queue;
    const auto mainThread = std::this_thread::get_id();
    std::atomic<int> onMain{0};
    std::vector<std::thread> threads;
    for (int i = 0; i < 8; ++i) {
        threads.emplace_back([&] {
            for (int j = 0; j < 50; ++j) {
                queue.post([&] { onMain += std::this_thread::get_id() == mainThread ? 1 : 1000; });
            }
        });
    }
    for (auto& thread : threads) {
        thread.join();
    }
    ASSERT_TRUE(processEventsUntil([&] { return onMain >= 400; }));
    EXPECT_EQ(onMain, 400);
}

}  // namespace
}  // namespace companion::testing

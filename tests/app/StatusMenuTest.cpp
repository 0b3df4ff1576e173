#include <gtest/gtest.h>

#include "support/TestEnvironment.h"

namespace companion::testing {
namespace {

const std::vector<std::string> kFixedTitles = {
    "Menu bar app - use this menu to quit before deleting", "-", "Show Pairing QR...",
    "Show Companion Digest..."};

struct MenuState {
    const char* name;
    bool daemonRuns;
    bool captureHelperRuns;
    LoginItemStatus loginItem;
    const char* statusLine;
    const char* captureItem;
    const char* restartItem;
    bool checked;
};

void PrintTo(const MenuState& state, std::ostream* out) {
    *out << state.name;
}

class StatusMenu : public ::testing::TestWithParam<MenuState> {};

TEST_P(StatusMenu, TitlesFollowState) {
    const MenuState& state = GetParam();
    TestEnvironment env;
    env.installDaemonScript("exec sleep 30");
    env.loginItem->currentStatus = state.loginItem;
    auto delegate = env.makeDelegate();
    delegate->statusItem = env.ui->createStatusItem();
    if (state.daemonRuns) {
        delegate->startDaemon();
    }
    // A live process that is the capture daemon by name stands for a running helper.
    std::shared_ptr<ChildProcess> helper;
    if (state.captureHelperRuns) {
        helper = startFakeCaptureHelper(env);
    }
    delegate->rebuildMenu();

    const auto titles = env.ui->statusItem->titles();
    const std::vector<std::string> expected = {state.statusLine,
                                               kFixedTitles[0],
                                               "-",
                                               "Show Pairing QR...",
                                               "Show Companion Digest...",
                                               state.captureItem,
                                               "Open at Login",
                                               state.restartItem,
                                               "Stop Companion",
                                               "-",
                                               "Open Logs",
                                               "Remove Data and Quit...",
                                               "-",
                                               "Quit Orvane Pelix Companion"};
    EXPECT_EQ(titles, expected);
    EXPECT_EQ(env.ui->statusItem->menu().items[6].checked, state.checked);

    if (helper) {
        helper->terminate();
    }
    delegate->stopDaemonProcess(false);
}

INSTANTIATE_TEST_SUITE_P(
    States, StatusMenu,
    ::testing::Values(
        MenuState{"Stopped", false, false, LoginItemStatus::NotRegistered, "Companion Stopped",
                  "Start Packet Capture Helper...", "Start Companion", false},
        MenuState{"Running", true, false, LoginItemStatus::Enabled, "Companion Running",
                  "Start Packet Capture Helper...", "Restart Companion", true},
        MenuState{"CaptureHelper", false, true, LoginItemStatus::RequiresApproval,
                  "Packet Capture Helper Running", "Stop Packet Capture Helper", "Start Companion",
                  false},
        MenuState{"NotFound", true, false, LoginItemStatus::NotFound, "Companion Running",
                  "Start Packet Capture Helper...", "Restart Companion", false}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace companion::testing

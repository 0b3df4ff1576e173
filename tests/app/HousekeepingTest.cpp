#include <gtest/gtest.h>

#include "platform/linux/XdgLoginItem.h"
#include "support/TestEnvironment.h"

namespace companion::testing {
namespace {

namespace fs = std::filesystem;

constexpr std::size_t kOpenAtLoginItem = 6;

bool openAtLoginChecked(const TestEnvironment& env) {
    return env.ui->statusItem->menu().items[kOpenAtLoginItem].checked;
}

TEST(ToggleOpenAtLogin, EnabledUnregistersEveryOtherStatusRegisters) {
    struct Case {
        LoginItemStatus before;
        int registrations;
        int unregistrations;
        bool checkedAfter;
    };
    const Case cases[] = {
        {LoginItemStatus::NotRegistered, 1, 0, true},
        {LoginItemStatus::Enabled, 0, 1, false},
        {LoginItemStatus::RequiresApproval, 1, 0, true},
        {LoginItemStatus::NotFound, 1, 0, true},
    };
    for (const auto& c : cases) {
        TestEnvironment env;
        env.loginItem->currentStatus = c.before;
        auto delegate = env.makeDelegate();
        delegate->statusItem = env.ui->createStatusItem();
        delegate->rebuildMenu();

        delegate->toggleOpenAtLogin();
        const int status = static_cast<int>(c.before);
        EXPECT_EQ(env.loginItem->registrations, c.registrations) << status;
        EXPECT_EQ(env.loginItem->unregistrations, c.unregistrations) << status;
        EXPECT_EQ(env.ui->statusItem->menus.size(), 2u) << status;
        EXPECT_EQ(openAtLoginChecked(env), c.checkedAfter) << status;
    }
}

TEST(ToggleOpenAtLogin, AFailureIsShownAndTheMenuStaysAsItWas) {
    for (const auto before : {LoginItemStatus::NotRegistered, LoginItemStatus::Enabled}) {
        TestEnvironment env;
        env.loginItem->currentStatus = before;
        env.loginItem->failure = "The operation couldn\u2019t be completed.";
        auto delegate = env.makeDelegate();
        delegate->statusItem = env.ui->createStatusItem();
        delegate->rebuildMenu();

        env.ui->expectAlert("Could not update Login Items");
        delegate->toggleOpenAtLogin();
        ASSERT_EQ(env.ui->alerts.size(), 1u);
        EXPECT_EQ(env.ui->alerts[0].informativeText, "The operation couldn\u2019t be completed.");
        EXPECT_TRUE(env.ui->alerts[0].buttons.empty());
        EXPECT_EQ(env.ui->statusItem->menus.size(), 1u) << "no rebuild after a failure";
        EXPECT_EQ(env.loginItem->registrations + env.loginItem->unregistrations, 1) << "no retry";
    }
}

// The real autostart entry in a temporary configuration folder.
struct AutostartHome {
    explicit AutostartHome(const TestEnvironment& env)
        : configHome("XDG_CONFIG_HOME", (env.home.path() / "config").string()),
          executable(env.home.path() / "Orvane Pelix Companion/bin/orvane-pelix-companion"),
          entry(env.home.path() / "config/autostart/orvane-pelix-companion.desktop") {
        writeScript(executable, "exit 0");
    }

    ScopedEnvironment configHome;
    fs::path executable;
    fs::path entry;
};

std::shared_ptr<CompanionAppDelegate> delegateWithLoginItem(TestEnvironment& env,
                                                            std::shared_ptr<LoginItem> loginItem) {
    Platform platform = env.platform();
    platform.loginItem = std::move(loginItem);
    auto delegate = std::make_shared<CompanionAppDelegate>(std::move(platform));
    delegate->statusItem = env.ui->createStatusItem();
    delegate->rebuildMenu();
    return delegate;
}

TEST(ToggleOpenAtLogin, WritesAndRemovesTheAutostartEntry) {
    TestEnvironment env;
    AutostartHome autostart(env);
    // Switched off in the session settings: the first toggle switches it back on.
    writeFile(autostart.entry, "[Desktop Entry]\nExec=" + desktopEntryExec(autostart.executable) +
                                   "\nHidden=true\n");
    auto delegate =
        delegateWithLoginItem(env, std::make_shared<XdgLoginItem>(autostart.executable));
    EXPECT_FALSE(openAtLoginChecked(env));

    delegate->toggleOpenAtLogin();
    EXPECT_TRUE(openAtLoginChecked(env));
    EXPECT_EQ(desktopEntryValue(readFile(autostart.entry), "Hidden"), std::nullopt);

    delegate->toggleOpenAtLogin();
    EXPECT_FALSE(openAtLoginChecked(env));
    EXPECT_FALSE(fs::exists(autostart.entry));
    EXPECT_EQ(env.ui->statusItem->menus.size(), 3u);
}

TEST(OpenLogs, CreatesTheLogFolderAndShowsIt) {
    TestEnvironment env;
    auto delegate = env.makeDelegate();
    delegate->openLogs();
    EXPECT_TRUE(fs::is_directory(env.logDir()));
    EXPECT_TRUE(fs::is_empty(env.logDir()));
    EXPECT_EQ(env.ui->openedFolders, std::vector<std::string>{env.logDir().string()});
}

TEST(OpenLogs, AFolderThatCannotBeCreatedIsStillAskedForQuietly) {
    TestEnvironment env;
    writeFile(env.stateHome(), "a file where the state folder belongs");
    auto delegate = env.makeDelegate();
    delegate->openLogs();
    EXPECT_TRUE(env.ui->alerts.empty());
    EXPECT_EQ(env.ui->openedFolders, std::vector<std::string>{env.logDir().string()});
}

// A companion with a running daemon and something in each of its folders, and things around
// them that belong to others.
class StoredCompanion {
  public:
    StoredCompanion() {
        env.installDaemonScript("exec sleep 30");
        delegate = env.makeDelegate();
        delegate->statusItem = env.ui->createStatusItem();
        delegate->startDaemon();
        daemon = delegate->daemon;
        writeFile(env.configDirectory() / "pairing-code.json", "{}");
        writeFile(env.appSupport() / "run-capture-helper.sh", "#!/bin/sh\n");
        writeFile(env.dataHome() / "Orvane Pelix/iPhone notes.txt", "kept");
        writeFile(env.stateHome() / "Logs/other.log", "kept");
        writeFile(outside() / "precious.txt", "kept");
        fs::create_directory_symlink(outside(), env.appSupport() / "link to elsewhere");
        fs::create_directory_symlink(outside(), env.logDir() / "link to elsewhere");
    }

    ~StoredCompanion() {
        if (daemon && daemon->isRunning()) {
            daemon->terminate();
        }
    }

    fs::path outside() const { return env.home.path() / "elsewhere"; }

    void expectOthersUntouched() const {
        EXPECT_EQ(readFile(env.dataHome() / "Orvane Pelix/iPhone notes.txt"), "kept");
        EXPECT_EQ(readFile(env.stateHome() / "Logs/other.log"), "kept");
        EXPECT_EQ(readFile(outside() / "precious.txt"), "kept");
    }

    TestEnvironment env;
    std::shared_ptr<CompanionAppDelegate> delegate;
    std::shared_ptr<ChildProcess> daemon;
};

TEST(RemoveCompanionData, CancelLeavesEverything) {
    StoredCompanion companion;
    auto& env = companion.env;
    ASSERT_TRUE(companion.daemon && companion.daemon->isRunning());
    const auto menusBefore = env.ui->statusItem->menus.size();

    env.ui->expectAlert("Remove companion data?", kAlertFirstButtonReturn + 1);
    companion.delegate->removeCompanionData();

    const Alert& alert = env.ui->alerts.at(0);
    EXPECT_EQ(alert.informativeText,
              "This stops the local companion and removes pairing keys, peer records, and "
              "companion logs from this Mac.");
    EXPECT_EQ(alert.buttons, (std::vector<std::string>{"Remove", "Cancel"}));
    EXPECT_TRUE(companion.daemon->isRunning());
    EXPECT_EQ(companion.delegate->daemon, companion.daemon);
    EXPECT_TRUE(fs::exists(env.configDirectory() / "pairing-code.json"));
    EXPECT_TRUE(fs::is_directory(env.logDir()));
    EXPECT_EQ(env.ui->statusItem->menus.size(), menusBefore);
    EXPECT_EQ(env.ui->terminations, 0);
}

TEST(RemoveCompanionData, RemoveStopsTheDaemonDeletesBothFoldersAndQuits) {
    StoredCompanion companion;
    auto& env = companion.env;

    env.ui->expectAlert("Remove companion data?");
    companion.delegate->removeCompanionData();

    EXPECT_EQ(env.ui->terminations, 1);
    EXPECT_FALSE(companion.delegate->daemon);
    EXPECT_FALSE(companion.delegate->daemonShouldRestart);
    EXPECT_EQ(env.ui->statusItem->titles().front(), "Companion Stopped");
    EXPECT_FALSE(fs::exists(env.appSupport()));
    EXPECT_FALSE(fs::exists(env.logDir()));
    EXPECT_TRUE(fs::is_directory(env.dataHome() / "Orvane Pelix"));
    companion.expectOthersUntouched();

    // The daemon got its signal; its exit brings no restart.
    ASSERT_TRUE(env.queue->runUntil([&] { return !companion.daemon->isRunning(); }));
    env.queue->advance(60);
    EXPECT_FALSE(companion.delegate->daemon);
    EXPECT_FALSE(fs::exists(env.appSupport()));
}

TEST(RemoveCompanionData, QuitsQuietlyWhenThereIsNothingToRemove) {
    TestEnvironment env;
    auto delegate = env.makeDelegate();
    delegate->statusItem = env.ui->createStatusItem();

    env.ui->expectAlert("Remove companion data?");
    delegate->removeCompanionData();
    EXPECT_EQ(env.ui->alerts.size(), 1u);
    EXPECT_EQ(env.ui->terminations, 1);
    EXPECT_FALSE(fs::exists(env.appSupport()));
    EXPECT_FALSE(fs::exists(env.logDir()));
}

// The reference daemon writes its pairing file and event store while it runs; nothing it does
// on its way out may bring them back once they are removed.
TEST(RemoveCompanionData, NothingComesBackAfterTheReferenceDaemonExits) {
    TestEnvironment env;
    env.installReferenceDaemon();
    auto delegate = env.makeDelegate();
    delegate->statusItem = env.ui->createStatusItem();
    delegate->startDaemon();
    auto daemon = delegate->daemon;
    ASSERT_TRUE(daemon);
    // Whatever fails below, the port is free again for the next test.
    const std::unique_ptr<ChildProcess, void (*)(ChildProcess*)> stopAtEnd(
        daemon.get(), [](ChildProcess* process) {
            process->terminate();
            waitUntil([process] { return !process->isRunning(); });
        });
    // The daemon writes its pairing file last of its start-up steps.
    ASSERT_TRUE(waitUntil([&] { return fs::exists(env.configDirectory() / "pairing-code.json"); }))
        << readFile(env.logDir() / "Orvane Pelix Companion.log");

    env.ui->expectAlert("Remove companion data?");
    delegate->removeCompanionData();
    ASSERT_TRUE(env.queue->runUntil([&] { return !daemon->isRunning(); }));
    delegate->waitForPortToClose();
    EXPECT_FALSE(fs::exists(env.appSupport()));
    EXPECT_FALSE(fs::exists(env.logDir()));
    EXPECT_EQ(env.ui->terminations, 1);
}

}  // namespace
}  // namespace companion::testing

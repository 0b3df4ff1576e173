#pragma once

#include <condition_variable>
#include <deque>
#include <filesystem>
#include <map>
#include <mutex>
#include <optional>

#include "app/CompanionAppDelegate.h"

namespace companion::testing {

namespace fs = std::filesystem;

struct FakeStatusItem : StatusItem {
    bool hasButton() const override { return true; }
    void setImage(const std::string&, const std::string&) override {}
    void setTitle(const std::string&) override {}
    void setMenu(const MenuModel& menu) override { menus.push_back(menu); }
    const MenuModel& menu() const { return menus.back(); }
    std::vector<MenuModel> menus;
};

template <typename Content>
struct FakeWindow : Window {
    explicit FakeWindow(Content content) : content(std::move(content)) {}
    bool isVisible() const override { return visible; }
    void makeKeyAndOrderFront() override { visible = true, ++timesRaised; }
    void close() { visible = false; }  // the user's click on the close button
    Content content;
    bool visible = false;
    int timesRaised = 0;
};

// The display, recorded. A test says which alerts it expects, in order, and the answer to each;
// any other alert fails it, and so does an expected one never shown.
class FakeUi : public Ui {
  public:
    ~FakeUi() override;
    void expectAlert(std::string messageText, int answer = kAlertFirstButtonReturn) {
        expected.emplace_back(std::move(messageText), answer);
    }
    void setActivationPolicyRegular() override {}
    std::shared_ptr<StatusItem> createStatusItem() override {
        return statusItem = std::make_shared<FakeStatusItem>();
    }
    int runModal(const Alert& alert) override;
    std::shared_ptr<Window> createPairingWindow(const PairingWindowContent& content) override {
        return pairingWindows.emplace_back(
            std::make_shared<FakeWindow<PairingWindowContent>>(content));
    }
    std::shared_ptr<Window> createDigestWindow(const DigestWindowContent& content) override {
        return digestWindows.emplace_back(
            std::make_shared<FakeWindow<DigestWindowContent>>(content));
    }
    void activateIgnoringOtherApps() override { ++activations; }
    void openFolder(const std::string& path) override { openedFolders.push_back(path); }
    void terminate() override { ++terminations; }
    // "HH:MM" in UTC, so tests read the same on every machine.
    std::string shortTimeOfDay(std::chrono::system_clock::time_point instant) const override;

    std::shared_ptr<FakeStatusItem> statusItem;
    std::vector<Alert> alerts;
    std::vector<std::shared_ptr<FakeWindow<PairingWindowContent>>> pairingWindows;
    std::vector<std::shared_ptr<FakeWindow<DigestWindowContent>>> digestWindows;
    std::vector<std::string> openedFolders;
    int activations = 0;
    int terminations = 0;

  private:
    std::deque<std::pair<std::string, int>> expected;
};

// A main queue on a virtual clock: posted tasks and due timers run only when the test says so.
// Like the real one, only post() may be called off the main thread.
class ManualMainQueue : public MainQueue {
  public:
    void post(std::function<void()> task) override;
    std::shared_ptr<ScheduledTask> postAfter(Seconds delay, std::function<void()> task) override;
    MonotonicClock::time_point monotonicNow() const override { return monotonic; }
    WallClock::time_point wallNow() const override { return wall; }

    // Moves both clocks forward, running posts and, in deadline order, the timers due on the way.
    void advance(double seconds);
    // Runs what worker threads post until the condition holds. The limit only keeps a broken test
    // from hanging: the wait is for the event, however slow the machine.
    bool runUntil(const std::function<bool()>& condition, double limitSeconds = 60.0);
    void setWallClock(WallClock::time_point now) { wall = now; }
    std::optional<double> nextTimerDelay() const;

  private:
    struct Timer;
    void runPosted();
    mutable std::mutex mutex;
    std::condition_variable posted;
    std::deque<std::function<void()>> posts;
    std::multimap<MonotonicClock::time_point, std::shared_ptr<Timer>> timers;
    MonotonicClock::time_point monotonic{std::chrono::hours(1000)};
    WallClock::time_point wall{std::chrono::seconds(1'800'000'000)};
};

class TemporaryFolder {
  public:
    TemporaryFolder();
    ~TemporaryFolder() { fs::remove_all(folder, ignored); }
    TemporaryFolder(const TemporaryFolder&) = delete;
    const fs::path& path() const { return folder; }

  private:
    fs::path folder;
    std::error_code ignored;
};

struct ScriptedLoginItem : LoginItem {
    LoginItemStatus status() const override { return currentStatus; }
    std::optional<std::string> registerItem() override { return change(LoginItemStatus::Enabled); }
    std::optional<std::string> unregisterItem() override {
        return change(LoginItemStatus::NotRegistered);
    }
    std::optional<std::string> change(LoginItemStatus to) {
        currentStatus = failure ? currentStatus : to;
        return failure;
    }
    LoginItemStatus currentStatus = LoginItemStatus::NotRegistered;
    std::optional<std::string> failure;
};

void writeFile(const fs::path& file, const std::string& contents);
std::string readFile(const fs::path& file);
void writeScript(const fs::path& file, const std::string& body);
// Polls in real time until the condition holds; false when the limit ran out first.
bool waitUntil(const std::function<bool()>& condition, double limitSeconds = 60.0);
// A plain child process with its output discarded, not watched by the companion.
std::shared_ptr<ChildProcess> startChild(const fs::path& executable,
                                         std::vector<std::string> arguments = {});

// The texts of every QR code zbar finds in an 8-bit grey picture (0 black), as raw bytes.
std::vector<std::string> decodeQrCodes(int width, int height, const std::uint8_t* pixels);
// The same of the symbol as printed: modules of four pixels in a quiet zone of four modules.
std::vector<std::string> decodeQrCodes(const QrSymbol& symbol);

// A temporary home, the fake display and the manual queue; real Linux pieces for everything else.
class TestEnvironment {
  public:
    TestEnvironment() { fs::create_directories(resources()); }

    fs::path dataHome() const { return home.path() / "data home"; }
    fs::path stateHome() const { return home.path() / "state home"; }
    fs::path resources() const { return home.path() / "Resources"; }
    fs::path appSupport() const { return dataHome() / "Orvane Pelix" / "Companion"; }
    fs::path logDir() const { return stateHome() / "Logs" / "Orvane Pelix"; }
    fs::path configDirectory() const { return appSupport() / "tarvelind"; }

    void installDaemonScript(const std::string& body) {
        writeScript(resources() / "tarvelind-darwin-arm64", body);
    }
    // The reference daemon built with the project, under both names.
    void installReferenceDaemon();

    Platform platform();
    std::shared_ptr<CompanionAppDelegate> makeDelegate() {
        return std::make_shared<CompanionAppDelegate>(platform());
    }

    TemporaryFolder home;
    std::shared_ptr<FakeUi> ui = std::make_shared<FakeUi>();
    std::shared_ptr<ManualMainQueue> queue = std::make_shared<ManualMainQueue>();
    std::shared_ptr<ScriptedLoginItem> loginItem = std::make_shared<ScriptedLoginItem>();
    std::shared_ptr<AdminShellRunner> adminShellRunner;  // for the tests that need one
};

}  // namespace companion::testing
